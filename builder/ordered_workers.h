// Jobs 0, 1, 2, ... run on a small pool of threads and are collected by the
// caller in the same order, so what the caller makes of them never depends
// on thread timing. Workers run at most threads + 1 jobs ahead of the
// collector, which bounds the results held in memory.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class OrderedWorkers {
public:
    // `run(i)` does job i and keeps its result where the caller finds it;
    // it must not throw.
    OrderedWorkers(size_t count, unsigned threads, std::function<void(size_t)> run);
    // Stops the workers (jobs not yet started are left) and waits for them.
    ~OrderedWorkers();
    OrderedWorkers(const OrderedWorkers&) = delete;
    OrderedWorkers& operator=(const OrderedWorkers&) = delete;

    // Waits until job `index` is done; its result may then be read.
    void Wait(size_t index);
    // The caller is done with job `index` and every one before it.
    void Release(size_t index);

private:
    void Work();

    std::function<void(size_t)> run;
    std::vector<bool> done;
    size_t window;
    std::mutex mutex;
    std::condition_variable changed;
    size_t next = 0, collected = 0;
    bool stopping = false;
    std::vector<std::thread> workers;
};

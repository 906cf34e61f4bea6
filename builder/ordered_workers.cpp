#include "builder/ordered_workers.h"

OrderedWorkers::OrderedWorkers(size_t count, unsigned threads, std::function<void(size_t)> run)
    : run(std::move(run)), done(count, false), window(threads + 1) {
    for (unsigned i = 0; i < (threads == 0 ? 1 : threads); i++) workers.emplace_back([this] { Work(); });
}

OrderedWorkers::~OrderedWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    for (std::thread& t : workers) t.join();
}

void OrderedWorkers::Wait(size_t index) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return done[index]; });
}

void OrderedWorkers::Release(size_t index) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        collected = index + 1;
    }
    changed.notify_all();
}

void OrderedWorkers::Work() {
    for (;;) {
        size_t index;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return stopping || next >= done.size() || next < collected + window; });
            if (stopping || next >= done.size()) return;
            index = next++;
        }
        run(index);
        {
            std::lock_guard<std::mutex> lock(mutex);
            done[index] = true;
        }
        changed.notify_all();
    }
}

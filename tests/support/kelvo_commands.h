// kelvo's commands run in-process by the native tests: build with a command
// line, and list, verify, dump and extract with what they print kept apart
// from the test's own output; and looking for lines in what they printed.
#pragma once
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "builder/build_command.h"
#include "builder/command_line.h"
#include "builder/setup_commands.h"

// Sends what the process writes to descriptor `fd` (STDOUT_FILENO,
// STDERR_FILENO) to /dev/null for as long as it lives, so the messages of
// commands that are meant to fail stay off the test output.
class Silenced {
public:
    explicit Silenced(int fd) : fd(fd), saved(dup(fd)) {
        fflush(nullptr);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, fd);
        close(null);
    }
    ~Silenced() {
        fflush(nullptr);
        dup2(saved, fd);
        close(saved);
    }
    Silenced(const Silenced&) = delete;
    Silenced& operator=(const Silenced&) = delete;

private:
    int fd, saved;
};

// `kelvo build` with these arguments (after the command's name); its exit status.
inline int RunBuild(std::vector<std::string> args) {
    args.insert(args.begin(), "build");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    return RunKelvo(static_cast<int>(argv.size()), argv.data());
}

// What an inspection command returned and printed.
struct Outcome {
    int status;
    std::string out, err;
};

inline Outcome RunCommand(const std::function<int(std::ostream&, std::ostream&)>& command) {
    std::ostringstream out, err;
    int status = command(out, err);
    return {status, out.str(), err.str()};
}

inline Outcome List(const std::string& setup) {
    return RunCommand([&](std::ostream& o, std::ostream& e) { return ListSetup(setup, o, e); });
}
inline Outcome Verify(const std::string& setup) {
    return RunCommand([&](std::ostream& o, std::ostream& e) { return VerifySetup(setup, o, e); });
}
inline Outcome Dump(const std::string& setup) {
    return RunCommand([&](std::ostream& o, std::ostream& e) { return DumpSetup(setup, o, e); });
}
inline Outcome Extract(const std::string& setup, const std::filesystem::path& folder, uint32_t set = 0) {
    ExtractOptions options{setup, folder.string(), set};
    return RunCommand([&](std::ostream& o, std::ostream& e) { return ExtractSetup(options, o, e); });
}

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The first line of `text` that holds `part`; "" when none does.
inline std::string LineWith(const std::string& text, const std::string& part) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
        if (Contains(line, part)) return line;
    return "";
}

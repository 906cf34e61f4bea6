// kelvo's command line: the table of its commands and their options
// (builder/kelvo_commands.cpp), and the one parser every command goes
// through. Options take their value as --name=VALUE, --name VALUE or
// -x VALUE; "--" ends the options.
#pragma once
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

// A fault of the command line: reported with the usage, exit status
// CommandUsageError.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct OptionInfo {
    const char* name;       // long name, without the dashes
    char letter;            // short form, or 0
    const char* valueName;  // null for a switch
    const char* help;       // lines for the command's own usage page, or null
};

// A command's options by long name, and its operands.
struct Arguments {
    std::map<std::string, std::string> options;
    std::vector<std::string> operands;

    bool Has(const std::string& name) const { return options.count(name) != 0; }
    std::string Get(const std::string& name, const std::string& fallback) const {
        auto found = options.find(name);
        return found == options.end() ? fallback : found->second;
    }
};

struct Command {
    const char* name;
    const char* synopsis;  // operands and options, in the list of commands
    const char* summary;
    std::vector<OptionInfo> options;
    int (*run)(const Arguments& arguments);  // returns the exit status
    const char* usage;  // operands and options on the command's own usage
                        // page, whose options have help; null: none
};

// Throws UsageError unless `arguments` has `count` operands, naming `what`.
void ExpectOperands(const Arguments& arguments, size_t count, const char* command, const char* what);

// A whole number from `lowest` to `highest`, named `what` in the fault.
// With `scaled` a K or M may follow, multiplying by 1024 or 1024 * 1024.
// Throws UsageError.
uint64_t ParseNumber(const std::string& text, uint64_t lowest, uint64_t highest, const std::string& what,
                     bool scaled = false);

// Runs the command of `commands` named by argv[0] with the arguments behind
// it: "kelvo: error: ..." on stderr for a fault, with the usage for one of
// the command line. Returns the exit status; nothing exits the process, so
// tests run commands in-process.
int RunCommandLine(const std::vector<Command>& commands, int argc, char** argv);

// The list of commands, as `kelvo help` shows it.
std::string UsageText(const std::vector<Command>& commands);

// kelvo's commands, from the one table (builder/kelvo_commands.cpp).
const std::vector<Command>& KelvoCommands();

// RunCommandLine on KelvoCommands(): argv[0] is the command.
int RunKelvo(int argc, char** argv);

#include "builder/command_line.h"

#include <algorithm>
#include <cstdio>

#include "builder/exit_status.h"

namespace {

// Twelve digits, so that a number scaled by 1024 * 1024 stays inside 64 bits.
const size_t MaxDigits = 12;
const uint64_t Kilo = 1024;
const int OverviewColumn = 36;  // width of a command's synopsis in the list
const int OptionColumn = 20;    // width of an option's name on a usage page

// An option as its command's usage page names it: "-o, --output PATH".
std::string OptionName(const OptionInfo& option) {
    std::string name = option.letter != 0 ? std::string("-") + option.letter + ", " : "";
    name += std::string("--") + option.name;
    return option.valueName != nullptr ? name + " " + option.valueName : name;
}

// The command's own usage page: its synopsis and each option's help, whose
// lines after the first are indented to the column of the first.
std::string CommandUsage(const Command& command) {
    std::string text = std::string("usage: kelvo ") + command.name + " " + command.usage + "\n\noptions:\n";
    for (const OptionInfo& option : command.options) {
        char first[256];
        snprintf(first, sizeof first, "  %-*s ", OptionColumn, OptionName(option).c_str());
        std::string help = option.help != nullptr ? option.help : "";
        std::string indent(OptionColumn + 3, ' ');
        for (size_t start = 0, end; start <= help.size(); start = end + 1) {
            end = std::min(help.find('\n', start), help.size());
            text += (start == 0 ? std::string(first) : indent) + help.substr(start, end - start) + "\n";
        }
    }
    return text;
}

std::string UsageOf(const std::vector<Command>& commands, const Command* command) {
    return command != nullptr && command->usage != nullptr ? CommandUsage(*command) : UsageText(commands);
}

const OptionInfo* FindOption(const Command& command, const std::string& name, char letter) {
    for (const OptionInfo& option : command.options)
        if ((!name.empty() && name == option.name) || (letter != 0 && letter == option.letter)) return &option;
    return nullptr;
}

// Takes one option at argv[*i]: --name, --name=VALUE, --name VALUE, -x VALUE.
void TakeOption(const Command& command, int argc, char** argv, int* i, Arguments& arguments) {
    std::string arg = argv[*i];
    bool isLong = arg.compare(0, 2, "--") == 0;
    size_t equals = arg.find('=');
    std::string name = isLong ? arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2) : "";
    const OptionInfo* option = FindOption(command, name, isLong ? 0 : arg[1]);
    if (option == nullptr || (!isLong && arg.size() != 2))
        throw UsageError("unknown option " + arg + " for " + command.name);
    if (option->valueName == nullptr) {
        if (isLong && equals != std::string::npos)
            throw UsageError("--" + std::string(option->name) + " takes no value");
        arguments.options[option->name] = "";
    } else if (isLong && equals != std::string::npos) {
        arguments.options[option->name] = arg.substr(equals + 1);
    } else {
        if (++*i == argc) throw UsageError("missing " + std::string(option->valueName) + " after " + arg);
        arguments.options[option->name] = argv[*i];
    }
}

// The arguments of `command`; false when they ask for its usage instead.
bool ParseArguments(const Command& command, int argc, char** argv, Arguments* arguments) {
    bool optionsEnded = false;
    for (int i = 0; i < argc; i++) {
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            arguments->operands.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            return false;
        } else {
            TakeOption(command, argc, argv, &i, *arguments);
        }
    }
    return true;
}

const Command* FindCommand(const std::vector<Command>& commands, const std::string& name) {
    if (name == "--help" || name == "-h") return FindCommand(commands, "help");
    if (name == "--version") return FindCommand(commands, "version");
    for (const Command& command : commands)
        if (name == command.name) return &command;
    return nullptr;
}

int ReportUsageError(const std::vector<Command>& commands, const Command* command, const std::string& message) {
    fprintf(stderr, "kelvo: error: %s\n%s", message.c_str(), UsageOf(commands, command).c_str());
    return CommandUsageError;
}

}  // namespace

void ExpectOperands(const Arguments& arguments, size_t count, const char* command, const char* what) {
    if (arguments.operands.size() != count) throw UsageError(std::string(command) + " takes " + what);
}

uint64_t ParseNumber(const std::string& text, uint64_t lowest, uint64_t highest, const std::string& what,
                     bool scaled) {
    size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
    std::string suffix = text.substr(digits);
    uint64_t scale = 0;
    if (suffix.empty()) scale = 1;
    else if (scaled && (suffix == "K" || suffix == "k")) scale = Kilo;
    else if (scaled && (suffix == "M" || suffix == "m")) scale = Kilo * Kilo;
    uint64_t value = 0;
    bool number = digits > 0 && digits <= MaxDigits && scale != 0;
    if (number) value = std::stoull(text.substr(0, digits)) * scale;
    if (number && value >= lowest && value <= highest) return value;
    if (scaled) throw UsageError(what + " takes a number (K or M may follow), not '" + text + "'");
    throw UsageError(what + " must be " + std::to_string(lowest) + ".." + std::to_string(highest) + ", not '" +
                     text + "'");
}

std::string UsageText(const std::vector<Command>& commands) {
    std::string text = "usage: kelvo COMMAND [OPTIONS]\n\ncommands:\n";
    for (const Command& c : commands) {
        std::string left = std::string(c.name) + (*c.synopsis ? " " : "") + c.synopsis;
        char line[256];
        snprintf(line, sizeof line, "  %-*s %s\n", OverviewColumn, left.c_str(), c.summary);
        text += line;
    }
    return text + "\noptions take their value as --option=VALUE or --option VALUE\n";
}

int RunCommandLine(const std::vector<Command>& commands, int argc, char** argv) {
    if (argc < 1) return ReportUsageError(commands, nullptr, "no command given");
    const Command* command = FindCommand(commands, argv[0]);
    if (command == nullptr)
        return ReportUsageError(commands, nullptr, std::string("unknown command '") + argv[0] + "'");
    try {
        Arguments arguments;
        if (!ParseArguments(*command, argc - 1, argv + 1, &arguments)) {
            fputs(UsageOf(commands, command).c_str(), stdout);
            return CommandSucceeded;
        }
        return command->run(arguments);
    } catch (const UsageError& e) {
        return ReportUsageError(commands, command, e.what());
    } catch (const std::exception& e) {
        fprintf(stderr, "kelvo: error: %s\n", e.what());
        return CommandFailed;
    }
}

int RunKelvo(int argc, char** argv) { return RunCommandLine(KelvoCommands(), argc, argv); }

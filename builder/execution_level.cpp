#include "builder/execution_level.h"

#include <algorithm>
#include <cstring>

const char AdministratorLevel[] = "level=\"requireAdministrator\"";
const char UserLevel[] = "level=\"asInvoker\"           ";
static_assert(sizeof AdministratorLevel == sizeof UserLevel, "the levels take the same room");

static Bytes::iterator Find(Bytes& program, const char* text) {
    return std::search(program.begin(), program.end(), text, text + strlen(text));
}

std::string ExecutionLevelOf(const Bytes& program) {
    Bytes copy = program;
    if (Find(copy, AdministratorLevel) != copy.end()) return "requireAdministrator";
    if (Find(copy, UserLevel) != copy.end()) return "asInvoker";
    return "";
}

bool AskForUserLevel(Bytes& program) {
    Bytes::iterator at = Find(program, AdministratorLevel);
    if (at == program.end()) return Find(program, UserLevel) != program.end();
    std::copy(UserLevel, UserLevel + strlen(UserLevel), at);
    return true;
}

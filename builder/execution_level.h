// The execution level in the application manifest of the setup and uninstall
// programs (resources/program.manifest). They are built asking for
// administrators' rights; a project whose sets install under the user's
// profile and HKCU asks for none, and kelvo rewrites the level in place, so
// nothing else in the program moves.
#pragma once
#include <string>

#include "builder/record_writer.h"

// The manifest's text as built, and what a user-level program holds in its
// place, blank-padded to the same length (blanks are allowed in a tag).
extern const char AdministratorLevel[];  // level="requireAdministrator"
extern const char UserLevel[];           // level="asInvoker" and blanks

// The level `program`'s manifest asks for: "requireAdministrator",
// "asInvoker", or "" when it has no such manifest.
std::string ExecutionLevelOf(const Bytes& program);

// Makes `program` ask for no administrators' rights. False when it holds no
// manifest of ours (a program of the project's own).
bool AskForUserLevel(Bytes& program);

// `kelvo build`: turns a project description into a setup program. Its
// options are in kelvo's command table (builder/kelvo_commands.cpp).
#pragma once
#include "builder/command_line.h"

// Runs the build with the parsed arguments. Returns the exit status
// (builder/exit_status.h); throws UsageError for a wrong command line.
int BuildCommand(const Arguments& arguments);

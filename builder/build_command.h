// `kelvo build`: turns a project description into a setup program. Its
// options are in kelvo's command table (builder/kelvo_commands.cpp).
#pragma once
#include "builder/code_signing.h"
#include "builder/command_line.h"

// Runs the build with the parsed arguments. Returns the exit status
// (builder/exit_status.h); throws UsageError for a wrong command line.
int BuildCommand(const Arguments& arguments);

// The signing options of the command line over those of the project's
// [sign] table: --certificate replaces the project's certificate, key and
// password source; the others replace one value each. Throws UsageError.
void ApplySigningArguments(const Arguments& arguments, SigningOptions& signing);

// `kelvo sign SETUP.exe`: signs a setup built earlier, in place, with the
// certificate of the command line or of --project's [sign] table. Its
// uninstallers stay as they were built. Refuses a file that is no setup
// or is signed already.
int SignCommand(const Arguments& arguments);

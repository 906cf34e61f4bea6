// `kelvo build`: turns a project description into a setup program.
#pragma once

// Runs the build command. argv holds the arguments after "build".
// Returns the process exit code: 0 success, 1 failure, 2 usage error.
int RunBuildCommand(int argc, char** argv);

// `kelvo manifest winget SETUP.exe`: the parts of a winget manifest that
// describe how the setup runs without a person and what its exit codes mean,
// read from the setup itself (its execution level decides the scope).
#pragma once
#include <ostream>
#include <string>

// Prints the fragment as YAML, or as JSON with `json`; the exit status.
int PrintWingetFragment(const std::string& setupPath, bool json, std::ostream& out, std::ostream& err);

// kelvo: the command-line build tool for Kelvo setups. Its commands and their
// options are in one table (builder/kelvo_commands.cpp). Exit status:
// builder/exit_status.h (0 done, 1 failed, 2 wrong usage).
#include "builder/command_line.h"

int main(int argc, char** argv) { return RunKelvo(argc - 1, argv + 1); }

// The exit status of every kelvo command, and of the kelvo process.
#pragma once

const int CommandSucceeded = 0;
const int CommandFailed = 1;      // the command ran and something went wrong
const int CommandUsageError = 2;  // the command line was wrong; nothing ran

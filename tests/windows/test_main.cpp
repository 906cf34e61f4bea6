// The Windows test runner's entry point; the tests live in the other files
// here. ctest runs the program under Wine once per test file.
#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>

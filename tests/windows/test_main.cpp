// The Windows test runner's entry point; the tests live in the other files
// here. ctest runs the program under Wine once per test file.
#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>

#include "wizard/progress.h"

int main(int argc, char** argv) {
    // As in the setup program, the engine reports to the progress page's
    // listener; no page window is shown unless a test makes one.
    SetProgressPage(nullptr);
    return doctest::Context(argc, argv).run();
}

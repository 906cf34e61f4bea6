// Entry point of the setup program.
#include <windows.h>

#include "control/setup_driver.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int showCommand) {
    return RunSetup(instance, commandLine, showCommand);
}

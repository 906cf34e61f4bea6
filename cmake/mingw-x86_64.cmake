# Cross-compiles the same sources for 64-bit Windows with the mingw-w64
# x86-64 compilers. The programs Kelvo ships are the i686 ones
# (cmake/mingw-i686.cmake); this build exists only to run the Windows tests
# under 64-bit Wine on machines whose kernel runs no 32-bit programs. Its
# programs go to build/bin64 (see CMakeLists.txt), never over build/bin.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_AR x86_64-w64-mingw32-ar CACHE FILEPATH "")
set(CMAKE_RANLIB x86_64-w64-mingw32-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP x86_64-w64-mingw32-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine through scripts/wine-run.sh, in the 64-bit
# session: CMakeLists.txt gives every test KELVO_WINE_ARCH=win64.
get_filename_component(_kelvo_wine_run "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "/bin/bash;${_kelvo_wine_run}")

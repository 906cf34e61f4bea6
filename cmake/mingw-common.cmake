# The part of the mingw-w64 toolchains that does not depend on the target:
# set KELVO_MINGW_TRIPLE (i686-w64-mingw32 or x86_64-w64-mingw32) and the
# processor, then include this file.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KELVO_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${KELVO_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${KELVO_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${KELVO_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KELVO_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${KELVO_MINGW_TRIPLE}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${KELVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine through scripts/wine-run.sh (through bash, so
# the script works even without its executable bit).
get_filename_component(_kelvo_wine_run "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh" ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "/bin/bash;${_kelvo_wine_run}")

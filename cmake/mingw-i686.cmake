# Cross-compiles for 32-bit Windows with the mingw-w64 i686 compilers.
# Test programs run under Wine through scripts/wine-run.sh, which gives every
# run the same private Wine prefix, display and environment.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KELVO_MINGW_TRIPLE i686-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")

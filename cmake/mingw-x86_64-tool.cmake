# kelvo.exe: kelvo itself cross-built for 64-bit Windows. The threads-enabled
# (POSIX threads) variants of the mingw-w64 compilers, since kelvo packs on
# all cores with std::thread; the build makes kelvo.exe alone (CMakeLists.txt,
# KELVO_WINDOWS_TOOL).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KELVO_MINGW_TRIPLE x86_64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")
set(CMAKE_C_COMPILER ${KELVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVO_MINGW_TRIPLE}-g++-posix)
set(KELVO_WINDOWS_TOOL ON)

# Cross-compiles the same sources for 64-bit Windows with the mingw-w64
# x86-64 compilers. The programs Kelvo ships are the i686 ones
# (cmake/mingw-i686.cmake); this build exists only to run the Windows tests
# under 64-bit Wine on machines whose kernel runs no 32-bit programs. Its
# programs go to build/bin64 (see CMakeLists.txt), never over build/bin, and
# CMakeLists.txt gives every test KELVO_WINE_ARCH=win64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KELVO_MINGW_TRIPLE x86_64-w64-mingw32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake")

# Builds for 32-bit x86 Linux with the host's gcc in -m32 mode (Debian's
# g++-multilib, with the i386 packages of the libraries). Only the decoder's
# benchmark is built this way (CMakeLists.txt); the programs run natively
# where the kernel runs 32-bit programs, else under qemu-i386.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
# Position-dependent code, as mingw builds the setup program: position-
# independent i686 code would give up a register to the global offset table.
set(CMAKE_C_FLAGS_INIT "-m32 -fno-pie")
set(CMAKE_CXX_FLAGS_INIT "-m32 -fno-pie")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32 -no-pie")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

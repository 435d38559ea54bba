# Cross-compiles for 32-bit (x86) Windows with Debian's mingw-w64 (posix thread
# model), as cmake/mingw-w64-posix.cmake does for x64. Its tests run under
# wine32 (scripts/arch-tests).
#   cmake -S . -B build-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(TOOLCHAIN_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER   ${TOOLCHAIN_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${TOOLCHAIN_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static and without a link time, as on x64. On x86 the COM exports are
# __stdcall, decorated (_DllGetClassObject@12): the stdcall fix-up binds the
# .def's plain names to them without a warning, so the export names stay
# undecorated as Windows looks them up.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp -Wl,--enable-stdcall-fixup")

# The 32-bit Wine loader (Debian package wine32:i386) in a 32-bit prefix.
set(WINE_LOADER /usr/lib/wine/wine)

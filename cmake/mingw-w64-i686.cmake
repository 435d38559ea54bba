# Cross-compiles for 32-bit (x86) Windows with Debian's mingw-w64 (posix thread
# model): cmake/mingw-w64-posix.cmake with the i686 tools. Its tests run under
# wine32 (scripts/arch-tests).
#   cmake -S . -B build-x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-posix.cmake)

# On x86 the COM exports are __stdcall, decorated (_DllGetClassObject@12): the
# stdcall fix-up binds the .def's plain names to them without a warning, so the
# export names stay undecorated as Windows looks them up.
string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,--enable-stdcall-fixup")

# Wine's 32-bit loader (from the Wine root's wine32:i386), in a 32-bit prefix.
set(WINE_LOADER_OPTION --32)

# Cross-compiles for ARM64 Windows with clang 14 and lld, on the toolchain that
# scripts/arch-setup builds from Debian's sources (mingw-w64's headers and CRT,
# LLVM's libc++, libc++abi, libunwind and compiler-rt builtins, all static).
# Its tests run under Debian's arm64 Wine in an arm64 Debian, emulated by qemu.
#   scripts/arch-setup arm64
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/clang-aarch64-mingw.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ARM64)

include(${CMAKE_CURRENT_LIST_DIR}/quillshell_cache.cmake)
set(QUILLSHELL_ARM64_TOOLCHAIN "${QUILLSHELL_CACHE_DIR}/aarch64-w64-mingw32" CACHE PATH "made by scripts/arch-setup arm64")
set(QUILLSHELL_ARM64_ROOT "${QUILLSHELL_CACHE_DIR}/arm64-root" CACHE PATH "the arm64 Debian with wine64, made by scripts/arch-setup arm64")
if(NOT EXISTS "${QUILLSHELL_ARM64_TOOLCHAIN}/bin/aarch64-w64-mingw32-clang++")
  message(FATAL_ERROR "no ARM64 toolchain in ${QUILLSHELL_ARM64_TOOLCHAIN}: run scripts/arch-setup arm64")
endif()

set(TOOLCHAIN_PREFIX aarch64-w64-mingw32)
set(tc "${QUILLSHELL_ARM64_TOOLCHAIN}/bin/${TOOLCHAIN_PREFIX}")
set(CMAKE_C_COMPILER   ${tc}-clang)
set(CMAKE_CXX_COMPILER ${tc}-clang++)
set(CMAKE_ASM_COMPILER ${tc}-clang)  # the DLLs' export tables (shellext/exports.S)
set(CMAKE_RC_COMPILER  ${tc}-windres)
# llvm-windres preprocesses with a clang that knows no sysroot.
set(CMAKE_RC_FLAGS_INIT "-I${QUILLSHELL_ARM64_TOOLCHAIN}/${TOOLCHAIN_PREFIX}/include")
set(CMAKE_AR           ${tc}-ar)
set(CMAKE_RANLIB       ${tc}-ranlib)
# binutils' objdump does not read ARM64 PE files.
set(CMAKE_OBJDUMP /usr/bin/llvm-objdump-14 CACHE FILEPATH "objdump for PE files")

set(CMAKE_FIND_ROOT_PATH "${QUILLSHELL_ARM64_TOOLCHAIN}/${TOOLCHAIN_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static (the wrappers take libc++ and compiler-rt) and no link time: lld's
# MinGW driver writes the link time unless told not to.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-static -Wl,--no-insert-timestamp")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--no-insert-timestamp")

# Tests run under the arm64 wine64 inside the arm64 Debian (scripts/root-wine).
set(QUILLSHELL_WINE_ROOT "${QUILLSHELL_ARM64_ROOT}" CACHE PATH "the arm64 Debian with wine64")

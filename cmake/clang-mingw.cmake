# Cross-compiles for 64-bit Windows with clang and lld, on the headers and
# libraries of Debian's mingw-w64 (gcc 12, posix thread model): a second
# compiler over the same code.
#   cmake -S . -B build-clang -DCMAKE_TOOLCHAIN_FILE=cmake/clang-mingw.cmake   (or scripts/build-clang)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_ASM_COMPILER clang)  # the DLLs' export tables (shellext/exports.S)
set(CMAKE_C_COMPILER_TARGET   ${TOOLCHAIN_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_ASM_COMPILER_TARGET ${TOOLCHAIN_PREFIX})
set(CMAKE_RC_COMPILER ${TOOLCHAIN_PREFIX}-windres)
set(CMAKE_OBJDUMP ${TOOLCHAIN_PREFIX}-objdump CACHE FILEPATH "objdump for PE files")

# Without a sysroot clang would search /usr/include, the host's own headers,
# after mingw-w64's.
set(CMAKE_SYSROOT /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH /usr/${TOOLCHAIN_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# clang finds no libstdc++ in the sysroot: point it at the posix one of
# mingw-w64's gcc, which has std::mutex and std::thread.
set(MINGW_GCC_DIR /usr/lib/gcc/${TOOLCHAIN_PREFIX}/12-posix)
set(MINGW_CXX_INCLUDE ${MINGW_GCC_DIR}/include/c++)
# (-nostdinc++ reaches the link lines too, where clang would warn about it.)
set(CMAKE_CXX_FLAGS_INIT
    "-Wno-unused-command-line-argument -nostdinc++ -isystem ${MINGW_CXX_INCLUDE} -isystem ${MINGW_CXX_INCLUDE}/${TOOLCHAIN_PREFIX} -isystem ${MINGW_CXX_INCLUDE}/backward")

# As with gcc: static, so Explorer needs nothing beside the DLL, and no link time.
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-fuse-ld=lld -static -Wl,--no-insert-timestamp -L${MINGW_GCC_DIR} -pthread")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-fuse-ld=lld -static -Wl,--no-insert-timestamp -L${MINGW_GCC_DIR} -pthread")

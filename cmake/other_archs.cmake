# The other architectures' builds, whose binaries the installers carry beside
# the x64 ones: this same project built again with another toolchain file, in
# <build>/x86 (32-bit programs' dialogs on 64-bit Windows) and <build>/arm64
# (ARM64 Explorer), each with its own tests (scripts/arch-tests runs them).
# The ARM64 toolchain is made by scripts/arch-setup arm64-toolchain.
#   QUILLSHELL_ARCHS  "x86;arm64" by default; "" builds x64 only, and then the
#                     installers register no 32-bit class and refuse ARM64
include(ExternalProject)
set(QUILLSHELL_ARCHS "x86;arm64" CACHE STRING "Other architectures to build for the installers (x86, arm64)")
set(toolchain_x86 mingw-w64-i686)
set(toolchain_arm64 clang-aarch64-mingw)
set(outputs_x86 quillshell.dll quillshell64reg.exe)
set(outputs_arm64 quillshell.dll quillshell-modern.dll quillshell64reg.exe)
foreach(arch ${QUILLSHELL_ARCHS})
  if(NOT DEFINED toolchain_${arch})
    message(FATAL_ERROR "QUILLSHELL_ARCHS: '${arch}' is neither x86 nor arm64")
  endif()
  set(dir ${CMAKE_BINARY_DIR}/${arch})
  set(QUILLSHELL_${arch}_BIN ${dir}/bin)
  set(QUILLSHELL_${arch}_OUTPUTS)
  foreach(name ${outputs_${arch}})
    list(APPEND QUILLSHELL_${arch}_OUTPUTS ${dir}/bin/${name})
  endforeach()
  ExternalProject_Add(build_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${dir}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${toolchain_${arch}}.cmake
               -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DQUILLSHELL_VERSION=${QUILLSHELL_VERSION}
               -DQUILLSHELL_INSTALLERS=OFF -DQUILLSHELL_OTHER_BUILDS=OFF -DQUILLSHELL_TESTS=${QUILLSHELL_TESTS}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${QUILLSHELL_${arch}_OUTPUTS})
endforeach()

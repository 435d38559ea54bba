# Where scripts/arch-setup keeps what it makes, outside the clone: the Wine
# root, the ARM64 toolchain and the arm64 Debian.
if(DEFINED ENV{QUILLSHELL_CACHE})
  set(QUILLSHELL_CACHE_DIR "$ENV{QUILLSHELL_CACHE}")
else()
  set(QUILLSHELL_CACHE_DIR "$ENV{HOME}/.cache/quillshell")
endif()

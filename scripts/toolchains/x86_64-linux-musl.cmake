# Builds for x86_64-linux-musl with zig (scripts/toolchains/zig-cc), its programs
# linked dynamically against musl as a musllinux wheel's are. A cross build: the
# build machine's CPython cannot import what it builds. The vesk command it
# builds runs here through Debian's musl loader (package musl), to print its
# manual page and completions.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER ${CMAKE_CURRENT_LIST_DIR}/x86_64-linux-musl-cc)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/x86_64-linux-musl-c++)
# zig links a musl program statically unless told otherwise.
set(CMAKE_EXE_LINKER_FLAGS_INIT -dynamic)
set(CMAKE_CROSSCOMPILING_EMULATOR /lib/ld-musl-x86_64.so.1)
if(NOT EXISTS ${CMAKE_CROSSCOMPILING_EMULATOR})
  message(FATAL_ERROR "${CMAKE_CROSSCOMPILING_EMULATOR} is missing: apt-get install musl")
endif()

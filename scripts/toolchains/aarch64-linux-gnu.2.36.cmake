# Builds for aarch64-linux-gnu.2.36 with zig (scripts/toolchains/zig-cc): the glibc of
# Debian 12's arm64 root, for what only runs there (the C++ tests, the CPython they
# and the wheels are tested with).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER ${CMAKE_CURRENT_LIST_DIR}/aarch64-linux-gnu.2.36-cc)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/aarch64-linux-gnu.2.36-c++)

# Builds for aarch64-linux-gnu.2.17 with zig (scripts/toolchains/zig-cc).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER ${CMAKE_CURRENT_LIST_DIR}/aarch64-linux-gnu.2.17-cc)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/aarch64-linux-gnu.2.17-c++)

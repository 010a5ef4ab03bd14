# Builds for x86_64-linux-gnu.2.17 with zig (scripts/toolchains/zig-cc); a native build, so that
# CMake runs what it builds (the C++ tests) directly.
set(CMAKE_C_COMPILER ${CMAKE_CURRENT_LIST_DIR}/x86_64-linux-gnu.2.17-cc)
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/x86_64-linux-gnu.2.17-c++)

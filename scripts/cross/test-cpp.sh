#!/usr/bin/env bash
# Cross-builds the C++ tests for aarch64 with zig (scripts/toolchains), with a
# GoogleTest built the same way from Debian's googletest sources, and runs them
# here under qemu-user (CTest's emulator: qemu-aarch64-static -L ROOT, ROOT from
# scripts/cross/debian-sysroot.sh, for glibc and the C++ runtime's libraries).
#   scripts/cross/test-cpp.sh
#   JOBS=n   parallel build and test jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
JOBS=${JOBS:-2}
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
need_apt=()
[ -f /usr/src/googletest/CMakeLists.txt ] || need_apt+=(googletest)
if [ ${#need_apt[@]} -gt 0 ]; then
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_apt[@]}"
fi
emulator=$(scripts/cross/emulator.sh)
# For the root's glibc, 2.36: a test names errors with strerrorname_np (2.32).
toolchain=$ROOT/scripts/toolchains/aarch64-linux-gnu.2.36.cmake
build=build/cross-aarch64

gtest=$ROOT/$build/gtest
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B "$build/gtest-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$gtest" -DBUILD_GMOCK=OFF >/dev/null
    cmake --build "$build/gtest-build" -j "$JOBS" >/dev/null
    cmake --install "$build/gtest-build" >/dev/null
fi

cmake -S . -B "$build/tests" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DREVEVU_BUILD_TESTS=ON -DREVEVU_BUILD_EXTENSION=OFF -DGTest_DIR="$gtest/lib/cmake/GTest" \
    "-DCMAKE_CROSSCOMPILING_EMULATOR=${emulator// /;}" >/dev/null
cmake --build "$build/tests" -j "$JOBS"
ctest --test-dir "$build/tests" --output-on-failure -j "$JOBS"

#!/usr/bin/env bash
# Builds the module with optimisation and debug information (for readable
# valgrind stacks) in build/reliability and lays it out as pip would install
# it; prints the directory to put on PYTHONPATH.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
BUILD=${REVEVU_RELIABILITY_BUILD:-build/reliability}
{
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREVEVU_BUILD_TESTS=OFF \
        -DPython_EXECUTABLE="$(command -v "$PYTHON")"
    cmake --build "$BUILD" -j "${JOBS:-2}"
    cmake --install "$BUILD" --prefix "$BUILD/stage"
} >&2
echo "$PWD/$BUILD/stage"

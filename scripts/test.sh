#!/usr/bin/env bash
# Installs what the tests need and runs the whole suite: the C++ tests (CTest)
# and the Python tests (pytest) against the installed module.
#   PYTHON=/path/to/python scripts/test.sh    # another interpreter (default python3)
#   REVEVU_SKIP_CPP=1 scripts/test.sh         # Python suite only
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
JOBS=${JOBS:-2}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

need_apt=()
[ -f /usr/include/gtest/gtest.h ] || need_apt+=(libgtest-dev)
command -v cmake >/dev/null || need_apt+=(cmake)
command -v ninja >/dev/null || need_apt+=(ninja-build)
# The manual page and completion tests run man, groff and zsh.
command -v man >/dev/null || need_apt+=(man-db)
command -v groff >/dev/null || need_apt+=(groff-base)
command -v zsh >/dev/null || need_apt+=(zsh)
if [ ${#need_apt[@]} -gt 0 ] && [ -z "${REVEVU_SKIP_CPP:-}" ]; then
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_apt[@]}"
fi

if [ -z "${REVEVU_SKIP_CPP:-}" ]; then
    echo "== C++ tests"
    cmake -S . -B build/cpp-tests -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DREVEVU_BUILD_TESTS=ON -DREVEVU_BUILD_EXTENSION=OFF -DPython_EXECUTABLE="$(command -v "$PYTHON")"
    cmake --build build/cpp-tests -j "$JOBS"
    ctest --test-dir build/cpp-tests --output-on-failure -j "$JOBS"
fi

echo "== Python tests ($("$PYTHON" --version))"
"$PYTHON" -m pip install --quiet --disable-pip-version-check ".[test]"
# Run from the tests folder so that the source tree cannot shadow the installed module.
(cd tests/python && "$PYTHON" -m pytest -q -p no:cacheprovider)

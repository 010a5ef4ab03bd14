#!/usr/bin/env bash
# Line and branch coverage of the whole suite, per folder: the C++ tests and
# the Python suite against a module and a vesk command built with coverage
# counters. Throw and unreachable branches are left out. Not part of CI.
#   scripts/coverage.sh                      # python3 with the test extra installed
#   PYTHON=/path/to/python scripts/coverage.sh
#   scripts/coverage.sh -k save               # arguments after the script go to pytest
# Needs gcovr (pip install gcovr). Builds in build/coverage-cpp and
# build/coverage-py; the module goes to build/coverage-py/site, never over
# the installed one.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
JOBS=${JOBS:-2}
root=$PWD
flags="--coverage -O0 -g"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
"$PYTHON" -m gcovr --version >/dev/null 2>&1 || { echo "coverage.sh: needs gcovr (pip install gcovr)" >&2; exit 2; }

status=0
echo "== C++ tests with coverage counters"
cmake -S . -B build/coverage-cpp -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$flags" \
    -DREVEVU_BUILD_TESTS=ON -DREVEVU_BUILD_EXTENSION=OFF "${launcher[@]}" >/dev/null
cmake --build build/coverage-cpp -j "$JOBS"
find build/coverage-cpp -name '*.gcda' -delete
ctest --test-dir build/coverage-cpp -j "$JOBS" --output-on-failure || status=$?

echo "== Python suite against a module with coverage counters"
site=$root/build/coverage-py/site
rm -rf "$site"
CMAKE_BUILD_PARALLEL_LEVEL=$JOBS "$PYTHON" -m pip install --quiet --disable-pip-version-check \
    --no-build-isolation --no-deps --target "$site" . \
    -Cbuild-dir=build/coverage-py/build -Ccmake.build-type=Debug \
    -Ccmake.define.CMAKE_CXX_FLAGS="$flags" \
    ${launcher:+-Ccmake.define.CMAKE_CXX_COMPILER_LAUNCHER=ccache}
find build/coverage-py/build -name '*.gcda' -delete
# A child under a small file-size limit cannot write its counters when it
# ends: the tests that set one lift it again after the save they limit, or
# set one above the size of a counter file.
# The counts are reported even when a test fails; the status says so.
(cd tests/python && PYTHONPATH="$site" VESK_BIN="$site/bin/vesk" \
    "$PYTHON" -m pytest -q -p no:cacheprovider "$@") || status=$?

echo "== Coverage (throw and unreachable branches left out)"
summary=build/coverage-summary.json
"$PYTHON" -m gcovr --root "$root" --filter "$root/protocols/" --filter "$root/revevu/src/" \
    --filter "$root/vesk/" --exclude-throw-branches --exclude-unreachable-branches \
    --merge-mode-functions=separate --json-summary "$summary" \
    build/coverage-cpp build/coverage-py/build
"$PYTHON" "$root/scripts/coverage_table.py" "$summary"
exit "$status"

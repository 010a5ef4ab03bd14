#!/usr/bin/env bash
# Line and branch coverage of the whole suite, per folder: the C++ tests and
# the Python suite against a module and a vesk command built with coverage
# counters. Not part of CI.
#   scripts/coverage.sh                      # python3 with the test extra installed
#   PYTHON=/path/to/python scripts/coverage.sh
#   scripts/coverage.sh -k save               # arguments after the script go to pytest
# A branch is one condition of an if, while, for, ?:, && or || (or a case of
# a switch) taken one way; each condition counts twice. That is clang's
# source-based coverage: gcc's branch counts also hold the edges the compiler
# adds (destructors of temporaries, static-initialisation guards, each
# template instantiation again), which no test can or should take, so gcov
# said 70 % where the source's own decisions were far better covered. A throw
# or an unreachable point is no condition and is not counted.
# Needs clang++-14, llvm-profdata-14 and llvm-cov-14 (apt-get install clang-14
# llvm-14; LLVM=18 picks another version). Builds in build/llvmcov-cpp and
# build/llvmcov-py; the module goes to build/llvmcov-py/site, never over the
# installed one. Every process, vesk children and forked ones included,
# writes its own counter file into build/llvmcov-profiles when it exits (one
# killed, or ended by _exit as vesk's handler of a file truncated under it,
# writes none); the HTML report of every file is left in build/coverage-html.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
JOBS=${JOBS:-2}
LLVM=${LLVM:-14}
root=$PWD
for tool in clang++ llvm-profdata llvm-cov; do
    command -v "$tool-$LLVM" >/dev/null ||
        { echo "coverage.sh: needs $tool-$LLVM (apt-get install clang-$LLVM llvm-$LLVM)" >&2; exit 2; }
done
# clang calls a lambda's `this` unused where the member it calls is static
# in some instantiations only; a warning here, not an error.
flags="-fprofile-instr-generate -fcoverage-mapping -O0 -g -Wno-error=unused-lambda-capture"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
profiles=$root/build/llvmcov-profiles
rm -rf "$profiles"
mkdir -p "$profiles"
# %p: one file per process, so that no child's counts overwrite another's.
export LLVM_PROFILE_FILE="$profiles/%p-%m.profraw"

status=0
echo "== C++ tests with coverage counters"
cmake -S . -B build/llvmcov-cpp -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER="clang++-$LLVM" \
    -DCMAKE_CXX_FLAGS="$flags" -DREVEVU_BUILD_TESTS=ON -DREVEVU_BUILD_EXTENSION=OFF "${launcher[@]}" >/dev/null
cmake --build build/llvmcov-cpp -j "$JOBS"
ctest --test-dir build/llvmcov-cpp -j "$JOBS" --output-on-failure || status=$?

echo "== Python suite against a module with coverage counters"
site=$root/build/llvmcov-py/site
rm -rf "$site"
CMAKE_BUILD_PARALLEL_LEVEL=$JOBS "$PYTHON" -m pip install --quiet --disable-pip-version-check \
    --no-build-isolation --no-deps --target "$site" . \
    -Cbuild-dir=build/llvmcov-py/build -Ccmake.build-type=Debug \
    -Ccmake.define.CMAKE_CXX_COMPILER="clang++-$LLVM" -Ccmake.define.CMAKE_CXX_FLAGS="$flags" \
    ${launcher:+-Ccmake.define.CMAKE_CXX_COMPILER_LAUNCHER=ccache}
# A child under a small file-size limit cannot write its counters when it
# ends: the tests that set one lift it again after the save they limit, or
# set one above the size of a counter file, or (a limit of 0) leave that
# case to the full device made as root, which takes the same paths.
# The examples find vesk on PATH.
# The counts are reported even when a test fails; the status says so.
(cd tests/python && PYTHONPATH="$site" VESK_BIN="$site/bin/vesk" PATH="$site/bin:$PATH" \
    "$PYTHON" -m pytest -q -p no:cacheprovider "$@") || status=$?

echo "== Coverage (each condition both ways)"
merged=build/llvmcov.profdata
find "$profiles" -name '*.profraw' >build/llvmcov-profiles.txt
# A counter file a child could not finish (killed, or past a file-size
# limit) is left out with a warning rather than failing the merge.
"llvm-profdata-$LLVM" merge -sparse --failure-mode=all --input-files=build/llvmcov-profiles.txt -o "$merged"
# Every program and module that ran with counters. A function built the same
# way into several counts once, its counts added up; one built another way
# (the tests of a loop a faster processor would take, built with that loop
# alone) is shown as the first program listed has it: the ones built as
# shipped come first, those builds last.
objects=()
while IFS= read -r object; do objects+=(-object "$object"); done < <(
    echo "$site/bin/vesk"
    find "$site" -maxdepth 1 -name '*.so' | sort
    find build/llvmcov-cpp/tests -maxdepth 2 -type f -executable -name '*_test' | sort |
        grep -Ev '_(baseline|ssse3|avx2)_test$'
    find build/llvmcov-cpp/tests -maxdepth 2 -type f -executable -name '*_test' | sort |
        grep -E '_(baseline|ssse3|avx2)_test$')
ignore='^(/usr/|.*/site-packages/|.*/_deps/|.*/tests/)'
"llvm-cov-$LLVM" export -summary-only -instr-profile="$merged" -ignore-filename-regex="$ignore" \
    "${objects[@]}" >build/coverage-summary.json
"llvm-cov-$LLVM" show -format=html -output-dir=build/coverage-html -show-branches=count \
    -instr-profile="$merged" -ignore-filename-regex="$ignore" "${objects[@]}" >/dev/null
"$PYTHON" "$root/scripts/coverage_table.py" "$root" build/coverage-summary.json
exit "$status"

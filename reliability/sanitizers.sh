#!/usr/bin/env bash
# AddressSanitizer + UndefinedBehaviorSanitizer pass: the core library's C++
# tests, then the whole pytest suite against a sanitized build of the module,
# with the sanitizer runtime preloaded into the Python process. Fails on any
# memory error, any undefined behaviour, and any leak whose allocation stack
# passes through the module or the core library.
#   PYTHON=python3            interpreter (default python3)
#   REVEVU_ASAN_BUILD=dir     build directory (default build/asan)
#   REVEVU_ASAN_PYTEST_ARGS   extra pytest arguments (e.g. -k 'not slow')
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
PYTHON=${PYTHON:-python3}
BUILD=${REVEVU_ASAN_BUILD:-build/asan}
JOBS=${JOBS:-2}

sanitize="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
# GCC's flow analysis gives false "may be used uninitialized" warnings in
# sanitized standard-library code (std::regex); -Werror would stop the build.
quiet="-Wno-maybe-uninitialized"
echo "== sanitizer build in $BUILD"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="$sanitize $quiet -O1" \
    -DCMAKE_EXE_LINKER_FLAGS="$sanitize" \
    -DCMAKE_SHARED_LINKER_FLAGS="$sanitize" \
    -DCMAKE_MODULE_LINKER_FLAGS="$sanitize" \
    -DREVEVU_BUILD_TESTS=ON -DPython_EXECUTABLE="$(command -v "$PYTHON")" >/dev/null
cmake --build "$BUILD" -j "$JOBS"
# Laid out as pip installs it: the module with its type stubs beside it.
cmake --install "$BUILD" --prefix "$BUILD/stage" >/dev/null
module=$(ls "$ROOT/$BUILD"/stage/revevu*.so)

logs=$(mktemp -d /tmp/revevu-sanitizer-logs.XXXXXX)
chmod 1777 "$logs"  # children that run as another user log here too
trap 'rm -rf "$logs"' EXIT
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$logs/ubsan"

echo "== C++ tests under the sanitizers"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:log_path=$logs/cpp-asan" \
    ctest --test-dir "$BUILD" --output-on-failure -j "$JOBS"

echo "== Python suite under the sanitizers"
runtime="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
# Leaks do not end a process (exitcode=0): the interpreter's own are sorted
# out from the logs afterwards. Memory errors abort at once. A small
# quarantine keeps resident memory steady for the suite's leak tests, which
# measure it; freed blocks still stay poisoned for the next megabyte of frees.
asan="detect_leaks=1:abort_on_error=1:exitcode=0:symbolize=0:malloc_context_size=30:quarantine_size_mb=1"
under_sanitizers() {
    LD_PRELOAD="$runtime" ASAN_OPTIONS="$asan:log_path=$logs/py-asan" PYTHONMALLOC=malloc \
        PYTHONPATH="$(dirname "$module")${PYTHONPATH:+:$PYTHONPATH}" REVEVU_FIGURES_FILE= "$@"
}
status=0
(
    cd tests/python
    under_sanitizers "$PYTHON" -c 'import revevu, sys
sys.exit(0 if revevu.__file__ == sys.argv[1] else "not the sanitized module: " + revevu.__file__)' "$module"
    under_sanitizers "$PYTHON" -m pytest -q -p no:cacheprovider ${REVEVU_ASAN_PYTEST_ARGS:-}
) || status=$?

echo "== sanitizer reports"
"$PYTHON" "$ROOT/reliability/sanitizer_report.py" "$logs" || status=1
exit $status

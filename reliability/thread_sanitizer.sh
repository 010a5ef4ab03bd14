#!/usr/bin/env bash
# ThreadSanitizer pass: a free-threaded interpreter built with
# --with-thread-sanitizer (shared/cpython/ensure.sh), both modules built with
# -fsanitize=thread, and the thread tests run under it. Fails on any report:
# every process the tests start writes its reports to one folder, counted there.
#   REVEVU_CPYTHON_ENSURE=path   ensure.sh (default: shared/cpython/ensure.sh above the checkout)
#   REVEVU_TSAN_BUILD=dir        build directory (default build/tsan)
#   REVEVU_STRESS_ROUNDS=n       rounds of the thread workload (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${REVEVU_TSAN_BUILD:-build/tsan}
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1

ensure=${REVEVU_CPYTHON_ENSURE:-}
if [ -z "$ensure" ]; then
    dir=$ROOT
    while [ "$dir" != / ] && [ ! -x "$dir/shared/cpython/ensure.sh" ]; do dir=$(dirname "$dir"); done
    ensure=$dir/shared/cpython/ensure.sh
fi
[ -x "$ensure" ] || { echo "no shared/cpython/ensure.sh: set REVEVU_CPYTHON_ENSURE" >&2; exit 1; }
echo "== ThreadSanitizer interpreter (built on first use)"
python=$("$ensure" --free-threaded --thread-sanitizer)

venv=$ROOT/$BUILD/venv
[ -x "$venv/bin/python" ] || "$python" -m venv "$venv"
"$venv/bin/python" -c 'import numpy, pytest, hypothesis, nanobind' 2>/dev/null ||
    "$venv/bin/python" -m pip install --quiet --only-binary :all: numpy pytest hypothesis nanobind==3.1.0

echo "== modules built with -fsanitize=thread in $BUILD"
sanitize="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREVEVU_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_MODULE_LINKER_FLAGS="$sanitize" \
    -DCMAKE_SHARED_LINKER_FLAGS="$sanitize" -DCMAKE_EXE_LINKER_FLAGS="$sanitize" \
    -DPython_EXECUTABLE="$venv/bin/python" >/dev/null
# The two modules alone: the command and the stubs are not needed here.
cmake --build "$BUILD" -j "${JOBS:-2}" --target revevu vesk_python >/dev/null
modules=$ROOT/$BUILD/revevu:$ROOT/$BUILD/vesk/python/module

# The interpreter's own known races, as its own ThreadSanitizer runs suppress
# them, from the source it was built from.
suppressions=$ROOT/$BUILD/suppressions.txt
tar -xJOf "$(dirname "$ensure")/Python-3.14.7.tar.xz" \
    Python-3.14.7/Tools/tsan/suppressions_free_threading.txt >"$suppressions"
# NumPy's wheel is not instrumented: its ufunc cache is behind a lock of its
# own that ThreadSanitizer cannot see, so only the cache's copies are seen.
printf '%s\n' race:PyArrayIdentityHash_GetItem race:PyArrayIdentityHash_SetItemDefault >>"$suppressions"

logs=$(mktemp -d /tmp/revevu-tsan-logs.XXXXXX)
trap 'rm -rf "$logs"' EXIT
echo "== thread tests under ThreadSanitizer"
status=0
(
    cd tests/python
    TSAN_OPTIONS="suppressions=$suppressions:log_path=$logs/tsan:second_deadlock_stack=1" \
        PYTHONPATH="$modules" REVEVU_STRESS_ROUNDS=${REVEVU_STRESS_ROUNDS:-1} \
        REVEVU_THREAD_SECONDS=${REVEVU_THREAD_SECONDS:-2} REVEVU_FIGURES_FILE= \
        "$venv/bin/python" -m pytest -q -p no:cacheprovider -p no:faulthandler \
        test_free_threading.py test_threads.py
) || status=$?

reports=$(cat "$logs"/tsan.* 2>/dev/null | grep -c '^WARNING: ThreadSanitizer' || true)
echo "ThreadSanitizer: $reports reports"
if [ "$reports" -gt 0 ]; then
    cat "$logs"/tsan.* | head -n 200
    status=1
fi
exit $status

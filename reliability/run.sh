#!/usr/bin/env bash
# The reliability run: every part bounded in time, then the figures.
#   1 sanitizers   AddressSanitizer + UndefinedBehaviorSanitizer over the C++ and Python suites
#   2 model        random call sequences against a model of the record (fixed seed)
#   3 save faults  full disk, file-size limit, permissions, links, FIFOs, every file call failing,
#                  a save killed at random points
#   4 stability    a million mixed calls: resident memory and reference counts flat
#   5 threads      eight threads on shared and own protocols
#   6 valgrind     memcheck over a script that exercises every method and error path
#   7 tsan         ThreadSanitizer over the thread tests on a free-threaded interpreter
#                  (reliability/thread_sanitizer.sh; REVEVU_CPYTHON_ENSURE names ensure.sh)
# REVEVU_RELIABILITY_LONG=1 lengthens parts 2, 4 and 5 (a long run, not for every push).
# REVEVU_RELIABILITY_PARTS="model threads" runs only the named parts;
# REVEVU_RELIABILITY_SKIP="tsan" runs all but the named ones.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
PYTHON=${PYTHON:-python3}
export PIP_ROOT_USER_ACTION=ignore
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if [ -n "${REVEVU_RELIABILITY_LONG:-}" ]; then
    examples=100000 model_seconds=3600 calls=10000000 thread_seconds=120
else
    examples=100000 model_seconds=110 calls=1000000 thread_seconds=5
fi
parts=${REVEVU_RELIABILITY_PARTS:-"sanitizers model faults stability threads valgrind tsan"}
skipped=${REVEVU_RELIABILITY_SKIP:-}

# What the parts need, installed only when missing.
"$PYTHON" -c 'import hypothesis, pytest, numpy, nanobind' 2>/dev/null ||
    "$PYTHON" -m pip install --quiet --disable-pip-version-check hypothesis pytest numpy nanobind
need_apt=()
command -v valgrind >/dev/null || need_apt+=(valgrind)
command -v ninja >/dev/null || need_apt+=(ninja-build)
[ -f /usr/include/gtest/gtest.h ] || need_apt+=(libgtest-dev)
if [ ${#need_apt[@]} -gt 0 ]; then
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_apt[@]}"
fi

figures=$(mktemp /tmp/revevu-figures.XXXXXX)
trap 'rm -f "$figures"' EXIT
export REVEVU_FIGURES_FILE=$figures
failed=()
module_dir=""

# run_part NAME SECONDS COMMAND...: runs in tests/python (so that the source
# tree cannot shadow the built module); a part that fails or overruns fails the run.
run_part() {
    local name=$1 seconds=$2 start status=0
    shift 2
    case " $parts " in *" $name "*) ;; *) return 0 ;; esac
    case " $skipped " in *" $name "*) return 0 ;; esac
    echo "== $name (at most ${seconds} s)"
    start=$SECONDS
    (cd "$ROOT/tests/python" && timeout --kill-after=10 "$seconds" "$@") || status=$?
    echo "{\"part\": \"$name\", \"status\": $status, \"seconds\": $((SECONDS - start))}" >>"$figures"
    [ "$status" -eq 0 ] || failed+=("$name")
}

echo "== building the module"
module_dir=$(reliability/build_module.sh)
pytest=(env PYTHONPATH="$module_dir" "$PYTHON" -m pytest -q -p no:cacheprovider -s -rs)

run_part sanitizers 1200 "$ROOT/reliability/sanitizers.sh"
run_part model $((model_seconds + 60)) env REVEVU_HYPOTHESIS_EXAMPLES=$examples \
    REVEVU_HYPOTHESIS_SECONDS=$model_seconds "${pytest[@]}" test_model_based.py
run_part faults 120 "${pytest[@]}" test_save_faults.py
run_part stability $((calls / 20000 + 60)) env REVEVU_STRESS_CALLS=$calls "${pytest[@]}" test_stability.py
run_part threads $((thread_seconds + 60)) env REVEVU_THREAD_SECONDS=$thread_seconds "${pytest[@]}" test_threads.py
run_part valgrind 600 env REVEVU_MODULE_DIR="$module_dir" "$ROOT/reliability/valgrind.sh"
run_part tsan 1500 "$ROOT/reliability/thread_sanitizer.sh"

echo "== figures"
"$PYTHON" "$ROOT/reliability/figures.py" "$figures"
if [ ${#failed[@]} -gt 0 ]; then
    echo "failed: ${failed[*]}"
    exit 1
fi

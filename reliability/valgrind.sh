#!/usr/bin/env bash
# valgrind memcheck over reliability/exercise.py, which calls every method and
# every error path: no invalid read or write anywhere, and no definitely lost
# block allocated through the module.
#   REVEVU_MODULE_DIR=dir   use the module in dir instead of building one
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
# The interpreter itself, not a wrapper script that would start it.
PYTHON=$("${PYTHON:-python3}" -c 'import sys; print(sys.executable)')

if ! command -v valgrind >/dev/null; then
    as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind
fi
module_dir=${REVEVU_MODULE_DIR:-$(reliability/build_module.sh)}

short=$(mktemp /tmp/revevu-memcheck.XXXXXX.xml)
long=$(mktemp /tmp/revevu-memcheck.XXXXXX.xml)
trap 'rm -f "$short" "$long"' EXIT
# PYTHONMALLOC=malloc: every object goes through malloc, where memcheck sees it.
# Two runs, few and many rounds of the same calls: losses must not grow.
memcheck() {
    PYTHONMALLOC=malloc PYTHONHASHSEED=0 PYTHONPATH="$module_dir" REVEVU_EXERCISE_ROUNDS=$1 \
        valgrind --tool=memcheck --error-exitcode=0 \
        --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
        --track-origins=yes --suppressions="$ROOT/reliability/valgrind.supp" \
        --num-callers=40 --xml=yes --xml-file="$2" \
        "$PYTHON" "$ROOT/reliability/exercise.py"
}
memcheck 2 "$short"
memcheck 40 "$long"
"$PYTHON" "$ROOT/reliability/valgrind_report.py" "$short" "$long"

#!/usr/bin/env bash
# Prints the path of a CPython of this machine for a wheel tag (cp311, cp314,
# cp314t...), one that can make venvs with pip: python3, pyenv's, /usr's, or
# for 3.14 the one shared/cpython/ensure.sh builds (--free-threaded for a t).
# Fails, saying so, when there is none.
#   scripts/find-python.sh TAG
#   scripts/find-python.sh --ensure   # only the path of ensure.sh
#   scripts/find-python.sh --tag PYTHON   # the wheel tag of an interpreter
#   REVEVU_CPYTHON_ENSURE=path        # ensure.sh, when it is not in a folder
#                                     # above the checkout (or its origin)
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 1 ] || [ $# -eq 2 -a "$1" = --tag ] || { echo "usage: $0 TAG|--ensure|--tag PYTHON" >&2; exit 2; }
tag_of_python='import sys, sysconfig
print(f"cp{sys.version_info[0]}{sys.version_info[1]}" + ("t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))'
if [ "$1" = --tag ]; then exec "$2" -c "$tag_of_python"; fi

# shared/cpython/ensure.sh in a folder above the checkout, or above the
# repository it was cloned from.
find_ensure() {
    local start dir
    [ -z "${REVEVU_CPYTHON_ENSURE:-}" ] || { echo "$REVEVU_CPYTHON_ENSURE"; return 0; }
    for start in "$PWD" "$(git config --get remote.origin.url 2>/dev/null || true)"; do
        [ -d "$start" ] || continue
        dir=$(cd "$start" && pwd -P)
        while [ "$dir" != / ]; do
            dir=$(dirname "$dir")
            [ -x "$dir/shared/cpython/ensure.sh" ] && { echo "$dir/shared/cpython/ensure.sh"; return 0; }
        done
    done
    echo "no shared/cpython/ensure.sh above $PWD: set REVEVU_CPYTHON_ENSURE" >&2
    return 1
}
if [ "$1" = --ensure ]; then find_ensure; exit; fi

tag=$1
[[ $tag =~ ^cp3([0-9]+)(t?)$ ]] || { echo "not a CPython wheel tag: $tag" >&2; exit 2; }
minor=${BASH_REMATCH[1]} threading=${BASH_REMATCH[2]}
candidates=()
if [ "$minor" = 14 ]; then
    ensure=$(find_ensure)
    candidates+=("$("$ensure" ${threading:+--free-threaded})")
fi
[ -n "$threading" ] || candidates+=(python3 /root/.pyenv/versions/3."$minor".*/bin/python3 \
                                    /usr/local/bin/python3."$minor" /usr/bin/python3."$minor")
for py in "${candidates[@]}"; do
    command -v "$py" >/dev/null || continue
    [ "$("$py" -c "$tag_of_python" 2>/dev/null)" = "$tag" ] || continue
    "$py" -c 'import ensurepip, venv' 2>/dev/null || continue
    command -v "$py"
    exit 0
done
echo "no CPython for $tag here (with venv and ensurepip)" >&2
exit 1

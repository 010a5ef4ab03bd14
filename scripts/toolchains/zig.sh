#!/usr/bin/env bash
# Prints the path of the zig executable the compiler wrappers call (zig-cc),
# from PyPI's ziglang in the checkout's tools venv, build/dist-tools, which it
# makes on first use (under a lock: many compiles may ask at once).
#   scripts/toolchains/zig.sh
# The version is pinned: the build that is measured is the build that ships.
set -euo pipefail
cd "$(dirname "$(readlink -f "$0")")/../.."
version=0.17.1
tools=$PWD/build/dist-tools
zig=$tools/bin/zig
ready() { [ -x "$zig" ] && [ "$(cat "$tools/zig-version" 2>/dev/null)" = "$version" ]; }
if ! ready; then
    mkdir -p build
    exec 9>build/dist-tools.lock
    flock 9
    if ! ready; then
        [ -x "$tools/bin/python" ] || python3 -m venv "$tools"
        PIP_DISABLE_PIP_VERSION_CHECK=1 "$tools/bin/python" -m pip install --quiet "ziglang==$version"
        ln -sf "$("$tools/bin/python" -c 'import os, ziglang; print(os.path.dirname(ziglang.__file__))')/zig" "$zig"
        "$zig" version >"$tools/zig-version"
    fi
fi
echo "$zig"

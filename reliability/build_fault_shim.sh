#!/usr/bin/env bash
# Builds the fault-injection library (fault_shim.cpp, preloaded into the
# interpreter by test_save_faults.py) at the path given.
#   reliability/build_fault_shim.sh OUT.so
#   REVEVU_SHIM_CXX=compiler   another C++ compiler, one program (default g++ or
#                              c++): scripts/toolchains/x86_64-linux-musl-c++ for
#                              an interpreter linked against musl
set -euo pipefail
out=$1
cxx=${REVEVU_SHIM_CXX:-$(command -v g++ || command -v c++)}
# No sanitizer runtime preloaded into the compiler itself.
env -u LD_PRELOAD "$cxx" -std=c++20 -shared -fPIC -O1 -U_FORTIFY_SOURCE \
    -o "$out" "$(dirname "$0")/fault_shim.cpp" -ldl

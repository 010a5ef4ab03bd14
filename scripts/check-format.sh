#!/usr/bin/env bash
# Fails when a C++ file differs from what the project's .clang-format gives.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang-format >/dev/null; then
    as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-format
fi
git ls-files '*.cpp' '*.hpp' | xargs clang-format --dry-run -Werror
echo "clang-format: all C++ files formatted"

#!/usr/bin/env bash
# Prints the path of a CPython of another machine for a wheel tag, one that
# runs here. For aarch64 it is wrapped: a small script that runs it under
# qemu-user, so that it can stand wherever an interpreter's path is wanted
# (venvs made from it, and the processes it starts through sys.executable, go
# through the wrapper too). aarch64 cp311 is Debian's own python3.11
# (scripts/cross/debian-sysroot.sh), cp314 is cross-built from source
# (scripts/cross/cpython.sh); x86_64-musl cp314 is built with musl-gcc
# (scripts/cross/musl-cpython.sh) and runs natively through Debian's musl
# loader. Fails, saying so, for any other.
#   scripts/cross/python.sh TAG [MACHINE]   # MACHINE: aarch64 (default) or x86_64-musl
# The emulator is scripts/cross/emulator.sh's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -eq 1 ] || [ $# -eq 2 ] || { echo "usage: $0 TAG [MACHINE]" >&2; exit 2; }
tag=$1 machine=${2:-aarch64}
case $machine/$tag in
    x86_64-musl/cp314) exec "$here/musl-cpython.sh" "$("$here/../find-python.sh" --ensure)" ;;
    aarch64/*) ;;
    *) echo "no $machine CPython for $tag here" >&2; exit 1 ;;
esac
emulator=$("$here/emulator.sh")
root=${emulator##* }
case $tag in
    cp311) python=$root/usr/bin/python3.11 ;;
    cp314) python=$("$here/cpython.sh" "$("$here/../find-python.sh" --ensure)") ;;
    *) echo "no aarch64 CPython for $tag here" >&2; exit 1 ;;
esac
# The interpreter takes the wrapper's path as its own (qemu's -0 sets its
# argv[0]): a venv's pyvenv.cfg beside it is then found, and its libraries
# under the root.
dir=${XDG_CACHE_HOME:-$HOME/.cache}/revevu-qemu/$tag/bin
wrapper=$dir/$(basename "$python")
mkdir -p "$dir"
cat >"$wrapper.new" <<WRAPPER
#!$("$here/emulator.sh" --shell)
exec $emulator -0 "\$0" $python "\$@"
WRAPPER
chmod +x "$wrapper.new"
mv "$wrapper.new" "$wrapper"
echo "$wrapper"

#!/usr/bin/env bash
# Prints the path of an aarch64 CPython for a wheel tag, wrapped for this
# machine: a small script that runs it under qemu-user, so that it can stand
# wherever an interpreter's path is wanted (venvs made from it, and the
# processes it starts through sys.executable, go through the wrapper too).
# cp311 is Debian's own python3.11 (scripts/cross/debian-sysroot.sh); cp314
# is cross-built from source (scripts/cross/cpython.sh). Fails, saying so, for
# any other.
#   scripts/cross/python.sh TAG
# The emulator is scripts/cross/emulator.sh's.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
[ $# -eq 1 ] || { echo "usage: $0 TAG" >&2; exit 2; }
tag=$1
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

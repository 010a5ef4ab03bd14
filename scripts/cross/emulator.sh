#!/usr/bin/env bash
# Prints the command that runs aarch64 programs here: qemu-user with the arm64
# root of scripts/cross/debian-sysroot.sh for their loader and libraries, as
# words ("/usr/bin/qemu-aarch64-static -L ROOT"). qemu-aarch64-static is called
# directly (binfmt_misc need not be mounted); it is installed from Debian's
# qemu-user-static when missing.
#   scripts/cross/emulator.sh
#   scripts/cross/emulator.sh --shell   # the shell for a launcher that runs an
#                                       # aarch64 program through the emulator
# That shell is statically linked (Debian's busybox-static, installed when
# missing) as qemu is: a launcher started with an aarch64 library in
# LD_PRELOAD, meant for the program it starts, then runs with no dynamic
# loader of this machine to refuse the library, as with binfmt_misc.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
shell=/bin/busybox
if ! command -v qemu-aarch64-static >/dev/null || ! [ -x $shell ]; then
    as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq qemu-user-static busybox-static >&2
fi
if [ "${1:-}" = --shell ]; then echo "$shell sh"; exit 0; fi
echo "$(command -v qemu-aarch64-static) -L $("$here/debian-sysroot.sh")"

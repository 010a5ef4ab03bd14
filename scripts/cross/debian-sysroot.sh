#!/usr/bin/env bash
# Prints the path of an arm64 root holding Debian's own python3.11 and the
# libraries it and NumPy's wheel load, for running aarch64 programs here under
# qemu-user (`qemu-aarch64-static -L ROOT ...`). Made on first use from the
# distribution's arm64 packages (dpkg --add-architecture arm64, then
# apt-get download and dpkg-deb -x; nothing is installed); later calls print
# it at once.
#   scripts/cross/debian-sysroot.sh   -> $HOME/.cache/revevu-sysroot-arm64/
#   REVEVU_SYSROOT=/somewhere scripts/cross/debian-sysroot.sh
set -euo pipefail
root=${REVEVU_SYSROOT:-${XDG_CACHE_HOME:-$HOME/.cache}/revevu-sysroot-arm64}
packages=(libc6 libgcc-s1 libstdc++6 zlib1g libexpat1 libffi8 libssl3 libbz2-1.0 liblzma5
          libsqlite3-0 libncursesw6 libtinfo6 libreadline8 libuuid1 libdb5.3 libcrypt1 libnsl2
          libtirpc3 libgssapi-krb5-2 libkrb5-3 libk5crypto3 libkrb5support0 libcom-err2
          libkeyutils1 libpython3.11-minimal libpython3.11-stdlib python3.11-minimal
          python3.11 python3.11-venv
          zlib1g-dev libffi-dev)  # the last two for cross-building CPython against it
ready() { [ "$(cat "$root/.complete" 2>/dev/null)" = "${packages[*]}" ]; }

if ! ready; then
    mkdir -p "$(dirname "$root")"
    exec 9>"$root.lock"
    flock 9
    if ! ready; then
        as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
        if ! dpkg --print-foreign-architectures | grep -qx arm64 ||
           ! apt-cache show python3.11:arm64 >/dev/null 2>&1; then
            as_root dpkg --add-architecture arm64
            as_root apt-get update -qq
        fi
        work=$(mktemp -d)
        chmod 755 "$work"  # apt downloads as its own user
        (cd "$work" && apt-get download -qq "${packages[@]/%/:arm64}" python3-pip-whl python3-setuptools-whl)
        rm -rf "$root" && mkdir -p "$root"
        for deb in "$work"/*.deb; do dpkg-deb -x "$deb" "$root"; done
        rm -rf "$work"
        echo "${packages[*]}" >"$root/.complete"
    fi
fi
echo "$root"

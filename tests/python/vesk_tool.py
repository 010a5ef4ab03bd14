"""Finding and running the `vesk` command from the Python tests, and making
the files it reads."""

import os
import resource
import shutil
import signal
import subprocess
import sysconfig
from pathlib import Path


def vesk_path() -> str:
    """VESK_BIN if set; else the vesk installed with this interpreter's revevu;
    else the first on PATH. Raises when there is none, so no test is skipped."""
    explicit = os.environ.get("VESK_BIN")
    if explicit:
        if not os.access(explicit, os.X_OK):
            raise RuntimeError(f"VESK_BIN={explicit} is not an executable")
        return explicit
    beside = Path(sysconfig.get_path("scripts")) / "vesk"
    if os.access(beside, os.X_OK):
        return str(beside)
    found = shutil.which("vesk")
    if found is None:
        raise RuntimeError("no vesk command: install the project (pip install .) or set VESK_BIN")
    return found


def limit_file_size():
    """For preexec_fn: files of the child end at 1 MB, a write past that
    failing with EFBIG rather than killing the child (SIGXFSZ ignored). Above
    any coverage counter file, which a build with counters writes at exit."""
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (1_000_000, 1_000_000))


def run_vesk(*args: object) -> subprocess.CompletedProcess:
    return subprocess.run(
        [vesk_path(), *map(str, args)], capture_output=True, text=True, timeout=120, check=False
    )


def settings_text(protocol_text: str) -> str:
    """The Settings part of str(protocol), at its own indentation."""
    head, tail = "Protocol {\n    settings: ", ",\n}"
    assert protocol_text.startswith(head) and protocol_text.endswith(tail)
    first, *rest = protocol_text[len(head) : -len(tail)].split("\n")
    assert all(line.startswith("    ") for line in rest)
    return "\n".join([first, *(line[4:] for line in rest)])

# Offsets in the file of a protocol whose only signal is the default Constant 0.0.
INTENSITY, DURATION, VARIANT = 134, 142, 151
CHANNEL_A_COIL, CHANNEL_B_COIL_SETTING = 170, 183


def saved(p, folder: Path, name: str = "p.vesk") -> Path:
    path = folder / name
    p.save(str(path))
    return path


def patched(path: Path, offset: int, data: bytes) -> Path:
    raw = bytearray(path.read_bytes())
    raw[offset : offset + len(data)] = data
    path.write_bytes(bytes(raw))
    return path


def with_coil_name(path: Path, name: bytes) -> Path:
    """The saved file with its default coil renamed to `name` (the decoder
    refuses a name that is not valid UTF-8, so any other bytes make the file
    invalid)."""
    raw = path.read_bytes()
    old = b"\x07Default"
    assert raw.count(old) == 1
    length = bytearray()
    n = len(name)
    while True:  # the length as a varint
        length.append((n & 0x7F) | (0x80 if n > 0x7F else 0))
        n >>= 7
        if not n:
            break
    path.write_bytes(raw.replace(old, bytes(length) + name))
    return path

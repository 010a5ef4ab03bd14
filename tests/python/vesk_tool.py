"""Finding and running the `vesk` command from the Python tests."""

import os
import shutil
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

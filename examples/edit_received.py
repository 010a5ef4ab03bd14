"""
Changing a protocol file received from elsewhere
================================================

Changes one value of a protocol file received from elsewhere: reads it
back with the vesk module, looks at its arbitrary signals with NumPy,
rebuilds it as a revevu Protocol, lowers the intensity, saves the result
and prints what `vesk diff` finds between the two files.

    python examples/edit_received.py [EDITED.vesk]

The received file is received.vesk beside EDITED.vesk; when it does not
exist yet, the quickstart protocol is saved there first."""

import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

import numpy as np
import vesk

from quickstart import build

SAMPLING_RATE = 5000.0  # samples per second, as revevu's get_sampling_rate()
NEW_INTENSITY = 0.3


def vesk_command() -> str | None:
    """The vesk command installed beside this interpreter, else the first on PATH."""
    beside = Path(sysconfig.get_path("scripts")) / "vesk"
    return str(beside) if beside.exists() else shutil.which("vesk")


def main() -> None:
    edited = Path(sys.argv[1] if len(sys.argv) > 1 else "edited.vesk")
    received = edited.with_name("received.vesk")
    if not received.exists():
        build().save(str(received))

    loaded = vesk.load(received)
    print(loaded)
    for position, signal in enumerate(loaded.settings.signals):
        if signal.kind == "Arbitrary":
            levels = signal.samples / 32767.0  # the stored codes back on the 0..1 scale
            peak = int(np.argmax(levels))
            print(f"signal {position}: {levels.size} samples, highest level "
                  f"{levels[peak]:.3f} at {peak / SAMPLING_RATE} s")

    try:
        protocol = loaded.to_protocol()
    except vesk.NotReproducible as refusal:  # e.g. made for the target machine, not here
        sys.exit(f"{received}: {refusal}")
    protocol.set_stimulation_intensity(NEW_INTENSITY)
    protocol.save(str(edited))

    command = vesk_command()
    if command is None:
        sys.exit("no vesk command to compare the two files with")
    # Exit status 1: the files differ, as they should.
    diff = subprocess.run([command, "diff", str(received), str(edited)],
                          capture_output=True, text=True, check=False)
    print(f"$ vesk diff {received.name} {edited.name}")
    print(diff.stdout, end="")


if __name__ == "__main__":
    main()

"""
Reading a protocol file back
============================

Reads a protocol file back into Python with the vesk module and prints
what drives each channel input, every signal, and the arbitrary signals'
samples as NumPy sees them. When FILE does not exist yet, the quickstart
protocol is saved there first, so that there is something to read.

    python examples/read_back.py [FILE.vesk]"""

import os
import sys

import numpy as np
import vesk

from quickstart import build

SAMPLING_RATE = 5000.0  # samples per second, as revevu's get_sampling_rate()
Signal = (vesk.ConstantSignalParams | vesk.SineSignalParams | vesk.RampSignalParams
          | vesk.MixedSignalParams | vesk.ArbitrarySignalParams)


def describe_source(settings: vesk.Settings, source: vesk.SignalSourceSelection) -> str:
    if source.external_selected:
        return f"external input {source.external}"
    if source.internal >= len(settings.signals):
        return f"signal {source.internal}, which does not exist"
    return f"signal {source.internal} ({settings.signals[source.internal].kind})"


def describe_signal(signal: Signal) -> str:
    if signal.kind == "Arbitrary":
        levels = signal.samples / 32767.0  # the stored codes back on the 0..1 scale
        peak = int(np.argmax(signal.samples))
        return (f"Arbitrary {signal.samples.size} samples, mean level {levels.mean():.3f}, "
                f"highest {levels.max():.3f} at {peak / SAMPLING_RATE} s")
    fields = ", ".join(f"{name} {getattr(signal, name)!r}" for name in type(signal)._fields)
    return f"{signal.kind} {fields}"


def main() -> None:
    path = sys.argv[1] if len(sys.argv) > 1 else "read_back.vesk"
    if not os.path.exists(path):
        build().save(path)
    loaded = vesk.load(path)
    print(loaded)
    settings = loaded.settings
    for letter, channel in (("A", settings.channel_a_settings), ("B", settings.channel_b_settings)):
        state = "enabled" if channel.enabled else "disabled"
        print(f"channel {letter} ({state}):")
        for name in ("amplitude1_source", "amplitude2_source", "modulation_source"):
            print(f"  {name.removesuffix('_source')}: "
                  f"{describe_source(settings, getattr(channel, name))}")
    for position, signal in enumerate(settings.signals):
        print(f"signal {position}: {describe_signal(signal)}")


if __name__ == "__main__":
    main()

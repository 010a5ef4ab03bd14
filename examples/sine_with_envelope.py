"""
A sine carrier with a recorded envelope
=======================================

A sine carrier on channel A whose modulation follows an envelope recorded
elsewhere and kept as a NumPy .npy file: the envelope's values are spread
evenly over the session, resampled to 5000 per second, checked to lie in
[0, 1] and added as an arbitrary signal.

    python examples/sine_with_envelope.py [OUT.vesk] [--envelope ENVELOPE.npy]
                                          [--duration SECONDS]

Without --envelope, a small example envelope (a slow rise, a plateau with two
bursts, a slow fall; 200 values) is written to envelope.npy beside OUT.vesk
first, and loaded from there like any other."""

import argparse
import sys
from pathlib import Path

import numpy as np

from revevu import Channel, Coil, Protocol


def write_example_envelope(path: Path) -> None:
    x = np.linspace(0.0, 1.0, 200)
    rise_and_fall = np.clip(np.minimum(x / 0.25, (1.0 - x) / 0.25), 0.0, 1.0)
    bursts = 0.2 * (np.exp(-(((x - 0.4) / 0.03) ** 2)) + np.exp(-(((x - 0.6) / 0.03) ** 2)))
    np.save(path, 0.75 * rise_and_fall + bursts)


def load_envelope(path: Path, sample_count: int) -> np.ndarray:
    """The envelope in `path` (one-dimensional, any length >= 2), spread over
    the session and linearly interpolated to one value per sample."""
    values = np.load(path).astype(np.float64)
    if values.ndim != 1 or len(values) < 2:
        raise SystemExit(f"{path}: expected a one-dimensional array of at least 2 values")
    if not ((values >= 0.0) & (values <= 1.0)).all():
        raise SystemExit(f"{path}: every envelope value must lie in [0, 1]")
    at = np.linspace(0.0, 1.0, len(values))
    return np.interp(np.linspace(0.0, 1.0, sample_count), at, values)


def build(envelope_path: Path, duration: float) -> Protocol:
    p = Protocol()
    p.set_stimulation_intensity(0.3)
    p.set_session_duration(duration)
    carrier = p.add_sine_signal(amplitude=1.0, frequency=10.0)
    envelope = p.add_arbitrary_signal(load_envelope(envelope_path, p.get_num_samples()))
    p.set_amplitude_source(Coil.A1, carrier)
    p.set_amplitude_source(Coil.A2, carrier)
    p.set_modulation_source(Channel.A, envelope)
    return p


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("out", nargs="?", default="sine_with_envelope.vesk")
    parser.add_argument("--envelope", type=Path, help="a .npy file of values in [0, 1]")
    parser.add_argument("--duration", type=float, default=4.0, help="seconds (default 4.0)")
    arguments = parser.parse_args()
    out = Path(arguments.out)
    envelope_path = arguments.envelope
    if envelope_path is None:
        envelope_path = out.parent / "envelope.npy"
        write_example_envelope(envelope_path)
    build(envelope_path, arguments.duration).save(str(out))
    print(f"saved to {out} (envelope from {envelope_path})", file=sys.stderr)


if __name__ == "__main__":
    main()

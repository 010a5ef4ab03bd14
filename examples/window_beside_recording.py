"""
A minute of a long session, beside a recording
==============================================

Composes a 5-minute protocol whose modulation rises over its first minute and
then bursts at 10 Hz for 2 s of every 10 s, saves it, and draws one minute of
it with matplotlib under a recording of the same minute (made up here), on one
time axis, saved as a PNG beside the protocol file. Needs matplotlib
(``pip install "revevu[plot]"``).

    python examples/window_beside_recording.py [OUT.vesk]"""

import sys
from pathlib import Path

import matplotlib.pyplot as plt
import numpy as np
import vesk

from revevu import Channel, Coil, Protocol


def build() -> Protocol:
    p = Protocol()
    p.set_stimulation_intensity(0.3)
    p.set_session_duration(300.0)
    carrier = p.add_sine_signal(1.0, 10.0)
    t = np.arange(p.get_num_samples()) / p.get_sampling_rate()
    bursts = (t % 10.0 < 2.0) * (0.5 + 0.5 * np.sin(2 * np.pi * 10.0 * t))
    envelope = p.add_arbitrary_signal(np.minimum(t / 60.0, 1.0) * bursts)
    p.set_amplitude_source(Coil.A1, carrier)
    p.set_modulation_source(Channel.A, envelope)
    return p


def main() -> None:
    path = Path(sys.argv[1] if len(sys.argv) > 1 else "window_beside_recording.vesk")
    build().save(str(path))
    loaded = vesk.load(path)
    print(loaded)

    # A recording of the same minute: noise during each burst.
    recorded_t = np.arange(60.0, 120.0, 0.001)
    recorded = np.random.default_rng(0).normal(size=recorded_t.size) * (recorded_t % 10.0 < 2.0)
    figure, (data_ax, protocol_ax) = plt.subplots(
        2, sharex=True, figsize=(12, 8), height_ratios=[1, 3], layout="constrained")
    data_ax.plot(recorded_t, recorded, linewidth=0.5)
    data_ax.set_ylabel("EMG (a.u.)")
    loaded.plot(ax=protocol_ax, start=60.0, end=120.0)
    figure.savefig(path.with_suffix(".png"), dpi=60)
    print(f"drew 60..120 s into {path.with_suffix('.png')}")


if __name__ == "__main__":
    main()

"""
A mixed signal of a sine and a ramp
===================================

A mixed signal: a sine carrier and a ramp named by their positions and
combined by the stimulator, on channel A's first amplitude input; a constant
level on the second; a slow arbitrary swell as the modulation. Channel B stays
disabled.

    python examples/mixed_signal.py [OUT.vesk]"""

import sys

import numpy as np

from revevu import Channel, Coil, Protocol


def build() -> Protocol:
    p = Protocol()
    p.set_stimulation_intensity(0.5)
    p.set_session_duration(10.0)
    carrier = p.add_sine_signal(amplitude=1.0, frequency=40.0, phase=0.0, depth=0.8)
    ramp = p.add_ramp_signal(peak=1.0, up_duration=2.0, down_duration=3.0)
    mixed = p.add_mixed_signal(carrier, ramp)  # positions, as returned above
    level = p.add_constant_signal(0.6)
    t = np.arange(p.get_num_samples()) / p.get_sampling_rate()
    swell = p.add_arbitrary_signal(0.5 - 0.4 * np.cos(2 * np.pi * t / 10.0))
    p.set_amplitude_source(Coil.A1, mixed)
    p.set_amplitude_source(Coil.A2, level)
    p.set_modulation_source(Channel.A, swell)
    return p


def main() -> None:
    path = sys.argv[1] if len(sys.argv) > 1 else "mixed_signal.vesk"
    build().save(path)
    print(f"saved to {path}", file=sys.stderr)


if __name__ == "__main__":
    main()

"""
Quickstart: one signal of every kind
====================================

Composes a small stimulation protocol with one signal of every kind, routes
both channels, saves it to quickstart.vesk (or the path given as the first
argument) and prints it."""

import sys

import numpy as np

from revevu import Channel, Coil, Protocol


def build() -> Protocol:
    p = Protocol()
    p.set_stimulation_intensity(0.4)
    p.set_session_duration(0.05)  # 250 samples at 5000 per second: short enough to print

    level = p.add_constant_signal(0.5)
    carrier = p.add_sine_signal(1.0, 10.0)  # phase 0.0 and depth 1.0 by default
    slow_wave = p.add_sine_signal(amplitude=0.8, frequency=2.0, phase=0.25, depth=0.5)
    ramp = p.add_ramp_signal(peak=1.0, up_duration=0.02, down_duration=0.03)
    mixed = p.add_mixed_signal(carrier, ramp)
    # An envelope that rises and falls once over the session, one value per sample.
    t = np.linspace(0.0, 1.0, p.get_num_samples())
    envelope = p.add_arbitrary_signal(np.sin(np.pi * t) ** 2)

    # Channel A: both amplitude inputs and the modulation from internal signals.
    p.set_amplitude_source(Coil.A1, mixed)
    p.set_amplitude_source(Coil.A2, level)
    p.set_modulation_source(Channel.A, envelope)
    # Channel B: one amplitude input from external input 2, the rest internal.
    p.enable_channel(Channel.B)
    p.set_amplitude_source(Coil.B1, 2, external=True)
    p.set_amplitude_source(Coil.B2, slow_wave)
    p.set_modulation_source(Channel.B, envelope)
    return p


def main() -> None:
    path = sys.argv[1] if len(sys.argv) > 1 else "quickstart.vesk"
    protocol = build()
    protocol.save(path)
    print(protocol)
    print(f"saved to {path}", file=sys.stderr)


if __name__ == "__main__":
    main()

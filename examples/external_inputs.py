"""
A channel driven by the external inputs
=======================================

Channel B driven entirely by the stimulator's external inputs (two
amplitude inputs and the modulation input), beside channel A on internal
signals: a sine carrier at constant modulation.

    python examples/external_inputs.py [OUT.vesk]"""

import sys

from revevu import Channel, Coil, Protocol


def build() -> Protocol:
    p = Protocol()
    p.set_stimulation_intensity(0.25)
    p.set_session_duration(30.0)
    carrier = p.add_sine_signal(amplitude=1.0, frequency=20.0)
    full = p.add_constant_signal(1.0)
    p.set_amplitude_source(Coil.A1, carrier)
    p.set_amplitude_source(Coil.A2, carrier)
    p.set_modulation_source(Channel.A, full)
    # Channel B: every input from an external input, numbered as on the stimulator.
    p.enable_channel(Channel.B)
    p.set_amplitude_source(Coil.B1, 1, external=True)
    p.set_amplitude_source(Coil.B2, 2, external=True)
    p.set_modulation_source(Channel.B, 3, external=True)
    return p


def main() -> None:
    path = sys.argv[1] if len(sys.argv) > 1 else "external_inputs.vesk"
    build().save(path)
    print(f"saved to {path}", file=sys.stderr)


if __name__ == "__main__":
    main()

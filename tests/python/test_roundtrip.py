"""Saved protocols read back: `vesk show` prints exactly the Settings text of
str(p). `vesk` re-encodes every file it decodes and fails (exit 3) unless the
bytes come out identical, so each passing case is also a byte-level round trip.
"""

import math

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from random_protocols import build as build_random
from random_protocols import edits
from revevu import Channel, Coil, Protocol
from vesk_tool import run_vesk, settings_text

U64_MAX = 2**64 - 1


def new_protocol():
    return Protocol()


def every_signal_kind():
    p = Protocol()
    p.set_session_duration(0.07)  # 351 samples
    p.add_constant_signal(0.5)
    p.add_sine_signal(1.0, 10.0, phase=0.25, depth=0.75)
    p.add_ramp_signal(peak=1, up_duration=2, down_duration=3)
    p.add_mixed_signal(0, 1)
    rng = np.random.default_rng(7)
    p.add_arbitrary_signal(rng.random(p.get_num_samples()))
    return p


def sources_on_both_channels():
    p = Protocol()
    p.add_sine_signal(2.0, 40.0)
    p.add_constant_signal(1.0)
    p.enable_channel(Channel.B)
    p.set_amplitude_source(Coil.A1, 1)
    p.set_amplitude_source(Coil.A2, 3, external=True)
    p.set_amplitude_source(Coil.B1, 0)
    p.set_amplitude_source(Coil.B2, U64_MAX, external=True)
    p.set_modulation_source(Channel.A, 1)
    p.set_modulation_source(Channel.B, 2, np.bool_(True))
    p.set_stimulation_intensity(0.3)
    return p


def edge_values():
    p = Protocol()
    p.set_stimulation_intensity(-0.0)
    p.set_session_duration(0.01)
    p.add_constant_signal(math.nan)
    p.add_constant_signal(-0.0)
    p.add_sine_signal(math.inf, -math.inf, 1e-5, 1e16)
    p.add_ramp_signal(5e-324, 1.7976931348623157e308, 0.1)
    p.add_mixed_signal(U64_MAX, 1000)
    samples = np.zeros(p.get_num_samples())
    samples[1::2] = 1.0
    samples[::-5] = 0.5 / 32767  # rounds to 1
    p.add_arbitrary_signal(samples[::-1])  # a reversed view
    p.set_amplitude_source(Coil.A1, U64_MAX)
    return p


def long_arbitrary():
    p = Protocol()
    p.set_session_duration(2.0)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    p.set_session_duration(1800.0)  # the signal keeps its 10000 samples
    return p


BUILDERS = [
    new_protocol,
    every_signal_kind,
    sources_on_both_channels,
    edge_values,
    long_arbitrary,
]


@pytest.mark.parametrize("build", BUILDERS, ids=lambda f: f.__name__)
def test_show_prints_the_settings_text_of_str(build, tmp_path):
    p = build()
    path = tmp_path / "p.vesk"
    p.save(str(path))  # an empty protocol gets its default signal here, before str()
    shown = run_vesk("show", path)
    assert shown.returncode == 0, shown.stderr
    assert shown.stderr == ""
    assert shown.stdout == settings_text(str(p)) + "\n"




@settings(
    max_examples=40, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture]
)
@given(st.lists(edits, max_size=12))
def test_random_protocols_read_back_as_built(tmp_path, script):
    p = build_random(script)
    path = tmp_path / "random.vesk"
    p.save(str(path))
    shown = run_vesk("show", path)
    assert shown.returncode == 0, shown.stderr
    assert shown.stdout == settings_text(str(p)) + "\n"

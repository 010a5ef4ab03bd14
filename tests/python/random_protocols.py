"""Random protocols built through the public API, for property tests: a list
of edits (method name, arguments) drawn by hypothesis, applied in order."""

import contextlib
import os
import struct

import numpy as np
from hypothesis import strategies as st
from revevu import Channel, Coil, Protocol

U64_MAX = 2**64 - 1
LONGEST_RANDOM_SIGNAL = 10_000  # samples; a longer session is shortened first


def float_from_bits(bits: int) -> float:
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


# Hypothesis' own floats, any bit pattern, and NaNs of every sign and payload.
nan_bits = st.tuples(st.integers(0, 1), st.integers(1, 2**52 - 1)).map(
    lambda sign_payload: (sign_payload[0] << 63) | 0x7FF0000000000000 | sign_payload[1]
)
any_float = st.one_of(
    st.floats(), st.integers(0, U64_MAX).map(float_from_bits), nan_bits.map(float_from_bits)
)
u64 = st.integers(0, U64_MAX)
edits = st.one_of(
    st.tuples(st.just("add_constant_signal"), st.tuples(any_float)),
    st.tuples(st.just("add_sine_signal"), st.tuples(any_float, any_float, any_float, any_float)),
    st.tuples(st.just("add_sine_signal"), st.tuples(any_float, any_float)),
    st.tuples(st.just("add_ramp_signal"), st.tuples(any_float, any_float, any_float)),
    st.tuples(st.just("add_mixed_signal"), st.tuples(u64, u64)),
    st.tuples(
        st.just("set_amplitude_source"),
        st.tuples(st.sampled_from([Coil.A1, Coil.A2, Coil.B1, Coil.B2]), u64, st.booleans()),
    ),
    st.tuples(
        st.just("set_modulation_source"),
        st.tuples(st.sampled_from([Channel.A, Channel.B]), u64, st.booleans()),
    ),
    st.tuples(st.just("enable_channel"), st.tuples(st.sampled_from([Channel.A, Channel.B]))),
    st.tuples(
        st.just("set_stimulation_intensity"),
        st.tuples(st.one_of(st.floats(0.0, 1.0), st.sampled_from([-0.0, 1.0]))),
    ),
    st.tuples(
        st.just("set_session_duration"),
        st.tuples(st.one_of(st.floats(0.01, 0.2), st.sampled_from([0.01, 0.07, 60.0, 1800.0]))),
    ),
    # A seed for samples of the session's length, codes 0 and 32767 among them,
    # and a short duration to set first when the session is long.
    st.tuples(
        st.just("add_arbitrary_signal"),
        st.tuples(st.integers(0, 2**32 - 1), st.floats(0.01, 2.0)),
    ),
)


@contextlib.contextmanager
def target_machine_environment(target_machine: bool):
    """VESK_TARGET_MACHINE set or absent inside the block, as it was after."""
    previous = os.environ.pop("VESK_TARGET_MACHINE", None)
    try:
        if target_machine:
            os.environ["VESK_TARGET_MACHINE"] = "yes"
        yield
    finally:
        os.environ.pop("VESK_TARGET_MACHINE", None)
        if previous is not None:
            os.environ["VESK_TARGET_MACHINE"] = previous


def build(script, target_machine: bool = False) -> Protocol:
    """A new Protocol, made with VESK_TARGET_MACHINE set or absent (the
    process's environment is left as it was), with the edits applied."""
    with target_machine_environment(target_machine):
        p = Protocol()
    for name, args in script:
        if name == "add_arbitrary_signal":
            if p.get_num_samples() > LONGEST_RANDOM_SIGNAL:
                p.set_session_duration(args[1])
            values = np.random.default_rng(args[0]).random(p.get_num_samples())
            values[::7] = 0.0
            values[::11] = 1.0
            args = (values,)
        getattr(p, name)(*args)
    return p



"""The five signal methods: positions, stored values, and which sample arrays
add_arbitrary_signal takes."""

import math

import pytest

from conftest import (
    MSG_LENGTH,
    MSG_SAMPLE_HIGH,
    MSG_SAMPLE_LOW,
    assert_panics,
    cast_message,
    quantise,
    signals_of,
    unchanged,
)
from revevu import Protocol


def test_positions_and_defaults(protocol):
    assert protocol.add_constant_signal(0.5) == 0
    assert protocol.add_sine_signal(1.0, 10.0) == 1
    assert protocol.add_ramp_signal(peak=1, up_duration=2, down_duration=3) == 2
    assert signals_of(protocol) == [
        ("Constant", {"value": 0.5}),
        ("Sine", {"amplitude": 1.0, "frequency": 10.0, "phase": 0.0, "depth": 1.0}),
        ("Ramp", {"peak": 1.0, "up_duration": 2.0, "down_duration": 3.0}),
    ]


def test_one_of_each_kind_in_variant_order(protocol, np):
    protocol.set_session_duration(0.01)
    positions = [
        protocol.add_constant_signal(0.0),
        protocol.add_sine_signal(1.0, 2.0, 3.0, 4.0),
        protocol.add_ramp_signal(1.0, 2.0, 3.0),
        protocol.add_mixed_signal(0, 1),
        protocol.add_arbitrary_signal(np.zeros(50)),
    ]
    assert positions == [0, 1, 2, 3, 4]
    assert [kind for kind, _ in signals_of(protocol)] == [
        "Constant", "Sine", "Ramp", "MixedSignal", "Arbitrary"]


def test_sine_defaults_apply_per_parameter(protocol):
    protocol.add_sine_signal(1.0, 2.0, depth=0.5)
    protocol.add_sine_signal(1.0, 2.0, 0.25)
    assert [params for _, params in signals_of(protocol)] == [
        {"amplitude": 1.0, "frequency": 2.0, "phase": 0.0, "depth": 0.5},
        {"amplitude": 1.0, "frequency": 2.0, "phase": 0.25, "depth": 1.0},
    ]


@pytest.mark.parametrize("keyword", ["phase", "depth"])
def test_explicit_none_is_not_an_omission(protocol, keyword):
    with unchanged(protocol):
        with pytest.raises(TypeError) as caught:
            protocol.add_sine_signal(1.0, 10.0, **{keyword: None})
    assert str(caught.value) == f"argument '{keyword}': must be real number, not NoneType"


def test_values_are_stored_unchanged(protocol):
    protocol.add_constant_signal(math.nan)
    protocol.add_ramp_signal(-1.0, -2.0, math.inf)
    protocol.add_sine_signal(-math.inf, 0.0, -0.0, 1e300)
    (_, constant), (_, ramp), (_, sine) = signals_of(protocol)
    assert math.isnan(constant["value"])
    assert ramp == {"peak": -1.0, "up_duration": -2.0, "down_duration": math.inf}
    assert sine["amplitude"] == -math.inf and sine["depth"] == 1e300
    assert math.copysign(1.0, sine["phase"]) == -1.0
    assert "                    value: NaN,\n" in str(protocol)


def test_mixed_positions_are_not_checked(protocol):
    assert protocol.add_mixed_signal(5, 7) == 0
    assert protocol.add_mixed_signal(1, 1) == 1  # names itself
    assert protocol.add_mixed_signal(b_idx=1000, a_idx=0) == 2
    assert [params for _, params in signals_of(protocol)] == [
        {"a_idx": 5, "b_idx": 7}, {"a_idx": 1, "b_idx": 1}, {"a_idx": 0, "b_idx": 1000}]


@pytest.mark.parametrize("a_idx, b_idx", [(-1, 0), (0, -1), (2**64, 0)])
def test_mixed_out_of_range_appends_nothing(protocol, a_idx, b_idx):
    with unchanged(protocol):
        with pytest.raises(OverflowError):
            protocol.add_mixed_signal(a_idx, b_idx)
    assert protocol.add_constant_signal(1.0) == 0


# ---- Arbitrary signals -------------------------------------------------------------------


def stored_samples(protocol, position=-1):
    kind, params = signals_of(protocol)[position]
    assert kind == "Arbitrary"
    return params["samples"]


@pytest.fixture
def short(protocol):
    """A protocol whose session has 50 samples."""
    protocol.set_session_duration(0.01)
    return protocol


def test_quantisation_values(short, np):
    values = [0.0, 1.0, 0.5, 0.25, 0.75, 0.1, 1e-05, 0.5 / 32767, -0.0, 0.9999999999999999]
    expected = [0, 32767, 16384, 8192, 24575, 3277, 0, 1, 0, 32767]
    samples = np.zeros(50)
    samples[: len(values)] = values
    assert short.add_arbitrary_signal(samples) == 0
    assert stored_samples(short)[: len(values)] == expected
    assert len(stored_samples(short)) == 50


def test_default_session_takes_300000_samples(protocol, np):
    assert protocol.add_arbitrary_signal(np.linspace(0.0, 1.0, 300000)) == 0
    for wrong in (299999, 300001):
        with unchanged(protocol):
            assert_panics(lambda: protocol.add_arbitrary_signal(np.zeros(wrong)), MSG_LENGTH)


def test_sample_count_follows_the_duration(protocol, np):
    protocol.set_session_duration(0.07)
    assert_panics(lambda: protocol.add_arbitrary_signal(np.zeros(350)), MSG_LENGTH)
    assert protocol.add_arbitrary_signal(np.zeros(351)) == 0


def test_existing_arbitrary_signal_keeps_its_length(short, np):
    short.add_arbitrary_signal(np.full(50, 0.5))
    short.set_session_duration(0.02)
    short.add_arbitrary_signal(np.full(100, 0.5))
    assert [len(params["samples"]) for _, params in signals_of(short)] == [50, 100]


REFUSED_ARRAYS = [
    ("list", lambda np: [0.0] * 50),
    ("tuple", lambda np: (0.0,) * 50),
    ("float32", lambda np: np.zeros(50, dtype=np.float32)),
    ("int64", lambda np: np.zeros(50, dtype=np.int64)),
    ("object", lambda np: np.zeros(50, dtype=object)),
    ("2-D one row", lambda np: np.zeros((1, 50))),
    ("0-D", lambda np: np.array(0.5)),
    ("scalar", lambda np: np.float64(0.5)),
    ("None", lambda np: None),
    ("complex128", lambda np: np.zeros(50, dtype=np.complex128)),
    ("big-endian float64", lambda np: np.zeros(50, dtype=">f8")),
]


@pytest.mark.parametrize("make", [m for _, m in REFUSED_ARRAYS], ids=[n for n, _ in REFUSED_ARRAYS])
def test_refused_sample_arrays(short, np, make):
    samples = make(np)
    with unchanged(short):
        with pytest.raises(TypeError) as caught:
            short.add_arbitrary_signal(samples)
    assert type(caught.value) is TypeError
    assert str(caught.value) == cast_message("samples", samples, "ndarray")


def test_refused_ndarray_names_ndarray_twice(short, np):
    with pytest.raises(TypeError) as caught:
        short.add_arbitrary_signal(np.zeros(50, dtype=np.float32))
    assert str(caught.value) == "argument 'samples': 'ndarray' object cannot be cast as 'ndarray'"


def test_type_check_comes_before_the_length_check(short, np):
    with pytest.raises(TypeError):
        short.add_arbitrary_signal(np.zeros(7, dtype=np.int64))


ACCEPTED_LAYOUTS = [
    ("contiguous", lambda np, v: v),
    ("reversed view", lambda np, v: v[::-1]),
    ("every second", lambda np, v: np.repeat(v, 2)[::2]),
    ("every third reversed", lambda np, v: np.repeat(v, 3)[::-3]),
    ("column of a 2-D array", lambda np, v: np.stack([v, 1 - v], axis=1)[:, 1]),
    ("non-writeable", lambda np, v: _read_only(v.copy())),
    ("ndarray subclass", lambda np, v: v.view(type("MySamples", (np.ndarray,), {}))),
]


def _read_only(array):
    array.flags.writeable = False
    return array


@pytest.mark.parametrize("make", [m for _, m in ACCEPTED_LAYOUTS], ids=[n for n, _ in ACCEPTED_LAYOUTS])
def test_accepted_layouts_follow_index_order(short, np, make):
    values = np.linspace(0.0, 1.0, 50) ** 2
    samples = make(np, values)
    assert samples.ndim == 1 and len(samples) == 50
    assert short.add_arbitrary_signal(samples) == 0
    assert stored_samples(short) == [quantise(x) for x in samples.tolist()]


def test_broadcast_array(short, np):
    samples = np.broadcast_to(np.float64(0.5), (50,))
    assert samples.strides == (0,)
    short.add_arbitrary_signal(samples)
    assert stored_samples(short) == [16384] * 50


@pytest.mark.parametrize(
    "first, second, message",
    [
        (-0.5, 2.0, MSG_SAMPLE_LOW),
        (2.0, -0.5, MSG_SAMPLE_HIGH),
        (math.nan, 2.0, MSG_SAMPLE_LOW),
        (math.inf, -1.0, MSG_SAMPLE_HIGH),
        (-math.inf, math.nan, MSG_SAMPLE_LOW),
        (1.0000000000000002, 0.0, MSG_SAMPLE_HIGH),
        (-5e-324, 0.0, MSG_SAMPLE_LOW),
    ],
)
@pytest.mark.parametrize("at", [0, 17, 48])
def test_first_offending_element_decides(short, np, first, second, message, at):
    samples = np.full(50, 0.5)
    samples[at] = first
    samples[at + 1] = second
    with unchanged(short):
        assert_panics(lambda: short.add_arbitrary_signal(samples), message)
    assert short.add_constant_signal(0.0) == 0


def test_caller_changes_after_the_call_change_nothing(short, np):
    samples = np.full(50, 0.25)
    short.add_arbitrary_signal(samples)
    before = str(short)
    samples[:] = 1.0
    assert str(short) == before
    assert stored_samples(short) == [8192] * 50


def test_caller_array_is_not_modified_or_kept(short, np):
    import sys

    samples = np.linspace(0.0, 1.0, 50)
    copy = samples.copy()
    references = sys.getrefcount(samples)
    short.add_arbitrary_signal(samples)
    assert sys.getrefcount(samples) == references
    assert (samples == copy).all()


@pytest.mark.slow
def test_longest_session_signal_is_accepted(tmp_path, np):
    p = Protocol()
    p.set_session_duration(1800.0)
    assert p.get_num_samples() == 9_000_000
    samples = np.linspace(0.0, 1.0, 9_000_000)
    assert p.add_arbitrary_signal(samples) == 0
    samples[-1] = 1.5
    assert_panics(lambda: p.add_arbitrary_signal(samples), MSG_SAMPLE_HIGH)
    target = tmp_path / "long.vesk"
    p.save(str(target))
    # 9 000 000 samples of 1 to 3 bytes each, plus the rest of the record.
    assert 9_000_000 < target.stat().st_size < 3 * 9_000_000 + 1000


def test_positions_continue_after_failures(short, np):
    assert short.add_constant_signal(0.0) == 0
    failures = [
        lambda: short.add_arbitrary_signal(np.zeros(49)),
        lambda: short.add_arbitrary_signal(np.full(50, 2.0)),
        lambda: short.add_mixed_signal(-1, 0),
        lambda: short.add_sine_signal(1.0, "x"),
    ]
    for failure in failures:
        with pytest.raises(BaseException):  # noqa: B017 - each kind is tested on its own above
            failure()
    assert short.add_ramp_signal(1.0, 1.0, 1.0) == 1

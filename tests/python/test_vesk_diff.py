"""vesk diff: the example scripts' files and small edits of them, compared
field by field."""

import math
import struct
import subprocess
import sys

import numpy as np
import pytest
from conftest import EXAMPLES, quantise
from revevu import Channel, Coil, Protocol
from vesk_tool import INTENSITY, patched, run_vesk, saved, with_coil_name


def diff_lines(a, b):
    result = run_vesk("diff", a, b)
    assert result.stderr == ""
    assert result.returncode == (1 if result.stdout else 0)
    return result.stdout.splitlines()


def test_every_example_passes_check_and_equals_itself(example_files):
    assert {"quickstart", "sine_with_envelope", "external_inputs", "mixed_signal"} <= set(
        example_files
    )
    for name, path in example_files.items():
        assert run_vesk("check", path).returncode == 0, name
        assert diff_lines(path, path) == [], name


def test_golden_diff_between_two_examples(example_files):
    assert diff_lines(example_files["external_inputs"], example_files["mixed_signal"]) == [
        "intensity: 0.25 -> 0.5",
        "session_duration: 30.0 -> 10.0",
        "signals: 2 -> 5 entries, added [2..4]",
        "signals[0].Sine.frequency: 20.0 -> 40.0",
        "signals[0].Sine.depth: 1.0 -> 0.8",
        "signals[1]: Constant(ConstantSignalParams { value: 1.0 }) -> "
        "Ramp(RampSignalParams { peak: 1.0, up_duration: 2.0, down_duration: 3.0 })",
        "channel_a_settings.amplitude1_source.internal: 0 -> 2",
        "channel_a_settings.amplitude2_source.internal: 0 -> 3",
        "channel_a_settings.modulation_source.internal: 1 -> 4",
        "channel_b_settings.enabled: true -> false",
        "channel_b_settings.amplitude1_source.external: 1 -> 0",
        "channel_b_settings.amplitude1_source.external_selected: true -> false",
        "channel_b_settings.amplitude2_source.external: 2 -> 0",
        "channel_b_settings.amplitude2_source.external_selected: true -> false",
        "channel_b_settings.modulation_source.external: 3 -> 0",
        "channel_b_settings.modulation_source.external_selected: true -> false",
    ]


def test_an_edited_envelope_gives_one_summary_line(example_files, tmp_path):
    """The envelope example run again on a copy of its .npy file with a dip
    and a bump put in: the summary line against numpy's own comparison."""
    original = example_files["sine_with_envelope"]
    envelope = np.load(original.parent / "envelope.npy")
    envelope[60:63] = 0.0
    envelope[150] = 1.0
    np.save(tmp_path / "edited.npy", envelope)
    edited = tmp_path / "edited.vesk"
    script = EXAMPLES / "sine_with_envelope.py"
    subprocess.run(
        [sys.executable, script, edited, "--envelope", tmp_path / "edited.npy"],
        check=True,
        capture_output=True,
    )

    def stored(path):
        values = np.load(path)
        resampled = np.interp(np.linspace(0, 1, 20000), np.linspace(0, 1, len(values)), values)
        return np.array([quantise(x) for x in resampled])

    old, new = stored(original.parent / "envelope.npy"), stored(tmp_path / "edited.npy")
    changed = np.flatnonzero(old != new)
    delta = new - old
    largest = delta[np.argmax(np.abs(delta))] if delta.max() < -delta.min() else delta.max()
    assert diff_lines(original, edited) == [
        f"signals[1].Arbitrary.samples: {len(changed)} of 20000 samples differ: "
        f"first [{changed[0]}] ({changed[0] / 5000.0} s), last [{changed[-1]}] "
        f"({changed[-1] / 5000.0} s), largest difference {largest} ({largest / 32767.0})"
    ]


# Positions around the comparison's 16384-sample blocks and the list's ends.
@pytest.mark.parametrize("positions", [[0], [16383, 16384], [39999], [7, 32775], [0, 16384, 39999]])
def test_sample_differences_anywhere(positions, tmp_path):
    values = np.full(40000, 0.5)
    a = Protocol()
    a.set_session_duration(8.0)
    b = Protocol()
    b.set_session_duration(8.0)
    a.add_arbitrary_signal(values)
    for i, position in enumerate(positions):
        values[position] = 0.25 if i % 2 == 0 else 1.0  # 8192 or 32767 against 16384
    b.add_arbitrary_signal(values)
    largest = 32767 - 16384 if len(positions) > 1 else 8192 - 16384
    first, last = positions[0], positions[-1]
    where = (
        f"at [{first}] ({first / 5000.0} s)"
        if len(positions) == 1
        else f"first [{first}] ({first / 5000.0} s), last [{last}] ({last / 5000.0} s)"
    )
    count = (
        "1 of 40000 samples differs"
        if len(positions) == 1
        else (f"{len(positions)} of 40000 samples differ")
    )
    assert diff_lines(saved(a, tmp_path, "a.vesk"), saved(b, tmp_path, "b.vesk")) == [
        f"signals[0].Arbitrary.samples: {count}: {where}, "
        f"largest difference {largest} ({largest / 32767.0})"
    ]


def base():
    p = Protocol()
    p.set_session_duration(0.01)
    p.add_constant_signal(0.5)
    p.add_sine_signal(1.0, 10.0)
    p.add_mixed_signal(0, 1)
    p.add_arbitrary_signal(np.linspace(0, 1, 50))
    return p


def edit(change):
    def make():
        p = base()
        change(p)
        return p

    return make


def shorter_session_samples():
    p = Protocol()
    p.set_session_duration(0.011)  # 55 samples
    p.add_constant_signal(0.5)
    p.add_sine_signal(1.0, 10.0)
    p.add_mixed_signal(0, 1)
    p.add_arbitrary_signal(np.concatenate([np.linspace(0, 1, 50), np.zeros(5)]))
    p.set_session_duration(0.01)
    return p


@pytest.mark.parametrize(
    "changed, lines",
    [
        (edit(lambda p: p.set_stimulation_intensity(0.6)), ["intensity: 0.0 -> 0.6"]),
        (edit(lambda p: p.add_ramp_signal(1.0, 2.0, 3.0)), ["signals: 4 -> 5 entries, added [4]"]),
        (
            edit(lambda p: p.set_modulation_source(Channel.B, 4, external=True)),
            [
                "channel_b_settings.modulation_source.external: 0 -> 4",
                "channel_b_settings.modulation_source.external_selected: false -> true",
            ],
        ),
        (
            edit(lambda p: p.set_amplitude_source(Coil.A2, 2**64 - 1)),
            [
                "channel_a_settings.amplitude2_source.internal: 0 -> 18446744073709551615",
            ],
        ),
        (
            shorter_session_samples,
            ["signals[3].Arbitrary.samples: 50 -> 55 samples, added [50..54]"],
        ),
    ],
    ids=["scalar", "signal added", "external source", "u64", "samples added"],
)
def test_one_change_one_line_both_ways(changed, lines, tmp_path):
    a, b = saved(base(), tmp_path, "a.vesk"), saved(changed(), tmp_path, "b.vesk")
    assert diff_lines(a, b) == lines
    # Backwards, old and new swap and what was added is removed.
    swapped = [line.replace("added", "removed") if "added" in line else line for line in lines]
    backwards = diff_lines(b, a)
    assert len(backwards) == len(swapped)
    for line, expected in zip(backwards, swapped, strict=True):
        path, change = expected.split(": ", 1)
        old, new = change.split(" -> ", 1)
        head, _, tail = new.partition(" ")
        assert line == f"{path}: {head} -> {old}{' ' + tail if tail else ''}"


SINE = "Sine(SineSignalParams { amplitude: 1.0, frequency: 10.0, phase: 0.0, depth: 1.0 })"


@pytest.mark.parametrize(
    "second, line",
    [
        (lambda p: p.add_sine_signal(1.0, 12.5), "signals[1].Sine.frequency: 10.0 -> 12.5"),
        (
            lambda p: p.add_mixed_signal(0, 7),
            "MixedSignal(MixedSignalParams { a_idx: 0, b_idx: 7 })",
        ),
        (
            lambda p: p.add_arbitrary_signal(np.zeros(50)),
            "Arbitrary(ArbitrarySignalParams { samples: [50 samples] })",
        ),
        (lambda p: p.add_constant_signal(-0.0), "Constant(ConstantSignalParams { value: -0.0 })"),
    ],
    ids=["field", "variant", "to arbitrary", "to constant"],
)
def test_second_signal_changed(second, line, tmp_path):
    def build(add):
        p = Protocol()
        p.set_session_duration(0.01)
        p.add_constant_signal(0.0)
        add(p)
        return p

    a = saved(build(lambda p: p.add_sine_signal(1.0, 10.0)), tmp_path, "a.vesk")
    expected = line if line.startswith("signals") else f"signals[1]: {SINE} -> {line}"
    assert diff_lines(a, saved(build(second), tmp_path, "b.vesk")) == [expected]


def nan(payload):
    return struct.pack("<Q", 0x7FF8000000000000 | payload)


@pytest.mark.parametrize(
    "a, b, lines",
    [
        (nan(0), nan(0), []),
        (nan(0), nan(1), ["intensity: NaN -> NaN (bits 0x7ff8000000000000 -> 0x7ff8000000000001)"]),
        (struct.pack("<d", 0.0), struct.pack("<d", -0.0), ["intensity: 0.0 -> -0.0"]),
        (struct.pack("<d", math.inf), struct.pack("<d", 1e300), ["intensity: inf -> 1e300"]),
    ],
    ids=["same NaN", "NaN payload", "signed zero", "inf"],
)
def test_floats_compare_by_bits(a, b, lines, tmp_path):
    first = patched(saved(Protocol(), tmp_path, "a.vesk"), INTENSITY, a)
    second = patched(saved(Protocol(), tmp_path, "b.vesk"), INTENSITY, b)
    assert diff_lines(first, second) == lines


def test_fields_the_api_cannot_change(tmp_path):
    """Machine configuration, the monitor array: reached only by editing bytes."""
    a = saved(Protocol(), tmp_path, "a.vesk")
    b = with_coil_name(saved(Protocol(), tmp_path, "b.vesk"), 'Tx\n1 "é"'.encode())
    raw = bytearray(b.read_bytes())
    raw[-17 + 3] = 1  # monitor_trace_visible[3]; the last byte is the subsampling factor
    b.write_bytes(bytes(raw))
    assert diff_lines(a, b) == [
        'machine_config.coils[0].name: "Default" -> "Tx\\n1 \\"é\\""',
        "monitor_trace_visible[3]: false -> true",
    ]


@pytest.mark.parametrize(
    "args, status, message",
    [
        (["a.vesk"], 2, "vesk: two FILEs needed\n"),
        (["a.vesk", "a.vesk", "a.vesk"], 2, "vesk: two FILEs only\n"),
        (
            ["a.vesk", "missing.vesk"],
            2,
            "vesk: missing.vesk: cannot read: No such file or directory\n",
        ),
        (
            ["bad.vesk", "a.vesk"],
            2,
            "vesk: bad.vesk: not a valid protocol file: offset 151: "
            "signals[0]: unknown signal variant 7\n",
        ),
    ],
)
def test_errors_exit_2(args, status, message, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    saved(Protocol(), tmp_path, "a.vesk")
    patched(saved(Protocol(), tmp_path, "bad.vesk"), 151, b"\x07")
    result = run_vesk("diff", *args)
    assert (result.returncode, result.stdout) == (status, "")
    assert result.stderr.startswith(message)

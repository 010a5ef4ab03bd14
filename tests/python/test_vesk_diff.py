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
from vesk_tool import (
    CHANNEL_A_COIL,
    CHANNEL_B_COIL_SETTING,
    INTENSITY,
    patched,
    run_vesk,
    saved,
    with_coil_name,
)


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
        "signals[0].Sine.frequency: 20.0 -> 40.0",
        "signals[0].Sine.depth: 1.0 -> 0.8",
        "signal 1: Constant value 1.0 -> Ramp peak 1.0, up_duration 2.0, down_duration 3.0",
        "added signal 2: MixedSignal a_idx 0, b_idx 1",
        "added signal 3: Constant value 0.6",
        "added signal 4: Arbitrary 50000 samples, stored 3277..29490",
        "amplitude 1 (Coil.A1): signal 0 (Sine) -> signal 2 (MixedSignal)",
        "amplitude 2 (Coil.A2): signal 0 (Sine) -> signal 3 (Constant)",
        "modulation (Channel.A): signal 1 (Constant) -> signal 4 (Arbitrary)",
        "channel_b_settings.enabled: true -> false",
        "amplitude 1 (Coil.B1): external source 1 -> signal 0 (Sine)",
        "amplitude 2 (Coil.B2): external source 2 -> signal 0 (Sine)",
        "modulation (Channel.B): external source 3 -> signal 0 (Sine)",
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


def base(sine_frequency=10.0):
    p = Protocol()
    p.set_session_duration(0.01)
    p.add_constant_signal(0.5)
    p.add_sine_signal(1.0, sine_frequency)
    p.add_mixed_signal(0, 1)
    p.add_arbitrary_signal(np.linspace(0, 1, 50))
    return p


def edit(*changes):
    def make():
        p = base()
        for change in changes:
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


def reversed_line(line):
    """The line that comparing the two files the other way round gives."""
    for word, other in (("added", "removed"), ("removed", "added")):
        if line.startswith(f"{word} signal "):
            return other + line[len(word) :]
    name, change = line.split(": ", 1)
    old, new = change.split(" -> ")
    new, added, positions = new.partition(" samples, added ")
    if added:
        return f"{name}: {new} -> {old} samples, removed {positions}"
    return f"{name}: {new} -> {old}"


@pytest.mark.parametrize(
    "changed, lines",
    [
        (edit(lambda p: p.set_stimulation_intensity(0.6)), ["intensity: 0.0 -> 0.6"]),
        (lambda: base(12.5), ["signals[1].Sine.frequency: 10.0 -> 12.5"]),
        (edit(lambda p: p.add_constant_signal(0.25)), ["added signal 4: Constant value 0.25"]),
        (
            edit(lambda p: p.set_modulation_source(Channel.B, 4, external=True)),
            ["modulation (Channel.B): signal 0 (Constant) -> external source 4"],
        ),
        (
            edit(lambda p: p.set_amplitude_source(Coil.A1, 3)),
            ["amplitude 1 (Coil.A1): signal 0 (Constant) -> signal 3 (Arbitrary)"],
        ),
        (
            edit(lambda p: p.set_amplitude_source(Coil.A2, 2**64 - 1)),
            [
                "amplitude 2 (Coil.A2): signal 0 (Constant) -> "
                "signal 18446744073709551615, which does not exist",
            ],
        ),
        # Each side's kind is read from its own file.
        (
            edit(
                lambda p: p.add_ramp_signal(1.0, 2.0, 3.0),
                lambda p: p.set_amplitude_source(Coil.B2, 4),
            ),
            [
                "added signal 4: Ramp peak 1.0, up_duration 2.0, down_duration 3.0",
                "amplitude 2 (Coil.B2): signal 0 (Constant) -> signal 4 (Ramp)",
            ],
        ),
        (
            shorter_session_samples,
            ["signals[3].Arbitrary.samples: 50 -> 55 samples, added [50..54]"],
        ),
    ],
    ids=[
        "scalar",
        "parameter",
        "signal added",
        "signal to external",
        "signal to signal",
        "no such signal",
        "routed to a new signal",
        "samples added",
    ],
)
def test_one_change_one_line_both_ways(changed, lines, tmp_path):
    """Backwards, old and new swap and what was added is removed."""
    a, b = saved(base(), tmp_path, "a.vesk"), saved(changed(), tmp_path, "b.vesk")
    assert diff_lines(a, b) == lines
    assert diff_lines(b, a) == [reversed_line(line) for line in lines]


SINE = "Sine amplitude 1.0, frequency 10.0, phase 0.0, depth 1.0"


@pytest.mark.parametrize(
    "second, text",
    [
        (lambda p: p.add_mixed_signal(0, 7), "MixedSignal a_idx 0, b_idx 7"),
        (lambda p: p.add_arbitrary_signal(np.zeros(50)), "Arbitrary 50 samples, stored 0..0"),
        (lambda p: p.add_constant_signal(-0.0), "Constant value -0.0"),
    ],
    ids=["to mixed", "to arbitrary", "to constant"],
)
def test_second_signal_changed_kind(second, text, tmp_path):
    def build(add):
        p = Protocol()
        p.set_session_duration(0.01)
        p.add_constant_signal(0.0)
        add(p)
        return p

    a = saved(build(lambda p: p.add_sine_signal(1.0, 10.0)), tmp_path, "a.vesk")
    b = saved(build(second), tmp_path, "b.vesk")
    assert diff_lines(a, b) == [f"signal 1: {SINE} -> {text}"]
    assert diff_lines(b, a) == [f"signal 1: {text} -> {SINE}"]


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


MONITOR = CHANNEL_B_COIL_SETTING + 1  # 16 one-byte flags
SELECTION_A1 = CHANNEL_A_COIL - 9  # three selections of internal, external, external_selected
SELECTION_B_MODULATION = CHANNEL_B_COIL_SETTING - 4


@pytest.mark.parametrize(
    "offset, data, lines",
    [
        (MONITOR, b"\x01", ["monitor_trace_visible[0]: false -> true"]),
        (MONITOR + 15, b"\x01", ["monitor_trace_visible[15]: false -> true"]),
        # Selections the setters never write: the unused number is not 0, so
        # the source's words would read alike on both sides.
        (SELECTION_A1 + 1, b"\x07", ["channel_a_settings.amplitude1_source.external: 0 -> 7"]),
        (
            SELECTION_B_MODULATION,
            b"\x07\x00\x01",
            [
                "channel_b_settings.modulation_source.internal: 0 -> 7",
                "channel_b_settings.modulation_source.external_selected: false -> true",
            ],
        ),
    ],
    ids=["first flag", "last flag", "internal with external number", "external with internal"],
)
def test_byte_edits_named_by_path(offset, data, lines, tmp_path):
    a = saved(Protocol(), tmp_path, "a.vesk")
    b = patched(saved(Protocol(), tmp_path, "b.vesk"), offset, data)
    assert diff_lines(a, b) == lines


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

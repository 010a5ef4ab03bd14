"""The vesk command on files saved through the Python API."""

import csv
import errno
import io
import math
import os
import struct
import subprocess
import sys

import numpy as np
import pytest
from revevu import Channel, Coil, Protocol
from vesk_tool import (
    CHANNEL_A_COIL,
    CHANNEL_B_COIL_SETTING,
    DURATION,
    INTENSITY,
    VARIANT,
    limit_file_size,
    patched,
    run_vesk,
    saved,
    vesk_path,
    with_coil_name,
)


def quickstart_protocol():
    p = Protocol()
    p.set_stimulation_intensity(0.5)
    p.set_session_duration(2.0)
    carrier = p.add_sine_signal(1.0, 10.0)
    envelope = p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    p.set_amplitude_source(Coil.A1, carrier)
    p.set_modulation_source(Channel.A, envelope)
    p.enable_channel(Channel.B)
    p.set_amplitude_source(Coil.B1, 2, external=True)
    return p


def test_summary(tmp_path):
    result = run_vesk("summary", saved(quickstart_protocol(), tmp_path))
    assert result.returncode == 0, result.stderr
    coil = 'coil 0 "Default", setting 0 (330.0 nF, 22.624434389140273 kHz)'
    assert result.stdout.splitlines() == [
        "duration: 2.0 s",
        "intensity: 0.5",
        "samples: 10000 at 5000.0 per second",
        f"channel A: enabled, {coil}",
        "  amplitude 1 (Coil.A1): signal 0 (Sine)",
        "  amplitude 2 (Coil.A2): signal 0 (Sine)",
        "  modulation (Channel.A): signal 1 (Arbitrary)",
        f"channel B: enabled, {coil}",
        "  amplitude 1 (Coil.B1): external source 2",
        "  amplitude 2 (Coil.B2): signal 0 (Sine)",
        "  modulation (Channel.B): signal 0 (Sine)",
        "signals: 2",
        "  0: Sine amplitude 1.0, frequency 10.0, phase 0.0, depth 1.0",
        "  1: Arbitrary 10000 samples, stored 0..32767",
    ]


def test_summary_marks_missing_signals(tmp_path):
    p = Protocol()
    p.add_mixed_signal(0, 7)
    p.set_modulation_source(Channel.A, 3)
    lines = run_vesk("summary", saved(p, tmp_path)).stdout.splitlines()
    assert "  modulation (Channel.A): signal 3, which does not exist" in lines
    assert "  0: MixedSignal a_idx 0, b_idx 7" in lines


def test_summary_quotes_a_coil_name_so_that_it_cannot_add_lines(tmp_path):
    path = with_coil_name(saved(Protocol(), tmp_path), b'x\nchannel B: "a"\t')
    lines = run_vesk("summary", path).stdout.splitlines()
    assert len(lines) == 13
    assert lines[3].startswith('channel A: enabled, coil 0 "x\\nchannel B: \\"a\\"\\t", setting 0 ')


@pytest.mark.parametrize(
    "build",
    [lambda: Protocol(), quickstart_protocol],
    ids=["new protocol", "quickstart"],
)
def test_check_passes_a_sound_protocol(build, tmp_path):
    result = run_vesk("check", saved(build(), tmp_path))
    assert (result.returncode, result.stdout, result.stderr) == (0, "", "")


def missing_signals():
    p = Protocol()
    p.add_constant_signal(0.5)
    p.add_mixed_signal(0, 7)
    p.set_amplitude_source(Coil.A2, 5)
    p.set_modulation_source(Channel.B, 9)
    p.set_amplitude_source(Coil.B1, 4, external=True)  # external inputs are not signals
    return p, [
        "channel A amplitude 2 (Coil.A2): signal 5 does not exist (the protocol has 2 signals)",
        "channel B modulation (Channel.B): signal 9 does not exist (the protocol has 2 signals)",
        "signal 1 (MixedSignal): b_idx 7 names no signal (the protocol has 2 signals)",
    ]


def arbitrary_of_an_older_duration():
    p = Protocol()
    p.set_session_duration(0.07)
    p.add_arbitrary_signal(np.zeros(351))
    p.set_session_duration(0.01)
    return p, ["signal 0 (Arbitrary): 351 samples, but the session has 50"]


def non_finite_parameters():
    p = Protocol()
    p.add_sine_signal(1.0, math.nan)
    p.add_ramp_signal(-math.inf, 1.0, math.inf)
    p.add_constant_signal(1e308)
    return p, [
        "signal 0 (Sine): frequency is NaN",
        "signal 1 (Ramp): peak is -inf",
        "signal 1 (Ramp): down_duration is inf",
    ]


@pytest.mark.parametrize(
    "case", [missing_signals, arbitrary_of_an_older_duration, non_finite_parameters]
)
def test_check_reports_each_problem_once(case, tmp_path):
    p, problems = case()
    path = saved(p, tmp_path)
    result = run_vesk("check", path)
    assert result.returncode == 1, result.stderr
    assert result.stdout.splitlines() == [f"{path}: {problem}" for problem in problems]


# Values the Python API refuses, written into a saved file directly.
@pytest.mark.parametrize(
    "offset, data, problem",
    [
        (INTENSITY, struct.pack("<d", math.nan), "intensity NaN is outside 0.0..1.0"),
        (INTENSITY, struct.pack("<d", 1.5), "intensity 1.5 is outside 0.0..1.0"),
        (DURATION, struct.pack("<d", 0.0), "session duration 0.0 s is outside 0.01..1800.0 s"),
        (
            DURATION,
            struct.pack("<d", 1800.5),
            "session duration 1800.5 s is outside 0.01..1800.0 s",
        ),
        (
            CHANNEL_A_COIL,
            b"\x03",
            "channel A: coil 3 does not exist (the machine configuration has 1 coil)",
        ),
        (
            CHANNEL_B_COIL_SETTING,
            b"\x01",
            "channel B: coil setting 1 does not exist (coil 0 has 1 setting)",
        ),
    ],
)
def test_check_reports_values_outside_limits(offset, data, problem, tmp_path):
    path = patched(saved(Protocol(), tmp_path), offset, data)
    result = run_vesk("check", path)
    assert result.returncode == 1, result.stderr
    assert result.stdout == f"{path}: {problem}\n"
    if offset == CHANNEL_B_COIL_SETTING:  # the summary says so too, one past the end
        summary = run_vesk("summary", path).stdout.splitlines()
        assert 'channel B: disabled, coil 0 "Default", setting 1 (does not exist)' in summary


def test_export_writes_time_stored_and_normalised_values(tmp_path):
    p = Protocol()
    p.set_session_duration(0.01)
    p.add_constant_signal(0.0)
    values = np.linspace(0.0, 1.0, p.get_num_samples())
    position = p.add_arbitrary_signal(values)
    result = run_vesk("export", saved(p, tmp_path), "--signal", position)
    assert result.returncode == 0, result.stderr
    rows = list(csv.reader(io.StringIO(result.stdout)))
    assert rows[0] == ["time_s", "stored", "normalised"]
    assert len(rows) == 1 + 50
    stored = np.floor(values * 32767.0 + 0.5).astype(int)  # round half away, x >= 0
    for i, (time, value, normalised) in enumerate(rows[1:]):
        assert float(time) == i / 5000.0
        assert int(value) == stored[i]
        assert float(normalised) == stored[i] / 32767.0
    assert rows[-1][1:] == ["32767", "1.0"]


def test_export_to_a_file_matches_standard_output(tmp_path):
    p = Protocol()
    p.set_session_duration(0.01)
    p.add_arbitrary_signal(np.full(50, 0.25))
    path = saved(p, tmp_path)
    out = tmp_path / "samples.csv"
    to_file = run_vesk("export", path, "--signal=0", "-o", out)
    assert (to_file.returncode, to_file.stdout) == (0, "")
    assert out.read_text() == run_vesk("export", path, "--signal", "0").stdout


@pytest.mark.parametrize(
    "signal, message",
    [
        ("0", "signal 0 is a Constant signal; only Arbitrary signals have samples to export"),
        ("2", "signal 2 does not exist (the protocol has 1 signal)"),
    ],
)
def test_export_refuses_what_has_no_samples(signal, message, tmp_path):
    p = Protocol()
    p.add_constant_signal(0.5)
    path = saved(p, tmp_path)
    result = run_vesk("export", path, "--signal", signal)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr == f"vesk: {path}: {message}\n"


@pytest.mark.parametrize("where", ["missing folder", "file too large", "standard output too large"])
def test_export_reports_output_it_cannot_open_or_write(where, tmp_path):
    p = Protocol()
    p.set_session_duration(10.0)  # 50000 rows: past the file-size limit within the first block
    p.add_arbitrary_signal(np.full(p.get_num_samples(), 0.25))
    path = saved(p, tmp_path)
    out = tmp_path / ("missing" if where == "missing folder" else "") / "out.csv"
    to_stdout = where == "standard output too large"
    with open(tmp_path / "stdout", "wb") as stdout:
        result = subprocess.run(
            [vesk_path(), "export", str(path), "--signal", "0", *([] if to_stdout else ["-o", str(out)])],
            stdout=stdout, stderr=subprocess.PIPE, text=True, timeout=120, check=False,
            preexec_fn=None if where == "missing folder" else limit_file_size,
        )
    reason = "No such file or directory" if where == "missing folder" else "File too large"
    assert (result.returncode, result.stderr) == (
        2, f"vesk: {'standard output' if to_stdout else out}: cannot write: {reason}\n")


def test_file_truncated_while_it_is_read_is_a_one_line_error(tmp_path, fault_shim):
    p = Protocol()
    p.set_session_duration(2.0)
    p.add_arbitrary_signal(np.full(p.get_num_samples(), 0.25))
    path = saved(p, tmp_path)
    size = path.stat().st_size
    env = {**os.environ, "LD_PRELOAD": fault_shim, "REVEVU_FAULT_SHRINK_MAPPED": str(path)}
    result = subprocess.run([vesk_path(), "check", str(path)], env=env, capture_output=True, text=True,
                            timeout=120, check=False)
    assert path.stat().st_size == size // 2, "the file was not cut while mapped"
    assert (result.returncode, result.stdout, result.stderr) == (
        2, "", f"vesk: {path}: cannot read: the file was truncated while it was read\n")


def test_read_error_at_the_end_of_a_file_is_no_end_of_file(tmp_path, fault_shim):
    """vesk.load reads a file in pieces: a read that fails where the file
    should end is an error, not the end."""
    path = saved(Protocol(), tmp_path)
    code = f"import vesk\ntry: vesk.load({str(path)!r})\nexcept OSError as e: print(e.errno)"
    preload = " ".join(filter(None, [os.environ.get("LD_PRELOAD"), fault_shim]))  # a sanitizer first
    env = {**os.environ, "LD_PRELOAD": preload, "REVEVU_FAULT_READ_AT_END": str(path)}
    result = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                            timeout=120, check=False)
    assert (result.returncode, result.stdout) == (0, f"{errno.EIO}\n"), result.stderr


COMMANDS = [["show"], ["summary"], ["check"], ["export", "--signal", "0"]]


def bad_files(tmp_path):
    good = saved(Protocol(), tmp_path, "good.vesk").read_bytes()
    files = {
        "truncated": good[:100],
        "trailing byte": good + b"\x00",
        "unknown variant": good[:VARIANT] + b"\x07" + good[VARIANT + 1 :],
        "empty": b"",
    }
    for name, data in files.items():
        (tmp_path / f"{name}.vesk").write_bytes(data)
    return {
        "missing": (tmp_path / "missing.vesk", "cannot read: No such file or directory"),
        "directory": (tmp_path, "cannot read: Is a directory"),
        "truncated": (
            tmp_path / "truncated.vesk",
            "not a valid protocol file: offset 94: machine_config.max_current: "
            "unexpected end of input: f64 needs 8 bytes, 6 left",
        ),
        "trailing byte": (
            tmp_path / "trailing byte.vesk",
            "not a valid protocol file: offset 201: 1 trailing byte after the record",
        ),
        "unknown variant": (
            tmp_path / "unknown variant.vesk",
            "not a valid protocol file: offset 151: signals[0]: unknown signal variant 7",
        ),
        "empty": (
            tmp_path / "empty.vesk",
            "not a valid protocol file: offset 0: running_on_target_machine: "
            "unexpected end of input: bool needs 1 byte, 0 left",
        ),
    }


@pytest.mark.parametrize("command", COMMANDS, ids=lambda c: c[0])
def test_unreadable_or_invalid_files_give_one_line_and_exit_2(command, tmp_path):
    for name, (path, message) in bad_files(tmp_path).items():
        result = run_vesk(command[0], path, *command[1:])
        assert result.returncode == 2, name
        assert result.stdout == "", name
        assert result.stderr == f"vesk: {path}: {message}\n", name


@pytest.mark.parametrize("command", [c[0] for c in COMMANDS] + ["diff", "plot", "script"])
def test_every_command_has_help(command):
    result = run_vesk(command, "--help")
    assert result.returncode == 0
    assert result.stdout.startswith(f"usage: vesk {command} ")
    assert "\nexit status:\n  0  " in result.stdout


def test_main_help_lists_commands_and_exit_codes():
    result = run_vesk("--help")
    assert result.returncode == 0
    for text in ("show FILE", "summary FILE", "check FILE", "export FILE --signal N",
                 "diff FILE1 FILE2", "plot FILE -o OUT.svg", "script FILE -o OUT.py"):
        assert text in result.stdout
    for code in "0123":
        assert f"\n  {code}  " in result.stdout


@pytest.mark.parametrize(
    "args",
    [
        [],
        ["frobnicate", "p.vesk"],
        ["show"],
        ["show", "a.vesk", "b.vesk"],
        ["show", "--bogus", "p.vesk"],
        ["show", "--signal", "0", "p.vesk"],
        ["export", "p.vesk"],
        ["export", "p.vesk", "--signal", "-1"],
        ["export", "p.vesk", "--signal", "x"],
        ["export", "p.vesk", "--signal"],
    ],
)
def test_usage_errors_exit_2(args):
    result = run_vesk(*args)
    assert result.returncode == 2
    assert result.stdout == ""
    assert result.stderr.startswith("vesk: ")

"""vesk script: the script it writes, run in a new interpreter in any
environment, saves the file it was made from byte for byte."""

import ast
import math
import os
import struct
import subprocess
import sys
import tempfile
import zipfile
import zlib
from pathlib import Path

import numpy as np
import pytest
from conftest import EXAMPLES as EXAMPLES_FOLDER, MODULE_DIR
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st
from random_protocols import build, edits, float_from_bits
from revevu import Channel, Coil, Protocol
from vesk_tool import INTENSITY, limit_file_size, patched, run_vesk, saved, vesk_path

EXAMPLES = int(os.environ.get("REVEVU_SCRIPT_EXAMPLES", "20"))


def write_script(vesk_file: Path, out: Path) -> Path:
    result = run_vesk("script", vesk_file, "-o", out)
    assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
    return out


def run_script(script: Path, new_file: Path, target_machine: bool) -> None:
    """Runs the script in a new interpreter with VESK_TARGET_MACHINE set or
    absent, importing the revevu under test."""
    env = {k: v for k, v in os.environ.items() if k != "VESK_TARGET_MACHINE"}
    env["PYTHONPATH"] = os.pathsep.join([MODULE_DIR, env.get("PYTHONPATH", "")])
    if target_machine:
        env["VESK_TARGET_MACHINE"] = ""
    result = subprocess.run(
        [sys.executable, str(script), str(new_file)],
        env=env, cwd=script.parent.parent, capture_output=True, text=True, timeout=120,
    )
    assert (result.returncode, result.stderr) == (0, ""), script.read_text()


def assert_rebuilds(vesk_file: Path, folder: Path, target_machines=(False, True)) -> str:
    """The script of `vesk_file` saves the same bytes; returns its text."""
    folder.mkdir(exist_ok=True)
    script = write_script(vesk_file, folder / "rebuild.py")
    for target_machine in target_machines:
        new_file = folder / f"new-{target_machine}.vesk"
        run_script(script, new_file, target_machine)
        assert new_file.read_bytes() == vesk_file.read_bytes(), script.read_text()
    return script.read_text()


@pytest.mark.parametrize("example", sorted(p.stem for p in EXAMPLES_FOLDER.glob("*.py")))
def test_every_example_file_comes_back_byte_for_byte(example, example_files, tmp_path):
    text = assert_rebuilds(example_files[example], tmp_path / "script")
    has_samples = (tmp_path / "script" / "rebuild.npz").exists()
    assert has_samples == ("import numpy as np" in text)


@settings(
    max_examples=EXAMPLES,
    deadline=None,
    suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow],
)
@given(st.lists(edits, max_size=14), st.booleans(), st.booleans())
def test_random_protocols_come_back_byte_for_byte(tmp_path, script, made_on_target, run_on_target):
    p = build(script, made_on_target)
    with tempfile.TemporaryDirectory(dir=tmp_path) as folder:
        text = assert_rebuilds(saved(p, Path(folder)), Path(folder) / "script", [run_on_target])
    event(f"arbitrary samples: {'stored[' in text}")
    event(f"NaN payloads: {'float_from_bits(' in text}")
    event(f"durations set: {text.count('set_session_duration')}")


def test_nan_payloads_negative_zero_and_infinities_keep_their_bits(tmp_path):
    p = Protocol()
    p.set_stimulation_intensity(-0.0)
    p.add_constant_signal(float_from_bits(0x7FF0000000000001))  # signalling
    p.add_constant_signal(float_from_bits(0xFFF8000000000000))  # -nan
    p.add_constant_signal(math.nan)
    p.add_sine_signal(math.inf, -math.inf, 5e-324, 1e16)
    p.add_sine_signal(0.0, 0.0, phase=-0.0)  # not the default phase 0.0
    p.add_ramp_signal(-0.0, float_from_bits(0xFFFFFFFFFFFFFFFF), 1.7976931348623157e308)
    text = assert_rebuilds(saved(p, tmp_path), tmp_path / "script")
    for literal in [
        "intensity=-0.0",
        "value=float_from_bits(0x7ff0000000000001)",
        'value=-float("nan")',
        'value=float("nan")',
        'amplitude=float("inf"), frequency=-float("inf"), phase=5e-324, depth=1e16',
        "amplitude=0.0, frequency=0.0, phase=-0.0)",
        "peak=-0.0, up_duration=float_from_bits(0xffffffffffffffff)",
    ]:
        assert literal in text


def stored_codes(rng, count):
    """Codes 0..32767 and the normalised values that store them."""
    codes = rng.integers(0, 32768, count).astype(np.int16)
    codes[:2] = (0, 32767)
    return codes, codes / 32767.0


def test_npz_holds_each_arbitrary_signal_as_int16_with_the_zip_crc(tmp_path):
    rng = np.random.default_rng(5)
    p = Protocol()
    p.add_constant_signal(0.5)
    p.set_session_duration(0.07)
    first, values = stored_codes(rng, 351)
    p.add_arbitrary_signal(values)
    p.set_session_duration(1.0)
    p.add_sine_signal(1.0, 2.0)
    second, values = stored_codes(rng, 5000)
    p.add_arbitrary_signal(values)
    write_script(saved(p, tmp_path), tmp_path / "rebuild.py")
    npz = tmp_path / "rebuild.npz"
    with np.load(npz) as arrays:
        assert sorted(arrays.files) == ["signal_1", "signal_3"]
        for name, codes in (("signal_1", first), ("signal_3", second)):
            assert arrays[name].dtype == np.dtype("<i2") and arrays[name].shape == codes.shape
            np.testing.assert_array_equal(arrays[name], codes)
    with zipfile.ZipFile(npz) as archive:
        for info in archive.infolist():
            assert info.compress_type == zipfile.ZIP_STORED
            assert info.CRC == zlib.crc32(archive.read(info))


def test_more_than_65535_arrays_take_zip64_end_records(tmp_path):
    count = 65_540
    p = Protocol()
    p.set_session_duration(0.01)
    last, values = stored_codes(np.random.default_rng(9), 50)
    for _ in range(count - 1):
        p.add_arbitrary_signal(np.zeros(50))
    p.add_arbitrary_signal(values)
    npz = write_script(saved(p, tmp_path), tmp_path / "rebuild.py").with_suffix(".npz")
    with np.load(npz) as arrays:
        assert len(arrays.files) == count
        np.testing.assert_array_equal(arrays[f"signal_{count - 1}"], last)
    # The counts, which Python's reader does not need, as other readers take them.
    data = npz.read_bytes()
    zip64_end = struct.unpack_from("<IQHHIIQQ", data, len(data) - 22 - 20 - 56)
    assert zip64_end[0] == 0x06064B50 and zip64_end[6:] == (count, count)
    assert struct.unpack_from("<IHHHH", data, len(data) - 22)[3:] == (0xFFFF, 0xFFFF)


@pytest.mark.parametrize(
    "out",
    ["rebuild.py", "rebuild", ".hidden", "a.tar.gz", "d.x/out", "x.y.py", ".a.py", "x" * 251 + ".py"],
    ids=lambda out: out if len(out) < 20 else "longest name",
)
def test_npz_is_where_the_scripts_with_suffix_looks(out, tmp_path):
    p = Protocol()
    p.set_session_duration(0.01)
    p.add_arbitrary_signal(np.zeros(50))
    (tmp_path / "d.x").mkdir()
    write_script(saved(p, tmp_path), tmp_path / out)
    expected = (tmp_path / out).with_suffix(".npz")
    assert sorted(tmp_path.rglob("*.npz")) == [expected]


def failures(tmp_path):
    good = saved(Protocol(), tmp_path, "good.vesk")
    refused = patched(saved(Protocol(), tmp_path, "refused.vesk"), INTENSITY,
                      struct.pack("<d", 1.5))
    (tmp_path / "bad.vesk").write_bytes(good.read_bytes()[:100])
    long = Protocol()  # 1.2 MB of samples, past the size limit below
    long.set_session_duration(120.0)
    long.add_arbitrary_signal(np.full(long.get_num_samples(), 0.5))
    long_file = saved(long, tmp_path, "long.vesk")
    out = tmp_path / "out.py"
    for folder in ("taken.npz", "taken.py"):  # a name in use by a folder cannot be replaced
        (tmp_path / folder).mkdir()
    return {
        "no -o": (["script", good], "vesk: -o OUTPUT is required\n", None),
        "no FILE": (["script", "-o", out], "vesk: no FILE given\n", None),
        "ambiguous suffix": (
            ["script", good, "-o", tmp_path / "out."],
            f"vesk: -o {tmp_path}/out.: not a file name whose suffix every Python version reads "
            "alike (such as OUT.py)\n",
            None,
        ),
        "names a folder": (["script", good, "-o", f"{tmp_path}/"], "vesk: -o ", None),
        "invalid file": (
            ["script", tmp_path / "bad.vesk", "-o", out],
            f"vesk: {tmp_path}/bad.vesk: not a valid protocol file: offset 94: ",
            None,
        ),
        "refused": (
            ["script", refused, "-o", out],
            f"vesk: {refused}: cannot be rebuilt through the revevu API: intensity = 1.5: "
            "set_stimulation_intensity accepts only 0.0..1.0\n",
            None,
        ),
        "missing folder": (
            ["script", good, "-o", tmp_path / "missing" / "out.py"],
            f"vesk: {tmp_path}/missing/out.py: cannot write: No such file or directory\n",
            None,
        ),
        "write fails": (
            ["script", long_file, "-o", out],
            f"vesk: {tmp_path}/out.npz: cannot write: File too large\n",
            limit_file_size,
        ),
        "samples' folder missing": (
            ["script", long_file, "-o", tmp_path / "missing" / "out.py"],
            f"vesk: {tmp_path}/missing/out.npz: cannot write: No such file or directory\n",
            None,
        ),
        "samples' name is a folder": (
            ["script", long_file, "-o", tmp_path / "taken.py"],
            f"vesk: {tmp_path}/taken.npz: cannot write: Is a directory\n",
            None,
        ),
        "script's name is a folder": (
            ["script", good, "-o", tmp_path / "taken.py"],
            f"vesk: {tmp_path}/taken.py: cannot write: Is a directory\n",
            None,
        ),
    }


@pytest.mark.parametrize(
    "case",
    ["no -o", "no FILE", "ambiguous suffix", "names a folder", "invalid file", "refused",
     "missing folder", "write fails", "samples' folder missing", "samples' name is a folder",
     "script's name is a folder"],
)
def test_failures_exit_2_with_one_line_and_leave_no_files(case, tmp_path):
    args, message, preexec = failures(tmp_path)[case]
    (tmp_path / "out.py").write_text("kept\n")
    before = sorted(tmp_path.rglob("*"))
    result = subprocess.run(
        [vesk_path(), *map(str, args)], capture_output=True, text=True, timeout=120,
        preexec_fn=preexec, check=False,
    )
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.startswith(message)
    assert sorted(tmp_path.rglob("*")) == before
    assert (tmp_path / "out.py").read_text() == "kept\n"


def test_a_hostile_file_name_stays_inside_the_docstring(tmp_path):
    def parsed(name):
        text = write_script(saved(Protocol(), tmp_path, name), tmp_path / "s.py").read_text()
        return ast.parse(text)

    name = 'x"""\nraise SystemExit(9)\n\\\u2028\x1b.vesk'
    hostile, plain = parsed(name), parsed("plain.vesk")
    assert ast.get_docstring(hostile).startswith(f'Rebuilds the protocol of "{name}" through')
    assert [ast.dump(n) for n in hostile.body[1:]] == [ast.dump(n) for n in plain.body[1:]]

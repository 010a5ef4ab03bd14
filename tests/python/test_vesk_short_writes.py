"""A write may take fewer bytes than it was given, or none: vesk goes on
writing from where the last one stopped, so its files are whole. A write
that fails fails the command, wherever it comes."""

import os
import subprocess

import numpy as np
import pytest
from revevu import Protocol
from vesk_tool import saved, vesk_path


def arbitrary_protocol():
    p = Protocol()
    p.set_session_duration(0.1)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    return p


def preloaded(fault_shim):
    return " ".join(filter(None, [os.environ.get("LD_PRELOAD"), fault_shim]))  # a sanitizer first


@pytest.mark.parametrize("fault", [
    {"REVEVU_FAULT_SHORT_WRITES": "1"},
    {"REVEVU_FAULT_ZERO_WRITE": "1"},
    {"REVEVU_FAULT_ZERO_WRITE": "2"},
], ids=["three bytes a write", "first write takes nothing", "second write takes nothing"])
def test_script_and_npz_are_whole_whatever_each_write_takes(fault, tmp_path, fault_shim):
    path = saved(arbitrary_protocol(), tmp_path)
    outputs = {}
    for name, extra in (("plain", {}), ("faulty", {"LD_PRELOAD": preloaded(fault_shim), **fault})):
        out = tmp_path / name / "rebuild.py"
        out.parent.mkdir()
        result = subprocess.run([vesk_path(), "script", str(path), "-o", str(out)],
                                env={**os.environ, **extra}, capture_output=True, text=True,
                                timeout=120, check=False)
        assert (result.returncode, result.stderr) == (0, "")
        outputs[name] = (out.read_bytes(), out.with_suffix(".npz").read_bytes())
    assert outputs["faulty"] == outputs["plain"]


@pytest.mark.parametrize("failing", range(1, 6))  # the .npz entry's two pieces, its directory and end, the script
def test_a_write_that_fails_anywhere_fails_the_command_and_leaves_no_file(failing, tmp_path, fault_shim):
    path = saved(arbitrary_protocol(), tmp_path)
    out = tmp_path / "out" / "rebuild.py"
    out.parent.mkdir()
    env = {**os.environ, "LD_PRELOAD": preloaded(fault_shim), "REVEVU_FAULT_FAILED_WRITE": str(failing)}
    result = subprocess.run([vesk_path(), "script", str(path), "-o", str(out)], env=env,
                            capture_output=True, text=True, timeout=120, check=False)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.endswith(": cannot write: Input/output error\n"), result.stderr
    assert list(out.parent.iterdir()) == []

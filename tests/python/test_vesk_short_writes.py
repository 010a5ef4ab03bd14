"""A write may take fewer bytes than it was given: vesk goes on writing from
where the last one stopped, so its files are whole. A write that fails, or
takes nothing, fails the command, wherever it comes."""

import errno
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


def test_script_and_npz_are_whole_whatever_each_write_takes(tmp_path, fault_shim):
    path = saved(arbitrary_protocol(), tmp_path)
    outputs = {}
    for name, extra in (("plain", {}), ("faulty", {"LD_PRELOAD": preloaded(fault_shim),
                                                   "REVEVU_FAULT_SHORT_WRITES": "1"})):
        out = tmp_path / name / "rebuild.py"
        out.parent.mkdir()
        result = subprocess.run([vesk_path(), "script", str(path), "-o", str(out)],
                                env={**os.environ, **extra}, capture_output=True, text=True,
                                timeout=120, check=False)
        assert (result.returncode, result.stderr) == (0, "")
        outputs[name] = (out.read_bytes(), out.with_suffix(".npz").read_bytes())
    assert outputs["faulty"] == outputs["plain"]


# A write that takes nothing would take nothing again: it is an error, as in save.
@pytest.mark.parametrize("fault, reason", [
    # The C library's own words for EIO (glibc's and musl's differ).
    *((("REVEVU_FAULT_FAILED_WRITE", str(n)), os.strerror(errno.EIO)) for n in range(1, 6)),
    *((("REVEVU_FAULT_ZERO_WRITE", str(n)), "failed to write whole buffer") for n in (1, 2, 5)),
])  # the .npz entry's two pieces, its directory and end, the script
def test_a_write_that_fails_anywhere_fails_the_command_and_leaves_no_file(fault, reason, tmp_path,
                                                                          fault_shim):
    path = saved(arbitrary_protocol(), tmp_path)
    out = tmp_path / "out" / "rebuild.py"
    out.parent.mkdir()
    env = {**os.environ, "LD_PRELOAD": preloaded(fault_shim), fault[0]: fault[1]}
    result = subprocess.run([vesk_path(), "script", str(path), "-o", str(out)], env=env,
                            capture_output=True, text=True, timeout=120, check=False)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.endswith(f": cannot write: {reason}\n"), result.stderr
    assert list(out.parent.iterdir()) == []

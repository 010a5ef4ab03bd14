"""vesk re-encodes every record it decodes and compares the result with the
file: a record that does not give back the file's bytes is reported as an
internal error, never shown."""

import os
import subprocess

import numpy as np
from revevu import Protocol
from vesk_tool import saved, vesk_path


def test_a_file_that_changes_between_decoding_and_the_check_is_an_internal_error(
        tmp_path, fault_shim):
    p = Protocol()
    p.set_session_duration(2.0)
    p.add_arbitrary_signal(np.full(p.get_num_samples(), 0.25))  # some pages
    path = saved(p, tmp_path)
    preload = " ".join(filter(None, [os.environ.get("LD_PRELOAD"), fault_shim]))  # a sanitizer first
    env = {**os.environ, "LD_PRELOAD": preload, "REVEVU_FAULT_CHANGE_MAPPED": str(path)}
    result = subprocess.run([vesk_path(), "check", str(path)], env=env, capture_output=True,
                            text=True, timeout=120, check=False)
    assert (result.returncode, result.stdout, result.stderr) == (
        3, "", f"vesk: {path}: internal error: the decoded record does not re-encode to the file's "
        "bytes\n")

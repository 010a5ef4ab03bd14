"""Threads without the interpreter lock: importing revevu and vesk leaves it
off on a free-threaded interpreter, and the workload of thread_stress.py
(threads on one protocol, on their own protocols sharing the enumeration
members, on loaded files, panicking together) gives what a serial run gives.
Each run is a fresh interpreter, so that the state the modules make on
first use is raced for.

Length: REVEVU_STRESS_ROUNDS rounds (default 2).
"""

import json
import sysconfig
from pathlib import Path

import pytest
import reliability_helpers as rh
from conftest import run_python

FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
HERE = Path(__file__).resolve().parent


@pytest.mark.skipif(not FREE_THREADED, reason="the interpreter has the lock")
def test_importing_both_modules_leaves_the_lock_off():
    result = run_python(
        """
        import sys, warnings
        warnings.simplefilter("error")  # the warning of a module that turns the lock on
        import revevu, vesk
        print(sys._is_gil_enabled())
        """,
        env={"PYTHON_GIL": None},
    )
    assert (result.returncode, result.stdout, result.stderr) == (0, "False\n", "")


def workload(mode: str, directory: Path, rounds: int) -> dict:
    directory.mkdir()
    result = run_python(
        f"""
        import json, sys
        sys.path.insert(0, {str(HERE)!r})
        import thread_stress
        print(json.dumps(thread_stress.run({mode!r}, __import__("pathlib").Path({str(directory)!r}), {rounds})))
        """,
        timeout=600,
    )
    assert result.returncode == 0, result.stderr[-4000:]
    return json.loads(result.stdout)


def test_threads_give_the_serial_results(tmp_path):
    rounds = int(rh.env_number("REVEVU_STRESS_ROUNDS", 2))
    serial = workload("serial", tmp_path / "serial", rounds)
    threads = workload("threads", tmp_path / "threads", rounds)
    for shared in serial["shared"]:
        assert shared["errors"] == [] and shared["equals_replay"]
        assert shared["positions"] == list(range(len(shared["positions"])))
    assert [own["panic types"] for own in serial["own"]] == [1] * rounds
    assert threads == serial

"""Every method of revevu and every error path, a few times each: a short
script for memory checkers (valgrind memcheck runs it under reliability/valgrind.sh).

Exits non-zero if any call behaves other than expected; prints the number of
calls made.
"""

from __future__ import annotations

import os
import stat
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "python"))

import numpy as np  # noqa: E402

import revevu  # noqa: E402
import reliability_helpers as rh  # noqa: E402
from test_stability import Workload  # noqa: E402

# Rounds of every call kind; a leak shows as losses that grow with them.
ROUNDS = int(os.environ.get("REVEVU_EXERCISE_ROUNDS", "3"))


def save_paths(scratch):
    """Targets beyond the basic ones: a link, a link loop, a directory, and a
    null device of its own where one can be made (as root)."""
    os.symlink("real.vesk", os.path.join(scratch, "link.vesk"))
    os.symlink("loop.vesk", os.path.join(scratch, "loop.vesk"))
    os.mkdir(os.path.join(scratch, "folder.vesk"))
    paths = {
        "link.vesk": None,
        "loop.vesk": rh.os_error_message(40, "FilesystemLoop"),
        "folder.vesk": rh.os_error_message(21, "IsADirectory"),
    }
    try:
        os.mknod(os.path.join(scratch, "null.vesk"), 0o666 | stat.S_IFCHR, os.makedev(1, 3))
        paths["null.vesk"] = None
    except PermissionError:
        pass
    return paths


def main() -> int:
    calls = 0
    with tempfile.TemporaryDirectory() as scratch, rh.quiet_stderr():
        work = Workload(scratch)
        for _ in range(ROUNDS):
            work.run_round(range(len(work.kinds)))
            calls += len(work.kinds) + 3
        protocol, model = rh.scripted_protocol(revevu, np, duration=1.0)
        assert str(protocol) == model.text()
        for name, expected in save_paths(scratch).items():
            assert rh.check_save(protocol, model, os.path.join(scratch, name), expected, old_content=None,
                                 good_dir=scratch) == [], name
            calls += 4
        long_session = revevu.Protocol()
        long_session.set_session_duration(60.0)
        long_session.add_arbitrary_signal(np.linspace(0.0, 1.0, 300000)[::-1])
        long_session.save(os.path.join(scratch, "long.vesk"))
        assert len(str(long_session).splitlines()) > 300000
        calls += 5
    print(f"exercise: {calls} calls of {len(work.kinds)} kinds")
    return 0


if __name__ == "__main__":
    sys.exit(main())

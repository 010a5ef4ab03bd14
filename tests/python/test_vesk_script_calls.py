"""The calls of a `vesk script`, in order: the file's own session duration
comes first, unless the first arbitrary signal needs another one before it is
added; then it comes last."""

import numpy as np
import pytest
import vesk
from revevu import Protocol
from vesk_tool import saved


def duration_first(p):
    p.set_session_duration(2.0)
    p.add_constant_signal(0.5)
    p.add_arbitrary_signal(np.zeros(10000))


def samples_first(p):
    p.set_session_duration(1.0)
    p.add_arbitrary_signal(np.zeros(5000))
    p.add_constant_signal(0.5)
    p.set_session_duration(2.0)


@pytest.mark.parametrize("build, calls", [
    (duration_first, """\
protocol.set_session_duration(duration=2.0)
# signal 0: Constant
protocol.add_constant_signal(value=0.5)
# signal 1: Arbitrary 10000 samples
protocol.add_arbitrary_signal(samples=stored["signal_1"] / 32767.0)
"""),
    (samples_first, """\
# gives the next signal its 5000 samples
protocol.set_session_duration(duration=1.0)
# signal 0: Arbitrary 5000 samples
protocol.add_arbitrary_signal(samples=stored["signal_0"] / 32767.0)
# signal 1: Constant
protocol.add_constant_signal(value=0.5)
# the session's own duration
protocol.set_session_duration(duration=2.0)
"""),
], ids=["duration first", "samples first"])
def test_where_the_session_duration_is_set(build, calls, tmp_path):
    p = Protocol()
    build(p)
    script = vesk.load(saved(p, tmp_path)).script()
    assert script.split("protocol = Protocol()\n")[1].split("protocol.save(")[0] == calls

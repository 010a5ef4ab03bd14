"""vesk.load closes the file it opens, whether it decodes it or refuses it."""

import os

import pytest
import vesk
from revevu import Protocol
from vesk_tool import saved


def open_descriptors():
    return len(os.listdir("/proc/self/fd"))


def test_loads_leave_no_descriptor_open(tmp_path):
    good = saved(Protocol(), tmp_path)
    cut = tmp_path / "cut.vesk"
    cut.write_bytes(good.read_bytes()[:-1])
    vesk.load(good)
    before = open_descriptors()
    for _ in range(50):
        vesk.load(good)
        with pytest.raises(vesk.FormatError):
            vesk.load(cut)
    assert open_descriptors() == before

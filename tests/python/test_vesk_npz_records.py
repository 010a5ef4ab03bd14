"""The .npz archive that `vesk script` writes, record by record as the ZIP
format lays them out, for readers stricter than Python's: every central
directory entry agrees with its local header, and the end record counts them."""

import struct

import numpy as np
from revevu import Protocol
from vesk_tool import run_vesk, saved

LOCAL = struct.Struct("<IHHHHHIIIHH")  # up to the name's and the extra field's lengths
CENTRAL = struct.Struct("<IHHHHHHIIIHHHHHII")
END = struct.Struct("<IHHHHIIH")


def test_every_record_of_a_small_archive(tmp_path):
    p = Protocol()
    p.set_session_duration(0.01)
    for _ in range(2):
        p.add_arbitrary_signal(np.linspace(0.0, 1.0, 50))
    result = run_vesk("script", saved(p, tmp_path), "-o", tmp_path / "rebuild.py")
    assert result.returncode == 0
    data = (tmp_path / "rebuild.npz").read_bytes()

    signature, disk, directory_disk, here, total, size, start, comment = END.unpack_from(
        data, len(data) - END.size)
    assert (signature, disk, directory_disk, here, total, comment) == (0x06054B50, 0, 0, 2, 2, 0)
    assert start + size == len(data) - END.size
    at = start
    for name in (b"signal_0.npy", b"signal_1.npy"):
        central = CENTRAL.unpack_from(data, at)
        (signature, made_by, needed, flags, method, time, date, crc, compressed, plain,
         name_length, extra_length, comment_length, disk, internal, external, offset) = central
        assert (signature, made_by, needed, flags, method, time, date) == (
            0x02014B50, 3 << 8 | 45, 20, 0, 0, 0, 1 << 5 | 1)
        assert (name_length, extra_length, comment_length, disk, internal, external) == (
            len(name), 0, 0, 0, 0, 0o100644 << 16)
        assert data[at + CENTRAL.size:at + CENTRAL.size + name_length] == name
        local = LOCAL.unpack_from(data, offset)
        assert local == (0x04034B50, needed, flags, method, time, date, crc, compressed, plain,
                         name_length, 0)
        assert compressed == plain
        at += CENTRAL.size + name_length
    assert at == start + size

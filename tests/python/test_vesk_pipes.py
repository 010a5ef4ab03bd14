"""A protocol file read from a pipe, whose size is not known beforehand: the
buffer grows with what arrives, one read of at most a pipe's capacity at a
time, so a file of some megabytes takes many reads."""

import os
import threading

import numpy as np
from revevu import Protocol
from vesk_tool import run_vesk, saved

SAMPLES = 1_000_000  # about 3 MB on the wire: some fifty reads of a 64 KiB pipe


def test_a_long_file_from_a_fifo_reads_as_the_file_itself(tmp_path):
    protocol = Protocol()
    protocol.set_session_duration(SAMPLES / 5000)
    protocol.add_arbitrary_signal(np.random.default_rng(7).random(SAMPLES))
    path = saved(protocol, tmp_path)
    fifo = tmp_path / "long.fifo"
    os.mkfifo(fifo)
    writer = threading.Thread(target=fifo.write_bytes, args=(path.read_bytes(),))
    writer.start()
    try:
        result = run_vesk("diff", path, fifo)
    finally:
        writer.join()
    assert (result.returncode, result.stderr) == (0, "")

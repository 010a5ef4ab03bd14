"""Threads: eight threads call one shared Protocol and their own Protocols at
once. No crash, no lost or duplicated signal (the positions handed out are
unique and contiguous), and the shared record equals a sequential replay of
the successful calls in the order of their positions.

Length: REVEVU_THREAD_SECONDS seconds (default 1).
"""

from __future__ import annotations

import contextlib
import os
import random
import sys
import threading
import time

import numpy as np

import revevu
import reliability_helpers as rh
from reliability_helpers import ProtocolModel

THREADS = 8
DURATION = 0.01
BORROWED = {"Already borrowed", "Already mutably borrowed"}


class SlowFloat:
    """A float that gives up the interpreter lock while it is being converted,
    so that other threads run while the protocol is borrowed."""

    def __init__(self, value):
        self.value = value

    def __float__(self):
        time.sleep(0)
        return self.value


def signal_calls(rng, tag):
    """One signal-adding call: (method, args, model signal). `tag` makes each value unique."""
    samples = np.round(np.linspace(0.0, 1.0, 50) * rng.random(), 6)
    choice = rng.randrange(6)
    if choice == 0:
        return "add_constant_signal", (tag,), rh.constant_signal(tag)
    if choice == 1:
        return "add_sine_signal", (tag, 2.0, 0.5), rh.sine_signal(tag, 2.0, 0.5, 1.0)
    if choice == 2:
        return "add_ramp_signal", (SlowFloat(tag), 1.0, 2.0), rh.ramp_signal(tag, 1.0, 2.0)
    if choice == 3:
        a, b = int(tag) % 1000, int(tag) // 1000
        return "add_mixed_signal", (a, b), rh.mixed_signal(a, b)
    if choice == 4:
        stored = [rh.quantise(x) for x in samples.tolist()]
        return "add_arbitrary_signal", (samples,), rh.arbitrary_signal(stored)
    return "add_constant_signal", (SlowFloat(tag),), rh.constant_signal(tag)


FAILING = [
    ("set_stimulation_intensity", (2.0,)),
    ("add_arbitrary_signal", (np.zeros(3),)),
    ("add_mixed_signal", (-1, 0)),
    ("add_constant_signal", ("x",)),
    ("save", ("not-a-protocol.txt",)),
]


class Worker(threading.Thread):
    def __init__(self, number, shared, deadline):
        super().__init__(name=f"worker-{number}")
        self.number, self.shared, self.deadline = number, shared, deadline
        self.rng = random.Random(number)
        self.own = revevu.Protocol()
        self.own.set_session_duration(DURATION)
        self.own_model = ProtocolModel(session_duration=DURATION)
        self.positions = []  # (position, model signal) of the shared calls that succeeded
        self.calls = self.conflicts = 0
        self.error = None

    def run(self):
        try:
            self.work()
        except BaseException as error:  # reported by the main thread
            self.error = error

    def call(self, protocol, method, args):
        self.calls += 1
        return getattr(protocol, method)(*args)

    def work(self):
        serial = 0
        while time.monotonic() < self.deadline:
            serial += 1
            tag = float(self.number * 10_000_000 + serial)
            method, args, signal = signal_calls(self.rng, tag)
            try:
                self.positions.append((self.call(self.shared, method, args), signal))
            except RuntimeError as error:  # another thread holds the record during a conversion
                assert str(error) in BORROWED, error
                self.conflicts += 1
            assert self.call(self.own, method, args) == self.own_model.append(signal)
            method, args = FAILING[serial % len(FAILING)]
            for target in (self.shared, self.own):
                try:
                    self.call(target, method, args)
                except RuntimeError as error:
                    assert str(error) in BORROWED, error
                except BaseException:  # the call's own failure
                    pass
                else:
                    raise AssertionError(f"{method}{args} succeeded")
            if serial % 64 == 0:
                with contextlib.suppress(RuntimeError):
                    self.calls += 1
                    assert self.shared.get_sampling_rate() == 5000.0
                with contextlib.suppress(RuntimeError):
                    self.calls += 1
                    assert self.shared.get_num_samples() == 50


@contextlib.contextmanager
def switch_interval(seconds):
    saved = sys.getswitchinterval()
    sys.setswitchinterval(seconds)
    try:
        yield
    finally:
        sys.setswitchinterval(saved)


def test_shared_and_own_protocols_under_eight_threads(tmp_path):
    seconds = rh.env_number("REVEVU_THREAD_SECONDS", 1.0)
    shared = revevu.Protocol()
    shared.set_session_duration(DURATION)
    deadline = time.monotonic() + seconds
    workers = [Worker(n, shared, deadline) for n in range(THREADS)]
    with switch_interval(1e-5), rh.quiet_stderr():
        for w in workers:
            w.start()
        for w in workers:
            w.join()
    for w in workers:
        if w.error is not None:
            raise w.error

    positions = sorted(p for w in workers for p, _ in w.positions)
    assert positions == list(range(len(positions))), "positions lost or handed out twice"
    replay = ProtocolModel(session_duration=DURATION)
    for position, signal in sorted((p for w in workers for p in w.positions), key=lambda item: item[0]):
        assert replay.append(signal) == position
    assert str(shared) == replay.text()
    shared.save(str(tmp_path / "shared.vesk"))
    assert (tmp_path / "shared.vesk").read_bytes() == replay.file_bytes()
    for w in workers:
        assert str(w.own) == w.own_model.text(), w.name

    calls = sum(w.calls for w in workers)
    conflicts = sum(w.conflicts for w in workers)
    rh.report_figures("threads", threads=THREADS, calls=calls, signals=len(positions), conflicts=conflicts)
    print(f"{THREADS} threads, {calls} calls, {len(positions)} shared signals, {conflicts} borrow conflicts")
    assert len(positions) > THREADS

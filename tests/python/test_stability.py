"""Leaks and stability: many mixed calls, successful and failing (every error
path of every method), with resident memory flat after a warm-up and the
reference counts of the argument objects unchanged.

Size: REVEVU_STRESS_CALLS calls (default 20000; the reliability run uses
1000000).
"""

from __future__ import annotations

import contextlib
import gc
import os
import random
import sys
import sysconfig
import tempfile
import time

import numpy as np
import pytest

import revevu
import reliability_helpers as rh

Channel, Coil = revevu.Channel, revevu.Coil
CALLS_PER_ROUND = 400
DURATION = 0.01  # 50 samples: arbitrary signals stay small


class Refuses:
    def __init__(self, error_type):
        self.error_type = error_type

    def __float__(self):
        raise self.error_type("refused")

    __index__ = __float__


class CallsBack:
    """Calls the protocol it is being converted for, letting the error escape."""

    def __init__(self):
        self.protocol = None

    def __float__(self):
        return self.protocol.get_sampling_rate()

    def __index__(self):
        return self.protocol.get_num_samples()


def panic_type():
    try:
        with rh.quiet_stderr():
            revevu.Protocol().set_stimulation_intensity(2.0)
    except BaseException as error:  # PanicException derives from BaseException
        return type(error)
    raise AssertionError("no PanicException")


class Workload:
    """Every call kind once: (description, call on a protocol, expected error type or None)."""

    def __init__(self, scratch):
        Panic = panic_type()
        self.callback = CallsBack()
        a = self.args = {
            "half": float("0.5"),
            "big_int": 2**64 + 12345,
            "negative": -(2**40) - 7,
            "u64_max": 2**64 - 1,
            "fsub": type("F", (float,), {})(0.25),
            "text": "not a number " + str(os.getpid()),
            "samples": np.linspace(0.0, 1.0, 50),
            "short": np.linspace(0.0, 1.0, 49),
            "low": np.concatenate([[-0.5], np.zeros(49)]),
            "high": np.concatenate([[2.0], np.zeros(49)]),
            "nan": np.full(50, np.nan),
            "float32": np.zeros(50, dtype=np.float32),
            "rows": np.zeros((1, 50)),
            "as_list": [0.0] * 50,
            "np_true": np.bool_(True),
            "refuses_type": Refuses(TypeError),
            "refuses_value": Refuses(ValueError),
            "callback": self.callback,
            "good_path": os.path.join(scratch, "stable.vesk"),
            "bad_ext": os.path.join(scratch, "stable.VESK"),
            "nul_path": os.path.join(scratch, "a\0.vesk"),
            "missing": os.path.join(scratch, "missing", "x.vesk"),
            "surrogate": os.path.join(scratch, "\udc80.vesk"),
            "bytes_path": os.path.join(scratch, "b.vesk").encode(),
        }
        ok = None
        self.kinds = [
            # successes
            ("intensity", lambda p: p.set_stimulation_intensity(a["half"]), ok),
            ("intensity int", lambda p: p.set_stimulation_intensity(1), ok),
            ("duration", lambda p: p.set_session_duration(duration=DURATION), ok),
            ("enable", lambda p: p.enable_channel(Channel.B), ok),
            ("amplitude", lambda p: p.set_amplitude_source(Coil.A2, a["u64_max"], external=a["np_true"]), ok),
            ("modulation", lambda p: p.set_modulation_source(Channel.B, 7, False), ok),
            ("constant", lambda p: p.add_constant_signal(a["fsub"]), ok),
            ("sine", lambda p: p.add_sine_signal(1.0, a["half"]), ok),
            ("sine kw", lambda p: p.add_sine_signal(amplitude=1, frequency=2, depth=a["half"]), ok),
            ("ramp", lambda p: p.add_ramp_signal(a["half"], float("inf"), -1.0), ok),
            ("mixed", lambda p: p.add_mixed_signal(0, a["u64_max"]), ok),
            ("arbitrary", lambda p: p.add_arbitrary_signal(a["samples"]), ok),
            ("arbitrary view", lambda p: p.add_arbitrary_signal(a["samples"][::-1]), ok),
            ("num samples", lambda p: p.get_num_samples(), ok),
            ("sampling rate", lambda p: p.get_sampling_rate(), ok),
            # panics
            ("intensity high", lambda p: p.set_stimulation_intensity(1.5), Panic),
            ("intensity nan", lambda p: p.set_stimulation_intensity(float("nan")), Panic),
            ("duration long", lambda p: p.set_session_duration(1e9), Panic),
            ("duration short", lambda p: p.set_session_duration(0.001), Panic),
            ("arbitrary length", lambda p: p.add_arbitrary_signal(a["short"]), Panic),
            ("arbitrary low", lambda p: p.add_arbitrary_signal(a["low"]), Panic),
            ("arbitrary high", lambda p: p.add_arbitrary_signal(a["high"]), Panic),
            ("arbitrary nan", lambda p: p.add_arbitrary_signal(a["nan"]), Panic),
            ("save extension", lambda p: p.save(a["bad_ext"]), Panic),
            ("save nul", lambda p: p.save(a["nul_path"]), Panic),
            ("save missing dir", lambda p: p.save(a["missing"]), Panic),
            # conversions
            ("float text", lambda p: p.add_constant_signal(a["text"]), TypeError),
            ("float none", lambda p: p.add_ramp_signal(1.0, None, 1.0), TypeError),
            ("float too big", lambda p: p.add_constant_signal(10**400), OverflowError),
            ("float hook type", lambda p: p.set_session_duration(a["refuses_type"]), TypeError),
            ("float hook value", lambda p: p.add_sine_signal(1.0, a["refuses_value"]), ValueError),
            ("float callback", lambda p: p.add_constant_signal(a["callback"]), RuntimeError),
            ("index negative", lambda p: p.add_mixed_signal(a["negative"], 0), OverflowError),
            ("index too big", lambda p: p.set_amplitude_source(Coil.B1, a["big_int"]), OverflowError),
            ("index float", lambda p: p.add_mixed_signal(0, a["half"]), TypeError),
            ("index hook", lambda p: p.add_mixed_signal(a["refuses_type"], 0), TypeError),
            ("index callback", lambda p: p.set_modulation_source(Channel.A, a["callback"]), RuntimeError),
            ("bool int", lambda p: p.set_modulation_source(Channel.A, 1, 1), TypeError),
            ("enum int", lambda p: p.enable_channel(0), TypeError),
            ("enum other", lambda p: p.set_amplitude_source(Channel.A, 0), TypeError),
            ("array dtype", lambda p: p.add_arbitrary_signal(a["float32"]), TypeError),
            ("array dims", lambda p: p.add_arbitrary_signal(a["rows"]), TypeError),
            ("array list", lambda p: p.add_arbitrary_signal(a["as_list"]), TypeError),
            ("path bytes", lambda p: p.save(a["bytes_path"]), TypeError),
            ("path surrogate", lambda p: p.save(a["surrogate"]), UnicodeEncodeError),
            # binding
            ("too many", lambda p: p.add_sine_signal(1.0, 2.0, 3.0, 4.0, 5.0), TypeError),
            ("unknown keyword", lambda p: p.set_stimulation_intensity(level=0.5), TypeError),
            ("given twice", lambda p: p.add_mixed_signal(1, a_idx=2), TypeError),
            ("missing", lambda p: p.set_amplitude_source(Coil.A1), TypeError),
            ("missing all", lambda p: p.save(), TypeError),
            ("no-argument method", lambda p: p.get_num_samples(1), TypeError),
            ("no-argument method kw", lambda p: p.get_sampling_rate(x=1), TypeError),
            ("constructor", lambda p: revevu.Protocol(1), TypeError),
            ("constructor kw", lambda p: revevu.Protocol(x=1), TypeError),
        ]
        # Objects whose reference counts must come back to where they were.
        self.watched = list(a.values()) + [Channel.A, Channel.B, Coil.A1, Coil.A2, Coil.B1, Coil.B2]
        # A free-threaded interpreter counts an instance's reference to its
        # class in the creating thread and adds it up later: a class's count
        # there says nothing exact.
        if not sysconfig.get_config_var("Py_GIL_DISABLED"):
            self.watched += [revevu.Protocol, Channel, Coil, Panic]

    def run_round(self, kinds):
        """Runs the call kinds numbered by `kinds` on a new protocol, then prints and saves it."""
        p = revevu.Protocol()
        p.set_session_duration(DURATION)
        held = sys.getrefcount(p)
        self.callback.protocol = p
        for number in kinds:
            name, call, expected = self.kinds[number]
            try:
                call(p)
            except BaseException as error:
                if expected is None or type(error) is not expected:
                    raise AssertionError(f"{name}: {error!r}, expected {expected}") from error
            else:
                if expected is not None:
                    raise AssertionError(f"{name}: no {expected.__name__}")
        text = str(p)
        p.save(self.args["good_path"])
        self.callback.protocol = None
        assert sys.getrefcount(p) == held, "a call kept a reference to the protocol"
        return len(text)


def random_kinds(rng, count):
    return [rng.randrange(count) for _ in range(CALLS_PER_ROUND)]


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def under_sanitizer() -> bool:
    return "libasan" in os.environ.get("LD_PRELOAD", "")


def test_many_mixed_calls_leak_nothing():
    total = int(rh.env_number("REVEVU_STRESS_CALLS", 20000))
    rounds = max(4, total // CALLS_PER_ROUND)
    warm_rounds = max(2, rounds // 10)
    rng = random.Random(1234)
    with tempfile.TemporaryDirectory(dir=rh.scratch_dir_root()) as scratch:
        work = Workload(scratch)
        start = time.monotonic()
        with rh.quiet_stderr():
            for _ in range(warm_rounds):
                work.run_round(random_kinds(rng, len(work.kinds)))
            gc.collect()
            counts = [sys.getrefcount(o) for o in work.watched]
            rss_start = peak = resident_bytes()
            for _ in range(rounds - warm_rounds):
                work.run_round(random_kinds(rng, len(work.kinds)))
                peak = max(peak, resident_bytes())
            gc.collect()
            rss_end = resident_bytes()
        elapsed = time.monotonic() - start
        after = [sys.getrefcount(o) for o in work.watched]
    calls = rounds * CALLS_PER_ROUND
    growth = max(peak, rss_end) - rss_start
    rh.report_figures(
        "stability",
        calls=calls,
        call_kinds=len(work.kinds),
        rss_growth_kib=growth // 1024,
        seconds=round(elapsed, 1),
        rss_checked=not under_sanitizer(),
    )
    print(f"{calls} calls of {len(work.kinds)} kinds in {elapsed:.1f} s; resident growth {growth / 1024:.0f} KiB")
    changed = {repr(o)[:60]: (b, c) for o, b, c in zip(work.watched, counts, after) if b != c}
    assert changed == {}, f"reference counts changed: {changed}"
    if not under_sanitizer():  # the sanitizer's quarantine holds freed memory on purpose
        assert growth < 1024 * 1024, f"resident memory grew by {growth} bytes after warm-up"


@pytest.mark.parametrize("kind", ["panic", "conversion", "binding"])
def test_failed_calls_release_their_arguments(kind):
    """A failing call drops every reference it took, to each argument."""
    p = revevu.Protocol()
    value, samples, path = float("1.5"), np.zeros(7), "x" * 20 + ".txt"
    calls = {
        "panic": [lambda: p.set_stimulation_intensity(value), lambda: p.add_arbitrary_signal(samples),
                  lambda: p.save(path)],
        "conversion": [lambda: p.add_mixed_signal(value, 0), lambda: p.add_constant_signal(samples),
                       lambda: p.add_ramp_signal(value, value, path)],
        "binding": [lambda: p.add_sine_signal(value, value, value, value, value),
                    lambda: p.add_arbitrary_signal(samples, samples), lambda: p.save(path, extra=path)],
    }[kind]
    before = [sys.getrefcount(o) for o in (value, samples, path, p)]
    with rh.quiet_stderr():
        for _ in range(200):
            for call in calls:
                with pytest.raises(BaseException):
                    call()
    assert [sys.getrefcount(o) for o in (value, samples, path, p)] == before

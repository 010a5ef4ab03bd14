"""No reference or memory leaks: many calls, successful and failing, leave the
reference counts of their arguments and the process's resident memory flat."""

import gc
import os
import sys

import pytest

from revevu import Channel, Coil, Protocol

CALLS = 100_000
RSS_SLACK = 8 * 1024 * 1024  # allocator noise, far below what a leak of 100 000 calls shows


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


class FloatLike:
    def __float__(self):
        return 0.5


class IndexLike:
    def __index__(self):
        return 2


def fresh_after(count):
    """A new 50-sample protocol every `count` calls, so that growing signal
    lists do not count as a leak."""
    state = {"calls": 0, "p": None}

    def get():
        if state["calls"] % count == 0:
            state["p"] = Protocol()
            state["p"].set_session_duration(0.01)
        state["calls"] += 1
        return state["p"]

    return get


def scenarios(np):
    half = 0.5
    text = "not a number"
    big = 2**64
    samples = np.full(50, 0.25) if np is not None else None
    bad_samples = np.full(50, 2.0) if np is not None else None
    member = Coil.B2
    channel = Channel.B
    float_like, index_like = FloatLike(), IndexLike()
    named = {"duration": half}
    rows = [
        ("intensity", lambda p: p.set_stimulation_intensity(half), (half,)),
        ("intensity refused", lambda p: p.set_stimulation_intensity(text), (text,)),
        ("intensity panic", lambda p: p.set_stimulation_intensity(big), (big,)),
        ("duration keyword", lambda p: p.set_session_duration(**named), (half,)),
        ("duration __float__", lambda p: p.set_session_duration(float_like), (float_like,)),
        ("enable", lambda p: p.enable_channel(channel), (channel,)),
        ("enable refused", lambda p: p.enable_channel(member), (member,)),
        ("amplitude", lambda p: p.set_amplitude_source(member, index_like, True), (member, index_like)),
        ("amplitude overflow", lambda p: p.set_amplitude_source(member, big), (member, big)),
        ("modulation refused", lambda p: p.set_modulation_source(channel, 1, text), (channel, text)),
        ("constant", lambda p: p.add_constant_signal(half), (half,)),
        ("sine", lambda p: p.add_sine_signal(half, half, depth=half), (half,)),
        ("sine refused", lambda p: p.add_sine_signal(half, half, text), (half, text)),
        ("ramp", lambda p: p.add_ramp_signal(half, float_like, half), (half, float_like)),
        ("mixed", lambda p: p.add_mixed_signal(index_like, 1), (index_like,)),
        ("mixed overflow", lambda p: p.add_mixed_signal(big, 1), (big,)),
        ("binding error", lambda p: p.add_mixed_signal(1, 2, bogus=text), (text,)),
        ("num samples", lambda p: p.get_num_samples(), ()),
        ("sampling rate", lambda p: p.get_sampling_rate(), ()),
        ("str", lambda p: str(p), ()),
        ("save refused", lambda p: p.save(text), (text,)),
        ("new protocol dropped", lambda p: Protocol(), ()),
    ]
    if np is not None:
        rows += [
            ("arbitrary", lambda p: p.add_arbitrary_signal(samples), (samples,)),
            ("arbitrary refused", lambda p: p.add_arbitrary_signal(bad_samples), (bad_samples,)),
            ("arbitrary wrong type", lambda p: p.add_arbitrary_signal(text), (text,)),
        ]
    return rows


def _numpy_or_none():
    try:
        import numpy
    except ImportError:
        return None
    return numpy


SCENARIOS = scenarios(_numpy_or_none())


def run_quietly(call, protocol):
    try:
        call(protocol)
    except BaseException:  # noqa: BLE001 - failing calls are part of the load
        pass


@pytest.mark.parametrize("name, call, arguments", SCENARIOS, ids=[s[0] for s in SCENARIOS])
def test_no_leak(name, call, arguments, capfd):
    protocols = fresh_after(1000)
    for _ in range(200):  # warm-up: caches, interned names, NumPy's import
        run_quietly(call, protocols())
    gc.collect()
    counts = [sys.getrefcount(a) for a in arguments]
    class_counts = [sys.getrefcount(c) for c in (Protocol, Coil, Channel)]
    rss = resident_bytes()
    for _ in range(CALLS):
        run_quietly(call, protocols())
    gc.collect()
    grown = resident_bytes() - rss
    capfd.readouterr()  # drop the panic diagnostics (reading them costs memory of its own)
    assert [sys.getrefcount(a) for a in arguments] == counts
    assert [sys.getrefcount(c) for c in (Protocol, Coil, Channel)] == class_counts
    assert grown < RSS_SLACK


def test_saving_does_not_leak(tmp_path, capfd):
    # Successful saves sync the file to disk, so they are fewer.
    p = Protocol()
    p.add_constant_signal(0.5)
    good = str(tmp_path / "leak.vesk")
    bad = str(tmp_path / "missing" / "leak.vesk")
    for _ in range(20):
        p.save(good)
    counts = (sys.getrefcount(good), sys.getrefcount(bad))
    rss = resident_bytes()
    for i in range(CALLS // 2):
        if i % 250 == 0:
            p.save(good)
        try:
            p.save(bad)
        except BaseException:  # noqa: BLE001
            pass
    grown = resident_bytes() - rss
    capfd.readouterr()
    assert (sys.getrefcount(good), sys.getrefcount(bad)) == counts
    assert grown < RSS_SLACK

"""A workload for many threads at once, whose every result is independent of
how the threads interleave: run with "threads" and with "serial", it must
give the same results. Each run is meant for a fresh interpreter, so that
the module's lazily made state (the panic type, interned keyword names,
NumPy's table) is first made while the threads race for it.

    python thread_stress.py threads|serial DIRECTORY ROUNDS   # prints the results as JSON
"""

from __future__ import annotations

import hashlib
import json
import sys
import threading
from pathlib import Path

import numpy as np

import revevu
import vesk
from revevu import Channel, Coil, Protocol

THREADS = 8
CHANNELS = (Channel.A, Channel.B)
COILS = (Coil.A1, Coil.A2, Coil.B1, Coil.B2)


def run_all(mode: str, work, count: int) -> list:
    """work(n) for n in range(count): each in a thread of its own, started
    together at a barrier, or one after another; results by n."""
    results: list = [None] * count
    if mode == "serial":
        return [work(n) for n in range(count)]
    barrier = threading.Barrier(count)

    def body(n):
        barrier.wait()
        try:
            results[n] = work(n)
        except BaseException as error:  # a result like any other: the serial run has none
            results[n] = f"raised {type(error).__name__}: {error}"

    threads = [threading.Thread(target=body, args=(n,)) for n in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return results


def own_protocol(n: int, round_: int, directory: Path) -> dict:
    """Every kind of call on a protocol of this thread's own, the enumeration
    members shared with all the others; the first calls are those that make
    state on first use (a panic, keywords, NumPy)."""
    p = Protocol()
    panics = []
    for bad in (2.0, -1.0):
        try:
            p.set_stimulation_intensity(bad)
        except BaseException as error:
            panics.append([type(error).__qualname__, str(error), id(type(error))])
    p.set_session_duration(0.01)
    p.add_sine_signal(amplitude=0.5, frequency=n + 1.0, phase=0.25)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, 50) ** (n % 3 + 1))
    for k in range(20):
        p.enable_channel(CHANNELS[(n + k) % 2])
        p.set_amplitude_source(COILS[(n + k) % 4], k % 2, external=bool(k % 3))
        p.set_modulation_source(channel=CHANNELS[k % 2], index=0)
        p.add_ramp_signal(0.5, 0.001 * (k + 1), 0.002)
    p.add_mixed_signal(0, 1)
    path = directory / f"own-{round_}-{n}.vesk"
    p.save(str(path))
    data = path.read_bytes()
    return {"panics": panics, "sha256": hashlib.sha256(data).hexdigest(), "text": str(p), "data": data}


def shared_protocol(mode: str) -> dict:
    """Threads adding signals to one protocol, and reading it meanwhile: every
    call succeeds, positions are unique, and the record equals the same
    signals added in the order of their positions."""
    shared = Protocol()
    shared.set_session_duration(0.01)

    def work(n):
        added = []
        for k in range(200):
            tag = float(n * 1000 + k)
            if k % 2:
                added.append((shared.add_constant_signal(tag), "constant", tag))
            else:
                added.append((shared.add_sine_signal(tag, frequency=2.0), "sine", tag))
            if k % 16 == 0:
                assert shared.get_num_samples() == 50 and shared.get_sampling_rate() == 5000.0
                str(shared)
        return added

    results = run_all(mode, work, THREADS)
    added = sorted(a for r in results if isinstance(r, list) for a in r)
    replay = Protocol()
    replay.set_session_duration(0.01)
    for position, kind, tag in added:
        assert position == (replay.add_constant_signal(tag) if kind == "constant" else replay.add_sine_signal(tag, 2.0))
    errors = [r for r in results if not isinstance(r, list)]
    return {"signals": sorted((kind, tag) for _, kind, tag in added), "positions": [a[0] for a in added],
            "equals_replay": str(shared) == str(replay), "errors": errors}


def read_file(loaded) -> dict:
    settings = loaded.settings
    arbitrary = [s for s in settings.signals if s.kind == "Arbitrary"]
    return {
        "repr": repr(loaded),
        "signals": len(settings.signals),
        "samples": [int(s.samples.sum()) for s in arbitrary],
        "values": [float(s.values().sum()) for s in arbitrary],
        "script": hashlib.sha256(loaded.script().encode()).hexdigest(),
        "rebuilt": str(loaded.to_protocol()),
    }


def loaded_files(mode: str, data: list[bytes]) -> list:
    """Threads reading one loaded file, and threads each holding only an
    object the file handed out while another drops the file's last other
    reference."""
    one = vesk.loads(data[0], name="one.vesk")
    read_together = run_all(mode, lambda n: read_file(one), THREADS)
    holder = [vesk.loads(d) for d in data]
    views = [(f.settings.signals[1].samples, f.settings.signals[1]) for f in holder]

    def work(n):
        if n % 2 == 0:
            holder[n] = None  # with `views` this drops every reference but theirs
            return None
        samples, signal = views[n - 1]
        views[n - 1] = None
        return (int(samples.sum()), float(signal.values().sum()), repr(signal)[:60])

    dropped = run_all(mode, work, len(data) - len(data) % 2)
    return [read_together, dropped]


def run(mode: str, directory: Path, rounds: int) -> dict:
    results: dict = {"own": [], "shared": [], "files": []}
    for round_ in range(rounds):
        own = run_all(mode, lambda n: own_protocol(n, round_, directory), THREADS)
        data = [o.pop("data") for o in own if isinstance(o, dict)]
        # One panic type, whichever thread made it first.
        types = {p.pop() for o in own if isinstance(o, dict) for p in o["panics"]}
        results["own"].append({"threads": own, "panic types": len(types)})
        results["shared"].append(shared_protocol(mode))
        results["files"].append(loaded_files(mode, data))
    return results


if __name__ == "__main__":
    mode, directory, rounds = sys.argv[1], Path(sys.argv[2]), int(sys.argv[3])
    print(json.dumps(run(mode, directory, rounds), sort_keys=True))

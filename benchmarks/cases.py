"""The measurements behind benchmarks/run.py. Each case runs in a process of
its own, started by run.py with the allocator set up for fresh or reused
memory, and prints its result as one JSON object:

    python benchmarks/cases.py CASE [--repeat N]

Timed cases report medians in seconds. A subject and its baseline are timed
in alternation, one call each per round, so that a slow spell of the machine
falls on both; setup and teardown of each call (a new Protocol, freeing the
result) stay outside the timed region.
"""

from __future__ import annotations

import argparse
import gc
import json
import os
import shutil
import statistics
import subprocess
import sys
import sysconfig
import tempfile
import time
from collections.abc import Callable
from pathlib import Path

import numpy as np

import revevu

SAMPLE_RATE = 5000
LONGEST_SAMPLES = 9_000_000  # 1800 s
DEFAULT_SAMPLES = 300_000  # 60 s, the default session
MEMORY_OF_LONGEST_SAMPLES = LONGEST_SAMPLES * 2  # int16 each


def normalised_samples(count: int, layout: str) -> np.ndarray:
    """`count` float64 values in [0, 1]: contiguous, or every second element
    of an array twice as long."""
    rng = np.random.default_rng(20240601)
    if layout == "contiguous":
        return rng.random(count)
    return rng.random(2 * count)[::2]


def protocol_for(count: int) -> revevu.Protocol:
    protocol = revevu.Protocol()
    protocol.set_session_duration(count / SAMPLE_RATE)
    assert protocol.get_num_samples() == count
    return protocol


def protocol_with_signal(count: int) -> revevu.Protocol:
    protocol = protocol_for(count)
    protocol.add_arbitrary_signal(normalised_samples(count, "contiguous"))
    return protocol


Setup = Callable[[], object]
Timed = Callable[[object], object]


def time_alternating(cases: dict[str, tuple[Setup, Timed]], repeat: int) -> dict[str, float]:
    """Median seconds of each timed call. Each round runs every case once,
    in an order that rotates from round to round; one untimed warm-up round
    comes first. The result of a call is freed outside the timed region."""
    names = list(cases)
    times: dict[str, list[float]] = {name: [] for name in names}
    for round_index in range(repeat + 1):
        shift = round_index % len(names)
        for name in names[shift:] + names[:shift]:
            setup, timed = cases[name]
            state = setup()
            gc.collect()
            start = time.perf_counter()
            result = timed(state)
            elapsed = time.perf_counter() - start
            del result, state
            if round_index > 0:
                times[name].append(elapsed)
    return {name: statistics.median(values) for name, values in times.items()}


# ---- add_arbitrary_signal -----------------------------------------------------


def numpy_pipeline(samples: np.ndarray) -> np.ndarray:
    """What a script would write for the same stored values without the
    module: both range checks, scaling by 32767, rounding half away from zero
    (floor(y + 0.5) for y >= 0) and the cast, in place where NumPy allows."""
    if not (samples >= 0.0).all():
        raise ValueError("sample below 0.0")
    if not (samples <= 1.0).all():
        raise ValueError("sample above 1.0")
    scaled = samples * 32767.0
    scaled += 0.5
    np.floor(scaled, out=scaled)
    return scaled.astype(np.int16)


def case_arbitrary(layout: str, repeat: int) -> dict:
    samples = normalised_samples(LONGEST_SAMPLES, layout)
    check_pipeline_matches_module(layout)
    return time_alternating(
        {
            "add_arbitrary_signal": (
                lambda: protocol_for(LONGEST_SAMPLES),
                lambda protocol: protocol.add_arbitrary_signal(samples),
            ),
            "astype": (lambda: None, lambda _: samples.astype(np.int16)),
            "numpy_pipeline": (lambda: None, lambda _: numpy_pipeline(samples)),
        },
        repeat,
    )


def check_pipeline_matches_module(layout: str) -> None:
    """The baseline pipeline must store what the module stores: compared
    through the text form on a short signal."""
    count = 20_000
    samples = normalised_samples(count, layout)
    protocol = protocol_for(count)
    protocol.add_arbitrary_signal(samples)
    text = str(protocol)
    start = text.index("samples: [") + len("samples: [")
    stored = [int(line.strip().rstrip(",")) for line in text[start:].split("]", 1)[0].split()]
    if stored != numpy_pipeline(samples).tolist():
        raise SystemExit("the NumPy pipeline does not store the module's values")


# ---- save ---------------------------------------------------------------------


def write_durably(path: str, data: bytes) -> None:
    """The steps save() takes to replace a file, from Python: a temporary file
    beside the target, every byte written, fsync, close, rename, and an fsync
    of the directory so that the rename itself is durable."""
    temporary = path + ".tmp"
    fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_TRUNC | os.O_CLOEXEC, 0o666)
    try:
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view) :]
        os.fsync(fd)
    finally:
        os.close(fd)
    os.rename(temporary, path)
    directory = os.open(os.path.dirname(path) or ".", os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(directory)
    finally:
        os.close(directory)


def case_save(repeat: int) -> dict:
    protocol = protocol_with_signal(LONGEST_SAMPLES)
    with tempfile.TemporaryDirectory(prefix="revevu-bench-") as folder:
        module_path = os.path.join(folder, "module.vesk")
        python_path = os.path.join(folder, "python.bin")
        protocol.save(module_path)
        size = os.path.getsize(module_path)
        data = Path(module_path).read_bytes()  # same bytes, made before timing
        medians = time_alternating(
            {
                "save": (lambda: None, lambda _: protocol.save(module_path)),
                "python_write": (lambda: None, lambda _: write_durably(python_path, data)),
            },
            repeat,
        )
    return {**medians, "file_bytes": size}


# ---- str() --------------------------------------------------------------------


def case_str(count: int, repeat: int) -> dict:
    protocol = protocol_with_signal(count)
    length = len(str(protocol))
    cases: dict[str, tuple[Setup, Timed]] = {"str": (lambda: None, lambda _: str(protocol))}
    if count == LONGEST_SAMPLES:
        cases["fresh_str"] = (lambda: None, lambda _: bytes(length).decode("ascii"))
    return {**time_alternating(cases, repeat), "text_bytes": length}


# ---- Per-call cost ------------------------------------------------------------

CALLS_PER_STATEMENT = 20  # unrolled, so that the loop's own cost is small beside a call
TARGETS_PER_ROUND = 50
ROUNDS_PER_REPEAT = 5  # rounds are short: more of them make the medians steady

Target = Callable[[], Callable]  # makes a new bound method: of a new list, a new Protocol


def per_call_seconds(
    targets: dict[str, Target], argument: object, repeat: int, calls_per_target: int
) -> dict[str, float]:
    """Median seconds of one call f(argument), or f() when `argument` is None,
    for each kind of target. Each round times every kind in turn (the order
    rotates): 50 new targets, made outside the timed region, and
    `calls_per_target` calls on each, 20 to a loop step."""
    call = "f(a); " if argument is not None else "f(); "
    source = "def loop(f, a, n):\n    for _ in range(n):\n        " + call * CALLS_PER_STATEMENT
    namespace: dict = {}
    exec(source, namespace)  # noqa: S102 - a fixed statement, unrolled
    loop = namespace["loop"]
    steps = calls_per_target // CALLS_PER_STATEMENT
    names = list(targets)
    per_call: dict[str, list[float]] = {name: [] for name in names}
    for round_index in range(ROUNDS_PER_REPEAT * repeat + 1):
        shift = round_index % len(names)
        for name in names[shift:] + names[:shift]:
            made = [targets[name]() for _ in range(TARGETS_PER_ROUND)]
            gc.collect()
            elapsed = 0.0
            for target in made:
                start = time.perf_counter()
                loop(target, argument, steps)
                elapsed += time.perf_counter() - start
            if round_index > 0:
                per_call[name].append(elapsed / (TARGETS_PER_ROUND * steps * CALLS_PER_STATEMENT))
    return {name: statistics.median(values) for name, values in per_call.items()}


def case_per_call(repeat: int) -> dict:
    """Calls on 200-signal protocols, whose positions are all among the ints
    the interpreter keeps ready (up to 256), and on 1000-signal ones, where
    most positions are new int objects."""
    probe = revevu.Protocol()
    result = {}
    for calls in (200, 1000):
        medians = per_call_seconds(
            {
                "add_constant_signal": lambda: revevu.Protocol().add_constant_signal,
                "list_append": lambda: [].append,
            },
            0.5, repeat, calls,
        )
        result.update({f"{name}_{calls}": value for name, value in medians.items()})
    result.update(
        per_call_seconds(
            {
                "get_sampling_rate": lambda: probe.get_sampling_rate,
                "int_bit_length": lambda: (1).bit_length,
            },
            None, repeat, 1000,
        )
    )
    result.update(per_call_seconds({"Protocol": lambda: revevu.Protocol}, None, repeat, 1000))
    return result


# ---- The vesk command ---------------------------------------------------------


def vesk_command() -> str:
    """VESK_BIN (run.py sets it to the benchmark build's vesk), else the vesk
    installed beside this interpreter, else the first on PATH."""
    explicit = os.environ.get("VESK_BIN")
    if explicit:
        return explicit
    beside = Path(sysconfig.get_path("scripts")) / "vesk"
    found = str(beside) if beside.exists() else shutil.which("vesk")
    if found is None:
        raise SystemExit("no vesk command: build it or set VESK_BIN")
    return found


def run_vesk(*args: str, status: int = 0) -> None:
    completed = subprocess.run([vesk_command(), *args], capture_output=True, check=False)
    if completed.returncode != status:
        raise SystemExit(f"vesk {args[0]} exited with {completed.returncode}: {completed.stderr}")


def case_vesk(repeat: int) -> dict:
    """check of a 9M-sample file; diff of it against a copy that differs in
    one sample; plot of it (its signal drives all six inputs); script of it
    (the script and its 18 MB .npz of samples); export of its samples as CSV
    and as an NPY array."""
    samples = normalised_samples(LONGEST_SAMPLES, "contiguous")
    with tempfile.TemporaryDirectory(prefix="revevu-bench-") as folder:
        a, b, svg, script, csv = (
            os.path.join(folder, name) for name in ("a.vesk", "b.vesk", "a.svg", "a.py", "a.csv")
        )
        changed = samples.copy()
        changed[LONGEST_SAMPLES // 2] = 1.0 - changed[LONGEST_SAMPLES // 2]
        for path, values in ((a, samples), (b, changed)):
            protocol = protocol_for(LONGEST_SAMPLES)
            protocol.add_arbitrary_signal(values)
            protocol.save(path)
        medians = time_alternating(
            {
                "check": (lambda: None, lambda _: run_vesk("check", a)),
                "diff": (lambda: None, lambda _: run_vesk("diff", a, b, status=1)),
                "plot": (lambda: None, lambda _: run_vesk("plot", a, "-o", svg)),
                "script": (lambda: None, lambda _: run_vesk("script", a, "-o", script)),
                "export": (lambda: None, lambda _: run_vesk("export", a, "--signal", "0", "-o", csv)),
            },
            repeat,
        )
        return {**medians, "file_bytes": os.path.getsize(a), "svg_bytes": os.path.getsize(svg)}


# ---- Peak resident growth -----------------------------------------------------


def status_kib(field: str) -> int:
    for line in Path("/proc/self/status").read_text().splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1])
    raise RuntimeError(f"{field} missing from /proc/self/status")


def resident_growth(operation: Callable[[], object]) -> int:
    """Bytes by which the peak resident size grows over `operation()`,
    measured from the resident size just before it (the peak is reset first,
    so that setup does not hide the operation's own peak)."""
    gc.collect()
    Path("/proc/self/clear_refs").write_text("5")  # resets VmHWM to VmRSS
    before = status_kib("VmRSS")
    result = operation()
    peak = status_kib("VmHWM")
    del result
    return (peak - before) * 1024


def case_memory(operation: str) -> dict:
    if operation == "add_arbitrary_signal":
        samples = normalised_samples(LONGEST_SAMPLES, "contiguous")
        protocol = protocol_for(LONGEST_SAMPLES)
        return {"growth": resident_growth(lambda: protocol.add_arbitrary_signal(samples))}
    protocol = protocol_with_signal(LONGEST_SAMPLES)
    if operation == "str":
        text_bytes = len(str(protocol))
        return {"growth": resident_growth(lambda: str(protocol)), "output_bytes": text_bytes}
    with tempfile.TemporaryDirectory(prefix="revevu-bench-") as folder:
        path = os.path.join(folder, "memory.vesk")
        growth = resident_growth(lambda: protocol.save(path))
        return {"growth": growth, "output_bytes": os.path.getsize(path)}


# ---- vesk, whole processes ----------------------------------------------------


def saved_longest(folder: str) -> str:
    path = os.path.join(folder, "longest.vesk")
    protocol_with_signal(LONGEST_SAMPLES).save(path)
    return path


def run_quietly(*args: str) -> None:
    subprocess.run(args, stdout=subprocess.DEVNULL, check=True)


def case_vesk_read(repeat: int) -> dict:
    """Wall time of whole `vesk check` and `vesk summary` processes on a
    9M-sample file, from start to exit (the file in the page cache)."""
    vesk = vesk_command()
    with tempfile.TemporaryDirectory(prefix="revevu-bench-") as folder:
        path = saved_longest(folder)
        medians = time_alternating(
            {
                command: (lambda: None, lambda _, command=command: run_quietly(vesk, command, path))
                for command in ("check", "summary")
            },
            repeat,
        )
        return {**medians, "file_bytes": os.path.getsize(path)}


# A child's ru_maxrss also counts the memory it had before its exec: for a
# child that the interpreter spawns (vfork), that is the interpreter's own peak.
# So a small interpreter forks the command and reports its children's peak.
PEAK_OF_COMMAND = """
import os, resource, sys
pid = os.fork()
if pid == 0:
    os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
    os.execv(sys.argv[1], sys.argv[1:])
_, status = os.waitpid(pid, 0)
if os.waitstatus_to_exitcode(status) != 0:
    sys.exit(f"{sys.argv[1:]} failed")
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024)
"""


def peak_rss(*args: str) -> int:
    """Peak resident bytes of a whole process, its output thrown away."""
    completed = subprocess.run([sys.executable, "-S", "-c", PEAK_OF_COMMAND, *args],
                               capture_output=True, text=True, check=True)
    return int(completed.stdout)


def case_vesk_show_memory() -> dict:
    """Peak resident size of `vesk show` and `vesk show --json` on a
    9M-sample file, beside the file's size and the decoded record's (its
    samples, two bytes each)."""
    vesk = vesk_command()
    with tempfile.TemporaryDirectory(prefix="revevu-bench-") as folder:
        path = saved_longest(folder)
        return {
            "text_peak": peak_rss(vesk, "show", path),
            "json_peak": peak_rss(vesk, "show", "--json", path),
            "file_bytes": os.path.getsize(path),
            "record_bytes": MEMORY_OF_LONGEST_SAMPLES,
        }


# ---- The vesk module ------------------------------------------------------------


def read_whole(path: str) -> bytes:
    with open(path, "rb") as file:
        return file.read()


def case_vesk_load(repeat: int) -> dict:
    """vesk.load of a 9M-sample file against reading its bytes in Python,
    the file in the page cache."""
    import vesk  # noqa: PLC0415 - after revevu, as a script would

    with tempfile.TemporaryDirectory(prefix="revevu-bench-") as folder:
        path = saved_longest(folder)
        medians = time_alternating(
            {
                "load": (lambda: None, lambda _: vesk.load(path)),
                "read": (lambda: None, lambda _: read_whole(path)),
            },
            repeat,
        )
        return {**medians, "file_bytes": os.path.getsize(path)}


def case_vesk_load_memory() -> dict:
    """Peak resident growth over vesk.load of a 9M-sample file: the file is
    decoded (2 bytes a sample) through a window of a megabyte as it is read."""
    import vesk  # noqa: PLC0415

    with tempfile.TemporaryDirectory(prefix="revevu-bench-") as folder:
        path = saved_longest(folder)
        return {
            "growth": resident_growth(lambda: vesk.load(path)),
            "file_bytes": os.path.getsize(path),
            "record_bytes": MEMORY_OF_LONGEST_SAMPLES,
        }


def case_vesk_to_protocol(repeat: int) -> dict:
    """to_protocol() of a loaded 9M-sample file against add_arbitrary_signal
    of a float64 array of the same length on a protocol of that length: the
    work to_protocol() adds is the plan and one pass that makes its samples'
    float64 array."""
    import vesk  # noqa: PLC0415

    samples = normalised_samples(LONGEST_SAMPLES, "contiguous")
    with tempfile.TemporaryDirectory(prefix="revevu-bench-") as folder:
        loaded = vesk.load(saved_longest(folder))
    return time_alternating(
        {
            "to_protocol": (lambda: None, lambda _: loaded.to_protocol()),
            "add_arbitrary_signal": (
                lambda: protocol_for(LONGEST_SAMPLES),
                lambda protocol: protocol.add_arbitrary_signal(samples),
            ),
        },
        repeat,
    )


def case_vesk_values(repeat: int) -> dict:
    """values() and times() of a loaded 9M-sample signal against the NumPy
    expressions that make the same arrays (a new float64 array each)."""
    import vesk  # noqa: PLC0415

    with tempfile.TemporaryDirectory(prefix="revevu-bench-") as folder:
        loaded = vesk.load(saved_longest(folder))
    (signal,) = [s for s in loaded.settings.signals if s.kind == "Arbitrary"]
    samples = signal.samples
    if not (np.array_equal(signal.values(), samples / 32767.0)
            and np.array_equal(signal.times(), np.arange(samples.size) / 5000.0)):
        raise SystemExit("values() or times() differs from its NumPy expression")
    return time_alternating(
        {
            "values": (lambda: None, lambda _: signal.values()),
            "numpy_divide": (lambda: None, lambda _: samples / 32767.0),
            "times": (lambda: None, lambda _: signal.times()),
            "numpy_arange": (lambda: None, lambda _: np.arange(samples.size) / 5000.0),
        },
        repeat,
    )


def case_vesk_window(repeat: int) -> dict:
    """svg() of a loaded 1800 s file whose six inputs each show their own
    9M-sample signal: a window of one minute (60 to 120 s) against the whole
    session, and one of a second, whose samples cost next to nothing: what is
    left is the SVG text of six 930-column bands, which every window writes."""
    import vesk  # noqa: PLC0415
    from revevu import Channel, Coil  # noqa: PLC0415

    samples = normalised_samples(LONGEST_SAMPLES, "contiguous")
    protocol = protocol_for(LONGEST_SAMPLES)
    for shift in range(6):
        protocol.add_arbitrary_signal(np.roll(samples, 1000 * shift))
    for position, coil in enumerate([Coil.A1, Coil.A2, Coil.B1, Coil.B2]):
        protocol.set_amplitude_source(coil, position)
    protocol.enable_channel(Channel.B)
    protocol.set_modulation_source(Channel.A, 4)
    protocol.set_modulation_source(Channel.B, 5)
    with tempfile.TemporaryDirectory(prefix="revevu-bench-") as folder:
        path = os.path.join(folder, "six.vesk")
        protocol.save(path)
        loaded = vesk.load(path)
    return time_alternating(
        {
            "whole": (lambda: None, lambda _: loaded.svg()),
            "minute": (lambda: None, lambda _: loaded.svg(60.0, 120.0)),
            "second": (lambda: None, lambda _: loaded.svg(60.0, 61.0)),
        },
        repeat,
    )


CASES: dict[str, Callable[[int], dict]] = {
    "arbitrary_contiguous": lambda repeat: case_arbitrary("contiguous", repeat),
    "arbitrary_strided": lambda repeat: case_arbitrary("strided", repeat),
    "save": case_save,
    "str_default": lambda repeat: case_str(DEFAULT_SAMPLES, repeat),
    "str_longest": lambda repeat: case_str(LONGEST_SAMPLES, repeat),
    "per_call": case_per_call,
    "memory_add_arbitrary_signal": lambda _: case_memory("add_arbitrary_signal"),
    "memory_str": lambda _: case_memory("str"),
    "memory_save": lambda _: case_memory("save"),
    "vesk": case_vesk,
    "vesk_read": case_vesk_read,
    "vesk_show_memory": lambda _: case_vesk_show_memory(),
    "vesk_load": case_vesk_load,
    "vesk_load_memory": lambda _: case_vesk_load_memory(),
    "vesk_to_protocol": case_vesk_to_protocol,
    "vesk_values": case_vesk_values,
    "vesk_window": case_vesk_window,
}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--repeat", type=int, default=7)
    arguments = parser.parse_args()
    json.dump(CASES[arguments.case](arguments.repeat), sys.stdout)
    print()


if __name__ == "__main__":
    main()

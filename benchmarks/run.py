"""Benchmarks of the revevu module's hot paths, printed as one table.

    python benchmarks/run.py [--repeat N] [--only TEXT] [--cpp-build DIR] [--vesk PATH]
    python benchmarks/run.py --beside PYTHON [--rounds N] [--beside-cpp-build DIR] ...

Every figure is a ratio against a baseline timed in the same process and the
same run (medians of --repeat rounds), a throughput, or a memory growth; see
benchmarks/README.md. Each case runs in a fresh interpreter whose allocator is
set up so that large buffers are either fresh (new pages, first touch pays
the page faults) or reused (pages already resident from an earlier round).
With --beside, every figure is also measured in another interpreter, one with
another build installed, in the same run, and printed beside this one's.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import statistics
import subprocess
import sys
from collections.abc import Callable
from dataclasses import dataclass
from pathlib import Path

HERE = Path(__file__).resolve().parent
REPO = HERE.parent
MB = 1_000_000

# glibc's allocator, set through its environment variables. Fresh: every block
# of 128 KiB or more is a new mapping, returned to the system when freed.
# Reused: no mappings at all and no trimming, so that freed memory stays
# resident and the next round's buffers land on pages touched before.
MEMORY_MODES = {
    "fresh": {"MALLOC_MMAP_THRESHOLD_": str(128 * 1024)},
    "reused": {"MALLOC_MMAP_MAX_": "0", "MALLOC_TRIM_THRESHOLD_": str(1 << 50)},
    "new process": {},  # the default allocator
}


@dataclass(frozen=True)
class Figure:
    group: str
    name: str
    case: str
    memory: str
    target: str | Callable[[dict], str]  # text, or made from the case's result
    value: Callable[[dict], float]  # from the case's result
    passes: Callable[[dict, float], bool] | None  # None: printed, no target
    unit: str = "x"
    higher_is_better: bool = False  # a throughput or a speed-up


def ratio(subject: str, baseline: str) -> Callable[[dict], float]:
    return lambda result: result[subject] / result[baseline]


def at_most(limit: float) -> Callable[[dict, float], bool]:
    return lambda _, value: value <= limit


def at_least(limit: float) -> Callable[[dict, float], bool]:
    return lambda _, value: value >= limit


def arbitrary_figures() -> list[Figure]:
    figures = []
    for layout in ("contiguous", "strided"):
        for memory in ("fresh", "reused"):
            figures += [
                Figure("1", f"add_arbitrary_signal 9M {layout} / a.astype(int16)",
                       f"arbitrary_{layout}", memory, "<= 1.3x",
                       ratio("add_arbitrary_signal", "astype"), at_most(1.3)),
                Figure("1", f"NumPy pipeline / add_arbitrary_signal, 9M {layout}",
                       f"arbitrary_{layout}", memory, ">= 4x (speed-up)",
                       ratio("numpy_pipeline", "add_arbitrary_signal"), at_least(4.0),
                       higher_is_better=True),
            ]
    return figures


def throughput(key: str, bytes_key: str) -> Callable[[dict], float]:
    return lambda result: result[bytes_key] / result[key] / 1e9


FIGURES: list[Figure] = [
    *arbitrary_figures(),
    *(
        Figure("2", "save 9M / Python write+fsync+rename of as many bytes", "save", memory,
               "<= 1.5x", ratio("save", "python_write"), at_most(1.5))
        for memory in ("fresh", "reused")
    ),
    *(
        Figure("3", "str() 300k samples, output text", "str_default", memory, ">= 1 GB/s",
               throughput("str", "text_bytes"), at_least(1.0), unit=" GB/s",
               higher_is_better=True)
        for memory in ("fresh", "reused")
    ),
    *(
        Figure("3", 'str() 9M / bytes(n).decode("ascii") of its length', "str_longest", memory,
               "<= 1.5x", ratio("str", "fresh_str"), at_most(1.5))
        for memory in ("fresh", "reused")
    ),
    Figure("4", "add_constant_signal(0.5) / list.append(0.5), 200 a protocol", "per_call",
           "reused", "<= 2x", ratio("add_constant_signal_200", "list_append_200"), at_most(2.0)),
    Figure("4", "add_constant_signal(0.5) / list.append(0.5), 1000 a protocol", "per_call",
           "reused", "(printed)", ratio("add_constant_signal_1000", "list_append_1000"), None),
    Figure("4", "get_sampling_rate() / (1).bit_length()", "per_call", "reused", "<= 1.5x",
           ratio("get_sampling_rate", "int_bit_length"), at_most(1.5)),
    Figure("4", "Protocol() construction", "per_call", "reused", "(printed)",
           lambda result: result["Protocol"] * 1e6, None, unit=" us"),
    Figure("6", "peak RSS growth, add_arbitrary_signal 9M", "memory_add_arbitrary_signal",
           "new process", "<= 19 MB", lambda result: result["growth"] / MB, at_most(19.0),
           unit=" MB"),
    Figure("6", "peak RSS growth / output size, str() 9M", "memory_str", "new process", "<= 2x",
           lambda result: result["growth"] / result["output_bytes"], at_most(2.0)),
    Figure("6", "peak RSS growth, save 9M", "memory_save", "new process",
           lambda result: f"<= file + 1 = {result['output_bytes'] / MB + 1:.2f} MB",
           lambda result: result["growth"] / MB,
           lambda result, value: value <= result["output_bytes"] / MB + 1.0, unit=" MB"),
    *(
        figure
        for memory in ("fresh", "reused")
        for figure in (
            Figure("8", "vesk diff of two 9M files one sample apart / vesk check of one", "vesk",
                   memory, "<= 2.5x", ratio("diff", "check"), at_most(2.5)),
            Figure("8", "vesk plot 9M / vesk check of it", "vesk", memory, "<= 3x",
                   ratio("plot", "check"), at_most(3.0)),
            Figure("8", "vesk script 9M (script and .npz) / vesk check of it", "vesk", memory,
                   "<= 3x", ratio("script", "check"), at_most(3.0)),
            Figure("8", "vesk export 9M as CSV (270 MB) / vesk check of it", "vesk", memory,
                   "<= 75x", ratio("export", "check"), at_most(75.0)),
        )
    ),
    Figure("8", "vesk plot 9M, SVG size", "vesk", "fresh", "<= 1 MB",
           lambda result: result["svg_bytes"] / MB, at_most(1.0), unit=" MB"),
]


def vesk_figures() -> list[Figure]:
    figures = [
        Figure("7", f"vesk {command} of a 9M-sample file, whole process, file read",
               "vesk_read", "new process", ">= 0.5 GB/s",
               throughput(command, "file_bytes"), at_least(0.5), unit=" GB/s",
               higher_is_better=True)
        for command in ("check", "summary")
    ]
    for form, key in (("text", "text_peak"), ("--json", "json_peak")):
        figures.append(
            Figure("7", f"vesk show {form} 9M, peak RSS (output thrown away)", "vesk_show_memory",
                   "new process",
                   lambda result: "<= file + record + 8 = "
                   f"{(result['file_bytes'] + result['record_bytes']) / MB + 8:.1f} MB",
                   lambda result, key=key: result[key] / MB,
                   lambda result, value: value
                   <= (result["file_bytes"] + result["record_bytes"]) / MB + 8.0,
                   unit=" MB"))
    return figures


FIGURES += vesk_figures()

# Group 9: the vesk module.
FIGURES += [
    *(
        Figure("9", "vesk.load 9M / open(path, 'rb').read() of the file", "vesk_load", memory,
               "<= 3x", ratio("load", "read"), at_most(3.0))
        for memory in ("fresh", "reused")
    ),
    Figure("9", "vesk.load 9M, peak RSS growth", "vesk_load_memory", "new process",
           lambda result: "<= file + record + 16 = "
           f"{(result['file_bytes'] + result['record_bytes']) / MB + 16:.1f} MB",
           lambda result: result["growth"] / MB,
           lambda result, value: value
           <= (result["file_bytes"] + result["record_bytes"]) / MB + 16.0,
           unit=" MB"),
]

# Group 9, continued: a loaded file back into revevu.
FIGURES += [
    Figure("9", "to_protocol() of a loaded 9M file / add_arbitrary_signal 9M",
           "vesk_to_protocol", memory, "<= 3x", ratio("to_protocol", "add_arbitrary_signal"),
           at_most(3.0))
    for memory in ("fresh", "reused")
]

# Group 9, continued: samples in physical units.
FIGURES += [
    figure
    for memory in ("fresh", "reused")
    for figure in (
        Figure("9", "values() of a 9M signal / samples / 32767.0 in NumPy", "vesk_values", memory,
               "<= 1x", ratio("values", "numpy_divide"), at_most(1.0)),
        Figure("9", "times() of a 9M signal / np.arange(n) / 5000.0", "vesk_values", memory,
               "<= 1x", ratio("times", "numpy_arange"), at_most(1.0)),
    )
]

# Group 9, continued: a picture of one minute of a 30-minute file.
def less_the_second(subject: str, baseline: str) -> Callable[[dict], float]:
    """The ratio of two windows' times once the 1-second window's is taken
    from both: the work that grows with the samples read."""
    return lambda result: ((result[subject] - result["second"])
                           / (result[baseline] - result["second"]))


FIGURES += [
    figure
    for memory in ("fresh", "reused")
    for figure in (
        Figure("9", "svg() of a 1-minute window / svg() of the whole 1800 s, six 9M signals",
               "vesk_window", memory, "<= 0.1", ratio("minute", "whole"), at_most(0.1)),
        Figure("9", "the same, each less svg() of a 1-second window", "vesk_window", memory,
               "<= 1.5/30", less_the_second("minute", "whole"), at_most(1.5 / 30)),
    )
]

# Group 5: the core library alone, from the Google Benchmark executables.
CPP_BENCHMARKS = [
    ("encoder_bench", "encode_into_reused_buffer/9000000/real_time",
     "encoder, 9M-sample protocol, output", 1.0),
    ("text_form_bench", "text_form_into_reused_buffer/9000000/real_time",
     "text form, 9M-sample protocol, output", 2.0),
    ("decoder_bench", "decode_file_bytes/9000000/real_time",
     "decoder, 9M-sample protocol file, input", 1.0),
    ("decoder_bench", "decode_file_read_in_pieces/9000000/real_time",
     "decoder, the same read through a window, input", 1.0),
    ("json_form_bench", "json_form_into_reused_buffer/9000000/real_time",
     "JSON form, 9M-sample protocol, output", 1.0),
]


def run_case(case: str, memory: str, repeat: int, vesk: Path | None,
             python: str = sys.executable) -> dict:
    env = {**os.environ, **MEMORY_MODES[memory]}
    if vesk is not None:
        env["VESK_BIN"] = str(vesk)
    completed = subprocess.run(
        [python, str(HERE / "cases.py"), case, "--repeat", str(repeat)],
        env=env, capture_output=True, text=True, check=False,
    )
    if completed.returncode != 0:
        raise RuntimeError(f"case {case} ({memory}) failed:\n{completed.stderr}")
    return json.loads(completed.stdout)


def run_cpp(build: Path, executable: str, name: str, repeat: int) -> tuple[float, str] | None:
    """Median output GB/s of one Google Benchmark and its label (the decoder's
    names its sample loop), or None if not built."""
    path = build / "benchmarks" / "cpp" / executable
    if not path.exists():
        return None
    completed = subprocess.run(
        [str(path), f"--benchmark_filter=^{name.split('/')[0]}/9000000",
         f"--benchmark_repetitions={repeat}", "--benchmark_report_aggregates_only=true",
         "--benchmark_format=json"],
        capture_output=True, text=True, check=True,
    )
    for entry in json.loads(completed.stdout)["benchmarks"]:
        if entry["run_name"] == name and entry.get("aggregate_name") == "median":
            return entry["bytes_per_second"] / 1e9, entry.get("label", "")
    raise RuntimeError(f"{name} missing from the output of {executable}")


def compared(row: tuple[str, str, str], unit: str, higher_is_better: bool, this: float,
             beside: float) -> tuple:
    """A row of the --beside table (group, name, memory first): both builds'
    values and beside/this, within 5 % of this build's or better."""
    share = beside / this if this else math.nan
    within = share >= 0.95 if higher_is_better else share <= 1.05
    group, name, memory = row
    return (group, name, f"{this:.2f}{unit}", f"{beside:.2f}{unit}", f"{share:.3f}",
            ">= 0.95" if higher_is_better else "<= 1.05", "pass" if within else "MISS", memory)


def module_file(python: str) -> str:
    return subprocess.run([python, "-c", "import revevu; print(revevu.__file__)"],
                          capture_output=True, text=True, check=True).stdout.strip()


def measure_beside(arguments: argparse.Namespace) -> list[tuple]:
    """Every case in this interpreter and in --beside, --rounds times over the
    whole list, which of the two goes first alternating from case to case and
    from round to round; each build's figure is the median of its rounds'.
    Each interpreter runs its own installed vesk (cases.py finds it)."""
    pythons = (sys.executable, arguments.beside)
    files = [module_file(python) for python in pythons]
    print(f"this: {files[0]}\nbeside: {files[1]}", file=sys.stderr)
    if files[0] == files[1]:
        raise SystemExit("both interpreters import the same revevu")
    builds = (arguments.cpp_build, arguments.beside_cpp_build)
    figures = [figure for figure in FIGURES if arguments.only in figure.name]
    cpp = [entry for entry in CPP_BENCHMARKS
           if arguments.beside_cpp_build is not None and arguments.only in entry[2]]
    work = [*dict.fromkeys((figure.case, figure.memory) for figure in figures), *cpp]
    values: dict[tuple, list] = {}  # (work item, build): a result a round
    for round_index in range(arguments.rounds):
        for index, item in enumerate(work):
            for build in (0, 1) if (round_index + index) % 2 == 0 else (1, 0):
                print(f"round {round_index + 1}: {item[0]} ({'this beside'.split()[build]}) ...",
                      file=sys.stderr)
                if len(item) == 2:  # a Python case and its memory mode
                    value = run_case(*item, arguments.repeat, None, pythons[build])
                else:  # a C++ benchmark
                    value = run_cpp(builds[build], item[0], item[1], arguments.repeat)
                values.setdefault((item, build), []).append(value)
    rows = [
        compared((figure.group, figure.name, figure.memory), figure.unit, figure.higher_is_better,
                 *(statistics.median(map(figure.value, values[(figure.case, figure.memory), build]))
                   for build in (0, 1)))
        for figure in figures
    ]
    for entry in cpp:
        label = entry[2]
        measured = values[entry, 0] + values[entry, 1]
        if None in measured:
            rows.append(("5", label, "not built", "", "", "", "skipped", "reused"))
            continue
        rows.append(compared(("5", f"{label} ({measured[0][1]})", "reused"), " GB/s", True,
                             *(statistics.median(value for value, _ in values[entry, build])
                               for build in (0, 1))))
    return rows


def print_table(header: tuple, rows: list[tuple]) -> None:
    rows.sort(key=lambda row: row[0])  # stable: group order, figures as listed
    widths = [max(len(str(row[i])) for row in [header, *rows]) for i in range(len(header))]
    for row in [header, tuple("-" * w for w in widths), *rows]:
        print("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=11, help="timed rounds per case")
    parser.add_argument("--only", default="", help="run only figures whose name contains this")
    parser.add_argument("--cpp-build", type=Path, default=REPO / "build" / "bench",
                        help="CMake build folder with REVEVU_BUILD_BENCHMARKS=ON")
    parser.add_argument("--vesk", type=Path, default=None,
                        help="the vesk command of group 7 (default: the one in --cpp-build, "
                        "else the one installed beside this interpreter)")
    parser.add_argument("--beside", metavar="PYTHON",
                        help="also measure the build installed for this interpreter (a venv's "
                        "python), in the same run, and print both with beside/this")
    parser.add_argument("--rounds", type=int, default=3,
                        help="with --beside: runs of every case in each interpreter")
    parser.add_argument("--beside-cpp-build", type=Path, default=None,
                        help="with --beside: the C++ benchmarks of the other build "
                        "(group 5 is left out without it)")
    arguments = parser.parse_args()
    if arguments.beside:
        # Both interpreters must import their own installed builds and run their own vesk.
        for name in ("PYTHONPATH", "VESK_BIN"):
            if name in os.environ:
                parser.error(f"--beside measures installed builds: unset {name}")
        if arguments.vesk is not None:
            parser.error("--beside runs the vesk installed beside each interpreter: drop --vesk")
        rows = measure_beside(arguments)
        print_table(("#", "figure", "this", "beside", "beside/this", "target", "result",
                     "memory"), rows)
        return 1 if any(row[6] == "MISS" for row in rows) else 0
    vesk = arguments.vesk
    if vesk is None and (arguments.cpp_build / "vesk" / "vesk").exists():
        vesk = arguments.cpp_build / "vesk" / "vesk"

    rows = []
    results: dict[tuple[str, str], dict] = {}
    for figure in FIGURES:
        if arguments.only not in figure.name:
            continue
        key = (figure.case, figure.memory)
        if key not in results:
            print(f"running {figure.case} ({figure.memory}) ...", file=sys.stderr)
            results[key] = run_case(figure.case, figure.memory, arguments.repeat, vesk)
        value = figure.value(results[key])
        verdict = "-" if figure.passes is None else (
            "pass" if figure.passes(results[key], value) else "MISS")
        target = figure.target(results[key]) if callable(figure.target) else figure.target
        rows.append((figure.group, figure.name, f"{value:.2f}{figure.unit}", target, verdict,
                     figure.memory))
    for executable, name, label, target in CPP_BENCHMARKS:
        if arguments.only not in label:
            continue
        print(f"running {executable} ...", file=sys.stderr)
        measured = run_cpp(arguments.cpp_build, executable, name, arguments.repeat)
        if measured is None:
            rows.append(("5", label, "not built", f">= {target:g} GB/s", "skipped", "reused"))
        else:
            value, loop = measured
            rows.append(("5", f"{label} ({loop})" if loop else label, f"{value:.2f} GB/s",
                         f">= {target:g} GB/s", "pass" if value >= target else "MISS", "reused"))

    print_table(("#", "figure", "measured", "target", "result", "memory"), rows)
    return 1 if any(row[4] == "MISS" for row in rows) else 0


if __name__ == "__main__":
    sys.exit(main())

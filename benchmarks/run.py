"""Benchmarks of the revevu module's hot paths, printed as one table.

    python benchmarks/run.py [--repeat N] [--only TEXT] [--cpp-build DIR] [--vesk PATH]

Every figure is a ratio against a baseline timed in the same process and the
same run (medians of --repeat rounds), a throughput, or a memory growth; see
benchmarks/README.md. Each case runs in a fresh interpreter whose allocator is
set up so that large buffers are either fresh (new pages, first touch pays
the page faults) or reused (pages already resident from an earlier round).
"""

from __future__ import annotations

import argparse
import json
import os
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
                       ratio("numpy_pipeline", "add_arbitrary_signal"), at_least(4.0)),
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
               throughput("str", "text_bytes"), at_least(1.0), unit=" GB/s")
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
               throughput(command, "file_bytes"), at_least(0.5), unit=" GB/s")
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


def run_case(case: str, memory: str, repeat: int, vesk: Path | None) -> dict:
    env = {**os.environ, **MEMORY_MODES[memory]}
    if vesk is not None:
        env["VESK_BIN"] = str(vesk)
    completed = subprocess.run(
        [sys.executable, str(HERE / "cases.py"), case, "--repeat", str(repeat)],
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


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=11, help="timed rounds per case")
    parser.add_argument("--only", default="", help="run only figures whose name contains this")
    parser.add_argument("--cpp-build", type=Path, default=REPO / "build" / "bench",
                        help="CMake build folder with REVEVU_BUILD_BENCHMARKS=ON")
    parser.add_argument("--vesk", type=Path, default=None,
                        help="the vesk command of group 7 (default: the one in --cpp-build, "
                        "else the one installed beside this interpreter)")
    arguments = parser.parse_args()
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

    rows.sort(key=lambda row: row[0])  # stable: group order, figures as listed
    header = ("#", "figure", "measured", "target", "result", "memory")
    widths = [max(len(str(row[i])) for row in [header, *rows]) for i in range(len(header))]
    for row in [header, tuple("-" * w for w in widths), *rows]:
        print("  ".join(str(cell).ljust(width) for cell, width in zip(row, widths)).rstrip())
    return 1 if any(row[4] == "MISS" for row in rows) else 0


if __name__ == "__main__":
    sys.exit(main())

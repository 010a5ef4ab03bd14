"""Reads the logs of an AddressSanitizer + UndefinedBehaviorSanitizer run and
counts the reports that belong to this project.

CPython does not free everything at exit, so the leak checker reports
thousands of blocks that are the interpreter's own. A leak counts only when
its allocation stack has a frame in one of the extension modules (revevu,
vesk) or the code they are built from;
every memory error and every undefined-behaviour report counts wherever it is.

    python3 reliability/sanitizer_report.py LOG_DIR MODULE_PATH...

Prints the reports that count (frames of our binaries symbolised with
addr2line) and a summary line; exits 1 when any report counts.
"""

from __future__ import annotations

import json
import os
import re
import subprocess
import sys

OURS = re.compile(
    r"(revevu|vesk)[^ /]*\.so|/revevu/src/|/vesk/|/protocols/src/|/protocols/include/"
)
FRAME = re.compile(r"#\d+ 0x[0-9a-f]+ +(?:in .*? )?\(?(?P<module>/[^ +()]+)\+(?P<offset>0x[0-9a-f]+)\)?")


def symbolised(line: str) -> str:
    """A frame line with our binary's function and source line added."""
    match = FRAME.search(line)
    if not match or not OURS.search(match["module"]):
        return line
    try:
        where = subprocess.run(
            ["addr2line", "-f", "-C", "-i", "-e", match["module"], match["offset"]],
            capture_output=True,
            text=True,
            timeout=20,
        ).stdout.split("\n")
    except (OSError, subprocess.TimeoutExpired):
        return line
    return f"{line}  [{' at '.join(w for w in where[:2] if w)}]"


def split_reports(text: str):
    """Yields (kind, lines) for every report of a log."""
    block, kind = [], None
    for line in text.splitlines():
        header = re.search(r"(Direct|Indirect) leak of|ERROR: AddressSanitizer|runtime error:", line)
        if header or (not line.strip() and block and kind):
            if block and kind:
                yield kind, block
            block, kind = [], None
        if header:
            word = header.group(0)
            kind = "leak" if "leak" in word else ("ub" if "runtime" in word else "asan")
            if "detected memory leaks" in line:
                kind = None  # the heading of the leak summary, not a report
        if kind:
            block.append(line)
    if block and kind:
        yield kind, block


def record_figures(**figures) -> None:
    path = os.environ.get("REVEVU_FIGURES_FILE")
    if path:
        with open(path, "a", encoding="utf-8") as out:
            out.write(json.dumps(figures) + "\n")


def main(log_dir: str) -> int:
    counted = {"asan": 0, "ub": 0, "leak": 0}
    ignored_leaks = 0
    for name in sorted(os.listdir(log_dir)):
        with open(os.path.join(log_dir, name), errors="replace") as log:
            text = log.read()
        for kind, lines in split_reports(text):
            if kind == "leak" and not any(OURS.search(line) for line in lines):
                ignored_leaks += 1
                continue
            counted[kind] += 1
            print(f"--- {name}: {kind} report")
            print("\n".join(symbolised(line) for line in lines[:60]))
    total = sum(counted.values())
    record_figures(
        part="sanitizer-reports",
        memory_errors=counted["asan"],
        undefined_behaviour=counted["ub"],
        leaks=counted["leak"],
        set_aside=ignored_leaks,
    )
    print(
        f"sanitizer reports: {counted['asan']} memory errors, {counted['ub']} undefined behaviour, "
        f"{counted['leak']} leaks from the module ({ignored_leaks} interpreter leak reports set aside)"
    )
    return 1 if total else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))

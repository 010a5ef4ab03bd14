"""Prints the figures of a reliability run from its JSON-lines file."""

from __future__ import annotations

import json
import sys

LABELS = {
    "model-based": "model-based: {examples} examples, {calls} calls, {seconds} s",
    "save-faults": "save faults: {faults} faults injected",
    "stability": "stability: {calls} calls of {call_kinds} kinds, resident growth {rss_growth_kib} KiB",
    "threads": "threads: {threads} threads, {calls} calls, {signals} shared signals, {conflicts} borrow conflicts",
    "sanitizer-reports": "sanitizers: {memory_errors} memory errors, {undefined_behaviour} undefined behaviour, "
    "{leaks} leaks from the module ({set_aside} interpreter leak reports set aside)",
    "valgrind-reports": "valgrind: {invalid_accesses} invalid accesses, {uninitialised} uninitialised values "
    "from the module, {leaks} definite leaks from the module",
}


def main(path: str) -> None:
    with open(path, encoding="utf-8") as lines:
        records = [json.loads(line) for line in lines if line.strip()]
    for record in records:
        part = record["part"]
        if part in LABELS and "status" not in record:
            print(LABELS[part].format(**record))
    for record in records:
        if "status" in record:
            verdict = "passed" if record["status"] == 0 else f"FAILED ({record['status']})"
            print(f"{record['part']:>11}: {verdict} in {record['seconds']} s")


if __name__ == "__main__":
    main(sys.argv[1])

"""Prints gcovr's JSON summary as lines and branches covered per folder and in total.
    python scripts/coverage_table.py build/coverage-summary.json"""

import json
import sys

FOLDERS = ("protocols/", "revevu/src/", "vesk/")


def main(summary_path: str) -> None:
    with open(summary_path, encoding="utf-8") as f:
        files = json.load(f)["files"]
    totals = {folder: [0, 0, 0, 0] for folder in (*FOLDERS, "total")}
    for entry in files:
        folder = next(f for f in FOLDERS if entry["filename"].startswith(f))
        counts = (entry["line_covered"], entry["line_total"], entry["branch_covered"], entry["branch_total"])
        for key in (folder, "total"):
            totals[key] = [a + b for a, b in zip(totals[key], counts)]
    print(f"{'folder':<14}{'lines':>22}{'branches':>22}")
    for key, (lines, line_total, branches, branch_total) in totals.items():
        print(f"{key:<14}{lines:>9}/{line_total:<5}{100 * lines / max(line_total, 1):6.1f} %"
              f"{branches:>9}/{branch_total:<5}{100 * branches / max(branch_total, 1):6.1f} %")


if __name__ == "__main__":
    main(sys.argv[1])

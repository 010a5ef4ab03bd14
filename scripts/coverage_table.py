"""Prints llvm-cov's JSON summary as lines and branches covered per folder and in total.
    python scripts/coverage_table.py ROOT build/coverage-summary.json"""

import json
import sys

FOLDERS = ("protocols/", "revevu/src/", "vesk/")


def main(root: str, summary_path: str) -> None:
    with open(summary_path, encoding="utf-8") as f:
        files = json.load(f)["data"][0]["files"]
    prefix = root.rstrip("/") + "/"
    totals = {folder: [0, 0, 0, 0] for folder in (*FOLDERS, "total")}
    for entry in files:
        name = entry["filename"].removeprefix(prefix)
        folder = next((f for f in FOLDERS if name.startswith(f)), None)
        if folder is None:
            continue
        lines, branches = entry["summary"]["lines"], entry["summary"]["branches"]
        counts = (lines["covered"], lines["count"], branches["covered"], branches["count"])
        for key in (folder, "total"):
            totals[key] = [a + b for a, b in zip(totals[key], counts)]
    print(f"{'folder':<14}{'lines':>22}{'branches':>22}")
    for key, (lines, line_total, branches, branch_total) in totals.items():
        print(f"{key:<14}{lines:>9}/{line_total:<5}{100 * lines / max(line_total, 1):6.1f} %"
              f"{branches:>9}/{branch_total:<5}{100 * branches / max(branch_total, 1):6.1f} %")


if __name__ == "__main__":
    main(*sys.argv[1:])

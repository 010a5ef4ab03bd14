"""Reads valgrind memcheck's XML output and counts what belongs to this project.

Counted: every invalid read, write or free, wherever it happens (known
false positives are in valgrind.supp); every use of an uninitialised value
whose stack or origin (--track-origins=yes) has a frame in the extension
module or the core library; and every definitely lost block allocated
through them. What the interpreter does on its own (values it leaves
uninitialised in its start-up, memory it never frees at exit) is shown as a
figure but not counted.

    python3 reliability/valgrind_report.py short-run.xml long-run.xml
"""

from __future__ import annotations

import json
import os
import re
import sys
import xml.etree.ElementTree as ET

OURS = re.compile(r"revevu[^/]*\.so$|/revevu/src/|/protocols/src/|/protocols/include/")


def frames(error):
    for frame in error.iter("frame"):
        yield {child.tag: child.text or "" for child in frame}


def ours(frame) -> bool:
    return bool(OURS.search(frame.get("obj", "")) or OURS.search(frame.get("dir", "") + "/"))


def describe(error) -> str:
    what = error.findtext("what") or error.findtext("xwhat/text") or ""
    lines = [f"{error.findtext('kind')}: {what}"]
    for frame in list(frames(error))[:25]:
        where = f"{frame.get('file', '')}:{frame.get('line', '')}" if frame.get("file") else frame.get("obj", "")
        lines.append(f"    {frame.get('fn', '?')}  {where}")
    return "\n".join(lines)


def record_figures(**figures) -> None:
    target = os.environ.get("REVEVU_FIGURES_FILE")
    if target:
        with open(target, "a", encoding="utf-8") as out:
            out.write(json.dumps(figures) + "\n")


def leaked_blocks(root) -> int:
    return sum(
        int(error.findtext("xwhat/leakedblocks") or 0)
        for error in root.iter("error")
        if error.findtext("kind") == "Leak_DefinitelyLost"
    )


def classify(root):
    """(memory errors, uninitialised values of ours, definite leaks of ours, set-aside counts)."""
    memory_errors, uninitialised, our_leaks = [], [], []
    set_aside = {"uninitialised": 0, "leaks": 0}
    for error in root.iter("error"):
        kind = error.findtext("kind") or ""
        mine = any(ours(f) for f in frames(error))
        if kind.startswith("Leak_"):
            if kind != "Leak_DefinitelyLost":
                continue
            if mine:
                our_leaks.append(error)
            else:
                set_aside["leaks"] += 1
        elif kind.startswith("Uninit") or kind == "SyscallParam":
            if mine:
                uninitialised.append(error)
            else:
                set_aside["uninitialised"] += 1
        else:
            memory_errors.append(error)
    return memory_errors, uninitialised, our_leaks, set_aside


def main(short_run: str, long_run: str) -> int:
    """Both runs are checked; the long one did many more rounds of the same
    calls, so a definite loss that grows with the rounds is a leak even when
    its memory came from an interpreter free list (no frame of ours)."""
    roots = [ET.parse(path).getroot() for path in (short_run, long_run)]
    memory_errors, uninitialised, our_leaks = [], [], []
    for root in roots:
        errors, uninit, leaks, set_aside = classify(root)
        memory_errors += errors
        uninitialised += uninit
        our_leaks += leaks
    for error in memory_errors + uninitialised + our_leaks:
        print(describe(error))
    growth = leaked_blocks(roots[1]) - leaked_blocks(roots[0])
    suppressed = sum(int(pair.findtext("count") or 0) for pair in roots[1].iter("pair"))
    print(
        f"valgrind: {len(memory_errors)} invalid accesses, {len(uninitialised)} uses of uninitialised values "
        f"from the module, {len(our_leaks)} definite leaks from the module, {max(growth, 0)} definitely lost "
        f"blocks more after more rounds (set aside in the long run: {set_aside['uninitialised']} "
        f"uninitialised-value reports and {set_aside['leaks']} definite losses of the interpreter alone, "
        f"{suppressed} known loader false positives)"
    )
    record_figures(
        part="valgrind-reports",
        invalid_accesses=len(memory_errors),
        uninitialised=len(uninitialised),
        leaks=len(our_leaks),
        growth=max(growth, 0),
    )
    return 1 if memory_errors or uninitialised or our_leaks or growth > 0 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))

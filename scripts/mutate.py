#!/usr/bin/env python3
"""Mutation sampler: how many small faults in the product code do the tests catch?

A seeded sample of mutation sites over protocols/, revevu/src/ and vesk/ (the
command and vesk/python/), drawn in proportion to each folder's non-blank
lines, is applied one mutant at a time to a copy of the tree. Each mutant is
rebuilt incrementally in one build folder kept for the whole run, then the C++
tests (ctest) and the Python suite (pytest -x) run against the rebuilt module
and command. A mutant is killed when a test fails or the tests run past the
time limit, survives when everything passes, and is left out when it does not
compile. Mutants listed in scripts/mutants_reviewed.txt (unable to change
behaviour, or changing only speed) are left out of the score.

    scripts/mutate.py --list --seed 18 --count 110        # the sample, nothing run
    nice scripts/mutate.py --seed 18 --count 110 --results before.json
    scripts/mutate.py --report --results before.json     # the tables again
    nice scripts/mutate.py --recheck --results before.json  # its survivors, after new tests

The Python interpreter running this script builds and tests the module: it
needs NumPy, nanobind, pytest and hypothesis (the `test` extra). As root the
tests run in a private mount namespace with a /dev of their own, so that a
mutant of the file writer cannot replace the machine's /dev/null or /dev/full.
"""

from __future__ import annotations

import argparse
import collections
import dataclasses
import hashlib
import json
import os
import random
import re
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
REVIEWED = ROOT / "scripts" / "mutants_reviewed.txt"

# Reported folders, most specific first: a file belongs to the first that holds it.
FOLDERS = ("protocols", "revevu/src", "vesk/python", "vesk")
SOURCE_SUFFIXES = (".cpp", ".hpp")
COPY_IGNORED = shutil.ignore_patterns(
    ".git", "build", "_build", "dist", "__pycache__", ".pytest_cache", ".hypothesis", "*.so"
)


# ---- Reading C++ source -----------------------------------------------------------


def code_mask(text: str) -> str:
    """`text` with comments, string and character literals and preprocessor
    lines blanked out (newlines kept), so that every offset still points at
    the same character and no mutant can land inside them."""
    out = list(text)
    n = len(text)
    i = 0
    line_start = True

    def blank(start: int, end: int) -> None:
        for k in range(start, end):
            if out[k] != "\n":
                out[k] = " "

    while i < n:
        c = text[i]
        if c == "\n":
            line_start = True
            i += 1
            continue
        if line_start and c in " \t":
            i += 1
            continue
        if line_start and c == "#":  # directive, with its continuation lines
            end = i
            while end < n and (text[end] != "\n" or text[end - 1] == "\\"):
                end += 1
            blank(i, end)
            i = end
            continue
        line_start = False
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            blank(i, end)
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            blank(i, end)
            i = end
        elif c == '"' or c == "'":
            if c == "'" and i > 0 and text[i - 1].isalnum():  # digit separator: 1'000
                i += 1
                continue
            raw = None
            if c == '"' and i > 0:
                raw = re.match(r'R"([^()\\ ]{0,16})\(', text[i - 1 : i + 20])
            if raw and (i < 2 or not (text[i - 2].isalnum() or text[i - 2] == "_")):
                end = text.find(")" + raw.group(1) + '"', i)
                end = n if end < 0 else end + len(raw.group(1)) + 2
            else:
                end = i + 1
                while end < n and text[end] != c and text[end] != "\n":
                    end += 2 if text[end] == "\\" else 1
                end = min(end + 1, n)
            blank(i, end)
            i = end
        else:
            i += 1
    return "".join(out)


def without_comments(text: str) -> str:
    """`text` with its comments blanked out (string literals kept)."""
    code = code_mask(text)
    out = list(text)
    for m in re.finditer(r"//[^\n]*|/\*.*?\*/", text, re.S):
        if code[m.start()] == " " and text[m.start()] == "/":
            if code_mask(text[: m.start()] + "x" * (m.end() - m.start()))[m.start()] == "x":
                out[m.start() : m.end()] = " " * (m.end() - m.start())
    return "".join(out)


@dataclasses.dataclass(frozen=True)
class Mutant:
    """One change to one file: `edits` are (start, end, replacement) on its text."""

    path: str  # relative to the tree's root
    line: int  # 1-based, of the first edit
    operator: str
    edits: tuple[tuple[int, int, str], ...]

    def apply(self, text: str) -> str:
        for start, end, new in sorted(self.edits, reverse=True):
            text = text[:start] + new + text[end:]
        return text

    def lines(self, text: str) -> tuple[str, str]:
        """The touched lines before and after, each joined into one line,
        without their comments."""
        first = text.rfind("\n", 0, min(e[0] for e in self.edits)) + 1
        last = text.find("\n", max(e[1] for e in self.edits))
        last = len(text) if last < 0 else last
        shift = sum(len(new) - (end - start) for start, end, new in self.edits)
        old = without_comments(text[first:last])
        new = without_comments(self.apply(text)[first : last + shift])
        return " ".join(old.split()), " ".join(new.split())

    def describe(self, text: str, width: int = 240) -> str:
        """The one-line diff: `file:line: old -> new`, long lines cut in the middle."""
        old, new = self.lines(text)
        half = width // 2
        old, new = (s if len(s) <= half else s[: half - 12] + " … " + s[-9:] for s in (old, new))
        return f"{self.path}:{self.line}: {old} -> {new or '(removed)'}"

    def key(self, text: str) -> str:
        """What the reviewed list matches: the file and the change, not the line number."""
        old, new = self.lines(text)
        return f"{self.path}: {old} -> {new or '(removed)'}"


# Binary operators are written with a space on each side (clang-format), which
# tells them from template brackets, unary minus, pointers and references.
SWAPS = {
    "relational": {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="},
    "logical": {"&&": "||", "||": "&&"},
    "arithmetic": {"+": "-", "-": "+", "*": "/", "/": "*", "+=": "-=", "-=": "+=",
                   "*=": "/=", "/=": "*="},
}
BINARY = re.compile(r"(?<= )(<=|>=|==|!=|&&|\|\||\+=|-=|\*=|/=|<|>|\+|-|\*|/)(?= )")
INTEGER = re.compile(
    r"(?<![\w.'])(0[xX][0-9a-fA-F']+|[0-9][0-9']*)([uUlLzZ]*)(?![\w.'])(?!\s*[eE])"
)
RETURN_BOOL = re.compile(r"\breturn (true|false)\b")
CONDITION = re.compile(r"\b(if|while) \(")
# A statement that does something (a call, an assignment, ++/--) rather than
# declare a name: a qualified name followed by one of these, at a statement's start.
STATEMENT = re.compile(
    r"(\+\+|--)?[A-Za-z_]\w*(::[A-Za-z_]\w*)*(\(|\.|->|\[| [-+*/|&^]?= |\+\+|--)"
)
NOT_STATEMENTS = ("return", "co_return", "throw", "case", "default", "goto", "using",
                  "typedef", "static_assert", "template", "delete", "new", "alignas")
SKIPPED_LINE = re.compile(r"\b(static_assert|template)\b")


def matching_paren(code: str, open_at: int) -> int:
    depth = 0
    for k in range(open_at, len(code)):
        if code[k] == "(":
            depth += 1
        elif code[k] == ")":
            depth -= 1
            if depth == 0:
                return k
    return -1


def statement_end(code: str, start: int) -> int:
    """The offset just past the `;` that ends the statement starting at
    `start`, or -1 when a brace opens first (a block, a lambda body)."""
    depth = 0
    for k in range(start, len(code)):
        c = code[k]
        if c in "([":
            depth += 1
        elif c in ")]":
            depth -= 1
        elif c in "{}" and depth == 0:
            return -1
        elif c == ";" and depth == 0:
            return k + 1
    return -1


def find_mutants(path: str, text: str) -> list[Mutant]:
    """Every mutant the operator table makes of one file, in the order of the text."""
    code = code_mask(text)
    found: list[Mutant] = []
    line_starts = [0] + [m.end() for m in re.finditer("\n", code)]

    def line_of(offset: int) -> int:
        lo, hi = 0, len(line_starts)
        while hi - lo > 1:
            mid = (lo + hi) // 2
            if line_starts[mid] <= offset:
                lo = mid
            else:
                hi = mid
        return lo + 1

    def add(operator: str, *edits: tuple[int, int, str]) -> None:
        found.append(Mutant(path, line_of(edits[0][0]), operator, tuple(edits)))

    previous_end = ""  # last non-blank code character before the current line
    for number, start in enumerate(line_starts):
        end = line_starts[number + 1] - 1 if number + 1 < len(line_starts) else len(code)
        line = code[start:end]
        stripped = line.strip()
        if not stripped:
            continue
        if SKIPPED_LINE.search(line):
            previous_end = stripped[-1]
            continue
        for m in BINARY.finditer(line):
            op = m.group(1)
            kind = next(k for k, table in SWAPS.items() if op in table)
            before, after = text[start + m.start(1) - 2], text[start + m.end(1) + 1]
            if kind == "arithmetic" and '"' in (before, after):
                continue  # text joined to a literal: `-` would not compile
            add(kind, (start + m.start(1), start + m.end(1), SWAPS[kind][op]))
        for m in INTEGER.finditer(line):
            digits, suffix = m.group(1), m.group(2)
            value = int(digits.replace("'", ""), 16 if digits[:2] in ("0x", "0X") else 10)
            # One mutant a literal, up or down by the line's parity: both
            # would make literals twice as likely as any other site.
            moved = value + 1 if value == 0 or number % 2 == 0 else value - 1
            literal = (f"0x{moved:X}" if digits[:2] in ("0x", "0X") else str(moved)) + suffix
            add("integer", (start + m.start(), start + m.end(), literal))
        for m in RETURN_BOOL.finditer(line):
            flipped = "false" if m.group(1) == "true" else "true"
            add("return", (start + m.start(1), start + m.end(1), flipped))
        for m in CONDITION.finditer(line):
            if line[m.end() - 1 :].startswith("(") and "constexpr" not in line[: m.start()]:
                open_at = start + m.end() - 1
                close_at = matching_paren(code, open_at)
                # `if (init; condition)` cannot be negated as a whole.
                if close_at > 0 and ";" not in code[open_at:close_at]:
                    add("negate", (open_at + 1, open_at + 1, "!("), (close_at, close_at, ")"))
        indent = len(line) - len(line.lstrip())
        first_word = re.match(r"\w+", stripped)
        if (previous_end in ";{}:" and STATEMENT.match(stripped)
                and not (first_word and first_word.group(0) in NOT_STATEMENTS)
                and not re.search(r"= (delete|default);$", stripped)):
            finish = statement_end(code, start + indent)
            if finish > 0:
                add("statement", (start + indent, finish, ""))
        previous_end = stripped[-1]
    return found


# ---- The sample ----------------------------------------------------------------------


def folder_of(path: str) -> str:
    return next(f for f in FOLDERS if path == f or path.startswith(f + "/"))


def product_files(tree: Path) -> dict[str, str]:
    """The product's C++ files by path relative to `tree`, with their text."""
    files = {}
    for folder in FOLDERS:
        for path in sorted((tree / folder).rglob("*")):
            if path.suffix in SOURCE_SUFFIXES and path.is_file():
                rel = path.relative_to(tree).as_posix()
                if folder_of(rel) == folder:
                    files[rel] = path.read_text(encoding="utf-8")
    return files


def sample_order(files: dict[str, str], seed: int, only: str | None) -> list[Mutant]:
    """Every mutant of the product code in the order the run takes them: each
    folder's mutants shuffled by the seed, then interleaved so that every
    prefix draws from each folder in proportion to its non-blank lines."""
    rng = random.Random(seed)
    per_folder: dict[str, list[Mutant]] = {}
    weight: dict[str, int] = {}
    for folder in FOLDERS:
        if only and folder != only.rstrip("/"):
            continue
        mutants = []
        lines = 0
        for path, text in files.items():
            if folder_of(path) == folder:
                mutants += find_mutants(path, text)
                lines += sum(1 for line in text.splitlines() if line.strip())
        rng.shuffle(mutants)
        if mutants:
            per_folder[folder], weight[folder] = mutants, lines
    if only and not per_folder:
        raise SystemExit(f"--only {only}: no mutants (folders: {', '.join(FOLDERS)})")
    order: list[Mutant] = []
    taken = dict.fromkeys(per_folder, 0)
    while any(taken[f] < len(per_folder[f]) for f in per_folder):
        folder = min((f for f in per_folder if taken[f] < len(per_folder[f])),
                     key=lambda f: ((taken[f] + 1) / weight[f], FOLDERS.index(f)))
        order.append(per_folder[folder][taken[folder]])
        taken[folder] += 1
    return order


def mutant_id(mutant: Mutant, text: str) -> str:
    """Stable name of a mutant in the results file."""
    return hashlib.sha1(f"{mutant.describe(text)}|{mutant.edits}".encode()).hexdigest()[:12]


def read_reviewed(path: Path) -> dict[str, str]:
    """The reviewed list: a `file: old -> new` line, then the reason on
    indented lines; `#` starts a comment line."""
    reviewed: dict[str, str] = {}
    key = None
    if not path.exists():
        return reviewed
    for raw in path.read_text(encoding="utf-8").splitlines():
        if not raw.strip() or raw.lstrip().startswith("#"):
            continue
        if raw[0].isspace():
            if key is None:
                raise SystemExit(f"{path}: a reason before any mutant: {raw.strip()}")
            reviewed[key] = (reviewed[key] + " " + raw.strip()).strip()
        else:
            key = " ".join(raw.split())
            reviewed[key] = ""
    missing = [k for k, why in reviewed.items() if not why]
    if missing:
        raise SystemExit(f"{path}: no reason given for: {missing[0]}")
    return reviewed


# ---- Building and testing a copy -------------------------------------------------------


def sync_tree(source: Path, copy: Path) -> None:
    """Makes `copy` hold the source's files, rewriting only those that differ so
    that the build folder in the copy stays up to date for the rest."""
    for dirpath, dirnames, filenames in os.walk(source):
        rel = Path(dirpath).relative_to(source)
        ignored = COPY_IGNORED(dirpath, dirnames + filenames)
        dirnames[:] = [d for d in dirnames if d not in ignored]
        (copy / rel).mkdir(parents=True, exist_ok=True)
        for name in filenames:
            if name in ignored:
                continue
            src, dst = Path(dirpath) / name, copy / rel / name
            if src.is_symlink():
                continue
            data = src.read_bytes()
            if not dst.exists() or dst.read_bytes() != data:
                dst.write_bytes(data)
                shutil.copymode(src, dst)


# The tests' own /dev: the devices they may open, on a tmpfs that only this
# mount namespace sees.
PRIVATE_DEV = r"""
set -e
mount -t tmpfs -o mode=755,nosuid tmpfs /dev
for d in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
    IFS=: read -r name major minor <<EOF
$d
EOF
    mknod -m 666 "/dev/$name" c "$major" "$minor"
done
mkdir -m 1777 /dev/shm && mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs /dev/shm
mkdir /dev/pts && mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts /dev/pts \
    && ln -s pts/ptmx /dev/ptmx || true
ln -s /proc/self/fd /dev/fd
ln -s /proc/self/fd/0 /dev/stdin; ln -s /proc/self/fd/1 /dev/stdout; ln -s /proc/self/fd/2 /dev/stderr
exec "$@"
"""


def private_dev_prefix() -> list[str]:
    """The command prefix that runs the tests with a /dev of their own, or []
    where that is not possible (not root, no unshare)."""
    if os.geteuid() != 0 or shutil.which("unshare") is None:
        return []
    probe = ["unshare", "-m", "--propagation", "private", "sh", "-c", PRIVATE_DEV, "sh", "true"]
    if subprocess.run(probe, capture_output=True).returncode != 0:
        return []
    return probe[:-1]


def devices_intact() -> bool:
    return all(stat.S_ISCHR(os.lstat(p).st_mode) for p in ("/dev/null", "/dev/full", "/dev/zero"))


CTEST_TEST_LIMIT = 60  # seconds for one C++ test


class Runner:
    """The copy of the tree, its one build folder and the commands run on it."""

    def __init__(self, tree: Path, work: Path, jobs: int, python: str) -> None:
        self.tree, self.work, self.jobs, self.python = tree, work, jobs, python
        self.copy = work / "tree"
        self.build = work / "build"
        self.stage = work / "stage"  # the module and its stubs, as installed
        self.isolate = private_dev_prefix()
        self.log = work / "last.log"

    def prepare(self) -> None:
        self.work.mkdir(parents=True, exist_ok=True)
        sync_tree(self.tree, self.copy)
        if not (self.build / "build.ninja").exists():
            launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"] if shutil.which("ccache") else []
            self.run_checked(["cmake", "-S", str(self.copy), "-B", str(self.build), "-G", "Ninja",
                              "-DCMAKE_BUILD_TYPE=Release", "-DREVEVU_BUILD_TESTS=ON",
                              "-DREVEVU_BUILD_EXTENSION=ON", f"-DPython_EXECUTABLE={self.python}",
                              *launcher])
        stated = re.search(r'^version = "([^"]+)"$', (self.copy / "pyproject.toml").read_text(),
                           re.M)
        version = stated.group(1) if stated else "0"
        # A distribution record beside the staged module, for importlib.metadata.
        info = self.stage / f"revevu-{version}.dist-info"
        info.mkdir(parents=True, exist_ok=True)
        (info / "METADATA").write_text(f"Metadata-Version: 2.1\nName: revevu\nVersion: {version}\n")

    def run_checked(self, command: list[str]) -> None:
        result = subprocess.run(command, capture_output=True, text=True)
        if result.returncode != 0:
            output = (result.stdout + result.stderr)[-3000:]
            raise SystemExit(f"{' '.join(command)} failed:\n{output}")

    def compile(self) -> bool:
        with open(self.log, "w") as log:
            for command in (["cmake", "--build", str(self.build), "-j", str(self.jobs)],
                            ["cmake", "--install", str(self.build), "--prefix", str(self.stage)]):
                if subprocess.run(command, stdout=log, stderr=subprocess.STDOUT).returncode != 0:
                    return False
        return True

    def test_files(self, mutated: str) -> list[str]:
        """The Python test files, those of the mutated program first: a killed
        mutant is usually killed by its own program's tests, and -x stops there."""
        files = sorted(p.name for p in (self.copy / "tests" / "python").glob("test_*.py"))
        own_first = mutated.startswith("vesk")
        return sorted(files, key=lambda name: name.startswith("test_vesk") != own_first)

    def test(self, limit: float, mutated: str) -> tuple[str, str]:
        """('passed' | 'failed' | 'timeout', what failed) of the C++ tests, then the Python suite."""
        command_dir = self.build / "vesk"  # the rebuilt vesk command, first on PATH
        env = dict(os.environ, PYTHONPATH=str(self.stage), VESK_BIN=str(command_dir / "vesk"),
                   PATH=os.pathsep.join([str(command_dir), os.environ.get("PATH", "")]),
                   PYTHONDONTWRITEBYTECODE="1")
        deadline = time.monotonic() + limit
        steps = [
            # Every C++ test takes a second or less: one that runs for a minute
            # has hung, and need not hold up the run until the overall limit.
            ("ctest", ["ctest", "--test-dir", str(self.build), "-j", str(self.jobs),
                       "--timeout", str(CTEST_TEST_LIMIT), "--stop-on-failure",
                       "--output-on-failure"], self.build),
            ("pytest", [self.python, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider",
                        *self.test_files(mutated)],
             self.copy / "tests" / "python"),
        ]
        for name, command, cwd in steps:
            with open(self.log, "a") as log:
                log.write(f"\n== {name}\n")
                log.flush()
                process = subprocess.Popen(self.isolate + command, cwd=cwd, env=env, stdout=log,
                                           stderr=subprocess.STDOUT, start_new_session=True)
                try:
                    code = process.wait(timeout=max(1.0, deadline - time.monotonic()))
                except subprocess.TimeoutExpired:
                    os.killpg(process.pid, signal.SIGKILL)
                    process.wait()
                    return "timeout", name
                except BaseException:  # interrupted: the tests run in their own session
                    os.killpg(process.pid, signal.SIGKILL)
                    raise
            if not self.isolate and not devices_intact():
                raise SystemExit("a test replaced a device node in /dev: stopped; restore it "
                                 "(mknod) before anything else runs")
            if code != 0:
                hung = name == "ctest" and "***Timeout" in self.log.read_text(errors="replace")
                return ("timeout" if hung else "failed"), name + ": " + self.failure_line()
        return "passed", ""

    def failure_line(self) -> str:
        text = self.log.read_text(errors="replace").splitlines()
        for line in reversed(text):
            pytest_failure = line.startswith(("FAILED ", "ERROR "))
            if pytest_failure or re.match(r"\s*\d+ - .*\((Failed|Timeout)\)", line):
                return line.strip()[:200]
        return (text[-1].strip() if text else "")[:200]

    def run_mutant(self, mutant: Mutant, original: str, limit: float) -> dict:
        target = self.copy / mutant.path
        target.write_text(mutant.apply(original), encoding="utf-8")
        started = time.monotonic()
        try:
            if not self.compile():
                failed = re.findall(r"^FAILED: (.*)$", self.log.read_text(errors="replace"), re.M)
                seconds = round(time.monotonic() - started, 1)
                if failed and all(".pyi" in line for line in failed):
                    # It compiled, but importing the module to write its stubs failed.
                    return {"status": "killed", "by": "stub generation", "seconds": seconds}
                return {"status": "no-compile", "seconds": seconds}
            outcome, detail = self.test(limit, mutant.path)
        finally:
            target.write_text(original, encoding="utf-8")
        status = {"passed": "survived", "failed": "killed", "timeout": "timeout"}[outcome]
        return {"status": status, "by": detail, "seconds": round(time.monotonic() - started, 1)}


# ---- Results ------------------------------------------------------------------------


def report(results: dict, reviewed: dict[str, str], out=sys.stdout) -> None:
    runs = results["mutants"]
    print(f"seed {results['seed']}, tree {results['tree']} ({results.get('commit') or 'no commit'}),"
          f" unmutated tests {results['baseline_seconds']} s, limit {results['limit']} s a mutant",
          file=out)
    # "removed": a survivor whose line a later change took out of the code.
    header = ("folder", "killed", "timeout", "survived", "reviewed", "removed", "no-compile",
              "score")
    rows = []
    totals = dict.fromkeys(header[1:-1], 0)
    for folder in sorted(FOLDERS) + ["all"]:
        counts = dict.fromkeys(header[1:-1], 0)
        for run in runs:
            if folder != "all" and folder_of(run["path"]) != folder:
                continue
            status = run["status"]
            if status == "survived" and run["key"] in reviewed:
                status = "reviewed"
            counts[status] += 1
        if folder == "all":
            counts = totals
        else:
            for k in counts:
                totals[k] += counts[k]
        caught = counts["killed"] + counts["timeout"]
        scored = caught + counts["survived"]
        score = f"{100 * caught / scored:.0f} %" if scored else "-"
        rows.append((folder, *map(str, counts.values()), score))
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(len(header))]
    for row in [header] + rows:
        print("  ".join(c.ljust(w) if i == 0 else c.rjust(w)
                        for i, (c, w) in enumerate(zip(row, widths))), file=out)
    compiled = [r for r in runs if r["status"] != "no-compile"]
    if compiled:
        seconds = sum(r["seconds"] for r in compiled) / len(compiled)
        caught = sum(r["status"] in ("killed", "timeout") for r in compiled)
        print(f"{len(compiled)} compiled mutants, {seconds:.1f} s each on average (build and"
              f" tests); {caught} killed, {100 * caught / len(compiled):.0f} % of all compiled",
              file=out)
    rechecked = [r for r in runs if "rechecked" in r]
    if rechecked:
        commits = sorted({r["rechecked"]["commit"] or "no commit" for r in rechecked})
        now_caught = sum(r["status"] in ("killed", "timeout") for r in rechecked)
        removed = sum(r["status"] == "removed" for r in rechecked)
        print(f"{len(rechecked)} survivors of the first run rechecked against the tests of"
              f" {', '.join(commits)}: {now_caught} now killed, {removed} removed from the code",
              file=out)
    survivors = [r for r in runs if r["status"] == "survived" and r["key"] not in reviewed]
    if survivors:
        print("\nsurvivors:", file=out)
        for run in survivors:
            print("  " + run["diff"], file=out)
    left_out = [r for r in runs if r["status"] == "survived" and r["key"] in reviewed]
    if left_out:
        print("\nreviewed survivors (left out of the score):", file=out)
        for run in left_out:
            print(f"  {run['diff']}\n      {reviewed[run['key']]}", file=out)


def warn_ambiguous(order: list[Mutant], files: dict[str, str], reviewed: dict[str, str]) -> None:
    """A reviewed entry names a change, not a place: one that matches two
    sites would also leave out a mutant nobody reviewed."""
    sites = collections.Counter(m.key(files[m.path]) for m in order)
    for key in reviewed:
        if sites[key] > 1:
            print(f"warning: reviewed entry matches {sites[key]} places, review each or"
                  f" kill it with a test: {key}", file=sys.stderr)


def recheck(args: argparse.Namespace, tree: Path, files: dict[str, str],
            reviewed: dict[str, str]) -> int:
    """Runs each survivor of a finished sample again against the tree as it is
    now, so that tests written for the survivors are shown to kill them. The
    mutant is found again by its change, not its line, so product code may
    have moved; one whose line is gone counts as removed."""
    results = json.loads(args.results.read_text())
    survivors = [run for run in results["mutants"]
                 if run["status"] == "survived" and run["key"] not in reviewed]
    runner = Runner(tree, resolved_work(args.work, tree), args.jobs, sys.executable)
    runner.prepare()
    if not runner.compile():
        raise SystemExit(f"the unmutated tree does not build: see {runner.log}")
    commit = git_commit(tree)
    for run in survivors:
        text = files.get(run["path"], "")
        found = [m for m in find_mutants(run["path"], text) if m.key(text) == run["key"]]
        if found:
            outcome = runner.run_mutant(found[0], text, results["limit"])
        else:  # the line was taken out of the product code: no such fault is left
            outcome = {"status": "removed", "by": "", "seconds": 0.0}
        run["rechecked"] = {"commit": commit, "status": outcome["status"],
                            "by": outcome.get("by", "")}
        if outcome["status"] != "no-compile":
            run["status"], run["by"] = outcome["status"], outcome.get("by", "")
        print(f"{outcome['status']:10} {outcome['seconds']:6.1f} s  {run['diff']}", flush=True)
        save_results(args.results, results)
    print()
    report(results, reviewed)
    return 0


def save_results(path: Path | None, results: dict) -> None:
    if path:
        path.write_text(json.dumps(results, indent=1) + "\n")


def resolved_work(work: Path | None, tree: Path) -> Path:
    return (work or Path(tempfile.gettempdir()) / (
        "revevu-mutate-" + hashlib.sha1(str(tree).encode()).hexdigest()[:8])).resolve()


def git_commit(tree: Path) -> str | None:
    result = subprocess.run(["git", "-C", str(tree), "rev-parse", "HEAD"], capture_output=True,
                            text=True)
    return result.stdout.strip() if result.returncode == 0 and (tree / ".git").exists() else None


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=18, help="seed of the sample (default 18)")
    parser.add_argument("--count", type=int, default=100, help="compiled mutants wanted")
    parser.add_argument("--jobs", type=int, default=2, help="parallel build and ctest jobs")
    parser.add_argument("--only", help=f"one folder: {', '.join(FOLDERS)}")
    parser.add_argument("--list", action="store_true", help="print the sample, run nothing")
    parser.add_argument("--report", action="store_true", help="print the results file's tables")
    parser.add_argument("--results", type=Path, help="results file (JSON): resumed when it exists")
    parser.add_argument("--tree", type=Path, default=ROOT,
                        help="checkout to mutate (default: this one)")
    parser.add_argument("--work", type=Path,
                        help="folder for the copy and its build (kept between runs)")
    parser.add_argument("--timeout", type=float, help="seconds of tests per mutant (default: "
                        "three times the unmutated tree's, plus 30)")
    parser.add_argument("--reviewed", type=Path, default=REVIEWED, help="reviewed list")
    parser.add_argument("--recheck", action="store_true",
                        help="run the results file's survivors again against the tree's tests")
    args = parser.parse_args()
    tree = args.tree.resolve()
    reviewed = read_reviewed(args.reviewed)

    if args.report:
        if not args.results or not args.results.exists():
            parser.error("--report needs an existing --results file")
        report(json.loads(args.results.read_text()), reviewed)
        return 0

    files = product_files(tree)
    if args.recheck:
        if not args.results or not args.results.exists():
            parser.error("--recheck needs an existing --results file")
        return recheck(args, tree, files, reviewed)
    order = sample_order(files, args.seed, args.only)
    warn_ambiguous(order, files, reviewed)
    if args.list:
        # Not knowing which will compile, the list shows as many as the count asks.
        for mutant in order[: args.count]:
            print(f"{mutant.operator:10} {mutant.describe(files[mutant.path])}")
        return 0

    sources = hashlib.sha1(json.dumps(files, sort_keys=True).encode()).hexdigest()
    results = {"seed": args.seed, "tree": str(tree), "commit": git_commit(tree), "only": args.only,
               "sources": sources, "mutants": []}
    if args.results and args.results.exists():
        results = json.loads(args.results.read_text())
        if results["seed"] != args.seed or results.get("only") != args.only:
            parser.error(f"{args.results} holds a run with another seed or folder")
        # A run resumed on other code would mix two samples.
        if results.setdefault("sources", sources) != sources:
            parser.error(f"{args.results} holds a run on other product code")
    done = {run["id"]: run for run in results["mutants"]}

    runner = Runner(tree, resolved_work(args.work, tree), args.jobs, sys.executable)
    runner.prepare()
    print(f"work folder {runner.work}; tests "
          + ("in a private /dev" if runner.isolate else "with the machine's /dev (not root)"),
          flush=True)

    if "baseline_seconds" not in results:
        if not runner.compile():
            raise SystemExit(f"the unmutated tree does not build: see {runner.log}")
        started = time.monotonic()
        outcome, detail = runner.test(limit=3600, mutated="")
        if outcome != "passed":
            raise SystemExit(f"the unmutated tree fails its tests ({detail}): see {runner.log}")
        results["baseline_seconds"] = round(time.monotonic() - started, 1)
    results["limit"] = args.timeout or round(3 * results["baseline_seconds"] + 30)
    save_results(args.results, results)

    compiled = sum(run["status"] != "no-compile" for run in results["mutants"])
    for mutant in order:
        if compiled >= args.count:
            break
        text = files[mutant.path]
        ident = mutant_id(mutant, text)
        if ident in done:
            continue
        run = {"id": ident, "path": mutant.path, "operator": mutant.operator,
               "diff": mutant.describe(text), "key": mutant.key(text)}
        run.update(runner.run_mutant(mutant, text, results["limit"]))
        results["mutants"].append(run)
        compiled += run["status"] != "no-compile"
        print(f"[{compiled}/{args.count}] {run['status']:10} {run['seconds']:6.1f} s"
              f"  {run['diff']}", flush=True)
        save_results(args.results, results)
    print()
    report(results, reviewed)
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""docs/vesk.md against the command it describes: its usage lines, headings
and exit statuses against what `--help` prints from the command table, and
every shell session it shows ("$ command" then its output) run again, its
output compared ("..." stands for any text, as in doctest)."""

import contextlib
import doctest
import io
import math
import os
import re
import struct
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
from revevu import Channel, Coil, Protocol
from test_vesk_script import INTENSITY
from vesk_tool import patched, run_vesk, saved, vesk_path, with_coil_name

ROOT = Path(__file__).resolve().parents[2]
DOC = (ROOT / "docs" / "vesk.md").read_text()


def fenced_blocks(text):
    """(heading of the section it is in, block text) for each ``` block."""
    heading, blocks, block = "", [], None
    for line in text.splitlines():
        if block is not None:
            if line.startswith("```"):
                blocks.append((heading, "\n".join(block)))
                block = None
            else:
                block.append(line)
        elif line.startswith("```"):
            block = []
        elif line.startswith("## "):
            heading = line[3:]
    return blocks


def help_of(*args):
    result = run_vesk(*args, "--help")
    assert result.returncode == 0, result.stderr
    return result.stdout


def command_names():
    listed = help_of().split("\ncommands:\n")[1].split("\n\n")[0]
    return re.findall(r"^  (\w+) ", listed, re.M)


def usage_line(name):
    return help_of(name).split("\n")[0].removeprefix("usage: ")


def test_the_usage_block_and_headings_are_the_commands_usage_lines():
    names = command_names()
    assert names == ["show", "summary", "check", "export", "diff", "plot", "script"]
    usage = [usage_line(name) for name in names]
    synopsis = fenced_blocks(DOC)[0][1].splitlines()
    assert synopsis[: len(usage)] == usage
    headings = re.findall(r"^## `(vesk \w+ .*)`$", DOC, re.M)
    assert headings == usage


def test_the_exit_status_table_has_the_statuses_the_help_lists():
    table = DOC.split("## Exit status")[1].split("\n## ")[0]
    documented = re.findall(r"^\| (\d) \|", table, re.M)
    listed = re.findall(r"^  (\d)  ", help_of().split("exit status:\n")[1], re.M)
    assert documented == listed == ["0", "1", "2", "3"]


# The files the sessions read that none of them writes.
def docs_protocol():
    p = Protocol()
    p.set_stimulation_intensity(0.5)
    p.set_session_duration(0.01)
    p.add_sine_signal(1.0, 10.0)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    p.add_constant_signal(math.nan)
    p.add_ramp_signal(-0.0, math.inf, 1e-5)
    p.set_modulation_source(Channel.A, 1)
    p.enable_channel(Channel.B)
    p.set_amplitude_source(Coil.B1, 2, external=True)
    return p


def make_inputs(folder):
    quickstart = re.search(r"## Quickstart\n\n```python\n(.*?)```", (ROOT / "README.md").read_text(),
                           re.S).group(1)
    cwd = os.getcwd()
    os.chdir(folder)
    try:
        with contextlib.redirect_stdout(io.StringIO()):  # saves session.vesk
            exec(compile(quickstart, "README quickstart", "exec"), {})
    finally:
        os.chdir(cwd)
    saved(docs_protocol(), folder, "docs.vesk")
    with_coil_name(saved(Protocol(), folder, "renamed.vesk"), b"Coil B")
    patched(saved(Protocol(), folder, "bright.vesk"), INTENSITY, struct.pack("<d", 1.5))
    (folder / "examples").symlink_to(ROOT / "examples")
    tools = folder / ".bin"  # python and vesk as the sessions call them
    tools.mkdir()
    for name in ("python", "python3"):  # a link would lose the interpreter's environment
        (tools / name).write_text(f'#!/bin/sh\nexec "{sys.executable}" "$@"\n')
        (tools / name).chmod(0o755)
    (tools / "vesk").symlink_to(vesk_path())
    return tools


def shell_sessions(block):
    """(command, expected output) of each "$ " line of a block."""
    found = []
    for line in block.splitlines():
        if line.startswith("$ "):
            found.append((line[2:], []))
        else:
            found[-1][1].append(line)
    return [(command, "\n".join(out) + "\n" if out else "") for command, out in found]


def sessions():
    """(heading, command, expected output) for each "$ " line of the page."""
    return [(heading, command, expected)
            for heading, block in fenced_blocks(DOC) if block.startswith("$ ")
            for command, expected in shell_sessions(block)]


def test_every_shown_session_prints_what_the_page_shows(tmp_path):
    tools = make_inputs(tmp_path)
    env = dict(os.environ, PATH=f"{tools}{os.pathsep}{os.environ['PATH']}")
    checker = doctest.OutputChecker()
    shown_sessions = sessions()
    assert len(shown_sessions) >= 20
    wrong = []
    for heading, command, expected in shown_sessions:
        result = subprocess.run(["bash", "-o", "pipefail", "-c", command], cwd=tmp_path, env=env,
                                capture_output=True, text=True, timeout=300, check=False)
        shown = result.stdout + result.stderr
        if not checker.check_output(expected, shown, doctest.ELLIPSIS):
            wrong.append(f"{heading}: $ {command}\n--- the page shows:\n{expected}"
                         f"--- it prints:\n{shown}")
    assert not wrong, "\n".join(wrong)

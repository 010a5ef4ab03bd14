"""The examples of docs/python-reader.md's "Pictures of a window", run in
order in one namespace, as a reader would paste them into a session."""

import contextlib
import io
import re
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

DOC = (Path(__file__).resolve().parents[2] / "docs" / "python-reader.md").read_text()


def section_blocks(heading):
    section = DOC.split(f"\n## {heading}\n")[1].split("\n## ")[0]
    return re.findall(r"```python\n(.*?)```", section, re.S)


def test_the_window_examples_run_and_print_what_they_show(tmp_path, monkeypatch):
    pytest.importorskip("matplotlib")
    monkeypatch.setenv("MPLBACKEND", "Agg")
    monkeypatch.chdir(tmp_path)
    blocks = section_blocks("Pictures of a window")
    assert len(blocks) == 2
    namespace: dict = {}
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        for number, block in enumerate(blocks):
            exec(compile(block, f"python-reader.md, block {number}", "exec"), namespace)
    shown = re.findall(r"print\(refusal\)\s+# (.*)", blocks[0])
    assert printed.getvalue().splitlines() == shown
    minute = ET.parse(tmp_path / "bursts-minute.svg").getroot()
    assert minute.get("width") == "1200"
    assert namespace["tenth"] == namespace["loaded"].svg(61.0, 61.1)
    assert 'class="samples"' in namespace["tenth"]
    assert (tmp_path / "bursts-minute.png").read_bytes()[:4] == b"\x89PNG"
    import matplotlib.pyplot as plt

    plt.close("all")

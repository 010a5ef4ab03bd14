"""Every code block of the pages runs as shown, in order, in one empty folder
per page: ">>>" examples as doctests, "$ " sessions in bash with their output
compared ("..." stands for any text), other Python blocks executed.
docs/vesk.md's sessions have their own test, beside its other checks."""

import contextlib
import doctest
import io
import os
import re
import subprocess
import sys

import pytest
from test_docs_vesk import ROOT, make_inputs, shell_sessions

PAGES = ["README.md", "docs/tutorial.md", "docs/api.md", "docs/python-reader.md"]
FLAGS = doctest.ELLIPSIS


def code_blocks(text):
    """(language, text) of each fenced block, in page order."""
    return [(m["language"], m["body"])
            for m in re.finditer(r"^```(?P<language>\w*)\n(?P<body>.*?)^```$", text, re.M | re.S)]


class Page:
    def __init__(self, name, folder):
        self.name, self.folder = name, folder
        self.tools = make_inputs(folder)
        # What the reader's page reads besides: the quickstart example's file
        # and one cut short in its machine configuration.
        subprocess.run([sys.executable, str(ROOT / "examples" / "quickstart.py"),
                        "quickstart.vesk"], cwd=folder, check=True, capture_output=True)
        (folder / "truncated.vesk").write_bytes((folder / "session.vesk").read_bytes()[:100])
        self.namespace = {"__name__": "__main__"}
        self.wrong = []

    def doctest(self, block, line):
        test = doctest.DocTestParser().get_doctest(block, self.namespace, self.name, self.name,
                                                   line)
        report = io.StringIO()
        runner = doctest.DocTestRunner(optionflags=FLAGS)
        runner.run(test, out=report.write, clear_globs=False)
        self.namespace = test.globs  # a copy: the next block goes on from it
        if runner.failures:
            self.wrong.append(report.getvalue())

    def shell(self, block):
        env = dict(os.environ, PATH=f"{self.tools}{os.pathsep}{os.environ['PATH']}")
        checker = doctest.OutputChecker()
        for command, expected in shell_sessions(block):
            result = subprocess.run(["bash", "-o", "pipefail", "-c", command], cwd=self.folder,
                                    env=env, capture_output=True, text=True, timeout=300)
            shown = result.stdout + result.stderr
            if not checker.check_output(expected, shown, FLAGS):
                self.wrong.append(f"$ {command}\n--- the page shows:\n{expected}--- it prints:\n"
                                  f"{shown}")

    def python(self, block):
        with contextlib.redirect_stdout(io.StringIO()):
            exec(compile(block, self.name, "exec"), self.namespace)


@pytest.mark.parametrize("name", PAGES)
def test_every_code_block_of_the_page_runs_as_shown(name, tmp_path, monkeypatch):
    text = (ROOT / name).read_text()
    monkeypatch.chdir(tmp_path)
    page = Page(name, tmp_path)
    ran = 0
    for language, block in code_blocks(text):
        line = text[: text.index(block)].count("\n")
        if block.lstrip().startswith(">>> "):
            page.doctest(block, line)
        elif block.startswith("$ "):
            page.shell(block)
        elif language == "python":
            page.python(block)
        else:
            continue
        ran += 1
    assert ran > 0
    assert not page.wrong, "\n".join(page.wrong)

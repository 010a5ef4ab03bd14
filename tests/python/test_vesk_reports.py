"""vesk.check, vesk.summary and vesk.diff against the commands they stand
for: the same findings, document and changes, from any kind of argument."""

import copy
import doctest
import json
import os
import pickle
import re
from pathlib import Path

import pytest
import vesk
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from random_protocols import build, edits
from revevu import Protocol
from test_docs_vesk import ROOT, make_inputs
from test_vesk_json import encode, every_variant
from test_vesk_module import document_template, like, mypy_errors  # noqa: F401 (a fixture)
from vesk_tool import run_vesk, saved


def command_lines(*args, prefix=""):
    result = run_vesk(*args)
    assert result.returncode == (1 if result.stdout else 0), result.stderr
    lines = result.stdout.splitlines()
    assert all(line.startswith(prefix) for line in lines)
    return [line[len(prefix):] for line in lines]


def agree_with_the_command(a: Path, b: Path):
    findings = vesk.check(a)
    assert [str(f) for f in findings] == command_lines("check", a, prefix=f"{a}: ")
    assert all(isinstance(f, vesk.Finding) and f.path for f in findings)
    printed = run_vesk("summary", "--json", a)
    assert printed.returncode == 0, printed.stderr
    assert vesk.summary(a) == json.loads(printed.stdout)
    changes = vesk.diff(a, b)
    assert [str(c) for c in changes] == command_lines("diff", a, b)
    assert [str(c) for c in vesk.diff(b, b)] == []


# Records the API writes (an edit list, then more edits for the second file),
# and records it never writes (any value in any field, from a document of the
# shape `vesk show --json` prints).
@settings(max_examples=60, deadline=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(data=st.data())
def test_module_and_command_agree(data, document_template, tmp_path):  # noqa: F811
    a, b = tmp_path / "a.vesk", tmp_path / "b.vesk"
    if data.draw(st.booleans(), label="from the API"):
        script = data.draw(st.lists(edits, max_size=8), label="a")
        more = data.draw(st.lists(edits, max_size=4), label="b's further edits")
        build(script).save(str(a))
        build(script + more).save(str(b))
    else:
        a.write_bytes(encode(data.draw(like(document_template), label="a")))
        b.write_bytes(encode(data.draw(like(document_template), label="b")))
    agree_with_the_command(a, b)


def test_every_kind_of_line_agrees(tmp_path):
    """One file against a default protocol: a change of kind, NaN bits,
    sources, lengths, removed signals; and the findings of NaN and missing
    positions."""
    a, b = saved(every_variant(), tmp_path, "a.vesk"), saved(Protocol(), tmp_path, "b.vesk")
    agree_with_the_command(a, b)
    agree_with_the_command(b, a)
    assert len(vesk.check(a)) >= 5 and len(vesk.diff(a, b)) >= 10


class FsPath:
    """An os.PathLike that is not a pathlib.Path, giving bytes."""

    def __init__(self, path):
        self.path = path

    def __fspath__(self):
        return os.fsencode(self.path)


ARGUMENT_KINDS = {
    "ProtocolFile": vesk.load,
    "str": str,
    "Path": Path,
    "PathLike of bytes": FsPath,
    "bytes": Path.read_bytes,
    "bytearray": lambda path: bytearray(path.read_bytes()),
    "memoryview": lambda path: memoryview(path.read_bytes()),
}


@pytest.mark.parametrize("kind", ARGUMENT_KINDS)
def test_every_kind_of_argument_gives_the_same_report(kind, tmp_path):
    a, b = saved(every_variant(), tmp_path, "a.vesk"), saved(Protocol(), tmp_path, "b.vesk")
    expected = vesk.check(vesk.load(a)), vesk.summary(vesk.load(a)), vesk.diff(
        vesk.load(a), vesk.load(b))
    given_a, given_b = ARGUMENT_KINDS[kind](a), ARGUMENT_KINDS[kind](b)
    assert (vesk.check(given_a), vesk.summary(given_a), vesk.diff(given_a, given_b)) == expected
    assert vesk.diff(given_a, vesk.load(a)) == [] == vesk.diff(vesk.load(b), given_b)


def reports(argument, other):
    return [lambda: vesk.check(argument), lambda: vesk.summary(argument),
            lambda: vesk.diff(argument, other), lambda: vesk.diff(other, argument)]


@pytest.mark.parametrize(
    "make, error, message",
    [
        (lambda folder: folder / "missing.vesk", FileNotFoundError, "No such file"),
        (lambda folder: str(folder), IsADirectoryError, "Is a directory"),
        (lambda folder: b"VESK", vesk.FormatError, "<bytes>: not a valid protocol file: "),
        (lambda folder: str(folder / "cut.vesk"), vesk.FormatError, "cut.vesk: not a valid"),
        (lambda folder: "p\0.vesk", ValueError, "null"),
        (lambda folder: 3, TypeError, "not int"),
        (lambda folder: None, TypeError, "NoneType"),
    ],
    ids=["missing", "directory", "invalid bytes", "invalid file", "NUL", "int", "None"],
)
def test_errors_are_what_load_and_loads_raise(make, error, message, tmp_path):
    good = saved(Protocol(), tmp_path)
    (tmp_path / "cut.vesk").write_bytes(good.read_bytes()[:-3])
    argument = make(tmp_path)
    for call in reports(argument, good):
        with pytest.raises(error, match=message) as caught:
            call()
        if isinstance(caught.value, OSError):
            assert caught.value.filename is argument
    if isinstance(argument, (str, Path)) and "\0" not in str(argument):
        assert run_vesk("check", argument).returncode == 2  # the command's error


def test_findings_and_changes_are_frozen_values(tmp_path):
    a, b = saved(every_variant(), tmp_path, "a.vesk"), saved(Protocol(), tmp_path, "b.vesk")
    values = vesk.check(a) + vesk.diff(a, b)
    again = vesk.check(vesk.loads(a.read_bytes())) + vesk.diff(a, b)
    assert values == again and len(set(values)) == len(values)
    assert {hash(x) for x in values} == {hash(x) for x in again}
    for value in values:
        for copied in (pickle.loads(pickle.dumps(value)), copy.deepcopy(value)):
            assert copied == value and str(copied) == str(value) and repr(copied) == repr(value)
        assert repr(value).startswith(f"{type(value).__name__}(path={value.path!r}, ")
        with pytest.raises(AttributeError):
            value.path = "intensity"
    assert values[0] != str(values[0])


def test_the_pages_examples_print_what_they_show(tmp_path):
    """The >>> examples of the section on reports in docs/python-reader.md,
    run in a folder with the files they read."""
    page = (ROOT / "docs" / "python-reader.md").read_text()
    section = page.split("\n## Check, summary and diff\n")[1].split("\n## ")[0]
    section = re.sub(r"^```.*$", "", section, flags=re.M)  # a fence ends an example's output
    make_inputs(tmp_path)
    test = doctest.DocTestParser().get_doctest(section, {}, "python-reader.md", None, 0)
    assert len(test.examples) >= 8
    cwd = os.getcwd()
    os.chdir(tmp_path)
    try:
        runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
        runner.run(test)
    finally:
        os.chdir(cwd)
    assert runner.summarize(verbose=False).failed == 0


MYPY_SNIPPET = '''
import pathlib
import vesk

findings: list[vesk.Finding] = vesk.check("p.vesk")
where: str = findings[0].path + findings[0].problem
rows = vesk.summary(b"")["inputs"]
for change in vesk.diff(vesk.load("a.vesk"), pathlib.Path("b.vesk")):
    values: tuple[str, str | None, str | None, str] = (change.path, change.old, change.new,
                                                       change.note)
findings[0].path = "x"
vesk.diff("a.vesk")
'''


def test_mypy_knows_the_reports(tmp_path):
    errors, output = mypy_errors(MYPY_SNIPPET, tmp_path)
    assert errors == [
        'Property "path" defined in "Finding" is read-only  [misc]',
        'Missing positional argument "b" in call to "diff"  [call-arg]',
    ], output

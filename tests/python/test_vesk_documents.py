"""vesk's manual page and shell completions: installed beside the command,
the same as what it prints, and saying what `--help` says (commands, options,
exit statuses), since all three are written from one table."""

import os
import re
import subprocess
import sysconfig
from pathlib import Path

import pytest
from test_docs_vesk import command_names, help_of
from vesk_tool import run_vesk

DATA = Path(sysconfig.get_path("data")) / "share"
INSTALLED = {
    ("--man-page",): DATA / "man/man1/vesk.1",
    ("--completion", "bash"): DATA / "bash-completion/completions/vesk",
    ("--completion", "zsh"): DATA / "zsh/site-functions/_vesk",
}


def options_of(name):
    """Each option spelling `vesk NAME --help` lists, and whether it takes a value."""
    text = help_of(name)
    listed = text.split("\noptions:\n")[1].split("\n\n")[0] if "\noptions:\n" in text else ""
    options = {}
    for term in re.findall(r"^  (-\S.*?)(?:  |$)", listed, re.M):
        words = term.replace(",", " ").split()
        value = "" if words[-1].startswith("-") else words.pop()
        options.update(dict.fromkeys(words, value))
    return options


@pytest.mark.parametrize("arguments", INSTALLED, ids=" ".join)
def test_each_document_is_installed_as_the_command_prints_it(arguments):
    printed = run_vesk(*arguments)
    assert printed.returncode == 0, printed.stderr
    assert INSTALLED[arguments].read_text() == printed.stdout


def test_an_unknown_shell_is_a_usage_error():
    result = run_vesk("--completion", "fish")
    assert (result.returncode, result.stdout) == (2, "")
    assert "bash or zsh" in result.stderr


def test_the_manual_page_renders_cleanly_with_every_command_option_and_status():
    page = INSTALLED[("--man-page",)]
    # The page is under test, not the formatter: a sanitizer run's preloaded
    # runtime, which every child inherits, stays out of groff.
    tools = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
    lint = subprocess.run(["groff", "-man", "-ww", "-z", page], capture_output=True, text=True,
                          env=tools)
    assert (lint.returncode, lint.stderr) == (0, "")
    env = {**tools, "MANWIDTH": "200", "MANPAGER": "cat", "LC_ALL": "C.UTF-8"}
    shown = subprocess.run(["man", "-l", page], capture_output=True, text=True, env=env)
    assert shown.returncode == 0, shown.stderr
    text = shown.stdout
    for name in command_names():
        usage = help_of(name).split("\n")[0].removeprefix("usage: ")
        section = text.split(f"\n   {usage}\n")[1].split("\n   vesk ")[0].split("\nEXIT STATUS")[0]
        for option in options_of(name):
            assert re.search(rf"(^|\s){re.escape(option)}\b", section), (name, option)
        statuses = re.findall(r"^  (\d)  ", help_of(name).split("exit status:\n")[1], re.M)
        assert re.findall(r"^       (\d)  ", section, re.M) == statuses, name
    closing = text.split("\nEXIT STATUS\n")[1]
    assert re.findall(r"^       (\d)  ", closing, re.M) == ["0", "1", "2", "3"]


def bash_complete(cwd, *words):
    script = INSTALLED[("--completion", "bash")]
    words_text = " ".join(f"'{w}'" for w in words)
    run = (
        f"source '{script}'; COMP_WORDS=({words_text}); COMP_CWORD={len(words) - 1};"
        ' _vesk; printf "%s\\n" "${COMPREPLY[@]}"'
    )
    done = subprocess.run(["bash", "-c", run], capture_output=True, text=True, cwd=cwd)
    assert done.returncode == 0, done.stderr
    return sorted(line for line in done.stdout.splitlines() if line)


@pytest.fixture()
def folder(tmp_path):
    for name in ("a.vesk", "b.txt"):
        (tmp_path / name).touch()
    (tmp_path / "sub").mkdir()
    return tmp_path


def test_bash_offers_the_commands_and_each_commands_options(folder):
    assert bash_complete(folder, "vesk", "ex") == ["export"]
    assert set(command_names()) <= set(bash_complete(folder, "vesk", ""))
    for name in command_names():
        expected = sorted({*options_of(name), "--help"})
        assert bash_complete(folder, "vesk", name, "-") == expected, name
        # A protocol file: .vesk files and folders; a PATH: any file; a number: nothing.
        protocol_files = ["a.vesk", "sub"]
        assert bash_complete(folder, "vesk", name, "") == protocol_files
        for option, value in options_of(name).items():
            offered = bash_complete(folder, "vesk", name, option, "")
            wanted = {"PATH": ["a.vesk", "b.txt", "sub"], "": protocol_files}.get(value, [])
            assert offered == wanted, option


ZSH_STUBS = r"""
_describe() { local a; for a in "$@"; do [[ $a == (vesk_commands|vesk_options) ]] && print -rl -- "${(P@)a%%:*}"; done }
_arguments() { print -rl -- "$@" }
_files() { }
_values() { print -rl -- "${@:2}" }
"""


def test_zsh_offers_the_commands_and_each_commands_options(tmp_path):
    script = INSTALLED[("--completion", "zsh")]

    def complete(*words):
        run = f"{ZSH_STUBS}\nwords=({' '.join(words)}); CURRENT={len(words)}; PREFIX=''\nsource '{script}'"
        done = subprocess.run(["zsh", "-f", "-c", run], capture_output=True, text=True, cwd=tmp_path)
        assert (done.returncode, done.stderr) == (0, "")
        return done.stdout.splitlines()

    assert complete("vesk", "ex") == command_names()
    assert complete("vesk", "--completion", "") == ["bash", "zsh"]
    for name in command_names():
        entries = complete("vesk", name, "")
        for option, value in options_of(name).items():
            # "-o+[...", "--output=[..." or a flag's bare name, after its exclusions.
            pattern = rf"^(\(.*\))?{re.escape(option)}{'[+=]' if value else ''}\["
            assert any(re.search(pattern, entry) for entry in entries), (name, option, entries)
        files = [entry for entry in entries if re.match(r"\d:protocol file:", entry)]
        assert len(files) == (2 if name == "diff" else 1), name

"""How vesk reads its arguments: an option's value after "=" or as the next
argument, "--" before a name that starts with "-", help asked for in each way,
and the options a command does not take."""

import subprocess

import numpy as np
import pytest
from revevu import Protocol
from vesk_tool import saved, vesk_path

# Each spelling gives what the plain one gives: the same status and output.
SAME_AS = {
    "--signal=N": (["export", "p.vesk", "--signal=1"], ["export", "p.vesk", "--signal", "1"]),
    "-- before a name": (["show", "--", "-p.vesk"], ["show", "p.vesk"]),
    "help": (["help"], ["--help"]),
    "-h": (["-h"], ["--help"]),
    "command -h": (["export", "p.vesk", "-h"], ["export", "--help"]),
}

# Usage errors: status 2 and the first line of the message.
REFUSED = {
    "name starting with -": (["show", "-p.vesk"], "vesk: unknown option '-p.vesk'"),
    "--json where no JSON": (["check", "--json", "p.vesk"], "vesk: unknown option '--json'"),
    "empty -o": (["export", "p.vesk", "--signal", "1", "-o", ""], "vesk: -o needs a file name"),
    "empty --output=": (["export", "p.vesk", "--signal", "1", "--output="],
                        "vesk: --output= needs a file name"),
    "--signal=x": (["export", "p.vesk", "--signal=x"],
                   "vesk: --signal needs a signal position (0, 1, ...)"),
}


def run(folder, args):
    return subprocess.run([vesk_path(), *args], cwd=folder, capture_output=True, text=True,
                          timeout=120, check=False)


@pytest.fixture
def folder(tmp_path):
    p = Protocol()
    p.set_session_duration(0.01)
    p.add_constant_signal(0.5)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    data = saved(p, tmp_path, "p.vesk").read_bytes()
    (tmp_path / "-p.vesk").write_bytes(data)
    return tmp_path


@pytest.mark.parametrize("case", SAME_AS)
def test_each_spelling_gives_what_the_plain_one_gives(case, folder):
    args, plain = SAME_AS[case]
    expected = run(folder, plain)
    assert expected.returncode == 0 and expected.stdout
    result = run(folder, args)
    assert (result.returncode, result.stdout, result.stderr) == (0, expected.stdout, "")


def test_output_after_equals_is_written_like_output_after_a_space(folder):
    spaced = run(folder, ["export", "p.vesk", "--signal", "1", "-o", "spaced.csv"])
    joined = run(folder, ["export", "p.vesk", "--signal", "1", "--output=joined.csv"])
    assert (spaced.returncode, joined.returncode) == (0, 0)
    text = (folder / "joined.csv").read_text()
    assert text.startswith("time_s,stored,normalised\n") and text == (folder / "spaced.csv").read_text()


@pytest.mark.parametrize("case", REFUSED)
def test_usage_errors_name_the_argument(case, folder):
    args, first_line = REFUSED[case]
    result = run(folder, args)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.split("\n")[0] == first_line

"""Where the vesk commands write: an output that takes no bytes ends every
command alike, and plot's -o names what it writes."""

import os
import resource
import signal
import subprocess
import xml.etree.ElementTree as ET

import numpy as np
import pytest
from conftest import FULL_DEVICE, own_char_device
from revevu import Channel, Protocol
from vesk_tool import run_vesk, saved, vesk_path


def full_output(kind, path):
    """A file at `path` that takes no bytes, and what to run in the child
    before vesk starts: a character device like the system's full one (made
    here, as root only), or a regular file under a file-size limit of 0."""
    if kind == "device":
        own_char_device(path, FULL_DEVICE)
        return None, "No space left on device"
    path.touch()

    def no_room():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a failing write, not a killed process
        resource.setrlimit(resource.RLIMIT_FSIZE, (0, 0))

    return no_room, "File too large"


# Each command, on a file whose check has something to say; FULL is the full
# output given to -o.
COMMANDS = {
    "show": ["show", "a.vesk"],
    "show --json": ["show", "--json", "a.vesk"],
    "summary": ["summary", "a.vesk"],
    "summary --json": ["summary", "--json", "a.vesk"],
    "check": ["check", "a.vesk"],
    "export": ["export", "a.vesk", "--signal", "0"],
    "export -o": ["export", "a.vesk", "--signal", "0", "-o", "FULL"],
    "diff": ["diff", "a.vesk", "b.vesk"],
    "plot -o -": ["plot", "a.vesk", "-o", "-"],
    "plot -o": ["plot", "a.vesk", "-o", "FULL"],
}


@pytest.mark.parametrize("kind", ["device", "size limit"])
@pytest.mark.parametrize("command", COMMANDS)
def test_output_that_takes_no_bytes_gives_one_line_and_exit_2(command, kind, tmp_path,
                                                              monkeypatch):
    if kind == "size limit" and "LLVM_PROFILE_FILE" in os.environ and os.geteuid() == 0:
        pytest.skip("vesk with coverage counters cannot write them under a limit of 0; "
                    "the device takes the same paths")
    monkeypatch.chdir(tmp_path)  # and "-" read as a name would be written here
    p = Protocol()
    p.set_session_duration(0.01)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    p.set_modulation_source(Channel.A, 9)  # names no signal
    saved(p, tmp_path, "a.vesk")
    saved(Protocol(), tmp_path, "b.vesk")
    full = tmp_path / ("full.csv" if command.startswith("export") else "full.svg")
    before_exec, reason = full_output(kind, full)
    args = [str(full) if arg == "FULL" else arg for arg in COMMANDS[command]]
    to_file = args[-1] == str(full)
    with open(tmp_path / "stdout" if to_file else full, "wb") as stdout:
        result = subprocess.run([vesk_path(), *args], stdout=stdout, stderr=subprocess.PIPE,
                                text=True, timeout=120, check=False, preexec_fn=before_exec)
    name = full if to_file else "standard output"
    assert (result.returncode, result.stderr) == (2, f"vesk: {name}: cannot write: {reason}\n")


def not_svg(name):
    return (f"vesk: -o {name}: the picture is SVG: give a name ending in .svg, or - for "
            "standard output\n")


@pytest.mark.parametrize(
    "args, error",
    [
        (["plot", "-o", "out.png"], not_svg("out.png")),
        (["plot", "-o", "svg"], not_svg("svg")),
        (["plot", "--output=out.svg.txt"], not_svg("out.svg.txt")),
        (["plot", "-o", "-"], None),
        (["export", "--signal", "0", "-o", "-"], None),
    ],
    ids=["png", "no suffix", "another suffix", "plot to standard output",
         "export to standard output"],
)
def test_output_names(args, error, tmp_path, monkeypatch):
    """A refused name writes nothing; "-" is standard output, not a file."""
    monkeypatch.chdir(tmp_path)
    p = Protocol()
    p.set_session_duration(0.01)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    path = saved(p, tmp_path)
    result = run_vesk(args[0], path, *args[1:])
    assert os.listdir(tmp_path) == ["p.vesk"]
    if error is not None:
        assert (result.returncode, result.stdout, result.stderr) == (2, "", error)
    elif args[0] == "plot":
        assert (result.returncode, result.stderr) == (0, "")
        assert ET.fromstring(result.stdout).tag == "{http://www.w3.org/2000/svg}svg"
    else:
        assert (result.returncode, result.stderr) == (0, "")
        assert result.stdout.splitlines()[0] == "time_s,stored,normalised"
        assert len(result.stdout.splitlines()) == 1 + p.get_num_samples()

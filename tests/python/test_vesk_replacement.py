"""Every file a vesk command writes replaces the old one only once it is
complete: a full disk, a file-size limit, an interrupt or a kill at any
moment leaves the old file byte for byte as it was and nothing beside it.
Killed between its two files, `vesk script` leaves a pair whose script says
plainly that the samples are not its own."""

import contextlib
import hashlib
import os
import random
import resource
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
import vesk
from revevu import Channel, Protocol
from vesk_tool import saved, vesk_path

LONG_SAMPLES = 9_000_000  # 1800 s at 5000/s: long enough a write to be caught midway

# What each command writes, into the folder it runs in; the first name is the
# first file it writes.
COMMANDS = {
    "export": (["export", "--signal", "0", "-o", "e.csv"], ["e.csv"]),
    "plot": (["plot", "-o", "p.svg"], ["p.svg"]),
    "script": (["script", "-o", "r.py"], ["r.npz", "r.py"]),
}


def digest(path):
    with open(path, "rb") as f:
        return hashlib.file_digest(f, "sha256").hexdigest()


def contents(folder):
    return {name: digest(folder / name) for name in os.listdir(folder)}


@pytest.fixture(scope="module")
def long_file(tmp_path_factory):
    p = Protocol()
    p.set_session_duration(1800.0)
    p.add_arbitrary_signal(np.random.default_rng(5).random(LONG_SAMPLES))
    p.set_modulation_source(Channel.A, 0)
    return saved(p, tmp_path_factory.mktemp("long"), "long.vesk")


@pytest.fixture(scope="module")
def finished(long_file, tmp_path_factory):
    """Each command's files when it runs to the end, and how long it takes."""
    runs = {}
    for command, (args, _) in COMMANDS.items():
        folder = tmp_path_factory.mktemp(command)
        start = time.monotonic()
        result = subprocess.run([vesk_path(), args[0], str(long_file), *args[1:]], cwd=folder,
                                capture_output=True, timeout=120, check=False)
        assert (result.returncode, result.stderr) == (0, b"")
        runs[command] = (contents(folder), time.monotonic() - start)
    return runs


def put_old_outputs(command, folder):
    """The files the command replaces, as an earlier run left them: for script
    a real pair, of another protocol."""
    if command == "script":
        p = Protocol()
        p.set_session_duration(0.01)
        p.add_arbitrary_signal(np.full(50, 0.25))
        small = saved(p, folder.parent, "small.vesk")
        subprocess.run([vesk_path(), "script", str(small), "-o", "r.py"], cwd=folder, check=True)
    else:
        (folder / COMMANDS[command][1][0]).write_bytes(b"old output\n")
    return contents(folder)


@contextlib.contextmanager
def full_disk(folder):
    """A 1 MiB tmpfs mounted at `folder` (root only), filled to the last
    block by a file outside the output folder it holds."""
    folder.mkdir()
    try:
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", str(folder)],
                       check=True, capture_output=True)
    except (OSError, subprocess.CalledProcessError) as error:
        pytest.skip(f"cannot mount a tmpfs of the test's own (root only): {error}")
    try:
        yield folder
    finally:
        subprocess.run(["umount", str(folder)], check=True)


def fill(disk):
    filler = os.open(disk / "filler", os.O_WRONLY | os.O_CREAT, 0o600)
    try:
        with contextlib.suppress(OSError):
            while os.write(filler, b"\0" * 4096) > 0:
                pass
    finally:
        os.close(filler)


def limit_file_size():
    # SIGXFSZ keeps its default action here: vesk must ignore it itself.
    resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))


def check_pair(folder, old, new):
    """A script and .npz that are both old, both new, or a new .npz beside the
    old script, which then refuses to run on it."""
    now = contents(folder)
    assert set(now) == {"r.py", "r.npz"}
    state = tuple(now[name] == new[name] for name in ("r.py", "r.npz"))
    assert all(now[n] in (old[n], new[n]) for n in now) and state != (True, False), state
    if state == (False, True):
        result = subprocess.run([sys.executable, "r.py", "again.vesk"], cwd=folder,
                                capture_output=True, text=True, timeout=120, check=False)
        assert result.returncode == 1
        assert result.stderr.startswith(f"{folder / 'r.npz'}: not the samples this script "
                                        "was written for")


# A signal comes after a seeded random delay within the command's running time,
# three times each; a full disk or a file-size limit is the same run every time.
CASES = [(command, fault, seed) for command in COMMANDS
         for fault in ("full disk", "size limit", "SIGINT", "SIGKILL")
         for seed in (range(3) if fault.startswith("SIG") else [0])]


@pytest.mark.parametrize("command, fault, seed", CASES)
def test_a_fault_at_any_moment_leaves_the_old_file_whole(command, fault, seed, long_file,
                                                         finished, tmp_path):
    args, names = COMMANDS[command]
    disk = tmp_path / "disk"
    with full_disk(disk) if fault == "full disk" else contextlib.nullcontext(tmp_path):
        folder = (disk if fault == "full disk" else tmp_path) / "out"
        folder.mkdir()
        old = put_old_outputs(command, folder)
        if fault == "full disk":
            fill(disk)
        process = subprocess.Popen(
            [vesk_path(), args[0], str(long_file), *args[1:]], cwd=folder,
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
            preexec_fn=limit_file_size if fault == "size limit" else None)
        if fault.startswith("SIG"):
            new, duration = finished[command]
            time.sleep(random.Random(f"{command} {fault} {seed}").uniform(0.0, duration))
            process.send_signal(getattr(signal, fault))
        stderr = process.communicate(timeout=120)[1]
        if fault.startswith("SIG"):
            assert process.returncode in (0, -getattr(signal, fault)), stderr
            if command == "script":
                check_pair(folder, old, new)
            else:
                assert contents(folder) in (old, new)
                assert process.returncode != 0 or contents(folder) == new
        else:
            reason = "No space left on device" if fault == "full disk" else "File too large"
            assert (process.returncode, stderr) == (2, f"vesk: {names[0]}: cannot write: {reason}\n")
            assert contents(folder) == old


@pytest.mark.parametrize("ending", ["SIGINT", "SIGTERM", "SIGHUP"])
def test_a_named_temporary_is_removed_by_the_signals_that_end_the_command(ending, long_file,
                                                                          fault_shim, tmp_path):
    """Where no unnamed file can be made, the new file has a name while it is
    written; the signal is sent once it is seen in the folder."""
    old = put_old_outputs("export", tmp_path)
    env = {**os.environ, "LD_PRELOAD": fault_shim, "REVEVU_FAULT_REFUSE_TMPFILE": "95"}
    args = COMMANDS["export"][0]
    number = getattr(signal, ending)
    # The command keeps a signal ignored that it was started with ignored (as
    # under nohup): the child starts with the default, whatever this run has.
    process = subprocess.Popen([vesk_path(), args[0], str(long_file), *args[1:]], cwd=tmp_path,
                               env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                               preexec_fn=lambda: signal.signal(number, signal.SIG_DFL))
    deadline = time.monotonic() + 60
    while not any(name.startswith(".vesk-") for name in os.listdir(tmp_path)):
        assert process.poll() is None and time.monotonic() < deadline, "no temporary name seen"
    process.send_signal(number)
    process.communicate(timeout=120)
    assert process.returncode == -number
    assert contents(tmp_path) == old


@pytest.mark.parametrize("name", ["x.npy", "x.csv", "env.npz", "x.CSV", "x", "x.npy.txt"])
def test_export_writes_npy_or_csv_by_the_name_and_refuses_other_names(name, tmp_path):
    p = Protocol()
    p.set_session_duration(0.01)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    path = saved(p, tmp_path)
    out = tmp_path / "out"
    out.mkdir()
    result = subprocess.run([vesk_path(), "export", str(path), "--signal", "0", "-o", name],
                            cwd=out, capture_output=True, text=True, timeout=120, check=False)
    samples = vesk.load(path).settings.signals[0].samples
    if name == "x.npy":
        assert (result.returncode, result.stderr) == (0, "")
        written = np.load(out / name)  # no pickles allowed
        assert written.dtype == samples.dtype == np.int16
        np.testing.assert_array_equal(written, samples)
    elif name == "x.csv":
        assert (result.returncode, result.stderr) == (0, "")
        stored = np.loadtxt(out / name, delimiter=",", skiprows=1, usecols=1, dtype=np.int16)
        np.testing.assert_array_equal(stored, samples)
    else:
        assert (result.returncode, result.stdout) == (2, "")
        assert result.stderr == (f"vesk: -o {name}: give a name ending in .csv (CSV) or .npy "
                                 "(an NPY array), or - for CSV on standard output\n")
        assert os.listdir(out) == []


def test_script_refuses_another_scripts_samples_and_rebuilds_with_its_own(tmp_path):
    folders = {}
    for level in (0.25, 0.5):
        p = Protocol()
        p.set_session_duration(0.01)
        p.add_arbitrary_signal(np.full(50, level))
        p.add_arbitrary_signal(np.linspace(0.0, level, 50))
        folder = folders[level] = tmp_path / str(level)
        folder.mkdir()
        path = saved(p, folder, "p.vesk")
        subprocess.run([vesk_path(), "script", str(path), "-o", "r.py"], cwd=folder, check=True)

    def rebuild(folder):
        return subprocess.run([sys.executable, "r.py", "again.vesk"], cwd=folder,
                              capture_output=True, text=True, timeout=120, check=False)

    matching = rebuild(folders[0.25])
    assert (matching.returncode, matching.stderr) == (0, "")
    assert (folders[0.25] / "again.vesk").read_bytes() == (folders[0.25] / "p.vesk").read_bytes()
    (folders[0.25] / "again.vesk").unlink()
    (folders[0.25] / "r.npz").write_bytes((folders[0.5] / "r.npz").read_bytes())
    swapped = rebuild(folders[0.25])
    assert (swapped.returncode, swapped.stdout) == (1, "")
    assert swapped.stderr == (
        f"{folders[0.25] / 'r.npz'}: not the samples this script was written for (another "
        "script's, or changed): write both again with vesk script, or put back the .npz "
        "written with this script\n")
    assert not (folders[0.25] / "again.vesk").exists()

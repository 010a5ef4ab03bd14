"""Shared helpers of the revevu test suite: the expected messages, a reader of
the protocol's text form, the PanicException class, and a way to run code in a
fresh interpreter."""

from __future__ import annotations

import contextlib
import math
import os
import shutil
import stat
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import revevu
from revevu import Protocol

U64_MAX = 2**64 - 1
REPO = Path(__file__).resolve().parents[2]


def pytest_configure(config):
    # Examples are not stored between runs: no database folder beside the
    # tests. Here rather than at import, so that scripts that take this
    # module's helpers (the reliability run) do not import hypothesis.
    import hypothesis

    # Drawing examples is timed by a health check: its limit does not fit an
    # emulated machine (a wheel for another one, under qemu-user) or a loaded one.
    hypothesis.settings.register_profile(
        "revevu", database=None, suppress_health_check=[hypothesis.HealthCheck.too_slow])
    hypothesis.settings.load_profile("revevu")

MSG_INTENSITY = "assertion failed: intensity >= 0.0 && intensity <= 1.0"
MSG_DURATION_MAX = "assertion failed: duration <= config::MAX_SESSION_DURATION"
MSG_DURATION_MIN = "assertion failed: duration >= 0.01"
MSG_LENGTH = "assertion failed: samples.len() == self.get_num_samples()"
MSG_SAMPLE_LOW = "assertion failed: *sample >= 0.0"
MSG_SAMPLE_HIGH = "assertion failed: *sample <= 1.0"
MSG_EXTENSION = 'assertion failed: filepath.ends_with(".vesk")'
UNWRAP = "called `Result::unwrap()` on an `Err` value: "


def cast_message(name: str, obj: object, target: str) -> str:
    """The TypeError text of an argument of the wrong type."""
    return f"argument '{name}': '{type(obj).__qualname__}' object cannot be cast as '{target}'"


def quantise(x: float) -> int:
    """The stored value of a normalised sample in [0, 1]: x * 32767 rounded
    half away from zero, computed without a second rounding."""
    scaled = x * 32767.0
    whole = math.floor(scaled)
    return whole + (1 if scaled - whole >= 0.5 else 0)


def os_error_message(code: int, kind: str) -> str:
    """The PanicException text of a file operation that failed with error number `code`."""
    return UNWRAP + f'Os {{ code: {code}, kind: {kind}, message: "{os.strerror(code)}" }}'


NULL_DEVICE, FULL_DEVICE = 3, 7  # minor numbers of the memory devices (major 1)


def own_char_device(path, minor: int) -> str:
    """A character device node made at `path` (in the test's own folder), so
    that no test writes the machine's devices; skips where none can be made
    (not root) or opened (a file system mounted without devices)."""
    try:
        os.mknod(path, 0o666 | stat.S_IFCHR, os.makedev(1, minor))
        with open(path, "wb"):
            pass
    except OSError as error:
        pytest.skip(f"no device node of the test's own here: {error}")
    return str(path)


def require_mypy() -> None:
    """Skips unless mypy can run here: it keeps its cache in sqlite3, which an
    interpreter may be built without (the musl CPython the musllinux wheel is
    tested in)."""
    pytest.importorskip("mypy", reason="mypy is not installed (pip install mypy)")
    pytest.importorskip("sqlite3", reason="mypy keeps its cache in sqlite3, which this interpreter lacks")


@pytest.fixture(scope="session")
def fault_shim(tmp_path_factory):
    # Built beforehand (reliability/build_fault_shim.sh) where the tests run
    # without a compiler, as against an installed wheel.
    prebuilt = os.environ.get("REVEVU_FAULT_SHIM")
    if prebuilt:
        return prebuilt
    if not (shutil.which("g++") or shutil.which("c++")):
        pytest.skip("no C++ compiler to build the fault-injection library (or set REVEVU_FAULT_SHIM)")
    builder = os.path.join(REPO, "reliability", "build_fault_shim.sh")
    if not os.path.exists(builder):
        pytest.skip("reliability/ is not in this tree")
    out = str(tmp_path_factory.mktemp("shim") / "fault_shim.so")
    subprocess.run([builder, out], check=True)
    return out


def _find_panic_exception() -> type:
    try:
        Protocol().set_session_duration(0.0)
    except BaseException as error:  # noqa: B036 - the class is what we are after
        return type(error)
    raise AssertionError("set_session_duration(0.0) did not fail")


PanicException = _find_panic_exception()


def assert_panics(call, message: str) -> PanicException:
    """Runs `call` and checks that it raises PanicException carrying `message` alone."""
    with pytest.raises(BaseException) as caught:  # noqa: B017 - narrowed just below
        call()
    assert type(caught.value) is PanicException
    assert caught.value.args == (message,)
    assert str(caught.value) == message
    return caught.value


@contextlib.contextmanager
def unchanged(protocol: Protocol):
    """The block must leave the protocol's text form exactly as it was, and
    the protocol usable."""
    before = str(protocol)
    yield
    assert str(protocol) == before
    assert protocol.get_sampling_rate() == 5000.0


# ---- The text form, read back into Python values -------------------------------


def _scalar(text: str):
    if text in ("true", "false"):
        return text == "true"
    if text.startswith('"'):
        return text[1:-1]
    if text.lstrip("-").isdigit():
        return int(text)
    return float(text)  # also "NaN", "inf", "-inf", "1e-5"


def parse_text_form(text: str):
    """Reads the multi-line text form into dicts (records, with their type name
    under "__type__"), lists and (variant name, payload) pairs."""
    lines = [line.strip() for line in text.split("\n")]
    position = 0

    def value(head: str):
        nonlocal position
        if head == "[]":
            return []
        if head.endswith("{"):
            record = {"__type__": head[:-2]}
            while lines[position] not in ("}", "},"):
                name, rest = lines[position].split(": ", 1)
                position += 1
                record[name] = value(rest.removesuffix(","))
            position += 1
            return record
        if head.endswith("["):
            items = []
            while lines[position] not in ("]", "],"):
                position += 1
                items.append(value(lines[position - 1].removesuffix(",")))
            position += 1
            return items
        if head.endswith("("):
            position += 1
            payload = value(lines[position - 1].removesuffix(","))
            position += 1  # ")"
            return (head[:-1], payload)
        return _scalar(head)

    position = 1
    result = value(lines[0])
    assert position == len(lines), "text form has trailing lines"
    return result


def settings_of(protocol: Protocol) -> dict:
    record = parse_text_form(str(protocol))
    assert record["__type__"] == "Protocol"
    return record["settings"]


def signals_of(protocol: Protocol) -> list:
    """The signal list as (variant, {field: value}) pairs, without type names."""
    result = []
    for variant, params in settings_of(protocol)["signals"]:
        result.append((variant, {k: v for k, v in params.items() if k != "__type__"}))
    return result


def source_of(protocol: Protocol, channel: str, source: str) -> tuple:
    """(internal, external, external_selected) of one source selection."""
    selection = settings_of(protocol)[f"channel_{channel}_settings"][source]
    return (selection["internal"], selection["external"], selection["external_selected"])


# ---- Fresh interpreters ---------------------------------------------------------

MODULE_DIR = str(Path(revevu.__file__).resolve().parent)


def run_python(code: str, *, env: dict | None = None, timeout: float = 120) -> subprocess.CompletedProcess:
    """Runs `code` in a new interpreter that imports the same revevu build;
    `env` adds variables to this process's environment, or removes those
    given as None."""
    full_env = dict(os.environ)
    full_env["PYTHONPATH"] = os.pathsep.join(
        [MODULE_DIR] + [p for p in full_env.get("PYTHONPATH", "").split(os.pathsep) if p]
    )
    for name, value in (env or {}).items():
        if value is None:
            full_env.pop(name, None)
        else:
            full_env[name] = value
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        env=full_env,
        capture_output=True,
        text=True,
        timeout=timeout,
    )


@pytest.fixture(scope="session")
def unprivileged_ids():
    """The (user, group) a child takes to give up root, or None when the tests
    do not run as root; skips where a child cannot take other ids."""
    if os.geteuid() != 0:
        return None
    import reliability_helpers as rh  # it imports this module

    probe = f"from reliability_helpers import become\nbecome({rh.ALICE}, {rh.ALICE}, [{rh.LAB}])\nprint(1)"
    try:
        rh.run_python(probe)
    except AssertionError as error:
        pytest.skip(f"a child cannot take made-up user ids here: {str(error)[-200:]}")
    return (rh.ALICE, rh.ALICE)


def pytest_configure(config):
    config.addinivalue_line("markers", "slow: takes seconds; deselect with -m 'not slow'")


@pytest.fixture
def protocol() -> Protocol:
    return Protocol()


@pytest.fixture
def np():
    return pytest.importorskip("numpy")


# ---- The example scripts' files -------------------------------------------------

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"


def example_output(script: str, *args: object) -> list[str]:
    """The lines that examples/<script> prints when run with `args`; it must succeed."""
    result = subprocess.run([sys.executable, str(EXAMPLES / script), *map(str, args)],
                            capture_output=True, text=True, timeout=120, check=False)
    assert result.returncode == 0, f"{script}: {result.stderr}"
    return result.stdout.splitlines()


@pytest.fixture(scope="session")
def example_files(tmp_path_factory) -> dict[str, Path]:
    """Runs every script in examples/ once, as a researcher would, into a new
    folder: its saved protocol file by script name (the golden inputs of the
    vesk tests)."""
    folder = tmp_path_factory.mktemp("examples")
    files = {}
    for script in sorted(EXAMPLES.glob("*.py")):
        out = folder / f"{script.stem}.vesk"
        result = subprocess.run(
            [sys.executable, str(script), str(out)],
            cwd=folder, capture_output=True, text=True, timeout=120,
        )
        assert result.returncode == 0, f"{script.name}: {result.stderr}"
        files[script.stem] = out
    return files

"""save: the file it writes, the default signal it adds, the names it takes,
and what a failed write leaves behind (nothing: the old file stays whole)."""

import os
import pathlib
import stat

import pytest

import reliability_helpers as rh
from conftest import (
    MSG_EXTENSION,
    UNWRAP,
    assert_panics,
    cast_message,
    os_error_message,
    run_python,
    signals_of,
    unchanged,
)
from revevu import Channel, Coil, Protocol

# A new protocol saved at once (the default signal added), VESK_TARGET_MACHINE unset.
DEFAULT_FILE = bytes.fromhex(
    "00"  # running_on_target_machine
    "0000000000005440"  # supply_voltage 80.0
    "02"  # num_coils
    "01" "07" + "Default".encode().hex() +  # one coil, its name
    "00000000 00c06240"  # inductance 150.0
    "9a999999 9999b93f"  # max_current 0.1
    "00000000 00004440"  # max_carrier_frequency 40.0
    "01" "00000000 00a07440" "efda9fee da9f3640" "dd01" "01"  # one LCSetting
    "01" "00000000 00a07440"  # capacitors
    "01" "00000000 00a07440"  # possible_capacitances
    "06" "00" "00" "00" "01"  # sources, smbus, two sensor counts, safety checks
    "33333333 3333d33f"  # max_intensity_setpoint 0.3
    "00000000 0000e03f"  # max_current 0.5
    "00000000 00004440"  # max_carrier_frequency 40.0
    "00000000 00004440"  # max_temperature 40.0
    "00000000 00805140"  # min_flowrate 70.0
    "00000000 00408040"  # max_power 520.0
    "00000000 00000000"  # intensity 0.0
    "00000000 00004e40"  # session_duration 60.0
    "01" "00" "00000000 00000000"  # signals: one Constant 0.0
    "01" "000000" "000000" "000000" "00" "00"  # channel A
    "00" "000000" "000000" "000000" "00" "00"  # channel B
    + "00" * 16  # monitor_trace_visible
    + "01"  # monitor_subsampling_factor
)


@pytest.fixture(autouse=True)
def no_target_machine(monkeypatch):
    monkeypatch.delenv("VESK_TARGET_MACHINE", raising=False)


def leftovers(directory: pathlib.Path, *expected: str) -> list:
    """Files in `directory` other than the expected ones (a temporary file would show here)."""
    return sorted(name for name in os.listdir(directory) if name not in expected)


def test_new_protocol_saved_at_once_writes_the_default_file(tmp_path):
    assert len(DEFAULT_FILE) == 201
    p = Protocol()
    target = tmp_path / "p.vesk"
    assert p.save(str(target)) is None
    assert target.read_bytes() == DEFAULT_FILE
    assert signals_of(p) == [("Constant", {"value": 0.0})]
    assert p.add_constant_signal(0.5) == 1
    assert leftovers(tmp_path, "p.vesk") == []


def test_saving_with_signals_adds_none(tmp_path):
    p = Protocol()
    p.add_sine_signal(1.0, 10.0, 0.0, 0.5)
    p.save(str(tmp_path / "s.vesk"))
    assert [kind for kind, _ in signals_of(p)] == ["Sine"]
    data = (tmp_path / "s.vesk").read_bytes()
    sine = bytes.fromhex("01 000000000000f03f 0000000000002440 0000000000000000 000000000000e03f")
    assert data[150:184] == b"\x01" + sine  # count 1, then the 33 bytes of the signal
    assert len(data) == 201 - 10 + 34


def test_two_saves_are_identical(tmp_path):
    p = Protocol()
    p.set_session_duration(0.07)
    p.add_mixed_signal(0, 130)
    p.enable_channel(Channel.B)
    p.set_amplitude_source(Coil.B2, 7, external=True)
    p.save(str(tmp_path / "one.vesk"))
    p.save(str(tmp_path / "two.vesk"))
    assert (tmp_path / "one.vesk").read_bytes() == (tmp_path / "two.vesk").read_bytes()


def test_longer_old_file_is_replaced_whole(tmp_path):
    target = tmp_path / "old.vesk"
    target.write_bytes(b"\xaa" * 5000)
    Protocol().save(str(target))
    assert target.read_bytes() == DEFAULT_FILE


def test_new_file_permissions_follow_the_umask(tmp_path):
    old = os.umask(0o027)
    try:
        Protocol().save(str(tmp_path / "perm.vesk"))
    finally:
        os.umask(old)
    assert stat.S_IMODE((tmp_path / "perm.vesk").stat().st_mode) == 0o640


def test_relative_name_and_keyword(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    Protocol().save(filepath="rel.vesk")
    Protocol().save(".vesk")  # exactly the extension
    assert (tmp_path / "rel.vesk").read_bytes() == DEFAULT_FILE
    assert (tmp_path / ".vesk").read_bytes() == DEFAULT_FILE


def test_str_subclass_and_non_ascii_name(tmp_path):
    class Name(str):
        pass

    Protocol().save(Name(tmp_path / "süß ✓.vesk"))
    assert (tmp_path / "süß ✓.vesk").read_bytes() == DEFAULT_FILE


@pytest.mark.parametrize("name", ["vesk", "p.VESK", "p.vesk/", "", "p.vesk ", "p.vesk\n", "p.ves"])
def test_wrong_extension_changes_nothing(tmp_path, monkeypatch, name):
    monkeypatch.chdir(tmp_path)
    p = Protocol()
    with unchanged(p):
        assert_panics(lambda: p.save(name), MSG_EXTENSION)
    assert signals_of(p) == []
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize(
    "value", [b"p.vesk", pathlib.Path("p.vesk"), None, 5, ["p.vesk"]], ids=repr
)
def test_filepath_must_be_a_str(tmp_path, monkeypatch, value):
    monkeypatch.chdir(tmp_path)
    p = Protocol()
    with unchanged(p):
        with pytest.raises(TypeError) as caught:
            p.save(value)
    assert type(caught.value) is TypeError
    assert str(caught.value) == cast_message("filepath", value, "str")
    assert os.listdir(tmp_path) == []


def test_lone_surrogate_passes_the_encoding_error(tmp_path):
    p = Protocol()
    with unchanged(p):
        with pytest.raises(UnicodeEncodeError):
            p.save(str(tmp_path / "bad\udc80.vesk"))
    assert os.listdir(tmp_path) == []


# ---- Failed writes ---------------------------------------------------------------------


def check_failed_save(p: Protocol, path: str, message: str):
    assert_panics(lambda: p.save(path), message)
    # The default signal stays, and the object is still usable.
    assert signals_of(p) == [("Constant", {"value": 0.0})]
    assert p.add_constant_signal(1.0) == 1


def test_missing_directory(tmp_path):
    check_failed_save(Protocol(), str(tmp_path / "missing" / "p.vesk"),
                      os_error_message(2, "NotFound"))
    assert os.listdir(tmp_path) == []


def test_directory_as_target(tmp_path):
    (tmp_path / "d.vesk").mkdir()
    (tmp_path / "d.vesk" / "inside").write_bytes(b"kept")
    check_failed_save(Protocol(), str(tmp_path / "d.vesk"), os_error_message(21, "IsADirectory"))
    assert (tmp_path / "d.vesk" / "inside").read_bytes() == b"kept"
    assert leftovers(tmp_path, "d.vesk") == []


def test_nul_in_the_name(tmp_path):
    check_failed_save(
        Protocol(), str(tmp_path / "a\0b.vesk"),
        UNWRAP + 'Error { kind: InvalidInput, message: "file name contained an unexpected NUL byte" }',
    )
    assert os.listdir(tmp_path) == []


def test_name_too_long(tmp_path):
    check_failed_save(Protocol(), str(tmp_path / ("n" * 300 + ".vesk")),
                      os_error_message(36, "InvalidFilename"))
    assert os.listdir(tmp_path) == []


def test_read_only_directory(tmp_path, unprivileged_ids):
    """A read-only file in a read-only directory, saved by its owner: refused.
    When the tests run as root, whom no permission bit stops, the save runs
    as a made-up user."""
    target = tmp_path / "keep.vesk"
    target.write_bytes(b"old content")
    target.chmod(0o444)
    if unprivileged_ids:
        os.chown(target, *unprivileged_ids)
    tmp_path.chmod(0o555)
    try:
        result = rh.save_as(unprivileged_ids, tmp_path, "keep.vesk")
    finally:
        tmp_path.chmod(0o755)
    assert result["error"] == "PanicException: " + os_error_message(13, "PermissionDenied")
    assert target.read_bytes() == b"old content"
    assert leftovers(tmp_path, "keep.vesk") == []


def test_file_size_limit_keeps_the_old_file(tmp_path):
    # A child process with a 100-byte file size limit: the write fails with
    # EFBIG (SIGXFSZ ignored), and the existing target must stay as it was.
    # Only the soft limit, lifted again, so that a build with coverage
    # counters can still write them when the child ends.
    target = tmp_path / "big.vesk"
    target.write_bytes(b"previous protocol")
    result = run_python(
        f"""
        import resource, signal
        from revevu import Protocol
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
        resource.setrlimit(resource.RLIMIT_FSIZE, (100, hard))
        p = Protocol()
        try:
            p.save({str(target)!r})
        except BaseException as error:
            print(type(error).__name__, str(error), sep="|")
        resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
        print(p.add_constant_signal(1.0))
        """
    )
    assert result.returncode == 0, result.stderr
    first, second = result.stdout.strip().split("\n")
    assert first == "PanicException|" + os_error_message(27, "FileTooLarge")
    assert second == "1"
    assert target.read_bytes() == b"previous protocol"
    assert leftovers(tmp_path, "big.vesk") == []


def test_failed_save_of_a_protocol_with_signals_adds_nothing(tmp_path):
    p = Protocol()
    p.add_ramp_signal(1.0, 2.0, 3.0)
    with unchanged(p):
        with pytest.raises(BaseException):  # noqa: B017 - the message is checked above
            p.save(str(tmp_path / "no" / "such.vesk"))

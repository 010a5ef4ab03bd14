"""ProtocolFile.to_protocol() and script(): a loaded file back into revevu,
saving the same bytes, and refused as `vesk script` refuses it where no
revevu call writes what the file holds."""

import copy
import os
import tempfile
from pathlib import Path

import pytest
import vesk
from conftest import EXAMPLES, example_output, run_python
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st
from random_protocols import build, edits, target_machine_environment
from test_vesk_json import encode, every_variant, show_json
from vesk_tool import run_vesk, saved

ROUND_TRIPS = int(os.environ.get("REVEVU_TO_PROTOCOL_EXAMPLES", "60"))
REFUSED = "cannot be rebuilt through the revevu API: "


@settings(
    max_examples=ROUND_TRIPS,
    deadline=None,
    database=None,  # nothing written outside the test's folder
    suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow],
)
@given(st.lists(edits, max_size=14), st.booleans())
def test_random_protocols_come_back_as_they_were(tmp_path, script, target_machine):
    written = build(script, target_machine)
    with tempfile.TemporaryDirectory(dir=tmp_path) as folder:
        path = saved(written, Path(folder))
        with target_machine_environment(target_machine):
            rebuilt = vesk.load(path).to_protocol()
        assert saved(rebuilt, Path(folder), "rebuilt.vesk").read_bytes() == path.read_bytes()
    assert str(rebuilt) == str(written)
    event(f"made on the target machine: {target_machine}")
    event(f"arbitrary signals: {'Arbitrary(' in str(written)}")


@pytest.mark.parametrize("example", [*sorted(p.stem for p in EXAMPLES.glob("*.py")), "odd name"])
def test_files_come_back_and_script_as_the_command_writes(example, example_files, tmp_path):
    if example == "odd name":  # not UTF-8, quotes: what the script's docstring escapes
        path = saved(every_variant(), tmp_path).rename(tmp_path / os.fsdecode(b'x"\xff\\.vesk'))
    else:
        path = example_files[example]
    loaded = vesk.load(path)
    with target_machine_environment(loaded.settings.running_on_target_machine):
        rebuilt = saved(loaded.to_protocol(), tmp_path, "rebuilt.vesk")
    assert rebuilt.read_bytes() == path.read_bytes()
    assert run_vesk("script", path, "-o", tmp_path / "s.py").returncode == 0
    assert loaded.script() == (tmp_path / "s.py").read_text(encoding="utf-8")


def test_a_long_signal_comes_back_whole(tmp_path):
    """Long enough to be divided by two threads, and of odd length."""
    import numpy as np
    import revevu

    written = revevu.Protocol()
    written.set_session_duration(120.00001)
    assert written.get_num_samples() % 2 == 1
    written.add_arbitrary_signal(np.random.default_rng(7).random(written.get_num_samples()))
    path = saved(written, tmp_path)
    rebuilt = saved(vesk.load(path).to_protocol(), tmp_path, "rebuilt.vesk")
    assert rebuilt.read_bytes() == path.read_bytes()


# What no revevu call writes, put into the file through its JSON form: the
# field each refusal names, and the change to the document.
REFUSALS = [
    ("machine_config.coils[0].name",
     lambda d: d["machine_config"]["coils"][0].update(name="Coil B")),
    ("channel_a_settings.coil_idx", lambda d: d["channel_a_settings"].update(coil_idx=1)),
    ("channel_b_settings.coil_setting_idx",
     lambda d: d["channel_b_settings"].update(coil_setting_idx=2)),
    ("monitor_trace_visible[3]", lambda d: d["monitor_trace_visible"].__setitem__(3, True)),
    ("monitor_subsampling_factor", lambda d: d.update(monitor_subsampling_factor=4)),
    ("channel_a_settings.enabled", lambda d: d["channel_a_settings"].update(enabled=False)),
    ("channel_b_settings.modulation_source",
     lambda d: d["channel_b_settings"]["modulation_source"].update(internal=3, external=2)),
    ("signals[1].Arbitrary.samples[7]",
     lambda d: d["signals"][1]["Arbitrary"]["samples"].__setitem__(7, -1)),
    # Outside what set_session_duration accepts, on either side.
    ("session_duration", lambda d: d.update(session_duration=0.001)),
    ("session_duration", lambda d: d.update(session_duration=1e9)),
]


@pytest.fixture(scope="module")
def document(tmp_path_factory):
    return show_json(saved(every_variant(), tmp_path_factory.mktemp("document")))[0]


@pytest.mark.parametrize("field, change", REFUSALS)
def test_refusals_say_what_vesk_script_says(field, change, document, tmp_path):
    edited = copy.deepcopy(document)
    change(edited)
    path = tmp_path / "refused.vesk"
    path.write_bytes(encode(edited))
    printed = run_vesk("script", path, "-o", tmp_path / "s.py")
    prefix = f"vesk: {path}: {REFUSED}"
    assert printed.returncode == 2 and printed.stderr.startswith(prefix), printed.stderr
    loaded = vesk.load(path)
    for method in (loaded.to_protocol, loaded.script):
        with pytest.raises(vesk.NotReproducible) as caught:
            method()
        refusal = caught.value
        assert str(refusal) == printed.stderr[len(prefix):-1]
        assert str(refusal) == f"{refusal.field} = {refusal.value}: {refusal.reason}"
        assert refusal.field == field
    assert issubclass(vesk.NotReproducible, ValueError)


@pytest.mark.parametrize("variable", [None, ""], ids=["unset", "set"])
def test_the_target_machine_flag_must_be_what_protocol_gives(variable, tmp_path):
    """to_protocol() refuses a file whose flag this process's Protocol() does
    not give, and leaves the environment as it was, also for Protocol()."""
    files = [str(saved(build([], flag), tmp_path, f"{flag}.vesk")) for flag in (False, True)]
    result = run_python(f"""
        import os, vesk
        from revevu import Protocol
        before = dict(os.environ), str(Protocol())
        for path in {files!r}:
            try:
                vesk.load(path).to_protocol().save(path + ".new.vesk")
                print("rebuilt", open(path, "rb").read() == open(path + ".new.vesk", "rb").read())
            except vesk.NotReproducible as refusal:
                print(refusal.field, refusal.value, refusal.reason.split(":")[1].split()[0])
        assert (dict(os.environ), str(Protocol())) == before
    """, env={"VESK_TARGET_MACHINE": variable})
    assert result.returncode == 0, result.stderr
    if variable is None:
        assert result.stdout.splitlines() == ["rebuilt True", "running_on_target_machine true set"]
    else:
        assert result.stdout.splitlines() == [
            "running_on_target_machine false remove", "rebuilt True"]


def test_the_edit_example_changes_one_value(tmp_path):
    assert example_output("edit_received.py", tmp_path / "edited.vesk") == [
        "<ProtocolFile 'received.vesk': 0.05 s, intensity 0.4, 6 signals>",
        "signal 5: 250 samples, highest level 1.000 at 0.0248 s",
        "$ vesk diff received.vesk edited.vesk",
        "intensity: 0.4 -> 0.3",
    ]

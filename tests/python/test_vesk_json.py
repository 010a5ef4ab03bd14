"""`vesk show --json` and `vesk summary --json`: the JSON document is the
record. Each test rebuilds the file's exact bytes from the parsed document
with the small encoder below, which knows only the file format's rules (see
docs/file-format.md), not the record's fields."""

import json
import math
import struct
import subprocess

import numpy as np
import pytest
from revevu import Channel, Coil, Protocol
from conftest import FULL_DEVICE, own_char_device
from vesk_tool import vesk_path

VARIANTS = ["Constant", "Sine", "Ramp", "MixedSignal", "Arbitrary"]
FIXED_BOOL_ARRAYS = {"monitor_trace_visible"}  # written without a count
TEXT_FIELDS = {"name"}
NON_FINITE = {"inf": math.inf, "-inf": -math.inf, "NaN": math.nan}


def varint(value: int) -> bytes:
    out = bytearray()
    while value >= 0x80:
        out.append((value & 0x7F) | 0x80)
        value >>= 7
    out.append(value)
    return bytes(out)


def f64(value) -> bytes:
    """A JSON float: a number, or one of the strings for the values JSON lacks."""
    if isinstance(value, str):
        if value.startswith("NaN(0x") and value.endswith(")"):
            return struct.pack("<Q", int(value[6:-1], 16))
        return struct.pack("<d", NON_FINITE[value])
    assert isinstance(value, float), value
    return struct.pack("<d", value)


def encode(value, name: str = "") -> bytes:
    """The wire form of a JSON value, by the type JSON gives it."""
    if isinstance(value, bool):
        return b"\x01" if value else b"\x00"
    if isinstance(value, int):
        return varint(value)
    if isinstance(value, str) and name in TEXT_FIELDS:
        data = value.encode("utf-8")
        return varint(len(data)) + data
    if isinstance(value, (float, str)):
        return f64(value)
    if isinstance(value, list):
        if name == "samples":
            return varint(len(value)) + b"".join(varint(((s << 1) ^ (s >> 15)) & 0xFFFF) for s in value)
        count = b"" if name in FIXED_BOOL_ARRAYS else varint(len(value))
        return count + b"".join(encode(element, name) for element in value)
    if isinstance(value, dict) and name == "signals":
        ((variant, params),) = value.items()
        return varint(VARIANTS.index(variant)) + encode(params)
    return b"".join(encode(member, key) for key, member in value.items())


def refuse_constant(name):
    raise ValueError(f"bare {name} is not JSON")


def show_json(path):
    """The document `vesk show --json` prints, parsed strictly (no bare NaN)."""
    result = subprocess.run([vesk_path(), "show", "--json", str(path)], capture_output=True,
                            timeout=120, check=False)
    assert result.returncode == 0, result.stderr
    assert result.stdout.endswith(b"\n") and result.stdout.count(b"\n") == 1
    return json.loads(result.stdout.decode("utf-8"), parse_constant=refuse_constant), result.stdout


def every_variant():
    p = Protocol()
    p.set_stimulation_intensity(0.25)
    p.set_session_duration(0.05)
    p.add_sine_signal(1.0, 10.0, 0.5, 0.75)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    p.add_ramp_signal(-0.0, math.inf, 1e-5)
    p.add_mixed_signal(0, 2**64 - 1)
    p.add_constant_signal(math.nan)
    p.add_constant_signal(-math.nan)  # the sign bit set: another NaN
    p.add_constant_signal(struct.unpack("<d", struct.pack("<Q", 0x7FF0000000000001))[0])
    p.add_constant_signal(-math.inf)
    p.add_constant_signal(5e-324)
    p.add_constant_signal(1e16)
    p.set_amplitude_source(Coil.A1, 3)
    p.set_modulation_source(Channel.A, 1)
    p.enable_channel(Channel.B)
    p.set_amplitude_source(Coil.B2, 2**64 - 1, external=True)
    return p


@pytest.mark.parametrize("build", [every_variant, lambda: Protocol()], ids=["variants", "default"])
def test_show_json_rebuilds_the_exact_bytes(build, tmp_path):
    path = tmp_path / "p.vesk"
    build().save(str(path))
    document, _ = show_json(path)
    assert encode(document) == path.read_bytes()


def test_non_finite_floats_are_strings_with_their_bits(tmp_path):
    path = tmp_path / "p.vesk"
    every_variant().save(str(path))
    document, _ = show_json(path)
    signals = document["signals"]
    values = [s["Constant"]["value"] for s in signals if "Constant" in s]
    assert values == ["NaN", "NaN(0xfff8000000000000)", "NaN(0x7ff0000000000001)", "-inf",
                      5e-324, 1e16]
    assert signals[2] == {"Ramp": {"peak": -0.0, "up_duration": "inf",
                                              "down_duration": 1e-5}}
    assert math.copysign(1.0, signals[2]["Ramp"]["peak"]) == -1.0


# Coil names the API never writes, put into a file by the encoder above: JSON
# syntax, control bytes, the two separators JavaScript refuses raw, and text
# outside ASCII in every UTF-8 length.
HOSTILE_NAMES = [
    '"}],"injected":true,"x":["',
    "back\\slash \\u0041 \\n",
    "".join(map(chr, range(0x20))) + "\x7f\x80\x9b\x9f\xa0",
    "line\u2028paragraph\u2029end",
    "Spule \u00e4\u2192\U0001f600 </script><!--",
    "",
]


@pytest.mark.parametrize("name", HOSTILE_NAMES, ids=range(len(HOSTILE_NAMES)))
def test_any_coil_name_survives_both_documents(name, tmp_path):
    template = tmp_path / "template.vesk"
    every_variant().save(str(template))
    document, _ = show_json(template)
    document["machine_config"]["coils"][0]["name"] = name
    path = tmp_path / "hostile.vesk"
    path.write_bytes(encode(document))

    shown, raw = show_json(path)
    assert shown == document
    assert encode(shown) == path.read_bytes()
    controls = [chr(c) for c in (*range(0x20), *range(0x7F, 0xA0))]
    assert not any(c.encode() in raw[:-1] for c in controls), "a raw control character"
    assert "\u2028".encode() not in raw and "\u2029".encode() not in raw

    result = subprocess.run([vesk_path(), "summary", "--json", str(path)], capture_output=True,
                            timeout=120, check=False)
    assert result.returncode == 0, result.stderr
    summary = json.loads(result.stdout.decode("utf-8"), parse_constant=refuse_constant)
    assert summary["channel_a_settings"]["coil_name"] == name

    # The text summary quotes the name the same way: nothing raw reaches a terminal.
    result = subprocess.run([vesk_path(), "summary", str(path)], capture_output=True, timeout=120,
                            check=False)
    assert result.returncode == 0, result.stderr
    text = result.stdout.decode("utf-8")
    line = next(line for line in text.splitlines() if line.startswith("channel A: "))
    quoted = line.removeprefix("channel A: enabled, coil 0 ").split(", setting 0 (")[0]
    assert json.loads(quoted) == name
    assert not any(c in text.replace("\n", "") for c in controls + ["\u2028", "\u2029"])


def test_summary_json_holds_the_summary_facts(tmp_path):
    path = tmp_path / "p.vesk"
    p = every_variant()
    p.set_modulation_source(Channel.B, 40)  # names no signal
    p.save(str(path))
    result = subprocess.run([vesk_path(), "summary", "--json", str(path)], capture_output=True,
                            timeout=120, check=False)
    assert result.returncode == 0, result.stderr
    summary = json.loads(result.stdout, parse_constant=refuse_constant)
    assert summary["session_duration"] == 0.05 and summary["intensity"] == 0.25
    assert (summary["num_samples"], summary["sampling_rate"]) == (250, 5000.0)
    a, b = summary["channel_a_settings"], summary["channel_b_settings"]
    assert a["amplitude1_source"] == {"internal": 3, "signal": "MixedSignal"}
    assert a["modulation_source"] == {"internal": 1, "signal": "Arbitrary"}
    assert b["amplitude2_source"] == {"external": 2**64 - 1}
    assert b["modulation_source"] == {"internal": 40, "signal": None}
    assert a["coil_setting"]["carrier_frequency"] == 22.624434389140273
    assert summary["signals"][1] == {"Arbitrary": {"num_samples": 250, "stored_min": 0,
                                                   "stored_max": 32767}}
    assert summary["signals"][0] == {"Sine": {"amplitude": 1.0, "frequency": 10.0,
                                              "phase": 0.5, "depth": 0.75}}
    assert summary["signals"][4]["Constant"]["value"] == "NaN"


def test_check_counts_stored_samples_outside_the_range(tmp_path):
    """Samples the API never stores, put into a file through its JSON form."""
    template = tmp_path / "template.vesk"
    every_variant().save(str(template))
    document, _ = show_json(template)
    samples = document["signals"][1]["Arbitrary"]["samples"]
    samples[5], samples[200], samples[-1] = -3, -32768, -1
    path = tmp_path / "negative.vesk"
    path.write_bytes(encode(document))
    result = subprocess.run([vesk_path(), "check", str(path)], capture_output=True, text=True,
                            timeout=120, check=False)
    assert result.returncode == 1, result.stderr
    assert (f"{path}: signal 1 (Arbitrary): 3 stored samples outside 0..32767, the first at "
            "position 5 (-3)") in result.stdout.splitlines()


@pytest.mark.parametrize("form", [[], ["--json"]], ids=["text", "json"])
def test_show_reports_output_it_cannot_write(form, tmp_path):
    path = tmp_path / "p.vesk"
    every_variant().save(str(path))
    with open(own_char_device(tmp_path / "full", FULL_DEVICE), "wb") as full:
        result = subprocess.run([vesk_path(), "show", *form, str(path)], stdout=full,
                                stderr=subprocess.PIPE, text=True, timeout=120, check=False)
    assert result.returncode == 2
    assert result.stderr == "vesk: standard output: cannot write: No space left on device\n"

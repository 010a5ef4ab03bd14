"""vesk plot: the SVG read back with an XML parser, row by row."""

import os
import re
import struct
import xml.etree.ElementTree as ET

import numpy as np
import pytest
from revevu import Channel, Coil, Protocol
from vesk_tool import DURATION, run_vesk, saved, with_coil_name

NS = "{http://www.w3.org/2000/svg}"


def plot(path, tmp_path):
    out = tmp_path / "out.svg"
    result = run_vesk("plot", path, "-o", out)
    assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
    return ET.parse(out).getroot()


def texts(element):
    return [e.text for e in element.iter(NS + "text")]


def rows(root):
    """Per row: (channel group class, [its texts], what is drawn in it)."""
    found = []
    for group in root.iter(NS + "g"):
        for row in group.findall(NS + "g"):
            assert row.get("class") == "row"
            drawn = [
                e.get("class")
                for e in row
                if e.tag in (NS + "path", NS + "rect")
                if e.get("class") not in ("area", "grid")
            ]
            found.append((group.get("class"), texts(row), drawn))
    return found


def test_golden_plot_of_the_quickstart(example_files, tmp_path):
    root = plot(example_files["quickstart"], tmp_path)
    assert texts(root)[:2] == [
        "quickstart.vesk \u2014 0.05 s, intensity 0.4",
        "250 samples at 5000.0 per second, 6 signals; time in seconds",
    ]
    arbitrary = ["1", "0", "Arbitrary, 250 samples, stored 0..32766"]
    assert rows(root) == [
        (
            "a",
            [
                "amplitude 1 (Coil.A1)",
                "signal 4 (MixedSignal)",
                "MixedSignal a_idx 1 (Sine), b_idx 3 (Ramp)",
            ],
            ["band"],
        ),
        (
            "a",
            ["amplitude 2 (Coil.A2)", "signal 0 (Constant)", "1", "0", "Constant value 0.5"],
            ["level"],
        ),
        ("a", ["modulation (Channel.A)", "signal 5 (Arbitrary)", *arbitrary], ["envelope"]),
        ("b", ["amplitude 1 (Coil.B1)", "external source 2", "external source 2"], ["external"]),
        (
            "b",
            [
                "amplitude 2 (Coil.B2)",
                "signal 2 (Sine)",
                "Sine amplitude 0.8, frequency 2.0, phase 0.25, depth 0.5",
            ],
            ["band"],
        ),
        ("b", ["modulation (Channel.B)", "signal 5 (Arbitrary)", *arbitrary], ["envelope"]),
    ]
    ticks = [e.text for e in root.iter(NS + "text") if e.get("class") == "tick"]
    assert ticks == ["0", *(f"0.0{i:02d}" for i in range(5, 55, 5)), "time (s)"]


def test_every_example_is_self_contained(example_files, tmp_path):
    for name, path in example_files.items():
        out = tmp_path / f"{name}.svg"
        assert run_vesk("plot", path, "--output", out).returncode == 0
        root = ET.parse(out).getroot()
        assert root.tag == NS + "svg"
        for element in root.iter():
            assert element.tag.removeprefix(NS) not in (
                "script",
                "foreignObject",
                "image",
                "use",
                "a",
            )
            assert not any("href" in attribute for attribute in element.attrib), name
        # The one reference is to the document's own hatching pattern.
        assert re.findall(r"url\([^)]*\)", out.read_text()) == ["url(#hatch)"], name
        assert "@import" not in out.read_text()
    assert [
        g.get("class") for g in plot(example_files["mixed_signal"], tmp_path).findall(NS + "g")
    ] == ["a", "off"]


def test_missing_signals_give_warning_bands(tmp_path):
    p = Protocol()
    p.add_mixed_signal(0, 7)
    p.set_amplitude_source(Coil.A1, 0)
    p.set_modulation_source(Channel.A, 3)
    found = rows(plot(saved(p, tmp_path), tmp_path))
    assert found[0][1:] == (
        [
            "amplitude 1 (Coil.A1)",
            "signal 0 (MixedSignal)",
            "MixedSignal a_idx 0 (MixedSignal), b_idx 7 (does not exist)",
        ],
        ["warning"],
    )
    assert found[2][1:] == (
        [
            "modulation (Channel.A)",
            "signal 3, which does not exist",
            "signal 3 does not exist (the protocol has 1 signal)",
        ],
        ["warning"],
    )


def path_vertices(d):
    """The vertices of a path made of M, H, V and Z commands."""
    x = y = 0
    vertices = []
    for command, numbers in re.findall(r"([MHVZ])([^MHVZ]*)", d):
        values = [int(v) for v in numbers.split()]
        if command == "M":
            x, y = values
        elif command == "H":
            x = values[0]
        elif command == "V":
            y = values[0]
        vertices.append((x, y))
    return vertices


# One sample against a flat signal, at the first, last, and column-edge positions:
# the envelope must reach it whatever the decimation.
@pytest.mark.parametrize("position", [0, 1, 322, 323, 150000, 299999])
@pytest.mark.parametrize("spike, flat", [(1.0, 0.0), (0.0, 1.0)], ids=["peak", "dip"])
def test_one_sample_is_never_lost(position, spike, flat, tmp_path):
    p = Protocol()  # 60 s: 300000 samples over 930 columns
    values = np.full(p.get_num_samples(), flat)
    values[position] = spike
    p.set_modulation_source(Channel.A, p.add_arbitrary_signal(values))
    root = plot(saved(p, tmp_path), tmp_path)
    row = list(root.iter(NS + "g"))[3]  # channel A's modulation row
    area = row.find(NS + "rect")
    left, top = int(area.get("x")), int(area.get("y"))
    width, bottom = int(area.get("width")), top + int(area.get("height"))
    (envelope,) = [e for e in row.iter(NS + "path") if e.get("class") == "envelope"]
    vertices = path_vertices(envelope.get("d"))
    levels = sorted({y for x, y in vertices})  # y grows downwards: 1.0 first
    assert len(levels) == 2 and top <= levels[0] < levels[1] <= bottom
    at_spike = [x for x, y in vertices if y == levels[0 if spike == 1.0 else 1]]
    per_column = 300000 / width
    column = int(position // per_column)
    assert (
        left + column <= min(at_spike)
        and max(at_spike) <= left + int((position + 1) / per_column) + 1
    )
    assert {x for x, y in vertices} <= set(range(left, left + width + 1))


def test_longest_session_stays_small(tmp_path):
    """1800 s whose level changes in every pixel column: the worst case for
    the envelope paths, on all six rows."""
    p = Protocol()
    p.set_session_duration(1800.0)
    rng = np.random.default_rng(3)
    levels = np.repeat(rng.random(1000), 9000)
    for signal in range(6):
        p.add_arbitrary_signal(np.roll(levels, 1000 * signal))
    for signal, coil in enumerate([Coil.A1, Coil.A2, Coil.B1, Coil.B2]):
        p.set_amplitude_source(coil, signal)
    p.set_modulation_source(Channel.A, 4)
    p.enable_channel(Channel.B)
    p.set_modulation_source(Channel.B, 5)
    root = plot(saved(p, tmp_path), tmp_path)
    assert os.path.getsize(tmp_path / "out.svg") < 1_000_000
    assert [drawn for _, _, drawn in rows(root)] == [["envelope"]] * 6
    ticks = [e.text for e in root.iter(NS + "text") if e.get("class") == "tick"]
    assert ticks == [str(s) for s in range(0, 2000, 200)] + ["time (s)"]


def test_text_from_the_file_cannot_break_the_document(tmp_path):
    name = "</text><script>alert(1)</script>&'\"\uffff\x01 é"
    path = with_coil_name(saved(Protocol(), tmp_path), name.encode())
    hostile = tmp_path / os.fsdecode(b"<b>&\xff\x1b.vesk")
    path.rename(hostile)
    root = plot(hostile, tmp_path)
    assert not [e for e in root.iter() if e.tag in (NS + "script", "script")]
    assert texts(root)[0] == "<b>&\ufffd\ufffd.vesk \u2014 60.0 s, intensity 0.0"
    assert texts(root)[2] == (
        'Channel A (enabled), coil 0 "</text><script>alert(1)</script>&\'\\"\ufffd\\u0001 é", '
        "setting 0 (330.0 nF, 22.624434389140273 kHz)"
    )


def test_a_long_name_is_cut(tmp_path):
    path = with_coil_name(saved(Protocol(), tmp_path), "é".encode() * 100_000)
    heading = texts(plot(path, tmp_path))[2]
    assert heading == 'Channel A (enabled), coil 0 "' + "é" * (160 - 30) + "\u2026"
    assert os.path.getsize(tmp_path / "out.svg") < 20_000


@pytest.mark.parametrize(
    "duration, ticks",
    [
        (float("nan"), ["0", *(f"{i / 10:.1f}" for i in range(1, 11))]),
        (0.0, ["0", *(f"{i / 10:.1f}" for i in range(1, 11))]),
        (1e300, ["0", *(f"{i}e+299" for i in range(1, 10)), "1e+300"]),
    ],
    ids=["NaN", "zero", "huge"],
)
def test_an_unusable_duration_still_gives_an_axis(duration, ticks, tmp_path):
    path = saved(Protocol(), tmp_path)
    raw = bytearray(path.read_bytes())
    raw[DURATION : DURATION + 8] = struct.pack("<d", duration)
    path.write_bytes(bytes(raw))
    root = plot(path, tmp_path)
    assert [e.text for e in root.iter(NS + "text") if e.get("class") == "tick"][:-1] == ticks


@pytest.mark.parametrize(
    "args, message",
    [
        (["p.vesk"], "vesk: -o OUTPUT is required\n"),
        (
            ["p.vesk", "-o", "missing/out.svg"],
            "vesk: missing/out.svg: cannot write: No such file or directory\n",
        ),
        (["bad.vesk", "-o", "out.svg"], "vesk: bad.vesk: not a valid protocol file: offset 0: "),
    ],
)
def test_errors_exit_2_and_write_nothing(args, message, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    saved(Protocol(), tmp_path)
    (tmp_path / "bad.vesk").write_bytes(b"\x05")
    result = run_vesk("plot", *args)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr.startswith(message)
    assert not (tmp_path / "out.svg").exists()

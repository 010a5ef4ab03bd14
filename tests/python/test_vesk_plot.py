"""vesk plot: the SVG read back with an XML parser, row by row."""

import json
import math
import os
import re
import struct
import unicodedata
import xml.etree.ElementTree as ET

import numpy as np
import pytest
from revevu import Channel, Coil, Protocol
from test_vesk_json import encode, show_json
from vesk_tool import DURATION, run_vesk, saved, with_coil_name

NS = "{http://www.w3.org/2000/svg}"


# The lines that hold a name, by class: their font size in pixels.
NAMED_LINES = {"title": 18, "heading": 13}


def columns(text):
    """Two for an East Asian wide or fullwidth character, one for any other."""
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


def estimated_width(text, font_px):
    """A generous estimate without the font: 0.7 em a column."""
    return columns(text) * 0.7 * font_px


def plot(path, tmp_path):
    """The plot of `path`, checked for what holds for any file: every
    coordinate an integer, and the lines that hold names inside the picture
    with the left margin kept on the right."""
    out = tmp_path / "out.svg"
    result = run_vesk("plot", path, "-o", out)
    assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
    root = ET.parse(out).getroot()
    for element in root.iter():
        for name in ("x", "y", "width", "height", "d"):
            assert re.fullmatch(r"[-0-9 MHVLZvl]*", element.get(name, "")), element.attrib
    width = int(root.get("width"))
    for element in root.iter(NS + "text"):
        if element.get("class") in NAMED_LINES:
            x = int(element.get("x"))
            font_px = NAMED_LINES[element.get("class")]
            assert x + estimated_width(element.text, font_px) <= width - x, element.text
    return root


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
    arbitrary = ["1", "0", "Arbitrary 250 samples, stored 0..32766"]
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
        ("a", ["modulation (Channel.A)", "signal 5 (Arbitrary)", *arbitrary], ["samples"]),
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
        ("b", ["modulation (Channel.B)", "signal 5 (Arbitrary)", *arbitrary], ["samples"]),
    ]
    ticks = [e.text for e in root.iter(NS + "text") if e.get("class") == "tick"]
    assert ticks == ["0", *(f"0.0{i:02d}" for i in range(5, 55, 5)), "time (s)"]
    # The two footnotes, a line apart, fill the band at the page's bottom.
    notes = [int(e.get("y")) for e in root.iter(NS + "text") if e.get("class") == "note"]
    assert notes == [int(root.get("height")) - 25, int(root.get("height")) - 10]


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
    p.set_amplitude_source(Coil.A2, p.add_mixed_signal(2, 0))  # a_idx one past the end
    p.set_modulation_source(Channel.A, 3)
    found = rows(plot(saved(p, tmp_path), tmp_path))
    assert found[1][1][2:] == ["MixedSignal a_idx 2 (does not exist), b_idx 0 (MixedSignal)"]
    assert found[1][2] == ["warning"]
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
            "signal 3 does not exist (the protocol has 2 signals)",
        ],
        ["warning"],
    )


def path_vertices(d):
    """The vertices of a path made of M, H, V and Z commands, Z giving the
    subpath's start again."""
    x = y = 0
    vertices = []
    for command, numbers in re.findall(r"([MHVZ])([^MHVZ]*)", d):
        values = [int(v) for v in numbers.split()]
        if command == "M":
            x, y = start = values
        elif command == "H":
            x = values[0]
        elif command == "V":
            y = values[0]
        else:
            x, y = start
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
    # Steps only: no edge is slanted, the one back to the start included.
    assert envelope.get("d").endswith("Z")
    assert all(a[0] == b[0] or a[1] == b[1] for a, b in zip(vertices, vertices[1:]))
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


NAN, INF = float("nan"), float("inf")
ONE, MANY = ": not a finite number", ": not finite numbers"


@pytest.mark.parametrize(
    "kind, params, band",
    [
        ("sine", dict(amplitude=NAN, frequency=1.0), "amplitude NaN"),
        ("sine", dict(amplitude=1, frequency=NAN, phase=INF), "frequency NaN, phase inf"),
        ("sine", dict(amplitude=1, frequency=1, depth=-INF), "depth -inf"),
        ("ramp", dict(peak=1.0, up_duration=1.0, down_duration=INF), "down_duration inf"),
        ("ramp", dict(peak=NAN, up_duration=-INF, down_duration=0), "peak NaN, up_duration -inf"),
        ("constant", dict(value=NAN), "value NaN"),
        ("constant", dict(value=-INF), "value -inf"),
    ],
)
def test_a_parameter_that_is_no_number_gives_a_warning_band(kind, params, band, tmp_path):
    p = Protocol()
    p.set_amplitude_source(Coil.A1, getattr(p, f"add_{kind}_signal")(**params))
    root = plot(saved(p, tmp_path), tmp_path)
    _, shown, drawn = rows(root)[0]
    end = MANY if "," in band else ONE
    assert drawn == ["warning"] and shown[2] == f"{kind.title()} {band}" + end
    assert shown[3].startswith(kind.title())  # every parameter, above the band
    # The warning is written across the middle of its band.
    rect = next(e for e in root.iter(NS + "rect") if e.get("class") == "warning")
    label = next(e for e in root.iter(NS + "text") if e.get("class") == "centre warning-text")
    assert int(label.get("x")) == int(rect.get("x")) + int(rect.get("width")) // 2


# A constant is drawn at the height of its value, or dashed at the edge it
# passes with a mark: the file gives constants no range.
@pytest.mark.parametrize(
    "value, mark",
    [(2.5, "2.5, above 1: drawn at 1"), (-5e-324, "-5e-324, below 0: drawn at 0"), (1.0, None)]
    + [(-0.0, None)],
)
def test_a_constant_off_the_scale_is_marked(value, mark, tmp_path):
    p = Protocol()
    p.set_amplitude_source(Coil.A1, p.add_constant_signal(value))
    p.set_amplitude_source(Coil.A2, p.add_constant_signal(min(max(value, 0.0), 1.0)))
    root = plot(saved(p, tmp_path), tmp_path)
    (_, shown, drawn), (_, _, edge_drawn) = rows(root)[:2]
    line = f"Constant value {value}" + (" (off the 0..1 scale)" if mark else "")
    assert shown[4:] == ([mark] if mark else []) + [line]
    assert drawn == (["level clipped", "off-scale"] if mark else ["level"])
    # At the same height in its row as the edge value in the next row.
    levels = [e.get("d") for e in root.iter(NS + "path") if "level" in e.get("class", "")]
    ys = [int(re.match(r"M\d+ (\d+)H", d)[1]) for d in levels]
    areas = [int(e.get("y")) for e in root.iter(NS + "rect") if e.get("class") == "area"]
    assert ys[1] - ys[0] == areas[1] - areas[0] and edge_drawn == ["level"]


LEAD, TAIL = 'Channel A (enabled), coil 0 "', '", setting 0 (330.0 nF, 22.624434389140273 kHz)'


def assert_cut_well(shown, whole, room, unquote=lambda text: text):
    """`shown` is `whole`, or as much of it as fits in `room` columns, cut
    between characters (and escapes) and ended with '…'."""
    if not shown.endswith("\u2026"):
        assert unquote(shown) == whole
        return False
    assert whole.startswith(unquote(shown[:-1]))  # an escape split would not unquote
    assert room - 7 < columns(shown) <= room  # no more cut than an escape's width
    return True


@pytest.mark.parametrize(
    "coil_name, file_name, cut",
    [
        ("Figure-of-eight coil, left motor cortex", "p.vesk", (False, False)),
        ("coil " * 40, "p.vesk", (True, False)),
        ("\u00e9" * 100_000, "p.vesk", (True, False)),
        ("\u4e2d" * 300, "p.vesk", (True, False)),
        ("\x01\x7f" * 100, "p.vesk", (True, False)),
        ("Default", "\u00e9" * 120 + ".vesk", (False, True)),
    ],
    ids=["fits", "ascii", "two-byte", "wide", "escapes", "file name"],
)
def test_long_names_are_cut_to_fit(coil_name, file_name, cut, tmp_path):
    path = with_coil_name(saved(Protocol(), tmp_path, file_name), coil_name.encode())
    title, _, heading = texts(plot(path, tmp_path))[:3]  # plot() checks that they fit
    assert heading.startswith(LEAD) and heading.endswith(TAIL)
    room = (1200 - 2 * 20) / (0.7 * NAMED_LINES["heading"]) - columns(LEAD) - columns(TAIL)
    name = heading[len(LEAD) : -len(TAIL)]
    heading_cut = assert_cut_well(name, coil_name, room, lambda text: json.loads(f'"{text}"'))
    rest = " \u2014 60.0 s, intensity 0.0"
    assert title.endswith(rest)
    room = (1200 - 2 * 20) / (0.7 * NAMED_LINES["title"]) - columns(rest)
    assert (heading_cut, assert_cut_well(title[: -len(rest)], file_name, room)) == cut
    assert os.path.getsize(tmp_path / "out.svg") < 20_000


ONE_SECOND = ["0", *(f"{i / 10:.1f}" for i in range(1, 11))]


# Durations of no usable length give a one-second axis; those far below a
# sample's period or near the largest double keep their own, labelled exactly.
@pytest.mark.parametrize(
    "duration, ticks",
    [
        (NAN, ONE_SECOND),
        (0.0, ONE_SECOND),
        (-5e-324, ONE_SECOND),
        (INF, ONE_SECOND),
        (-INF, ONE_SECOND),
        (1e300, ["0", *(f"{i}e+299" for i in range(1, 10)), "1e+300"]),
        (1.7976931348623157e308, ["0", *(f"{i}e+307" for i in (2, 4, 6, 8))]
         + [f"{i / 10:g}e+308" for i in range(10, 17, 2)]),
        (1e-300, ["0", *(f"{i}e-301" for i in range(1, 10)), "1e-300"]),
        (5e-324, ["0", "5e-325", *(f"{i / 2:g}e-324" for i in range(2, 10))]),
    ],
    ids=["NaN", "zero", "-subnormal", "inf", "-inf", "huge", "largest", "tiny", "least"],
)
def test_any_duration_gives_an_axis(duration, ticks, tmp_path):
    path = saved(Protocol(), tmp_path)
    raw = bytearray(path.read_bytes())
    raw[DURATION : DURATION + 8] = struct.pack("<d", duration)
    path.write_bytes(bytes(raw))
    root = plot(path, tmp_path)
    labels = [e for e in root.iter(NS + "text") if e.get("class") == "tick"][:-1]
    assert [e.text for e in labels] == ticks
    xs = [int(e.get("x")) for e in labels]
    assert xs[0] == 230 and xs == sorted(set(xs)) and xs[-1] <= 230 + 930
    # The axis line across the plot, and a tick mark under every label, the
    # first at the axis's start included.
    axis = next(e.get("d") for e in root.iter(NS + "path") if e.get("class") == "axis")
    assert re.match(r"M230 (\d+)H1160M230 \1v5", axis), axis
    assert [int(x) for x in re.findall(r"M(\d+) \d+v5", axis)] == xs


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


# The stored range is given for every signal that has samples, one included.
@pytest.mark.parametrize(
    "samples, stored", [([], None), ([7], "stored 7..7"), ([9, 2], "stored 2..9")]
)
def test_stored_range_of_short_arbitrary_signals(samples, stored, tmp_path):
    p = Protocol()
    p.set_session_duration(0.01)
    p.set_amplitude_source(Coil.A1, p.add_arbitrary_signal(np.zeros(p.get_num_samples())))
    document, _ = show_json(saved(p, tmp_path, "template.vesk"))
    document["signals"][0]["Arbitrary"]["samples"] = samples
    path = tmp_path / "short.vesk"
    path.write_bytes(encode(document))
    _, shown, _ = rows(plot(path, tmp_path))[0]
    line = next(text for text in shown if text.startswith("Arbitrary "))
    assert ("stored" in line) == (stored is not None) and (stored is None or stored in line), line

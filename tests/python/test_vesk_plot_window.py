"""Pictures of a window of the session: `vesk plot --start S --end E`,
ProtocolFile.svg(start, end), the series behind them (_plot_rows) and the
matplotlib drawing of those series (ProtocolFile.plot)."""

import math
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET

import numpy as np
import pytest
import vesk
from conftest import require_mypy
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from revevu import Channel, Coil, Protocol
from vesk_tool import DURATION, patched, run_vesk, saved

NS = "{http://www.w3.org/2000/svg}"
RATE = 5000.0
COLUMNS = 930


def arbitrary_file(folder, samples, enable_b=True):
    """A protocol whose one arbitrary signal drives channel A's modulation,
    beside a constant, a sine and an external source."""
    p = Protocol()
    p.set_session_duration(len(samples) / RATE)
    assert p.get_num_samples() == len(samples)
    p.set_modulation_source(Channel.A, p.add_arbitrary_signal(samples))
    p.set_amplitude_source(Coil.A2, p.add_constant_signal(0.5))
    p.set_amplitude_source(Coil.A1, p.add_sine_signal(1.0, 10.0))
    if enable_b:
        p.enable_channel(Channel.B)
        p.set_amplitude_source(Coil.B1, 1, external=True)
    return saved(p, folder)


@pytest.fixture(scope="module")
def minute_file(tmp_path_factory):
    rng = np.random.default_rng(7)
    return arbitrary_file(tmp_path_factory.mktemp("minute"), rng.random(300_000))


NAN, INF = float("nan"), float("inf")


@pytest.mark.parametrize(
    "start, end, message",
    [
        (NAN, None, "window start NaN: not a finite number of seconds"),
        (None, INF, "window end inf: not a finite number of seconds"),
        (-INF, 1.0, "window start -inf: not a finite number of seconds"),
        (-1.0, None, "window -1.0..60.0 s: the start is before the session's start, 0 s"),
        (None, 60.5, "window 0.0..60.5 s: the end is past the session's end, 60.0 s"),
        (5.0, 5.0, "window 5.0..5.0 s: the start must be before the end"),
        (6.0, 5.0, "window 6.0..5.0 s: the start must be before the end"),
        (30.0, 30.0 + 1e-8, "window 30.0..30.00000001 s: too short to draw: a window must "
         "last at least a billionth of its end"),
    ],
)
def test_a_window_it_cannot_draw_is_refused(start, end, message, minute_file, tmp_path):
    args = [f"--start={start!r}"] if start is not None else []
    args += ["--end", repr(end)] if end is not None else []
    out = tmp_path / "out.svg"
    result = run_vesk("plot", minute_file, "-o", out, *args)
    assert (result.returncode, result.stdout) == (2, "")
    assert result.stderr == f"vesk: {minute_file}: {message}\n"
    assert not out.exists()
    loaded = vesk.load(minute_file)
    for method in (loaded.svg, loaded._plot_rows, loaded.plot):
        with pytest.raises(ValueError, match=f"^{re.escape(message)}$"):
            method(start=start, end=end)


@pytest.mark.parametrize("text", ["", "ten", "1s", "--end"])
def test_a_bound_that_is_no_number_is_a_usage_error(text, minute_file, tmp_path):
    result = run_vesk("plot", minute_file, "-o", tmp_path / "out.svg", "--start", text)
    assert result.returncode == 2
    assert result.stderr.startswith("vesk: --start needs a number of seconds\n")


@pytest.mark.parametrize(
    "start, end", [(None, None), (10.0, 20.0), (0.0, 0.0186), (59.99, None), (None, 1e-6 * 9)]
)
def test_the_module_and_the_command_draw_the_same_picture(start, end, minute_file, tmp_path):
    loaded = vesk.load(minute_file)
    out = tmp_path / "out.svg"
    args = (["--start", repr(start)] if start is not None else []) + (
        ["--end", repr(end)] if end is not None else [])
    assert run_vesk("plot", minute_file, "-o", out, *args).returncode == 0
    assert loaded.svg(start, end) == out.read_text(encoding="utf-8")
    if start is None and end is None:
        assert loaded.svg() == loaded._repr_svg_()


def ticks_of(svg_text):
    root = ET.fromstring(svg_text)
    return [e.text for e in root.iter(NS + "text") if e.get("class") == "tick"][:-1]


@pytest.mark.parametrize(
    "start, end, ticks",
    [
        (10.0, 20.0, [str(s) for s in range(10, 21)]),
        (12.5, 13.75, ["12.6", "12.8", "13.0", "13.2", "13.4", "13.6"]),
        (59.0, None, [f"{x / 10:.1f}" for x in range(590, 601)]),
        (0.3, 0.7, [f"{x / 100:.2f}" for x in range(30, 71, 5)]),
    ],
)
def test_the_axis_shows_the_windows_own_times(start, end, ticks, minute_file):
    assert ticks_of(vesk.load(minute_file).svg(start, end)) == ticks


def modulation_row(loaded, start=None, end=None):
    rows = loaded._plot_rows(start, end)["rows"]
    assert [row["input"] for row in rows][2] == "modulation (Channel.A)"
    return rows[2]


# The band of a window comes from that window's samples alone, and a short
# window shows each of them: NumPy over the same slices.
@settings(max_examples=80, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(
    seed=st.integers(0, 2**32 - 1),
    steps=st.integers(1, 80),
    first=st.floats(0.0, 1.0),
    fraction=st.floats(0.0, 1.0, exclude_max=True),
    length=st.floats(0.0, 1.0),
)
def test_a_windows_series_are_its_samples(seed, steps, first, fraction, length, tmp_path):
    count = 250 * steps  # a duration of whole 50 ms
    samples = np.random.default_rng(seed).integers(0, 32768, count).astype(np.int16)
    path = arbitrary_file(tmp_path, samples / 32767.0, enable_b=False)
    loaded = vesk.load(path)
    assert np.array_equal(loaded.settings.signals[0].samples, samples)
    # From within a sample, up to anywhere after it.
    position = int(first * (count - 2))
    start = (position + fraction) / RATE
    end = min(count / RATE, start + (1 + length * (count - position - 1)) / RATE)
    row = modulation_row(loaded, start, end)
    edges, from_sample = row["edges"], math.floor(start * RATE)
    if (end - start) * RATE <= COLUMNS:
        assert row["kind"] == "samples"
        shown = samples[from_sample:math.ceil(end * RATE)]
        assert np.array_equal(row["values"], shown / 32767.0)
        expected_edges = np.clip(np.arange(from_sample, from_sample + len(shown) + 1) / RATE,
                                 start, end)
        assert np.array_equal(edges, expected_edges)
        return
    assert row["kind"] == "envelope"
    step = (end - start) * RATE / COLUMNS
    offset = start * RATE - from_sample
    window = samples[from_sample:math.ceil(end * RATE)]
    for c in range(len(row["low"])):
        lo = math.floor(offset + c * step)
        hi = max(lo + 1, min(math.ceil(offset + (c + 1) * step), len(window)))
        column = window[lo:hi]
        assert (row["low"][c], row["high"][c]) == (column.min() / 32767.0,
                                                     column.max() / 32767.0), c
    # The columns reach the window's last sample, and edges tell their times.
    assert math.ceil(offset + len(row["low"]) * step) >= len(window) or len(row["low"]) == COLUMNS
    assert edges[0] == start and edges[-1] == pytest.approx(start + len(row["low"]) * step / RATE)


def path_points(d):
    """(x, y) after each command of an M/H/V path."""
    x = y = 0
    points = []
    for command, numbers in re.findall(r"([MHV])([^MHVZh]*)", d):
        values = [int(v) for v in numbers.split()]
        if command == "M":
            x, y = values
        elif command == "H":
            x = values[0]
        else:
            y = values[0]
        points.append((x, y))
    return points


@pytest.mark.parametrize("count, kind", [(40, "samples"), (930, "samples"), (931, "envelope")])
def test_a_short_window_draws_each_sample(count, kind, tmp_path):
    levels = np.tile([0.0, 1.0], 2500)  # each sample differs from the next
    loaded = vesk.load(arbitrary_file(tmp_path, levels))
    start = 0.2  # sample 1000
    root = ET.fromstring(loaded.svg(start, start + count / RATE))
    path = next(e for e in root.iter(NS + "path") if e.get("class") == kind)  # channel A's
    points = path_points(path.get("d"))
    if kind == "envelope":
        assert len({y for _, y in points}) == 2  # the band from 0 to 1 across the window
        return
    # A flat line across each sample, in turn at 0 and at 1, the first at 0.
    ys = [y for _, y in points[::2]]
    assert len(ys) == count and len(set(ys[::2])) == len(set(ys[1::2])) == 1 and ys[0] > ys[1]
    xs = [x for x, _ in points]
    assert xs[0] == 230 and xs[-1] == 230 + COLUMNS and xs == sorted(xs)
    dots = [e for e in root.iter(NS + "path") if e.get("class") == "dots"]
    assert len(dots) == (3 if count * 6 <= COLUMNS else 0)  # on each row the signal drives


@pytest.fixture
def pyplot(monkeypatch):
    monkeypatch.setenv("MPLBACKEND", "Agg")
    plt = pytest.importorskip("matplotlib.pyplot")
    yield plt
    plt.close("all")


@pytest.mark.parametrize("start, end", [(None, None), (20.0, 21.0), (30.0, 30.05)])
def test_plot_draws_the_same_series_onto_matplotlib(start, end, minute_file, pyplot):
    from matplotlib.patches import StepPatch

    loaded = vesk.load(minute_file)
    _, given_ax = pyplot.subplots()
    for ax in (None, given_ax):
        drawn = loaded.plot(ax=ax, start=start, end=end)
        assert drawn is given_ax if ax is given_ax else drawn.figure is not given_ax.figure
        row = modulation_row(loaded, start, end)
        patch = next(a for a in drawn.patches if isinstance(a, StepPatch))  # channel A's
        values, edges, baseline = patch.get_data()
        base = values.min() - (row["values"] if row["kind"] == "samples" else row["high"]).min()
        assert np.array_equal(edges, row["edges"])
        if row["kind"] == "envelope":
            assert np.allclose(values - base, row["high"]) and np.allclose(baseline - base,
                                                                           row["low"])
        else:
            assert np.allclose(values - base, row["values"]) and baseline is None
        assert drawn.get_xlim() == (row["edges"][0], loaded._plot_rows(start, end)["end"])
        labels = [t.get_text() for t in drawn.get_yticklabels()]
        assert labels[2] == "A: modulation (Channel.A)\nsignal 0 (Arbitrary)"
        assert labels[3] == "B: amplitude 1 (Coil.B1)\nexternal source 1"


def test_plot_without_matplotlib_says_how_to_install_it(minute_file, monkeypatch):
    for name in [n for n in sys.modules if n == "matplotlib" or n.startswith("matplotlib.")]:
        monkeypatch.delitem(sys.modules, name)
    monkeypatch.setitem(sys.modules, "matplotlib", None)  # import matplotlib fails
    with pytest.raises(ImportError, match=re.escape('pip install "revevu[plot]"')):
        vesk.load(minute_file).plot()


@pytest.mark.parametrize("start, end", [(1e299, 2e299), (0.0, 1e-3), (None, None)])
def test_a_window_of_a_huge_axis_is_drawn(start, end, tmp_path):
    """Sample positions past any integer: the window shows none of the samples."""
    p = Protocol()
    p.set_session_duration(0.01)
    p.set_modulation_source(Channel.A, p.add_arbitrary_signal(np.linspace(0.0, 1.0, 50)))
    path = patched(saved(p, tmp_path), DURATION, struct.pack("<d", 1e300))
    out = tmp_path / "out.svg"
    args = ["--start", repr(start), "--end", repr(end)] if start is not None else []
    assert run_vesk("plot", path, "-o", out, *args).returncode == 0
    row = modulation_row(vesk.load(path), start, end)
    assert row["kind"] == ("samples" if end == 1e-3 else "envelope")
    shown = len(row.get("values", row.get("low")))
    assert shown == {1e-3: 5, 2e299: 0}.get(end, 1)  # the whole axis: all 50 in one column


MYPY_SNIPPET = '''
import matplotlib.axes
import vesk

loaded = vesk.load("p.vesk")
text: str = loaded.svg(60.0, end=120.0)
ax: matplotlib.axes.Axes = loaded.plot(start=1.0)
loaded.plot(ax=ax, end=2.0).set_title("protocol")
loaded.svg(start="60")
number: int = loaded.plot()
'''


def test_the_stubs_type_the_picture_methods(tmp_path):
    require_mypy()
    pytest.importorskip("matplotlib")
    (tmp_path / "snippet.py").write_text(MYPY_SNIPPET)
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir",
         str(tmp_path / "cache"), "snippet.py"],
        cwd=tmp_path, capture_output=True, text=True, timeout=300, check=False)
    errors = [line.split(": error: ")[1].split("  [")[0] for line in result.stdout.splitlines()]
    assert errors == [
        'Argument "start" to "svg" of "ProtocolFile" has incompatible type "str"; '
        'expected "float | None"',
        'Incompatible types in assignment (expression has type "Axes", variable has type "int")',
    ], result.stdout + result.stderr

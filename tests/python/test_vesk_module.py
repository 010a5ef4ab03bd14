"""The vesk module against the vesk command: the same record, the same
refusals, the same picture."""

import gc
import math
import os
import struct
import subprocess
import sys
import threading
import weakref
from pathlib import Path

import numpy as np
import pytest
import vesk
from conftest import U64_MAX, example_output, quantise, require_mypy, run_python
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from revevu import Protocol
from test_vesk_json import encode, every_variant, show_json
from vesk_tool import VARIANT, run_vesk, saved, with_coil_name

QUIET_NAN = 0x7FF8000000000000


def float_bits(value: float) -> int:
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def json_float(bits: int):
    """A float as `vesk show --json` writes it: a number, or a string for
    what JSON lacks (NaN with its bits when they are not the usual ones)."""
    value = struct.unpack("<d", struct.pack("<Q", bits))[0]
    if math.isnan(value):
        return "NaN" if bits == QUIET_NAN else f"NaN(0x{bits:016x})"
    if math.isinf(value):
        return "inf" if value > 0 else "-inf"
    return value


def as_json(value):
    """The loaded tree in the command's JSON shape, walked generically
    through each record's _fields; every leaf must have its exact type."""
    if isinstance(value, tuple):
        return [as_json(v) for v in value]
    if isinstance(value, np.ndarray):
        assert (value.dtype, value.ndim, value.flags.writeable) == (np.int16, 1, False)
        return value.tolist()
    if type(value) is float:
        return json_float(float_bits(value))
    if type(value) in (bool, int, str):
        return value
    fields = {name: as_json(getattr(value, name)) for name in type(value)._fields}
    return {value.kind: fields} if hasattr(value, "kind") else fields


def same(a, b) -> bool:
    """Equal values of equal types in equal order: repr tells 1 from 1.0
    from True and -0.0 from 0.0, and float repr is exact."""
    return repr(a) == repr(b)


@pytest.mark.parametrize("build", [every_variant, Protocol], ids=["variants", "default"])
def test_saved_protocol_reads_back_as_the_commands_json(build, tmp_path):
    path = saved(build(), tmp_path)
    assert same(as_json(vesk.load(path).settings), show_json(path)[0])


# Leaves of the document, edges first: every u64 and f64 value, NaN payloads
# and negative NaN among them, any i16 sample, any text.
U64 = st.one_of(st.sampled_from([0, 1, 127, 128, 16384, 2**63, U64_MAX]),
                st.integers(0, U64_MAX))
F64_BITS = st.one_of(
    st.sampled_from([0, 1 << 63, 1, QUIET_NAN, 1 << 63 | QUIET_NAN, 0x7FF0000000000001,
                     0x7FF0000000000000, 0xFFF0000000000000]),
    st.integers(0, 2**64 - 1),
)


@st.composite
def like(draw, template, name=""):
    """A document of the template's shape with every leaf drawn anew and
    lists of new lengths (the 16 monitor flags stay 16)."""
    if isinstance(template, bool):
        return draw(st.booleans())
    if isinstance(template, int):
        return draw(U64)
    if isinstance(template, str) and name == "name":
        return draw(st.text(max_size=12))
    if isinstance(template, (float, str)):
        return json_float(draw(F64_BITS))
    if isinstance(template, dict):
        return {key: draw(like(member, key)) for key, member in template.items()}
    if name == "samples":
        return draw(st.lists(st.integers(-32768, 32767), max_size=40))
    if name == "monitor_trace_visible":
        return draw(st.lists(st.booleans(), min_size=16, max_size=16))
    if not template:
        return []
    count = draw(st.integers(0, 3))
    return [draw(like(draw(st.sampled_from(template)), name)) for _ in range(count)]


@pytest.fixture(scope="module")
def document_template(tmp_path_factory):
    path = saved(every_variant(), tmp_path_factory.mktemp("template"))
    return show_json(path)[0]


@settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(data=st.data())
def test_any_record_reads_back_as_the_commands_json(data, document_template, tmp_path):
    """Records the API never writes (any machine configuration, any value in
    any field), encoded from a document by the JSON tests' encoder."""
    document = data.draw(like(document_template))
    path = tmp_path / "any.vesk"
    path.write_bytes(encode(document))
    loaded = vesk.load(path)
    assert same(as_json(loaded.settings), show_json(path)[0])
    assert same(as_json(vesk.loads(path.read_bytes()).settings), document)


def test_samples_are_a_read_only_view_that_keeps_the_file_alive(tmp_path):
    p = Protocol()
    p.set_session_duration(0.01)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, 50))
    loaded = vesk.load(saved(p, tmp_path))
    signal = loaded.settings.signals[0]
    samples = signal.samples
    assert np.shares_memory(samples, signal.samples)  # no copy per access
    with pytest.raises(ValueError):
        samples[0] = 1
    with pytest.raises(ValueError):
        samples.flags.writeable = True
    alive = weakref.ref(loaded)
    del loaded, signal
    gc.collect()
    assert alive() is not None
    assert samples.tolist() == [quantise(x) for x in np.linspace(0.0, 1.0, 50)]
    del samples
    gc.collect()
    assert alive() is None


def test_records_and_fields_cannot_be_assigned(tmp_path):
    settings = vesk.load(saved(every_variant(), tmp_path)).settings
    records = [settings, settings.machine_config, settings.machine_config.coils[0],
               settings.machine_config.coils[0].settings[0], settings.channel_a_settings,
               settings.channel_a_settings.modulation_source, *settings.signals]
    for record in records:
        for name in (*type(record)._fields, "kind", "new_attribute"):
            with pytest.raises(AttributeError):
                setattr(record, name, 0)
            with pytest.raises(AttributeError):
                delattr(record, name)
    with pytest.raises(TypeError):
        settings.signals[0] = settings.signals[1]
    with pytest.raises(TypeError):
        vesk.Settings()


def test_numpy_is_imported_only_for_samples_and_revevu_not_at_all(tmp_path):
    path = saved(every_variant(), tmp_path)
    result = run_python(f"""
        import sys, vesk
        loaded = vesk.load({str(path)!r})
        kinds = [s.kind for s in loaded.settings.signals]
        print("numpy" in sys.modules, "revevu" in sys.modules, repr(loaded), loaded._repr_svg_()[:5])
        print(loaded.settings.signals[kinds.index("Arbitrary")].samples.sum(), "numpy" in sys.modules)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "False False <ProtocolFile 'p.vesk': 0.05 s, intensity 0.25, 10 signals> <?xml",
        f"{sum(map(quantise, np.linspace(0.0, 1.0, 250)))} True",
    ]


def broken_files(folder: Path) -> dict[str, Path]:
    good = saved(Protocol(), folder, "good.vesk").read_bytes()
    files = {
        "truncated": good[:100],
        "trailing byte": good + b"\x00",
        "unknown variant": good[:VARIANT] + b"\x07" + good[VARIANT + 1:],
        "bad bool": b"\x02" + good[1:],
        "empty": b"",
    }
    for name, data in files.items():
        (folder / f"{name}.vesk").write_bytes(data)
    return {name: folder / f"{name}.vesk" for name in files}


def test_format_errors_say_what_the_command_says(tmp_path):
    bad_name = with_coil_name(saved(Protocol(), tmp_path, "name.vesk"), b"\xff")
    for name, path in {**broken_files(tmp_path), "bad name": bad_name}.items():
        printed = run_vesk("check", path)
        prefix = f"vesk: {path}: not a valid protocol file: "
        assert printed.returncode == 2 and printed.stderr.startswith(prefix), name
        reason = printed.stderr[len(prefix):-1]
        for call, shown in [(lambda: vesk.load(path), str(path)),
                            (lambda: vesk.load(os.fsencode(path)), str(path)),
                            (lambda: vesk.loads(bytearray(path.read_bytes())), "<bytes>"),
                            (lambda: vesk.loads(path.read_bytes(), name="x.vesk"), "x.vesk")]:
            with pytest.raises(vesk.FormatError) as caught:
                call()
            assert str(caught.value) == f"{shown}: not a valid protocol file: {reason}", name
            where = f"offset {caught.value.offset}: "
            assert reason.startswith(where + (caught.value.field + ": " if caught.value.field
                                              else "")), name
    assert issubclass(vesk.FormatError, ValueError)


def long_file_variants(folder: Path) -> dict[str, bytes]:
    """A file of 400 000 samples (1.1 MB, more than one piece of load's
    reads), whole, cut inside its samples, with an overlong sample there, and
    with bytes after its end."""
    protocol = Protocol()
    protocol.set_session_duration(80.0)
    protocol.add_arbitrary_signal(np.random.default_rng(16).random(400_000))
    good = saved(protocol, folder, "long.vesk").read_bytes()
    middle = len(good) // 2
    start = next(at for at in range(middle, len(good)) if good[at] < 0x80) + 1  # a sample's
    return {
        "whole": good,
        "cut": good[:len(good) // 2],
        "overlong": good[:start] + b"\x80\x00" + good[start + 2:],
        "trailing": good + b"\x00\x00",
    }


def outcome(load):
    try:
        return as_json(load().settings)
    except vesk.FormatError as error:
        return str(error)


@pytest.mark.parametrize("variant", ["whole", "cut", "overlong", "trailing"])
def test_a_long_file_loads_as_loads_of_its_bytes(variant, tmp_path):
    data = long_file_variants(tmp_path)[variant]
    path = tmp_path / "variant.vesk"
    path.write_bytes(data)
    loaded = outcome(lambda: vesk.load(path))
    assert loaded == outcome(lambda: vesk.loads(data, name=str(path)))
    assert isinstance(loaded, str) == (variant != "whole")


def test_a_pipe_loads_as_loads_of_what_it_carries(tmp_path):
    data = long_file_variants(tmp_path)["whole"]
    fifo = tmp_path / "long.fifo"
    os.mkfifo(fifo)
    writer = threading.Thread(target=fifo.write_bytes, args=(data,))
    writer.start()
    loaded = outcome(lambda: vesk.load(fifo))
    writer.join()
    assert loaded == outcome(lambda: vesk.loads(data))


@pytest.mark.parametrize(
    "make, error",
    [
        (lambda folder: folder / "missing.vesk", FileNotFoundError),
        (lambda folder: folder, IsADirectoryError),
        (lambda folder: str(folder / "missing.vesk"), FileNotFoundError),
        (lambda folder: os.fsencode(folder / "missing.vesk"), FileNotFoundError),
    ],
    ids=["Path", "directory", "str", "bytes"],
)
def test_unreadable_files_raise_the_os_error_with_the_name_given(make, error, tmp_path):
    path = make(tmp_path)
    with pytest.raises(error) as caught:
        vesk.load(path)
    assert caught.value.filename is path
    assert run_vesk("check", os.fsdecode(path)).stderr.endswith(
        f"cannot read: {caught.value.strerror}\n")


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: vesk.load("p\0.vesk"), ValueError),
        (lambda: vesk.load(3), TypeError),
        (lambda: vesk.loads("not bytes"), TypeError),
        (lambda: vesk.loads(np.zeros((4, 4), np.uint8)[:, ::2]), ValueError),  # as NumPy says
        (lambda: vesk.loads(b"", name=b"x"), TypeError),
    ],
    ids=["NUL in path", "int path", "str data", "strided data", "bytes name"],
)
def test_wrong_arguments_are_refused(call, error):
    with pytest.raises(error):
        call()


def test_the_notebook_picture_is_what_vesk_plot_draws(example_files, tmp_path):
    hostile = with_coil_name(saved(every_variant(), tmp_path), b"</text>\x1b")
    odd_name = hostile.rename(tmp_path / os.fsdecode(b"<a&b>\xff.vesk"))
    for path in [*example_files.values(), odd_name]:
        out = tmp_path / "out.svg"
        assert run_vesk("plot", path, "-o", out).returncode == 0
        loaded = vesk.load(path)
        assert loaded._repr_svg_() == out.read_text(encoding="utf-8")
        assert repr(loaded).startswith(f"<ProtocolFile {path.name!r}: ")
    # loads() has no file name: its title says <bytes> unless given one.
    data = example_files["quickstart"].read_bytes()
    copy = tmp_path / "<bytes>"
    copy.write_bytes(data)
    assert run_vesk("plot", copy, "-o", tmp_path / "b.svg").returncode == 0
    assert vesk.loads(data)._repr_svg_() == (tmp_path / "b.svg").read_text(encoding="utf-8")
    assert repr(vesk.loads(data, name="q.vesk")) == (
        "<ProtocolFile 'q.vesk': 0.05 s, intensity 0.4, 6 signals>")


MYPY_SNIPPET = '''
import numpy as np
import numpy.typing as npt
import vesk

loaded = vesk.load("p.vesk")
settings = loaded.settings
frequency: float = settings.machine_config.coils[0].settings[0].carrier_frequency
for signal in settings.signals:
    if signal.kind == "Arbitrary":
        samples: npt.NDArray[np.int16] = signal.samples
try:
    vesk.loads(b"", name="x.vesk")
except vesk.FormatError as error:
    where: tuple[int, str] = (error.offset, error.field)
settings.intensity = 1.0
settings.signals[0].samples
try:
    script: str = loaded.script()
    loaded.to_protocol().set_stimulation_intensity(0.5)
    loaded.to_protocol().set_intensity(0.5)
except vesk.NotReproducible as refusal:
    why: tuple[str, str, str] = (refusal.field, refusal.value, refusal.reason)
'''


def mypy_errors(snippet: str, folder: Path):
    """What mypy --strict says of `snippet`, written in `folder`: its errors
    without their places, and its whole output."""
    require_mypy()
    (folder / "snippet.py").write_text(snippet)
    result = subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-error-summary", "--cache-dir",
         str(folder / "cache"), "snippet.py"],
        cwd=folder, capture_output=True, text=True, timeout=300, check=False)
    output = result.stdout + result.stderr
    return [line.split(": error: ")[1] for line in result.stdout.splitlines()], output


def test_mypy_finds_the_stubs_with_no_configuration(tmp_path):
    """Read-only properties, signals told apart by kind, the exceptions'
    attributes, to_protocol() as a revevu.Protocol: what a type checker
    knows of the module."""
    errors, output = mypy_errors(MYPY_SNIPPET, tmp_path)
    assert errors == [
        'Property "intensity" defined in "Settings" is read-only  [misc]',
        *(f'Item "{kind}SignalParams" of "ConstantSignalParams | SineSignalParams | '
          'RampSignalParams | MixedSignalParams | ArbitrarySignalParams" has no attribute '
          '"samples"  [union-attr]' for kind in ("Constant", "Sine", "Ramp", "Mixed")),
        '"Protocol" has no attribute "set_intensity"  [attr-defined]',
    ], output
    stubs = Path(vesk.__file__).with_name("vesk-stubs")
    assert (stubs / "__init__.pyi").read_text() == Path(vesk.__file__).with_name(
        "vesk.pyi").read_text()
    assert (stubs / "py.typed").read_text() == ""


def test_the_read_back_example_prints_the_quickstart_protocol(example_files):
    assert example_output("read_back.py", example_files["quickstart"]) == [
        "<ProtocolFile 'quickstart.vesk': 0.05 s, intensity 0.4, 6 signals>",
        "channel A (enabled):",
        "  amplitude1: signal 4 (MixedSignal)",
        "  amplitude2: signal 0 (Constant)",
        "  modulation: signal 5 (Arbitrary)",
        "channel B (enabled):",
        "  amplitude1: external input 2",
        "  amplitude2: signal 2 (Sine)",
        "  modulation: signal 5 (Arbitrary)",
        "signal 0: Constant value 0.5",
        "signal 1: Sine amplitude 1.0, frequency 10.0, phase 0.0, depth 1.0",
        "signal 2: Sine amplitude 0.8, frequency 2.0, phase 0.25, depth 0.5",
        "signal 3: Ramp peak 1.0, up_duration 0.02, down_duration 0.03",
        "signal 4: MixedSignal a_idx 1, b_idx 3",
        "signal 5: Arbitrary 250 samples, mean level 0.498, highest 1.000 at 0.0248 s",
    ]

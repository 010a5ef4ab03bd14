"""A small pure-Python model of the protocol record, written from the rules of
the record (field order, text layout, wire types), plus the helpers that the
reliability tests share: the model of a `Protocol`, the expected failure
messages, and a place to report figures.

The model is independent of the module: it builds the record as a tree of
typed values, renders that tree with the text-form rules and encodes it with
the wire rules, so a disagreement points at one side or the other, never at a
shared mistake.
"""

from __future__ import annotations

import contextlib
import json
import math
import os
import struct
from dataclasses import dataclass, field, replace

from conftest import (  # the suite's shared expected messages
    MSG_DURATION_MAX,
    MSG_DURATION_MIN,
    MSG_EXTENSION,
    MSG_INTENSITY,
    MSG_LENGTH,
    MSG_SAMPLE_HIGH,
    MSG_SAMPLE_LOW,
    UNWRAP,
    os_error_message,
)

SAMPLING_RATE = 5000.0
MAX_SESSION_DURATION = 1800.0
U64_MAX = 2**64 - 1

MSG_NUL = UNWRAP + 'Error { kind: InvalidInput, message: "file name contained an unexpected NUL byte" }'


def cast_message(obj: object, target: str) -> str:
    return f"'{type(obj).__qualname__}' object cannot be cast as '{target}'"


# ---------------------------------------------------------------------------
# Typed values of the record tree.


@dataclass(frozen=True)
class F64:
    value: float


@dataclass(frozen=True)
class U64:
    value: int


@dataclass(frozen=True)
class Sample:
    value: int  # signed 16-bit


@dataclass(frozen=True)
class Seq:
    items: tuple  # variable length: a count on the wire


@dataclass(frozen=True)
class Array:
    items: tuple  # fixed length: no count on the wire


@dataclass(frozen=True)
class Record:
    name: str
    fields: tuple  # of (field name, value)


@dataclass(frozen=True)
class Variant:
    name: str
    index: int
    payload: Record


def format_float(x: float) -> str:
    """Shortest round-trip digits, exponent form at or above 1e16 and below 1e-4."""
    if math.isnan(x):
        return "NaN"
    if math.isinf(x):
        return "inf" if x > 0 else "-inf"
    # repr already gives the shortest digits and switches to the exponent form
    # at exactly these magnitudes; only the exponent's spelling differs.
    text = repr(x)
    if "e" in text:
        mantissa, exponent = text.split("e")
        text = f"{mantissa}e{int(exponent)}"
    return text


def _quote(text: str) -> str:
    escapes = {'"': '\\"', "\\": "\\\\", "\n": "\\n", "\t": "\\t", "\r": "\\r"}
    return '"' + "".join(escapes.get(c, c) for c in text) + '"'


def render(value, level: int = 0) -> str:
    """The multi-line text form of a value whose first line is at `level`."""
    inner = "    " * (level + 1)
    closing = "    " * level
    if isinstance(value, bool):
        return "true" if value else "false"
    if isinstance(value, (U64, Sample)):
        return str(value.value)
    if isinstance(value, F64):
        return format_float(value.value)
    if isinstance(value, str):
        return _quote(value)
    if isinstance(value, Record):
        lines = [f"{value.name} {{"]
        lines += [f"{inner}{name}: {render(v, level + 1)}," for name, v in value.fields]
        return "\n".join(lines + [closing + "}"])
    if isinstance(value, (Seq, Array)):
        if not value.items:
            return "[]"
        lines = ["["] + [f"{inner}{render(v, level + 1)}," for v in value.items]
        return "\n".join(lines + [closing + "]"])
    if isinstance(value, Variant):
        return f"{value.name}(\n{inner}{render(value.payload, level + 1)},\n{closing})"
    raise TypeError(f"no text form for {value!r}")


def varint(n: int) -> bytes:
    assert 0 <= n <= U64_MAX
    out = bytearray()
    while True:
        group = n & 0x7F
        n >>= 7
        if n:
            out.append(group | 0x80)
        else:
            out.append(group)
            return bytes(out)


def encode(value) -> bytes:
    """The wire bytes of a value: depth first, fields in order, nothing between."""
    if isinstance(value, bool):
        return b"\x01" if value else b"\x00"
    if isinstance(value, U64):
        return varint(value.value)
    if isinstance(value, Sample):
        n = value.value
        return varint(((n << 1) ^ (n >> 15)) & 0xFFFF)
    if isinstance(value, F64):
        return struct.pack("<d", value.value)
    if isinstance(value, str):
        data = value.encode("utf-8")
        return varint(len(data)) + data
    if isinstance(value, Seq):
        return varint(len(value.items)) + b"".join(encode(v) for v in value.items)
    if isinstance(value, Array):
        return b"".join(encode(v) for v in value.items)
    if isinstance(value, Record):
        return b"".join(encode(v) for _, v in value.fields)
    if isinstance(value, Variant):
        return varint(value.index) + encode(value.payload)
    raise TypeError(f"no encoding for {value!r}")


# ---------------------------------------------------------------------------
# The default hardware description, which no method changes.


def _default_coil() -> Record:
    setting = Record(
        "LCSetting",
        (
            ("capacitance", F64(330.0)),
            ("carrier_frequency", F64(22.624434389140273)),
            ("clk_ticks_per_sample", U64(221)),
            ("capacitor_bank_setting", U64(1)),
        ),
    )
    return Record(
        "Coil",
        (
            ("name", "Default"),
            ("inductance", F64(150.0)),
            ("max_current", F64(0.1)),
            ("max_carrier_frequency", F64(40.0)),
            ("settings", Seq((setting,))),
        ),
    )


MACHINE_CONFIG = Record(
    "MachineConfig",
    (
        ("supply_voltage", F64(80.0)),
        ("num_coils", U64(2)),
        ("coils", Seq((_default_coil(),))),
        ("capacitors", Seq((F64(330.0),))),
        ("possible_capacitances", Seq((F64(330.0),))),
        ("num_external_signal_sources", U64(6)),
        ("smbus_psu_connected", False),
        ("num_temperature_sensors", U64(0)),
        ("num_flow_rate_sensors", U64(0)),
        ("safety_checks_enabled", True),
        ("max_intensity_setpoint", F64(0.3)),
        ("max_current", F64(0.5)),
        ("max_carrier_frequency", F64(40.0)),
        ("max_temperature", F64(40.0)),
        ("min_flowrate", F64(70.0)),
        ("max_power", F64(520.0)),
    ),
)

# ---------------------------------------------------------------------------
# Signals and the rules that build them.


def constant_signal(value: float) -> Variant:
    return Variant("Constant", 0, Record("ConstantSignalParams", (("value", F64(value)),)))


def sine_signal(amplitude: float, frequency: float, phase: float, depth: float) -> Variant:
    fields = (("amplitude", amplitude), ("frequency", frequency), ("phase", phase), ("depth", depth))
    return Variant("Sine", 1, Record("SineSignalParams", tuple((n, F64(v)) for n, v in fields)))


def ramp_signal(peak: float, up: float, down: float) -> Variant:
    fields = (("peak", peak), ("up_duration", up), ("down_duration", down))
    return Variant("Ramp", 2, Record("RampSignalParams", tuple((n, F64(v)) for n, v in fields)))


def mixed_signal(a_idx: int, b_idx: int) -> Variant:
    fields = (("a_idx", U64(a_idx)), ("b_idx", U64(b_idx)))
    return Variant("MixedSignal", 3, Record("MixedSignalParams", fields))


def arbitrary_signal(stored: list[int]) -> Variant:
    samples = Seq(tuple(Sample(s) for s in stored))
    return Variant("Arbitrary", 4, Record("ArbitrarySignalParams", (("samples", samples),)))


def sample_count(duration: float) -> int:
    """ceil(duration * 5000.0) in binary64, saturated into u64."""
    product = duration * SAMPLING_RATE
    if not product > 0.0:
        return 0
    if product >= 2.0**64:
        return U64_MAX
    return math.ceil(product)


def quantise(x: float) -> int:
    """x * 32767.0 rounded half away from zero (x is already known to be in [0, 1])."""
    scaled = x * 32767.0
    whole = math.floor(scaled)
    return int(whole + 1 if scaled - whole >= 0.5 else whole)


# ---------------------------------------------------------------------------
# The model of one Protocol object.


@dataclass
class Source:
    internal: int = 0
    external: int = 0
    external_selected: bool = False

    def record(self) -> Record:
        return Record(
            "SignalSourceSelection",
            (
                ("internal", U64(self.internal)),
                ("external", U64(self.external)),
                ("external_selected", self.external_selected),
            ),
        )


@dataclass
class ChannelModel:
    enabled: bool
    sources: list = field(default_factory=lambda: [Source(), Source(), Source()])  # amp1, amp2, modulation

    def record(self) -> Record:
        amp1, amp2, modulation = (s.record() for s in self.sources)
        return Record(
            "ChannelSettings",
            (
                ("enabled", self.enabled),
                ("amplitude1_source", amp1),
                ("amplitude2_source", amp2),
                ("modulation_source", modulation),
                ("coil_idx", U64(0)),
                ("coil_setting_idx", U64(0)),
            ),
        )


def running_on_target_machine() -> bool:
    value = os.environb.get(b"VESK_TARGET_MACHINE")
    if value is None:
        return False
    try:
        value.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return True


@dataclass
class ProtocolModel:
    on_target: bool = field(default_factory=running_on_target_machine)
    intensity: float = 0.0
    session_duration: float = 60.0
    signals: list = field(default_factory=list)
    channels: list = field(default_factory=lambda: [ChannelModel(True), ChannelModel(False)])

    def copy(self) -> "ProtocolModel":
        # Signals are immutable values; only the list and the channels are copied.
        channels = [ChannelModel(c.enabled, [replace(s) for s in c.sources]) for c in self.channels]
        return replace(self, signals=list(self.signals), channels=channels)

    def settings(self) -> Record:
        return Record(
            "Settings",
            (
                ("running_on_target_machine", self.on_target),
                ("machine_config", MACHINE_CONFIG),
                ("intensity", F64(self.intensity)),
                ("session_duration", F64(self.session_duration)),
                ("signals", Seq(tuple(self.signals))),
                ("channel_a_settings", self.channels[0].record()),
                ("channel_b_settings", self.channels[1].record()),
                ("monitor_trace_visible", Array((False,) * 16)),
                ("monitor_subsampling_factor", U64(1)),
            ),
        )

    def text(self) -> str:
        return render(Record("Protocol", (("settings", self.settings()),)))

    def file_bytes(self) -> bytes:
        """The bytes a save writes; the caller applies the default signal first."""
        return encode(self.settings())

    def add_default_signal_if_empty(self) -> None:
        if not self.signals:
            self.signals.append(constant_signal(0.0))

    def num_samples(self) -> int:
        return sample_count(self.session_duration)

    # Edits, each one the effect of a successful call.
    def set_source(self, channel: int, slot: int, index: int, external: bool) -> None:
        source = self.channels[channel].sources[slot]
        source.internal, source.external, source.external_selected = (
            (0, index, True) if external else (index, 0, False)
        )

    def append(self, signal: Variant) -> int:
        self.signals.append(signal)
        return len(self.signals) - 1


# ---------------------------------------------------------------------------
# Figures reported by the long runs.


def report_figures(part: str, **figures) -> None:
    """Appends one line of figures for `part` to $REVEVU_FIGURES_FILE, if set."""
    path = os.environ.get("REVEVU_FIGURES_FILE")
    if path:
        with open(path, "a", encoding="utf-8") as out:
            out.write(json.dumps({"part": part, **figures}) + "\n")


def env_number(name: str, default: float) -> float:
    value = os.environ.get(name)
    return float(value) if value else default


def scratch_dir_root() -> str | None:
    """A tmpfs directory when there is one, so that fsync in save costs nothing."""
    return "/dev/shm" if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK) else None


# ---------------------------------------------------------------------------
# Other users, made up: ids that need no account.

ALICE, BOB, LAB = 4242, 4243, 4300  # two users and the group they share


def become(user: int, group: int, groups=()) -> None:
    """Gives up root for these ids. A child calls it once its imports are
    done, so that an interpreter and a module private to root still load."""
    os.setgroups(list(groups))
    os.setgid(group)
    os.setuid(user)


SAVER = """
import json, os, revevu
from reliability_helpers import become
os.chdir({directory!r})  # a made-up user need not reach it from /
if {ids!r}:
    become(*{ids!r}, {groups!r})
protocol = revevu.Protocol()
protocol.add_constant_signal({value!r})
try:
    protocol.save({name!r})
    error = None
except BaseException as raised:
    error = f"{{type(raised).__name__}}: {{raised}}"
status = os.stat({name!r})
print(json.dumps({{"error": error, "owner": [status.st_uid, status.st_gid], "mode": status.st_mode & 0o7777,
                  "inode": status.st_ino}}))
"""


def save_as(ids, directory, name: str, *, groups=(), value: float = 0.0) -> dict:
    """Saves a protocol of one constant signal to `name` in `directory`, in a
    child that first takes the ids (user, group) and `groups` unless `ids` is
    None: its error ("PanicException: ...", or None) and the file's owner,
    mode and inode afterwards."""
    return run_python(SAVER.format(directory=str(directory), ids=ids, groups=list(groups), name=name, value=value))


# ---------------------------------------------------------------------------
# A fixed protocol, built on the module and on the model side by side.


def scripted_protocol(revevu, numpy, duration: float = 0.02):
    """A protocol with every kind of signal and non-default sources, and its model."""
    p, m = revevu.Protocol(), ProtocolModel()
    p.set_stimulation_intensity(0.5)
    p.set_session_duration(duration)
    m.intensity, m.session_duration = 0.5, duration
    m.append(sine_signal(1.0, 10.0, 0.0, 1.0)), p.add_sine_signal(1.0, 10.0)
    m.append(constant_signal(0.25)), p.add_constant_signal(0.25)
    m.append(ramp_signal(1.0, 0.5, -2.0)), p.add_ramp_signal(1.0, 0.5, -2.0)
    m.append(mixed_signal(0, 130)), p.add_mixed_signal(0, 130)
    samples = numpy.linspace(0.0, 1.0, p.get_num_samples())
    m.append(arbitrary_signal([quantise(x) for x in samples.tolist()])), p.add_arbitrary_signal(samples)
    p.enable_channel(revevu.Channel.B)
    p.set_amplitude_source(revevu.Coil.B2, 4)
    p.set_modulation_source(revevu.Channel.A, 3, external=True)
    m.channels[1].enabled = True
    m.set_source(1, 1, 4, False)
    m.set_source(0, 2, 3, True)
    return p, m


class FrozenModel:
    """A model that no longer changes, with its text and bytes worked out once
    (for checks that compare a long protocol many times)."""

    def __init__(self, model: ProtocolModel):
        self._text, self._bytes = model.text(), model.file_bytes()

    def text(self) -> str:
        return self._text

    def file_bytes(self) -> bytes:
        return self._bytes


def _listing(directories) -> dict:
    return {d: sorted(os.listdir(d)) for d in directories}


def check_save(
    protocol, model, target, expected, *, old_content, good_dir, watch=(), also_after_failure=(), around=None,
    outcomes=None,
):
    """Saves to `target` and returns what went wrong (an empty list when nothing).

    `expected` is None for success, the exact PanicException text, or a set of
    acceptable outcomes (texts, None for success). A failed save must leave
    `old_content` (None: no file) or one of `also_after_failure`, no new file
    in the target's directory or in `watch`, and a protocol that still matches
    the model and saves to `good_dir` (skipped when None). `around` is a
    context manager factory wrapped around the one save under test; the
    save's outcome (its exception, or None) is appended to `outcomes`."""
    problems = []
    # A device or FIFO has no content to compare (reading /dev/full never ends).
    special = os.path.exists(target) and not os.path.isfile(target)
    existed = os.path.lexists(target)
    directories = {os.path.dirname(os.path.abspath(target)), *watch}
    before = _listing(directories)
    raised = None
    with around() if around else contextlib.nullcontext():
        try:
            protocol.save(target)
        except BaseException as error:  # the module's PanicException derives from BaseException
            raised = error
    if outcomes is not None:
        outcomes.append(raised)
    accepted = {expected} if expected is None or isinstance(expected, str) else set(expected)
    if raised is None:
        if None not in accepted:
            problems.append(f"save({target!r}) succeeded, expected {accepted}")
        elif not special and _read(target) != model.file_bytes():
            problems.append(f"{target!r} does not hold the protocol's bytes")
    else:
        if type(raised).__name__ != "PanicException" or raised.args[0] not in accepted:
            problems.append(f"save({target!r}) raised {raised!r}, expected {accepted}")
        content = None if special else _read(target)
        if special:
            pass
        elif old_content is None and not existed and os.path.lexists(target) and content not in also_after_failure:
            problems.append(f"a failed save created {target!r}")
        if old_content is not None and content != old_content and content not in also_after_failure:
            problems.append(f"a failed save changed {target!r}")
        after = _listing(directories)
        if not existed and not special and content in also_after_failure:  # the new file took its name
            after[os.path.dirname(os.path.abspath(target))].remove(os.path.basename(target))
        if after != before:
            problems.append(f"a failed save left files behind: {before} -> {after}")
    if str(protocol) != model.text():
        problems.append("the protocol's record changed")
    if good_dir is None:
        return problems
    good = os.path.join(good_dir, "after-fault.vesk")
    try:
        protocol.save(good)
        if _read(good) != model.file_bytes():
            problems.append("the next save wrote wrong bytes")
    except BaseException as error:
        problems.append(f"the next save to a good path raised {error!r}")
    return problems


def _read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as error:
        return error


def run_python(code: str, *, user=None, prefix=(), extra_preload=None, timeout=300):
    """Runs `code` in a fresh interpreter that can import this module and
    revevu; returns the JSON value of its last output line."""
    import subprocess
    import sys

    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join(p for p in sys.path if p)
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    if extra_preload:
        env["LD_PRELOAD"] = " ".join(filter(None, [env.get("LD_PRELOAD"), extra_preload]))
    done = subprocess.run(
        [*prefix, sys.executable, "-c", code],
        env=env,
        user=user,
        capture_output=True,
        text=True,
        timeout=timeout,
        cwd="/",
    )
    lines = done.stdout.strip().splitlines()
    if done.returncode != 0 or not lines:
        raise AssertionError(f"child failed ({done.returncode}):\n{done.stdout}\n{done.stderr[-4000:]}")
    return json.loads(lines[-1])


@contextlib.contextmanager
def quiet_stderr():
    """Sends standard error (the diagnostics of expected panics) nowhere."""
    saved = os.dup(2)
    with open(os.devnull, "wb") as null:
        os.dup2(null.fileno(), 2)
    try:
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)


def first_difference(actual, expected, what: str) -> str | None:
    """A short description of where two texts or byte strings first differ
    (a full diff of million-line texts would take longer than the test)."""
    if actual == expected:
        return None
    if isinstance(actual, str) and isinstance(expected, str):
        a_lines, e_lines = actual.split("\n"), expected.split("\n")
        for number, (a, e) in enumerate(zip(a_lines, e_lines), 1):
            if a != e:
                return f"{what}: line {number} is {a!r}, expected {e!r}"
        return f"{what}: {len(a_lines)} lines, expected {len(e_lines)}"
    offset = next((i for i, (a, e) in enumerate(zip(actual, expected)) if a != e), min(len(actual), len(expected)))
    return f"{what}: byte {offset} of {len(actual)} differs from the expected {len(expected)} bytes: " + (
        f"{actual[offset:offset + 8].hex()} vs {expected[offset:offset + 8].hex()}"
    )

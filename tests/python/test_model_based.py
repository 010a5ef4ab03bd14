"""Model-based test: random sequences of every Protocol method, with valid and
invalid arguments, checked step by step against the pure-Python model of the
record. After every step the text form and the bytes of a save equal the
model's, and every failed call has changed nothing.

Size: REVEVU_HYPOTHESIS_EXAMPLES examples (default 40) from the fixed seed
REVEVU_HYPOTHESIS_SEED, stopping early after REVEVU_HYPOTHESIS_SECONDS.
"""

from __future__ import annotations

import os
import pathlib
import shutil
import tempfile
import time
import warnings
from dataclasses import dataclass

import numpy as np
import pytest
from hypothesis import HealthCheck, seed, settings
from hypothesis import strategies as st
from hypothesis.stateful import (
    RuleBasedStateMachine,
    initialize,
    invariant,
    rule,
    run_state_machine_as_test,
)

import revevu
import reliability_helpers as rh
from reliability_helpers import (
    MSG_DURATION_MAX,
    MSG_DURATION_MIN,
    MSG_EXTENSION,
    MSG_INTENSITY,
    MSG_LENGTH,
    MSG_NUL,
    MSG_SAMPLE_HIGH,
    MSG_SAMPLE_LOW,
    U64_MAX,
    ProtocolModel,
    cast_message,
    os_error_message,
)

# ---------------------------------------------------------------------------
# Argument objects. Defined at module level: their qualified names appear in
# the cast messages.


class FloatSub(float):
    pass


class IntSub(int):
    pass


class SamplesArray(np.ndarray):
    pass


class Probe:
    """Counts how often the interpreter asked it for a number."""

    def __init__(self):
        self.conversions = 0


class HasFloat(Probe):
    def __init__(self, value):
        super().__init__()
        self.value = value

    def __float__(self):
        self.conversions += 1
        return self.value


class HasIndex(Probe):
    def __init__(self, value):
        super().__init__()
        self.value = value

    def __index__(self):
        self.conversions += 1
        return self.value


class RefusesConversion(Probe):
    def __init__(self, error_type):
        super().__init__()
        self.error_type = error_type

    def __float__(self):
        self.conversions += 1
        raise self.error_type("conversion refused")

    __index__ = __float__


REENTRY_CALLS = {
    # method called back from inside a conversion: the inner call's error
    "get_sampling_rate": "Already mutably borrowed",
    "__str__": "Already mutably borrowed",
    "get_num_samples": "Already borrowed",
    "add_constant_signal": "Already borrowed",
    "set_session_duration": "Already borrowed",
    "save": "Already borrowed",
}


class Reenters(Probe):
    """Calls back into the protocol that is converting it."""

    FLOAT_VALUE = 0.25
    INDEX_VALUE = 3

    def __init__(self, protocol, method, escape, scratch):
        super().__init__()
        self.protocol, self.method, self.escape, self.scratch = protocol, method, escape, scratch
        self.inner_errors = []

    def _call_back(self):
        self.conversions += 1
        p = self.protocol
        calls = {
            "get_sampling_rate": lambda: p.get_sampling_rate(),
            "__str__": lambda: str(p),
            "get_num_samples": lambda: p.get_num_samples(),
            "add_constant_signal": lambda: p.add_constant_signal(0.5),
            "set_session_duration": lambda: p.set_session_duration(1.0),
            "save": lambda: p.save(os.path.join(self.scratch, "reentered.vesk")),
        }
        try:
            calls[self.method]()
        except RuntimeError as error:
            self.inner_errors.append(str(error))
            if self.escape:
                raise

    def __float__(self):
        self._call_back()
        return self.FLOAT_VALUE

    def __index__(self):
        self._call_back()
        return self.INDEX_VALUE


# ---------------------------------------------------------------------------
# Expected outcomes.


@dataclass
class Fail:
    error_type: type  # PanicError stands for the module's PanicException
    message: str | None = None  # exact text, when the module words it
    prefix: str | None = None  # when the rest is the interpreter's wording


class PanicError:
    """Marker for the module's PanicException, which has no public name."""


def is_panic(error: BaseException) -> bool:
    return type(error).__name__ == "PanicException" and type(error).__bases__ == (BaseException,)


def wrapped(param: str, error_type: type) -> Fail:
    """A conversion hook raised `error_type`: only TypeError is reworded."""
    if error_type is TypeError:
        return Fail(TypeError, f"argument '{param}': conversion refused")
    return Fail(error_type, "conversion refused")


def not_a_number(param: str) -> Fail:
    return Fail(TypeError, prefix=f"argument '{param}': ")


REJECTED_EVERYWHERE = {"str", "none", "list", "complex", "bytes", "enum"}


def as_float(desc, obj, param):
    kind = desc[0]
    if kind in ("float", "float_sub", "np_float64", "has_float"):
        return desc[1]
    if kind == "np_float32":
        return float(obj)
    if kind == "bool":
        return float(desc[1])
    if kind in ("int", "int_sub", "np_int64", "has_index"):
        try:
            return float(desc[1])
        except OverflowError:
            return Fail(OverflowError)
    if kind == "refuses":
        return wrapped(param, desc[1])
    if kind == "reenter":
        _, method, escape = desc
        return Fail(RuntimeError, REENTRY_CALLS[method]) if escape else Reenters.FLOAT_VALUE
    assert kind in REJECTED_EVERYWHERE, kind
    return not_a_number(param)


def as_index(desc, obj, param):
    kind = desc[0]
    if kind in ("int", "int_sub", "np_int64", "has_index", "bool"):
        n = int(desc[1])
        return n if 0 <= n <= U64_MAX else Fail(OverflowError)
    if kind == "refuses":
        return wrapped(param, desc[1])
    if kind == "reenter":
        _, method, escape = desc
        return Fail(RuntimeError, REENTRY_CALLS[method]) if escape else Reenters.INDEX_VALUE
    return not_a_number(param)


def as_bool(desc, obj, param):
    if desc[0] in ("bool", "np_bool"):
        return bool(desc[1])
    return Fail(TypeError, f"argument '{param}': {cast_message(obj, 'bool')}")


def as_member(desc, obj, param, class_name):
    if desc[0] == "enum" and desc[1].startswith(class_name + "."):
        return obj
    return Fail(TypeError, f"argument '{param}': {cast_message(obj, class_name)}")


def hook_runs(desc, kind: str) -> bool:
    """Whether converting `desc` as `kind` calls one of its Python hooks."""
    if kind == "float":
        return desc[0] in ("has_float", "has_index", "refuses", "reenter")
    if kind == "index":
        return desc[0] in ("has_index", "refuses", "reenter")
    return False


# ---------------------------------------------------------------------------
# Strategies of argument descriptions (plain data, turned into objects per call).

finite = st.floats(allow_nan=False, allow_infinity=False)
any_float = st.floats(allow_nan=True, allow_infinity=True)
special_floats = st.sampled_from([0.0, -0.0, 1.0, -1.0, float("nan"), float("inf"), float("-inf"), 5e-324, 1e308])
huge_ints = st.sampled_from([2**64 - 1, 2**64, 2**100, -1, -(2**63), 2**1024, -(2**1024)])
reentry = st.tuples(st.just("reenter"), st.sampled_from(sorted(REENTRY_CALLS)), st.booleans())
odd_objects = st.one_of(
    st.just(("str", "0.5")),
    st.just(("none",)),
    st.just(("list",)),
    st.just(("complex",)),
    st.just(("bytes",)),
    st.sampled_from([("enum", "Coil.A1"), ("enum", "Channel.B")]),
    st.tuples(st.just("refuses"), st.sampled_from([TypeError, ValueError, ZeroDivisionError])),
    reentry,
)


def numbers_as(kind_values):
    return st.one_of(*(values.map(lambda v, k=kind: (k, v)) for kind, values in kind_values))


def float_args(plain=any_float):
    return st.one_of(
        numbers_as([("float", plain), ("float", special_floats)]),
        numbers_as([("float", plain)]),
        numbers_as(
            [
                ("int", st.integers(-(2**70), 2**70) | huge_ints),
                ("bool", st.booleans()),
                ("float_sub", any_float),
                ("np_float64", any_float),
                ("np_float32", st.floats(width=32)),
                ("np_int64", st.integers(-(2**63), 2**63 - 1)),
                ("has_float", any_float),
                ("has_index", st.integers(-(2**70), 2**70)),
            ]
        ),
        odd_objects,
    )


small_index = st.integers(0, 1000)
index_args = st.one_of(
    numbers_as([("int", small_index)]),
    numbers_as([("int", st.integers(0, U64_MAX) | huge_ints)]),
    numbers_as(
        [
            ("bool", st.booleans()),
            ("int_sub", small_index),
            ("np_int64", st.integers(-(2**63), 2**63 - 1)),
            ("has_index", st.integers(-(2**65), 2**65)),
            ("float", st.sampled_from([1.0, 0.0, float("nan")])),
            ("np_float64", st.just(1.0)),
            ("has_float", st.just(1.0)),
        ]
    ),
    odd_objects,
)
bool_args = st.one_of(
    numbers_as([("bool", st.booleans())]),
    numbers_as([("bool", st.booleans()), ("np_bool", st.booleans())]),
    numbers_as([("int", st.sampled_from([0, 1])), ("float", st.just(1.0)), ("has_index", st.just(1))]),
    odd_objects,
)


def member_args(class_name, names):
    members = st.sampled_from([("enum", f"{class_name}.{n}") for n in names])
    return st.one_of(members, members, members, numbers_as([("int", st.integers(0, 3))]), odd_objects)


channel_args = member_args("Channel", ["A", "B"])
coil_args = member_args("Coil", ["A1", "A2", "B1", "B2"])
duration_values = st.one_of(
    st.sampled_from([0.01, 0.07, 0.1, 0.0123, 0.2, 0.009999999999999998, 0.0099, 0.0, -1.0, 1800.0, 1800.0000000000002]),
    st.floats(0.01, 0.4),
    st.sampled_from([60.0, 2000.0, float("nan"), float("inf"), float("-inf")]),
)
duration_args = st.one_of(numbers_as([("float", duration_values)]), float_args(duration_values))
intensity_values = st.one_of(
    st.sampled_from([0.0, -0.0, 1.0, 1.0000000000000002, -0.1, -5e-324, float("nan"), float("inf")]),
    st.floats(0.0, 1.0),
    st.floats(-2.0, 2.0),
)
intensity_args = st.one_of(numbers_as([("float", intensity_values)]), float_args(intensity_values))

# Quantisation edges: halves round away from zero, 1.0 is 32767.
EDGE_SAMPLES = [0.0, -0.0, 1.0, 0.5, 0.25, 0.75, 0.1, 1e-05, 0.5 / 32767, 1.5 / 32767, 5e-324]

OMIT = ("omit",)
PATHS = st.sampled_from(
    [
        ("good", "p.vesk"),
        ("good", "q.vesk"),
        ("good", ".vesk"),
        ("good", "ünï.vesk"),
        ("bad_ext", "p.VESK"),
        ("bad_ext", "p.vesk "),
        ("bad_ext", "p"),
        ("bad_ext", "p.vesk/"),
        ("bad_ext", ""),
        ("nul", "a\0b.vesk"),
        ("missing_dir", "missing/p.vesk"),
        ("is_dir", "folder.vesk"),
        ("not_str", "bytes"),
        ("not_str", "pathlib"),
        ("not_str", "none"),
        ("surrogate", "\udc80.vesk"),
    ]
)

# ---------------------------------------------------------------------------
# Parameters of each method: (name, conversion, default or None when required).

METHODS = {
    "set_stimulation_intensity": [("intensity", "float", None)],
    "set_session_duration": [("duration", "float", None)],
    "enable_channel": [("channel", "Channel", None)],
    "set_amplitude_source": [("coil", "Coil", None), ("index", "index", None), ("external", "bool", False)],
    "set_modulation_source": [("channel", "Channel", None), ("index", "index", None), ("external", "bool", False)],
    "add_constant_signal": [("value", "float", None)],
    "add_sine_signal": [
        ("amplitude", "float", None),
        ("frequency", "float", None),
        ("phase", "float", 0.0),
        ("depth", "float", 1.0),
    ],
    "add_ramp_signal": [("peak", "float", None), ("up_duration", "float", None), ("down_duration", "float", None)],
    "add_mixed_signal": [("a_idx", "index", None), ("b_idx", "index", None)],
    "add_arbitrary_signal": [("samples", "array", None)],
    "save": [("filepath", "path", None)],
}

COIL_SLOTS = {"A1": (0, 0), "A2": (0, 1), "B1": (1, 0), "B2": (1, 1)}


def binding_error(method: str, n_positional: int, keywords: list[str]) -> str | None:
    """The TypeError text of an argument binding, or None when it binds."""
    params = METHODS[method]
    names = [p[0] for p in params]
    required = [p[0] for p in params if p[2] is None]
    full = f"Protocol.{method}()"
    if n_positional > len(params):
        verb = "was" if n_positional == 1 else "were"
        if len(required) == len(params):
            return f"{full} takes {len(params)} positional arguments but {n_positional} {verb} given"
        return f"{full} takes from {len(required)} to {len(params)} positional arguments but {n_positional} {verb} given"
    for key in keywords:
        if key not in names:
            return f"{full} got an unexpected keyword argument '{key}'"
    for key in keywords:
        if names.index(key) < n_positional:
            return f"{full} got multiple values for argument '{key}'"
    given = set(names[:n_positional]) | set(keywords)
    missing = [n for n in required if n not in given]
    if missing:
        noun = "argument" if len(missing) == 1 else "arguments"
        quoted = " and ".join(f"'{n}'" for n in missing) if len(missing) <= 2 else None
        head = f"{full} missing {len(missing)} required positional {noun}: "
        return head + quoted if quoted else head  # three names: wording left open
    return None


def assert_same(actual, expected, what):
    difference = rh.first_difference(actual, expected, what)
    if difference:
        raise AssertionError(difference)


# ---------------------------------------------------------------------------


class Counters:
    examples = 0
    calls = 0


class ProtocolMachine(RuleBasedStateMachine):
    def __init__(self):
        super().__init__()
        self.scratch = tempfile.mkdtemp(prefix="revevu-model-", dir=rh.scratch_dir_root())
        os.mkdir(os.path.join(self.scratch, "folder.vesk"))
        self.expected_files = {"folder.vesk"}
        self.protocol = revevu.Protocol()
        self.model = ProtocolModel()
        Counters.examples += 1

    def teardown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    # -- turning descriptions into objects ---------------------------------

    def make(self, desc):
        kind = desc[0]
        makers = {
            "float": lambda: desc[1],
            "int": lambda: desc[1],
            "bool": lambda: desc[1],
            "float_sub": lambda: FloatSub(desc[1]),
            "int_sub": lambda: IntSub(desc[1]),
            "np_float64": lambda: np.float64(desc[1]),
            "np_float32": lambda: np.float32(desc[1]),
            "np_int64": lambda: np.int64(desc[1]),
            "np_bool": lambda: np.bool_(desc[1]),
            "has_float": lambda: HasFloat(desc[1]),
            "has_index": lambda: HasIndex(desc[1]),
            "refuses": lambda: RefusesConversion(desc[1]),
            "reenter": lambda: Reenters(self.protocol, desc[1], desc[2], self.scratch),
            "str": lambda: desc[1],
            "none": lambda: None,
            "list": lambda: [0.5],
            "complex": lambda: 1 + 2j,
            "bytes": lambda: b"0.5",
            "enum": lambda: getattr(getattr(revevu, desc[1].split(".")[0]), desc[1].split(".")[1]),
        }
        return makers[kind]()

    def make_path(self, desc):
        kind, name = desc
        if kind == "not_str":
            full = os.path.join(self.scratch, "p.vesk")
            return {"bytes": full.encode(), "pathlib": pathlib.Path(full), "none": None}[name]
        return os.path.join(self.scratch, name) if name else ""

    # -- the model's side ----------------------------------------------------

    def convert(self, kind, desc, obj, param):
        if kind == "float":
            return as_float(desc, obj, param)
        if kind == "index":
            return as_index(desc, obj, param)
        if kind == "bool":
            return as_bool(desc, obj, param)
        if kind in ("Channel", "Coil"):
            return as_member(desc, obj, param, kind)
        raise AssertionError(kind)

    def expect(self, method, descs, objs):
        """Returns (outcome, model after the call): outcome is Fail or ("ok", value)."""
        after = self.model.copy()
        values = {}
        for (param, kind, default), desc, obj in zip(METHODS[method], descs, objs):
            if desc is OMIT:
                values[param] = default
                continue
            value = self.convert(kind, desc, obj, param)
            if isinstance(value, Fail):
                return value, self.model
            values[param] = value
        return self.body(method, values, after)

    def body(self, method, v, after: ProtocolModel):
        if method == "set_stimulation_intensity":
            x = v["intensity"]
            if not (x >= 0.0 and x <= 1.0):
                return Fail(PanicError, MSG_INTENSITY), self.model
            after.intensity = x
            return ("ok", None), after
        if method == "set_session_duration":
            x = v["duration"]
            if not x <= rh.MAX_SESSION_DURATION:
                return Fail(PanicError, MSG_DURATION_MAX), self.model
            if not x >= 0.01:
                return Fail(PanicError, MSG_DURATION_MIN), self.model
            after.session_duration = x
            return ("ok", None), after
        if method == "enable_channel":
            after.channels[0 if v["channel"] is revevu.Channel.A else 1].enabled = True
            return ("ok", None), after
        if method == "set_amplitude_source":
            channel, slot = COIL_SLOTS[repr(v["coil"]).split(".")[1]]
            after.set_source(channel, slot, v["index"], v["external"])
            return ("ok", None), after
        if method == "set_modulation_source":
            after.set_source(0 if v["channel"] is revevu.Channel.A else 1, 2, v["index"], v["external"])
            return ("ok", None), after
        signal = {
            "add_constant_signal": lambda: rh.constant_signal(v["value"]),
            "add_sine_signal": lambda: rh.sine_signal(v["amplitude"], v["frequency"], v["phase"], v["depth"]),
            "add_ramp_signal": lambda: rh.ramp_signal(v["peak"], v["up_duration"], v["down_duration"]),
            "add_mixed_signal": lambda: rh.mixed_signal(v["a_idx"], v["b_idx"]),
        }[method]()
        return ("ok", after.append(signal)), after

    # -- running a call and comparing ----------------------------------------

    def perform(self, call, outcome, after):
        Counters.calls += 1
        try:
            result = call()
        except (KeyboardInterrupt, SystemExit):
            raise
        except BaseException as error:  # PanicException derives from BaseException
            assert isinstance(outcome, Fail), f"raised {error!r}, expected {outcome!r}"
            self.check_failure(error, outcome)
        else:
            assert not isinstance(outcome, Fail), f"returned {result!r}, expected {outcome!r}"
            assert type(result) is type(outcome[1]) and result == outcome[1], (result, outcome)
        # A failed call leaves the model as it was; the invariant then shows
        # that the protocol's record is unchanged too.
        self.model = after

    @staticmethod
    def check_failure(error, outcome: Fail):
        if outcome.error_type is PanicError:
            assert is_panic(error), repr(error)
            assert error.args == (outcome.message,), error.args
            return
        assert type(error) is outcome.error_type, f"{error!r} is not {outcome.error_type.__name__}"
        if outcome.message is not None:
            assert str(error) == outcome.message, (str(error), outcome.message)
        if outcome.prefix is not None:
            assert str(error).startswith(outcome.prefix), (str(error), outcome.prefix)

    def call_with(self, method, descs, n_positional, objs=None):
        """Calls `method` with the first n_positional values by position, the rest
        by keyword (omitted ones left out), and checks it against the model."""
        objs = objs if objs is not None else [None if d is OMIT else self.make(d) for d in descs]
        params = METHODS[method]
        args, kwargs = [], {}
        for i, ((name, _, _), desc, obj) in enumerate(zip(params, descs, objs)):
            if desc is OMIT:
                n_positional = min(n_positional, i)
                continue
            if i < n_positional:
                args.append(obj)
            else:
                kwargs[name] = obj
        outcome, after = self.expect(method, descs, objs)
        self.perform(lambda: getattr(self.protocol, method)(*args, **kwargs), outcome, after)
        self.check_hooks(params, descs, objs)

    def check_hooks(self, params, descs, objs):
        """Arguments are converted in order, each once, and none after a failure."""
        converting = True
        for (param, kind, _), desc, obj in zip(params, descs, objs):
            if desc is OMIT:
                continue
            if isinstance(obj, Probe):
                expected = 1 if converting and hook_runs(desc, kind) else 0
                assert obj.conversions == expected, (param, desc, obj.conversions, expected)
                if isinstance(obj, Reenters):
                    assert obj.inner_errors == [REENTRY_CALLS[obj.method]] * expected, obj.inner_errors
            if isinstance(self.convert(kind, desc, obj, param), Fail):
                converting = False

    # -- rules -----------------------------------------------------------------

    @initialize(target_env=st.sampled_from([None, b"", b"0", b"false", b"\xff\xfe"]))
    def new_protocol(self, target_env):
        saved = os.environb.get(b"VESK_TARGET_MACHINE")
        try:
            os.environb.pop(b"VESK_TARGET_MACHINE", None)
            if target_env is not None:
                os.environb[b"VESK_TARGET_MACHINE"] = target_env
            self.protocol = revevu.Protocol()
            self.model = ProtocolModel()
        finally:
            os.environb.pop(b"VESK_TARGET_MACHINE", None)
            if saved is not None:
                os.environb[b"VESK_TARGET_MACHINE"] = saved
        Counters.calls += 1

    @rule(x=intensity_args, keyword=st.booleans())
    def set_stimulation_intensity(self, x, keyword):
        self.call_with("set_stimulation_intensity", [x], 0 if keyword else 1)

    @rule(x=duration_args, keyword=st.booleans())
    def set_session_duration(self, x, keyword):
        self.call_with("set_session_duration", [x], 0 if keyword else 1)

    @rule(channel=channel_args, keyword=st.booleans())
    def enable_channel(self, channel, keyword):
        self.call_with("enable_channel", [channel], 0 if keyword else 1)

    @rule(
        which=st.sampled_from(["set_amplitude_source", "set_modulation_source"]),
        coil=coil_args,
        channel=channel_args,
        index=index_args,
        external=st.one_of(st.just(OMIT), bool_args),
        n_positional=st.integers(0, 3),
    )
    def set_source(self, which, coil, channel, index, external, n_positional):
        first = coil if which == "set_amplitude_source" else channel
        self.call_with(which, [first, index, external], n_positional)

    @rule(value=float_args(), keyword=st.booleans())
    def add_constant_signal(self, value, keyword):
        self.call_with("add_constant_signal", [value], 0 if keyword else 1)

    @rule(
        values=st.tuples(float_args(), float_args(), st.just(OMIT) | float_args(), st.just(OMIT) | float_args()),
        n_positional=st.integers(0, 4),
    )
    def add_sine_signal(self, values, n_positional):
        self.call_with("add_sine_signal", list(values), n_positional)

    @rule(values=st.tuples(float_args(), float_args(), float_args()), n_positional=st.integers(0, 3))
    def add_ramp_signal(self, values, n_positional):
        self.call_with("add_ramp_signal", list(values), n_positional)

    @rule(values=st.tuples(index_args, index_args), n_positional=st.integers(0, 2))
    def add_mixed_signal(self, values, n_positional):
        self.call_with("add_mixed_signal", list(values), n_positional)

    @rule(data=st.data(), keyword=st.booleans())
    def add_arbitrary_signal(self, data, keyword):
        samples, outcome_of = self.draw_samples(data)
        after = self.model.copy()
        if isinstance(outcome_of, Fail):
            outcome = outcome_of
            after = self.model
        else:
            outcome = ("ok", after.append(rh.arbitrary_signal(outcome_of)))
        copy_before = samples.copy() if isinstance(samples, np.ndarray) else None
        call = (lambda: self.protocol.add_arbitrary_signal(samples=samples)) if keyword else (
            lambda: self.protocol.add_arbitrary_signal(samples)
        )
        self.perform(call, outcome, after)
        if copy_before is not None:  # the caller's array is only read
            assert samples.tobytes() == copy_before.tobytes()

    def draw_samples(self, data):
        """Draws a samples argument; returns it with the stored values or a Fail."""
        count = self.model.num_samples()
        shape = data.draw(st.sampled_from(["ok", "ok", "ok", "length", "dtype", "dims", "not_array"]))
        if shape == "ok" and count > 2000:
            shape = "length"  # keep the text form small: valid signals only for short sessions
        length = count
        if shape == "length":
            length = data.draw(st.sampled_from([0, 1, count - 1, count + 1] if count <= 20000 else [0, 1, 5]))
        values = data.draw(st.lists(st.floats(0.0, 1.0) | st.sampled_from(EDGE_SAMPLES), min_size=1, max_size=8))
        base = np.resize(np.asarray(values, dtype=np.float64), max(length, 0))
        bad_value = data.draw(st.sampled_from([None, None, -0.5, 2.0, float("nan"), float("inf"), float("-inf"), -5e-324]))
        if bad_value is not None and length:
            base[data.draw(st.integers(0, length - 1))] = bad_value
        if data.draw(st.booleans()) and length:
            base[0] = -0.0
        if shape == "dtype":
            dtype = data.draw(st.sampled_from([np.float32, np.int64, object, np.complex128, ">f8", np.bool_]))
            with warnings.catch_warnings():  # NaN and infinity into integers: whatever comes out
                warnings.simplefilter("ignore")
                arr = base.astype(dtype)
            return arr, Fail(TypeError, f"argument 'samples': {cast_message(arr, 'ndarray')}")
        if shape == "dims":
            arr = data.draw(st.sampled_from(["row", "column", "scalar"]))
            arr = {"row": base.reshape(1, -1), "column": base.reshape(-1, 1), "scalar": np.array(0.5)}[arr]
            return arr, Fail(TypeError, f"argument 'samples': {cast_message(arr, 'ndarray')}")
        if shape == "not_array":
            obj = data.draw(st.sampled_from(["list", "tuple", "none", "float"]))
            obj = {"list": base.tolist(), "tuple": tuple(base.tolist()), "none": None, "float": 0.5}[obj]
            return obj, Fail(TypeError, f"argument 'samples': {cast_message(obj, 'ndarray')}")
        arr = self.lay_out(data, base)
        if len(arr) != count:
            return arr, Fail(PanicError, MSG_LENGTH)
        stored = []
        for x in arr.tolist():
            if not x >= 0.0:
                return arr, Fail(PanicError, MSG_SAMPLE_LOW)
            if not x <= 1.0:
                return arr, Fail(PanicError, MSG_SAMPLE_HIGH)
            stored.append(rh.quantise(x))
        return arr, stored

    @staticmethod
    def lay_out(data, base):
        """The same values in one of the memory layouts an ndarray can have."""
        layout = data.draw(st.sampled_from(["plain", "reversed", "strided", "broadcast", "readonly", "subclass"]))
        if layout == "reversed":
            return np.ascontiguousarray(base[::-1])[::-1]
        if layout == "strided":
            wide = np.empty(2 * len(base))
            wide[::2] = base
            wide[1::2] = 7.0
            return wide[::2]
        if layout == "broadcast" and len(base):
            return np.broadcast_to(base[:1], base.shape)
        if layout == "readonly":
            base.flags.writeable = False
        if layout == "subclass":
            return base.view(SamplesArray)
        return base

    @rule(path=PATHS, keyword=st.booleans())
    def save(self, path, keyword):
        target = self.make_path(path)
        kind = path[0]
        after = self.model.copy()
        outcome: object = ("ok", None)
        if kind == "not_str":
            outcome, after = Fail(TypeError, prefix="argument 'filepath': "), self.model
        elif kind == "surrogate":
            outcome, after = Fail(UnicodeEncodeError), self.model
        elif kind == "bad_ext":
            outcome, after = Fail(PanicError, MSG_EXTENSION), self.model
        else:
            after.add_default_signal_if_empty()
            outcome = {
                "good": ("ok", None),
                "nul": Fail(PanicError, MSG_NUL),
                "missing_dir": Fail(PanicError, os_error_message(2, "NotFound")),
                "is_dir": Fail(PanicError, os_error_message(21, "IsADirectory")),
            }[kind]
        call = (lambda: self.protocol.save(filepath=target)) if keyword else (lambda: self.protocol.save(target))
        self.perform(call, outcome, after)
        if kind == "good":
            self.expected_files.add(path[1])
            with open(target, "rb") as saved:
                assert_same(saved.read(), self.model.file_bytes(), "saved file")

    @rule(which=st.sampled_from(["get_num_samples", "get_sampling_rate"]), extra=st.booleans())
    def query(self, which, extra):
        outcome = ("ok", self.model.num_samples() if which == "get_num_samples" else 5000.0)
        if extra:
            outcome = Fail(TypeError)
        method = getattr(self.protocol, which)
        self.perform((lambda: method(1)) if extra else method, outcome, self.model)

    @rule(
        method=st.sampled_from(sorted(METHODS)),
        mistake=st.sampled_from(["too_many", "unexpected", "duplicate", "missing"]),
        extra=st.integers(1, 2),
    )
    def bad_binding(self, method, mistake, extra):
        params = METHODS[method]
        names = [p[0] for p in params]
        required = [p[0] for p in params if p[2] is None]
        probes = {name: HasFloat(0.5) for name in names}
        args, kwargs = [], {}
        if mistake == "too_many":
            args = [probes[n] for n in names] + [HasFloat(0.5) for _ in range(extra)]
        elif mistake == "unexpected":
            args = [probes[n] for n in required]
            kwargs["bogus"] = HasFloat(0.5)
        elif mistake == "duplicate":
            args = [probes[n] for n in required]
            kwargs[required[0]] = HasFloat(0.5)
        else:
            args = [probes[n] for n in required[: max(0, len(required) - extra)]]
        message = binding_error(method, len(args), list(kwargs))
        outcome = Fail(TypeError, message=message if not message.endswith(": ") else None, prefix=message)
        self.perform(lambda: getattr(self.protocol, method)(*args, **kwargs), outcome, self.model)
        assert all(p.conversions == 0 for p in list(probes.values()) + args + list(kwargs.values()))

    @rule(keyword=st.booleans())
    def construct_with_arguments(self, keyword):
        Counters.calls += 1
        with pytest.raises(TypeError) as caught:
            revevu.Protocol(x=1) if keyword else revevu.Protocol(1)
        expected = (
            "Protocol.__new__() got an unexpected keyword argument 'x'"
            if keyword
            else "Protocol.__new__() takes 0 positional arguments but 1 was given"
        )
        assert str(caught.value) == expected

    # -- after every step ------------------------------------------------------

    @invariant()
    def record_matches_model(self):
        Counters.calls += 1
        assert_same(str(self.protocol), self.model.text(), "text form")
        assert set(os.listdir(self.scratch)) == self.expected_files, "stray files left by save"
        if self.model.signals:  # saving an empty list would add the default signal
            Counters.calls += 1
            path = os.path.join(self.scratch, "check.vesk")
            self.protocol.save(path)
            self.expected_files.add("check.vesk")
            with open(path, "rb") as saved:
                assert_same(saved.read(), self.model.file_bytes(), "saved file")


# ---------------------------------------------------------------------------


def test_model_agrees_with_the_documented_default_file():
    """The model itself, against the 201 bytes of a new protocol saved at once."""
    m = ProtocolModel(on_target=False)
    assert len(m.text().splitlines()) == 104
    m.add_default_signal_if_empty()
    data = m.file_bytes()
    assert len(data) == 201
    assert data[52:60] == bytes.fromhex("EFDA9FEEDA9F3640")
    assert data[150:160] == bytes.fromhex("01" + "00" * 9)
    assert data[160:172] == bytes.fromhex("01" + "00" * 11)
    assert data[184:] == bytes(16) + b"\x01"


def test_random_call_sequences_match_the_model(capfd):
    examples = int(rh.env_number("REVEVU_HYPOTHESIS_EXAMPLES", 40))
    budget = rh.env_number("REVEVU_HYPOTHESIS_SECONDS", 100.0)
    base_seed = int(rh.env_number("REVEVU_HYPOTHESIS_SEED", 20240611))
    batch = 25
    start = time.monotonic()
    Counters.examples = Counters.calls = 0
    batch_number = 0
    # Fixed seeds, in batches, so that a time budget can end the run between batches.
    while Counters.examples < examples and time.monotonic() - start < budget:
        machine = seed(base_seed + batch_number)(type(f"Batch{batch_number}", (ProtocolMachine,), {}))
        run_state_machine_as_test(
            machine,
            settings=settings(
                max_examples=min(batch, examples - Counters.examples),
                stateful_step_count=40,
                deadline=None,
                database=None,
                suppress_health_check=list(HealthCheck),
            ),
        )
        batch_number += 1
        capfd.readouterr()  # the diagnostics of expected panics
    elapsed = time.monotonic() - start
    rh.report_figures("model-based", examples=Counters.examples, calls=Counters.calls, seconds=round(elapsed, 1))
    print(f"model-based: {Counters.examples} examples, {Counters.calls} calls in {elapsed:.1f} s")
    assert Counters.examples > 0

"""Argument matching and conversion, the same for every method: the whole
message of each refusal, and which values each kind of parameter takes."""

import math
import traceback

import pytest

from conftest import U64_MAX, cast_message, signals_of, source_of, unchanged
from revevu import Channel, Coil, Protocol

# ---- Matching ----------------------------------------------------------------------

BINDING_ERRORS = [
    # (method, args, kwargs, message)
    ("set_session_duration", (1.0, 2.0), {},
     "Protocol.set_session_duration() takes 1 positional arguments but 2 were given"),
    ("add_mixed_signal", (1, 2, 3), {},
     "Protocol.add_mixed_signal() takes 2 positional arguments but 3 were given"),
    ("set_amplitude_source", (Coil.A1, 1, True, 4, 5), {},
     "Protocol.set_amplitude_source() takes from 2 to 3 positional arguments but 5 were given"),
    ("add_sine_signal", (1, 2, 3, 4, 5), {},
     "Protocol.add_sine_signal() takes from 2 to 4 positional arguments but 5 were given"),
    # Too many positionals outrank everything else.
    ("save", ("a.vesk", "b.vesk"), {"bogus": 1},
     "Protocol.save() takes 1 positional arguments but 2 were given"),
    ("set_session_duration", (), {"durration": 1.0},
     "Protocol.set_session_duration() got an unexpected keyword argument 'durration'"),
    ("add_ramp_signal", (), {"peak": 1.0, "x": 1, "y": 2},
     "Protocol.add_ramp_signal() got an unexpected keyword argument 'x'"),
    # An unknown keyword outranks a parameter given twice, whatever the order.
    ("set_session_duration", (1.0,), {"duration": 2.0, "extra": 3},
     "Protocol.set_session_duration() got an unexpected keyword argument 'extra'"),
    ("set_session_duration", (1.0,), {"duration": 2.0},
     "Protocol.set_session_duration() got multiple values for argument 'duration'"),
    ("set_modulation_source", (Channel.A, 1), {"index": 2, "channel": Channel.B},
     "Protocol.set_modulation_source() got multiple values for argument 'index'"),
    ("set_amplitude_source", (Coil.A1,), {},
     "Protocol.set_amplitude_source() missing 1 required positional argument: 'index'"),
    ("set_modulation_source", (Channel.A,), {"external": True},
     "Protocol.set_modulation_source() missing 1 required positional argument: 'index'"),
    ("set_amplitude_source", (), {},
     "Protocol.set_amplitude_source() missing 2 required positional arguments: 'coil' and 'index'"),
    ("set_amplitude_source", (), {"external": True},
     "Protocol.set_amplitude_source() missing 2 required positional arguments: 'coil' and 'index'"),
    ("add_ramp_signal", (), {"up_duration": 1.0},
     "Protocol.add_ramp_signal() missing 2 required positional arguments: "
     "'peak' and 'down_duration'"),
    ("add_ramp_signal", (), {},
     "Protocol.add_ramp_signal() missing 3 required positional arguments: "
     "'peak', 'up_duration', and 'down_duration'"),
    ("add_sine_signal", (), {"phase": 1.0, "depth": 1.0},
     "Protocol.add_sine_signal() missing 2 required positional arguments: "
     "'amplitude' and 'frequency'"),
    ("save", (), {}, "Protocol.save() missing 1 required positional argument: 'filepath'"),
    ("add_arbitrary_signal", (), {},
     "Protocol.add_arbitrary_signal() missing 1 required positional argument: 'samples'"),
]


@pytest.mark.parametrize("method, args, kwargs, message", BINDING_ERRORS)
def test_binding_errors(protocol, method, args, kwargs, message):
    before = str(protocol)
    with pytest.raises(TypeError) as caught:
        getattr(protocol, method)(*args, **kwargs)
    assert type(caught.value) is TypeError
    assert str(caught.value) == message
    assert str(protocol) == before


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1,), {}, "Protocol.__new__() takes 0 positional arguments but 1 was given"),
        ((1, 2), {}, "Protocol.__new__() takes 0 positional arguments but 2 were given"),
        ((), {"settings": None}, "Protocol.__new__() got an unexpected keyword argument 'settings'"),
    ],
)
def test_construction_takes_no_arguments(args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        Protocol(*args, **kwargs)
    assert str(caught.value) == message


@pytest.mark.parametrize("method", ["get_num_samples", "get_sampling_rate"])
def test_argumentless_methods_refuse_arguments(protocol, method):
    with pytest.raises(TypeError):
        getattr(protocol, method)(1)
    with pytest.raises(TypeError):
        getattr(protocol, method)(x=1)


def test_keywords_match_by_name_not_only_by_identity(protocol):
    # A keyword string built at run time is not the interned one.
    name = "".join(["dur", "ation"])
    protocol.set_session_duration(**{name: 2.0})
    assert protocol.get_num_samples() == 10000


def test_every_parameter_by_keyword(protocol):
    assert protocol.add_sine_signal(depth=0.5, phase=0.25, frequency=10.0, amplitude=2.0) == 0
    assert signals_of(protocol) == [
        ("Sine", {"amplitude": 2.0, "frequency": 10.0, "phase": 0.25, "depth": 0.5})
    ]
    protocol.set_modulation_source(external=True, index=2, channel=Channel.B)
    assert source_of(protocol, "b", "modulation_source") == (0, 2, True)


def test_receiver_must_be_a_protocol():
    with pytest.raises(TypeError):
        Protocol.set_session_duration(Coil.A1, 1.0)
    with pytest.raises(TypeError):
        Protocol.get_sampling_rate(None)


# ---- Float parameters ------------------------------------------------------------------


class WithFloat:
    def __float__(self):
        return 0.25


class WithIndex:
    def __index__(self):
        return 1


class FloatSubclass(float):
    pass


@pytest.mark.parametrize(
    "value, stored",
    [
        (0.5, 0.5),
        (FloatSubclass(0.75), 0.75),
        (1, 1.0),
        (True, 1.0),
        (WithFloat(), 0.25),
        (WithIndex(), 1.0),
        (-0.0, -0.0),
        (2**53 + 1, 9007199254740992.0),
    ],
)
def test_float_parameter_accepts(protocol, value, stored):
    protocol.add_constant_signal(value)
    (kind, params), = signals_of(protocol)
    assert kind == "Constant"
    assert params["value"] == stored
    assert math.copysign(1.0, params["value"]) == math.copysign(1.0, stored)


@pytest.mark.parametrize(
    "value, message",
    [
        (None, "argument 'value': must be real number, not NoneType"),
        ("1.0", "argument 'value': must be real number, not str"),
        (1j, "argument 'value': must be real number, not complex"),
        ([1.0], "argument 'value': must be real number, not list"),
    ],
)
def test_float_parameter_refuses(protocol, value, message):
    with pytest.raises(TypeError) as caught:
        protocol.add_constant_signal(value)
    assert type(caught.value) is TypeError
    assert str(caught.value) == message
    assert signals_of(protocol) == []


def test_float_overflow_passes_unchanged(protocol):
    with pytest.raises(OverflowError) as caught:
        protocol.set_session_duration(10**400)
    assert "argument" not in str(caught.value)


class Raising:
    def __init__(self, error):
        self.error = error

    def __float__(self):
        raise self.error

    def __index__(self):
        raise self.error


class TypeErrorSubclass(TypeError):
    pass


@pytest.mark.parametrize("method, args", [
    ("add_constant_signal", ()),
    ("add_mixed_signal", (0,)),
])
def test_own_errors_of_a_conversion(protocol, method, args):
    # An exact TypeError is reworded to name the argument ...
    with pytest.raises(TypeError) as caught:
        getattr(protocol, method)(*args, Raising(TypeError("no number here")))
    name = "value" if method == "add_constant_signal" else "b_idx"
    assert str(caught.value) == f"argument '{name}': no number here"
    # ... any other error, a TypeError subclass included, passes as the same object.
    for error in (ValueError("bad"), TypeErrorSubclass("sub"), KeyboardInterrupt()):
        with pytest.raises(BaseException) as caught:
            getattr(protocol, method)(*args, Raising(error))
        assert caught.value is error
    assert signals_of(protocol) == []


# ---- Unsigned integer parameters ----------------------------------------------------


@pytest.mark.parametrize(
    "value, stored", [(0, 0), (1, 1), (True, 1), (U64_MAX, U64_MAX), (2**63, 2**63), (WithIndex(), 1)]
)
def test_index_parameter_accepts(protocol, value, stored):
    protocol.add_mixed_signal(value, 0)
    protocol.set_amplitude_source(Coil.A2, value)
    assert signals_of(protocol) == [("MixedSignal", {"a_idx": stored, "b_idx": 0})]
    assert source_of(protocol, "a", "amplitude2_source") == (stored, 0, False)


@pytest.mark.parametrize("value", [-1, 2**64, -(2**64), 10**30])
def test_index_parameter_out_of_range_is_overflow_error(protocol, value):
    with pytest.raises(OverflowError) as caught:
        protocol.add_mixed_signal(value, 0)
    assert "a_idx" not in str(caught.value)
    with unchanged(protocol):
        with pytest.raises(OverflowError):
            protocol.set_modulation_source(Channel.A, value)


@pytest.mark.parametrize(
    "value, message",
    [
        (1.0, "argument 'index': 'float' object cannot be interpreted as an integer"),
        (1.5, "argument 'index': 'float' object cannot be interpreted as an integer"),
        ("3", "argument 'index': 'str' object cannot be interpreted as an integer"),
        (None, "argument 'index': 'NoneType' object cannot be interpreted as an integer"),
        (Coil.A1, "argument 'index': 'Coil' object cannot be interpreted as an integer"),
    ],
)
def test_index_parameter_refuses_non_integers(protocol, value, message):
    with unchanged(protocol):
        with pytest.raises(TypeError) as caught:
            protocol.set_amplitude_source(Coil.A1, value)
    assert type(caught.value) is TypeError
    assert str(caught.value) == message


def test_numpy_integers_are_indexes(protocol, np):
    protocol.add_mixed_signal(np.uint64(U64_MAX), np.int8(3))
    assert signals_of(protocol) == [("MixedSignal", {"a_idx": U64_MAX, "b_idx": 3})]
    with pytest.raises(TypeError):
        protocol.add_mixed_signal(np.float64(1.0), 0)


# ---- Bool parameters ------------------------------------------------------------------------


@pytest.mark.parametrize("value, stored", [(True, (0, 4, True)), (False, (4, 0, False))])
def test_bool_parameter_accepts_true_and_false(protocol, value, stored):
    protocol.set_amplitude_source(Coil.B1, 4, value)
    assert source_of(protocol, "b", "amplitude1_source") == stored


def test_bool_parameter_accepts_numpy_bools(protocol, np):
    protocol.set_amplitude_source(Coil.B1, 4, np.True_)
    assert source_of(protocol, "b", "amplitude1_source") == (0, 4, True)
    protocol.set_amplitude_source(Coil.B1, 5, external=np.bool_(False))
    assert source_of(protocol, "b", "amplitude1_source") == (5, 0, False)


class Truthy:
    def __bool__(self):
        return True


class ModuleNotText:
    """A type whose __module__ is no str cannot be NumPy's bool."""


ModuleNotText.__module__ = 42


class _ModuleRaises(type):
    @property
    def __module__(cls):
        raise RuntimeError("no module")


class ModuleRaises(metaclass=_ModuleRaises):
    pass


@pytest.mark.parametrize("value", [0, 1, None, "yes", 1.0, Truthy(), Channel.A, ModuleNotText(), ModuleRaises()])
def test_bool_parameter_refuses_everything_else(protocol, value):
    with unchanged(protocol):
        with pytest.raises(TypeError) as caught:
            protocol.set_modulation_source(Channel.A, 1, value)
    assert str(caught.value) == cast_message("external", value, "bool")


def test_bool_parameter_refuses_numpy_integers(protocol, np):
    with pytest.raises(TypeError) as caught:
        protocol.set_modulation_source(Channel.A, 1, np.int64(1))
    assert str(caught.value) == "argument 'external': 'int64' object cannot be cast as 'bool'"


def test_omitted_external_is_false(protocol):
    protocol.set_modulation_source(Channel.B, 7, True)
    protocol.set_modulation_source(Channel.B, 3)
    assert source_of(protocol, "b", "modulation_source") == (3, 0, False)


# ---- Enumeration parameters --------------------------------------------------------------


@pytest.mark.parametrize(
    "method, args, message",
    [
        ("set_amplitude_source", (0, 1), "argument 'coil': 'int' object cannot be cast as 'Coil'"),
        ("set_amplitude_source", (Channel.A, 1),
         "argument 'coil': 'Channel' object cannot be cast as 'Coil'"),
        ("enable_channel", (Coil.B1,), "argument 'channel': 'Coil' object cannot be cast as 'Channel'"),
        ("enable_channel", (None,), "argument 'channel': 'NoneType' object cannot be cast as 'Channel'"),
        ("set_modulation_source", ("A", 1),
         "argument 'channel': 'str' object cannot be cast as 'Channel'"),
    ],
)
def test_enumeration_parameters_take_only_their_members(protocol, method, args, message):
    with unchanged(protocol):
        with pytest.raises(TypeError) as caught:
            getattr(protocol, method)(*args)
    assert str(caught.value) == message


def test_parameters_are_converted_in_order(protocol):
    # The first bad argument decides; later ones are not even looked at.
    with pytest.raises(TypeError, match="^argument 'coil'"):
        protocol.set_amplitude_source(None, Raising(AssertionError("converted")))
    with pytest.raises(OverflowError):
        protocol.set_amplitude_source(Coil.A1, -1, Raising(AssertionError("converted")))


@pytest.mark.parametrize("method, args", [
    ("add_constant_signal", ()),
    ("add_mixed_signal", (0,)),
])
def test_an_error_passed_on_keeps_its_traceback(protocol, method, args):
    # A TypeError subclass leaves as it came, with the frames it was raised through.
    error = TypeErrorSubclass("sub")
    with pytest.raises(TypeErrorSubclass) as caught:
        getattr(protocol, method)(*args, Raising(error))
    assert caught.value is error
    frames = [frame.name for frame in traceback.extract_tb(error.__traceback__)]
    assert frames[-1] in ("__float__", "__index__")

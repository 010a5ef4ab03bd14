"""The module object: its attributes, once-only initialisation, its one
interpreter, and the shape of its three classes."""

import ctypes
import importlib
import inspect
import re
import shutil
import subprocess
import sys
import sysconfig
import weakref

import pytest

import revevu
from conftest import PanicException, run_python
from revevu import Channel, Coil, Protocol

CLASSES = [Protocol, Channel, Coil]


def test_all_lists_the_three_classes_in_registration_order():
    assert revevu.__all__ == ["Protocol", "Channel", "Coil"]
    assert revevu.__doc__ == ""


def test_star_import_binds_exactly_the_three_classes():
    namespace = {}
    exec("from revevu import *", namespace)
    del namespace["__builtins__"]
    assert namespace == {"Protocol": Protocol, "Channel": Channel, "Coil": Coil}


def test_module_exports_nothing_else():
    public = {name for name in dir(revevu) if not name.startswith("_")}
    assert public == {"Protocol", "Channel", "Coil"}
    assert not any("Panic" in name for name in dir(revevu))


def test_initialisation_entry_returns_the_same_module_each_time():
    entry = ctypes.PyDLL(revevu.__file__).PyInit_revevu
    entry.restype = ctypes.py_object
    again = entry()
    assert again is revevu
    assert again.Protocol is Protocol and again.Coil is Coil


def test_reimport_after_removal_from_sys_modules_gives_the_same_objects():
    result = run_python(
        """
        import importlib, sys
        import revevu
        first = revevu.Coil.A1
        del sys.modules["revevu"]
        again = importlib.import_module("revevu")
        print(again is revevu, again.Coil.A1 is first, again.__all__)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "True True ['Protocol', 'Channel', 'Coil']"


# Run inside the second interpreter: reports what importing revevu did there.
_SECOND_INTERPRETER_CODE = """
import sys
sys.path[:0] = {path!r}
try:
    import revevu
except ImportError as error:
    result = "ImportError: " + str(error)
else:
    result = "imported"
with open({out!r}, "w") as f:
    f.write(result)
"""


def _subinterpreter_script(mode: str, main_first: bool = True) -> str:
    # Imports revevu in the main interpreter (unless main_first is false), then
    # in a second one, and prints what the second one saw, then what importing
    # it in the main interpreter gives.
    return f"""
        import os, sys, tempfile
        {"import revevu" if main_first else ""}
        out = tempfile.mktemp()
        code = {_SECOND_INTERPRETER_CODE!r}.format(path=sys.path, out=out)
        try:
            import _interpreters
        except ImportError:
            import _xxsubinterpreters as legacy
            interpreter = legacy.create(isolated={mode == "isolated"})
            legacy.run_string(interpreter, code)
        else:
            interpreter = _interpreters.create({mode!r})
            _interpreters.exec(interpreter, code)
        print(open(out).read())
        os.unlink(out)
        try:
            import revevu
        except ImportError as error:
            print("ImportError: " + str(error))
        else:
            print(revevu.Protocol().get_sampling_rate())
        """


REFUSAL = (
    "ImportError: revevu does not support subinterpreters: it is already loaded "
    "in another interpreter of this process"
)
if sysconfig.get_config_var("Py_GIL_DISABLED"):
    # A free-threaded interpreter refuses a single-phase module in a
    # subinterpreter itself, before the module's initialisation runs.
    REFUSAL = "ImportError: module revevu does not support loading in subinterpreters"


def _has_subinterpreters() -> bool:
    for name in ("_interpreters", "_xxsubinterpreters"):
        try:
            __import__(name)
            return True
        except ImportError:
            pass
    return False


@pytest.mark.skipif(not _has_subinterpreters(), reason="this CPython has no subinterpreter module")
@pytest.mark.parametrize("mode", ["legacy", "isolated"])
def test_second_interpreter_gets_import_error(mode):
    result = run_python(_subinterpreter_script(mode))
    assert result.returncode == 0, result.stderr
    seen, rate = result.stdout.strip().split("\n")
    assert seen.startswith("ImportError: ")
    assert "subinterpreters" in seen
    if mode == "legacy" or sys.version_info < (3, 12):
        # The interpreter itself lets the module decide (but a free-threaded one).
        assert seen == REFUSAL
    assert rate == "5000.0"


@pytest.mark.skipif(not _has_subinterpreters(), reason="this CPython has no subinterpreter module")
def test_subinterpreter_that_imports_first():
    result = run_python(_subinterpreter_script("legacy", main_first=False))
    assert result.returncode == 0, result.stderr
    seen, in_main = result.stdout.strip().split("\n")
    if sys.version_info >= (3, 13):
        # The initialisation runs in the main interpreter first, which owns it.
        assert (seen, in_main) == (REFUSAL, "5000.0")
    else:
        assert (seen, in_main) == ("imported", REFUSAL)


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_class_names_are_bare(cls):
    assert cls.__name__ == cls.__qualname__
    assert cls.__name__ in ("Protocol", "Channel", "Coil")
    assert cls.__module__ == "revevu"
    assert cls.__bases__ == (object,)


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_classes_cannot_be_subclassed(cls):
    with pytest.raises(TypeError, match=f"type '{cls.__name__}' is not an acceptable base type"):
        type("Sub", (cls,), {})


@pytest.mark.parametrize(
    "instance", [Protocol(), Channel.A, Coil.B2], ids=["Protocol", "Channel", "Coil"]
)
def test_instances_have_no_dict_and_no_weak_references(instance):
    with pytest.raises(AttributeError):
        instance.anything = 1
    with pytest.raises(AttributeError):
        instance.__dict__
    with pytest.raises(TypeError):
        weakref.ref(instance)


METHODS = {
    "set_stimulation_intensity": "($self, intensity)",
    "set_session_duration": "($self, duration)",
    "enable_channel": "($self, channel)",
    "set_amplitude_source": "($self, coil, index, external=False)",
    "set_modulation_source": "($self, channel, index, external=False)",
    "add_constant_signal": "($self, value)",
    "add_sine_signal": "($self, amplitude, frequency, phase=0.0, depth=1.0)",
    "add_ramp_signal": "($self, peak, up_duration, down_duration)",
    "add_mixed_signal": "($self, a_idx, b_idx)",
    "add_arbitrary_signal": "($self, samples)",
    "get_num_samples": "($self)",
    "get_sampling_rate": "($self)",
    "save": "($self, filepath)",
}


def test_protocol_methods_in_table_order():
    defined = [name for name in vars(Protocol) if not name.startswith("_")]
    assert defined == list(METHODS)


@pytest.mark.parametrize("name", METHODS)
def test_method_signatures_and_empty_docs(name):
    method = getattr(Protocol, name)
    assert method.__text_signature__ == METHODS[name]
    assert method.__doc__ is None
    parameters = list(inspect.signature(method).parameters.values())
    assert parameters[0].kind is inspect.Parameter.POSITIONAL_ONLY  # self
    assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in parameters[1:])


def test_protocol_class_signature_and_doc():
    assert Protocol.__text_signature__ == "()"
    assert Protocol.__doc__ == ""
    assert str(inspect.signature(Protocol)) == "()"
    assert Channel.__doc__ is None and Coil.__doc__ is None


def test_protocol_has_no_repr_of_its_own():
    p = Protocol()
    assert repr(p).startswith("<revevu.Protocol object at 0x")
    assert repr(p) != str(p)


class TestPanicException:
    def test_derives_directly_from_base_exception(self):
        assert PanicException.__bases__ == (BaseException,)
        assert not issubclass(PanicException, Exception)
        assert PanicException.__name__ == "PanicException"

    def test_passes_except_exception_and_is_caught_as_base_exception(self):
        p = Protocol()
        caught = None
        try:
            try:
                p.set_session_duration(0.0)
            except Exception:  # must not catch it
                pytest.fail("except Exception caught a PanicException")
        except BaseException as error:
            caught = error
        assert type(caught) is PanicException
        p.set_session_duration(2.0)  # still usable
        assert p.get_num_samples() == 10000

    def test_one_class_for_every_panic(self):
        with pytest.raises(PanicException):
            Protocol().set_stimulation_intensity(2.0)
        with pytest.raises(PanicException):
            Protocol().save("no-extension")

    def test_diagnostic_on_standard_error(self, capfd):
        with pytest.raises(PanicException):
            Protocol().set_stimulation_intensity(-1.0)
        err = capfd.readouterr().err
        assert re.fullmatch(
            r"revevu panicked at revevu/src/\w+\.cpp:[1-9][0-9]*:\n"
            r"assertion failed: intensity >= 0\.0 && intensity <= 1\.0\n",
            err,
        )


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm is not installed")
@pytest.mark.parametrize("module", ["revevu", "vesk"])
def test_only_the_initialisation_entry_is_exported(module):
    # A C++ runtime linked statically would export its operators new and delete.
    path = importlib.import_module(module).__file__
    symbols = subprocess.run(
        ["nm", "-D", "--defined-only", path], capture_output=True, text=True, check=True
    ).stdout.split()
    # Each line is "<address> <kind> <name>"; keep the names of text/data symbols.
    names = [symbols[i + 2] for i in range(0, len(symbols), 3)]
    assert names == [f"PyInit_{module}"]

"""revevu.pyi against the module it describes."""

import ast
import inspect
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest
import revevu
from conftest import require_mypy

STUB = Path(revevu.__file__).with_name("revevu.pyi")
# mypy only takes stubs for a single-file module from a stub-only package.
STUB_PACKAGE = Path(revevu.__file__).with_name("revevu-stubs") / "__init__.pyi"
SOURCE_STUB = Path(__file__).resolve().parents[2] / "revevu" / "revevu.pyi"


@pytest.fixture(scope="module")
def stub():
    assert STUB.is_file(), f"no type stubs installed beside {revevu.__file__}"
    return ast.parse(STUB.read_text(), filename=str(STUB))


def stub_classes(stub):
    return {node.name: node for node in stub.body if isinstance(node, ast.ClassDef)}


def stub_methods(cls):
    return {node.name: node for node in cls.body if isinstance(node, ast.FunctionDef)}


def signature_of(function: ast.FunctionDef) -> inspect.Signature:
    """The stub's signature without annotations, as inspect would show it."""
    args = function.args
    assert not (args.vararg or args.kwarg or args.kwonlyargs or args.posonlyargs)
    defaults = [inspect.Parameter.empty] * (len(args.args) - len(args.defaults))
    defaults += [ast.literal_eval(d) for d in args.defaults]
    return inspect.Signature(
        [
            inspect.Parameter(a.arg, inspect.Parameter.POSITIONAL_OR_KEYWORD, default=d)
            for a, d in zip(args.args, defaults)
        ]
    )


def test_installed_stubs_are_the_one_in_the_source_tree():
    assert STUB_PACKAGE.read_text() == STUB.read_text()
    # Marked typed; "partial" would send mypy to the module for what is missing.
    assert STUB_PACKAGE.with_name("py.typed").read_text().strip() == ""
    if SOURCE_STUB.is_file():  # absent when the tests run from an unpacked copy
        assert STUB.read_text() == SOURCE_STUB.read_text()


def test_all_and_classes_match(stub):
    assigned = next(
        n for n in stub.body if isinstance(n, ast.Assign) and n.targets[0].id == "__all__"
    )
    assert ast.literal_eval(assigned.value) == revevu.__all__
    public = {name for name in stub_classes(stub) if not name.startswith("_")}
    assert public == set(revevu.__all__)
    # PanicException is not a module attribute, so the stub must not declare it.
    declared = {node.name for node in stub.body if isinstance(node, ast.ClassDef)}
    declared |= {t.id for n in stub.body if isinstance(n, ast.Assign) for t in n.targets}
    declared |= {n.target.id for n in stub.body if isinstance(n, ast.AnnAssign)}
    assert "PanicException" not in declared
    assert not hasattr(revevu, "PanicException")


PROTOCOL_METHODS = sorted(
    name for name in dir(revevu.Protocol) if not name.startswith("_")
)


def test_stub_lists_exactly_the_runtime_methods(stub):
    stubbed = {n for n in stub_methods(stub_classes(stub)["Protocol"]) if not n.startswith("_")}
    assert stubbed == set(PROTOCOL_METHODS)


def without_self(signature):
    first, *rest = signature.parameters.values()
    assert first.name == "self"
    return signature.replace(parameters=rest)


@pytest.mark.parametrize("name", PROTOCOL_METHODS)
def test_method_signature_matches_runtime(stub, name):
    function = stub_methods(stub_classes(stub)["Protocol"])[name]
    # The runtime's `self` is positional-only ("$self"); a stub leaves it implicit.
    runtime = inspect.signature(getattr(revevu.Protocol, name))
    assert without_self(signature_of(function)) == without_self(runtime)
    assert ast.get_docstring(function), f"{name} has no docstring in the stub"
    assert function.returns is not None, f"{name} has no return type in the stub"


def test_constructor_signature_matches_runtime(stub):
    init = stub_methods(stub_classes(stub)["Protocol"])["__init__"]
    assert without_self(signature_of(init)) == inspect.signature(revevu.Protocol)


@pytest.mark.parametrize("cls", [revevu.Channel, revevu.Coil], ids=lambda c: c.__name__)
def test_enumeration_members_match_runtime(stub, cls):
    node = stub_classes(stub)[cls.__name__]
    stubbed = [n.target.id for n in node.body if isinstance(n, ast.AnnAssign)]
    runtime = [n for n in dir(cls) if isinstance(getattr(cls, n), cls)]
    assert sorted(stubbed) == sorted(runtime)
    assert stubbed == sorted(stubbed, key=lambda n: int(getattr(cls, n)))  # in value order
    for n in node.body:
        if isinstance(n, ast.AnnAssign):
            assert ast.unparse(n.annotation) == f"ClassVar[{cls.__name__}]"


def call_each_method(directory):
    """One successful call of every public method, with the value it returned."""
    p = revevu.Protocol()
    p.set_session_duration(0.01)
    return {
        "set_stimulation_intensity": p.set_stimulation_intensity(0.5),
        "set_session_duration": p.set_session_duration(0.01),
        "enable_channel": p.enable_channel(revevu.Channel.B),
        "set_amplitude_source": p.set_amplitude_source(revevu.Coil.A1, 0),
        "set_modulation_source": p.set_modulation_source(revevu.Channel.A, 0),
        "add_constant_signal": p.add_constant_signal(0.5),
        "add_sine_signal": p.add_sine_signal(1.0, 10.0),
        "add_ramp_signal": p.add_ramp_signal(1.0, 2.0, 3.0),
        "add_mixed_signal": p.add_mixed_signal(0, 1),
        "add_arbitrary_signal": p.add_arbitrary_signal(np.zeros(50)),
        "get_num_samples": p.get_num_samples(),
        "get_sampling_rate": p.get_sampling_rate(),
        "save": p.save(str(directory / "p.vesk")),
        "__str__": str(p),
    }


def test_return_types_match_what_the_methods_return(stub, tmp_path):
    methods = stub_methods(stub_classes(stub)["Protocol"])
    results = call_each_method(tmp_path)
    assert set(results) == set(PROTOCOL_METHODS) | {"__str__"}
    types = {"None": type(None), "int": int, "float": float, "str": str}
    for name, value in results.items():
        assert type(value) is types[ast.unparse(methods[name].returns)], name


def run_mypy(*args, cwd):
    """mypy in `cwd`, where it keeps its cache."""
    require_mypy()
    return subprocess.run(
        [sys.executable, "-m", *args], capture_output=True, text=True, timeout=300, check=False, cwd=cwd
    )


def test_stubtest_finds_no_difference_from_the_runtime(tmp_path):
    result = run_mypy("mypy.stubtest", "revevu", cwd=tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


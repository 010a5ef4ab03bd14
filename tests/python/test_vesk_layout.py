"""vesk/'s folders as layers: which folder's headers each folder includes
forms no circle and leaves cli/ on top, and the Python module's binary holds
nothing of the command's front end."""

import re
from pathlib import Path

import pytest

VESK = Path(__file__).resolve().parents[2] / "vesk"
INCLUDE = re.compile(r'^#include "([^"/]+)"', re.M)


def include_graph():
    """{folder: {folders whose headers it includes}}, for vesk/'s folders."""
    home = {}
    for header in VESK.glob("*/*.hpp"):
        assert header.name not in home, f"{header.name} in two folders"
        home[header.name] = header.parent.name
    graph = {}
    for source in [*VESK.glob("*/*.cpp"), *VESK.glob("*/*.hpp")]:
        folder = source.parent.name
        used = {home[name] for name in INCLUDE.findall(source.read_text()) if name in home}
        graph.setdefault(folder, set()).update(used - {folder})
    return graph


def layers(graph):
    """The folders from the bottom up; raises on a circle."""
    order, done = [], set()
    while len(done) < len(graph):
        ready = sorted(f for f in graph if f not in done and graph[f] <= done)
        if not ready:
            raise AssertionError(f"a circle among {sorted(set(graph) - done)}")
        order += ready
        done.update(ready)
    return order


def test_the_folders_include_only_folders_below_them_and_cli_is_on_top():
    graph = include_graph()
    assert {"cli", "python", "read", "report", "rebuild", "words", "formats"} <= set(graph)
    order = layers(graph)
    assert not any("cli" in used for used in graph.values())
    assert order.index("cli") > max(order.index(f) for f in graph["cli"])


def test_layers_find_a_circle():
    with pytest.raises(AssertionError, match="circle"):
        layers({"a": {"b"}, "b": {"a"}})


def test_the_python_module_holds_none_of_the_command_front_end():
    vesk = pytest.importorskip("vesk")
    binary = Path(vesk.__file__).read_bytes()
    for text in (b"usage: vesk", b"Try 'vesk", b"needs a file name", b"exit status:"):
        assert text not in binary
    assert b"not a valid protocol file" in binary  # the search itself finds what is there

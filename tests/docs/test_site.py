"""The built site (scripts/build-docs.sh builds it first): every public name
of both modules has its entry in the API reference."""

import inspect
from pathlib import Path

import pytest
import revevu
import vesk
from sphinx.util.inventory import InventoryFile

SITE = Path(__file__).resolve().parents[2] / "build" / "docs" / "html"


def public_names(module):
    """The module's names and each public class's own public members, dotted."""
    names = getattr(module, "__all__", None) or [n for n in dir(module) if not n.startswith("_")]
    for name in names:
        value = getattr(module, name)
        yield f"{module.__name__}.{name}"
        if inspect.isclass(value) and not issubclass(value, BaseException):
            for member in vars(value):
                if not member.startswith("_"):
                    yield f"{module.__name__}.{name}.{member}"


@pytest.fixture(scope="module")
def documented():
    with open(SITE / "objects.inv", "rb") as inventory:
        loaded = InventoryFile.load(inventory, "", lambda base, path: path)
    return {name for entries in loaded.values() for name in entries}


@pytest.mark.parametrize("module", [revevu, vesk], ids=lambda m: m.__name__)
def test_every_public_name_is_in_the_api_reference(module, documented):
    missing = sorted(set(public_names(module)) - documented)
    assert not missing, f"not in the API reference: {missing}"

"""The installed distribution beside the module: the vesk command carries the
version stated once for the whole distribution."""

import importlib
import importlib.machinery
import importlib.metadata

import pytest

from vesk_tool import run_vesk


def test_vesk_version_is_the_distribution_version():
    result = run_vesk("--version")
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout == f"vesk {importlib.metadata.version('revevu')}\n"


@pytest.mark.parametrize("name", ["revevu", "vesk"])
def test_extension_carries_this_interpreters_abi_suffix(name):
    # A bare ".so" also imports, but it names no interpreter or machine: a
    # cross-built module that lost its suffix would clash with any other build.
    module = importlib.import_module(name)
    assert module.__file__.endswith(importlib.machinery.EXTENSION_SUFFIXES[0])

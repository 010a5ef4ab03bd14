"""The installed distribution beside the module: the vesk command carries the
version stated once for the whole distribution."""

import importlib.metadata

from vesk_tool import run_vesk


def test_vesk_version_is_the_distribution_version():
    result = run_vesk("--version")
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout == f"vesk {importlib.metadata.version('revevu')}\n"

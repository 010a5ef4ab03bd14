"""Loaded files and their records as Python values: == and hash by the bits
the file holds, pickle and copy, repr, _asdict, and an arbitrary signal's
samples in physical units."""

import copy
import pickle
from concurrent.futures import ProcessPoolExecutor

import numpy as np
import pytest
import vesk
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from revevu import Protocol
from test_vesk_json import encode, every_variant
from test_vesk_module import document_template, like  # noqa: F401 (a fixture)
from vesk_tool import saved


def records(value):
    """Every record in a loaded file's tree, the Settings first."""
    yield value
    for name in value._fields:
        field = getattr(value, name)
        for item in field if isinstance(field, tuple) else (field,):
            if hasattr(item, "_fields"):
                yield from records(item)


@settings(max_examples=40, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(data=st.data())
def test_files_are_equal_exactly_when_their_bytes_are_and_survive_pickle(data, document_template):
    """The decoder is strict and exact, so two files hold the same record
    exactly when their bytes are the same: == and hash must say just that,
    for any field (NaN payloads, -0.0, any text), and pickle must keep it."""
    first, second = (encode(data.draw(like(document_template))) for _ in range(2))
    a, b = vesk.loads(first), vesk.loads(second)
    assert (a == b) == (first == second)
    again = vesk.loads(bytes(first), name="other name")
    assert again == a and hash(again) == hash(a)
    for record, twin in zip(records(a.settings), records(again.settings), strict=True):
        assert record == twin and hash(record) == hash(twin) and repr(record) == repr(twin)
        restored = pickle.loads(pickle.dumps(record))
        assert type(restored) is type(record) and restored == record
        assert hash(restored) == hash(record)
    restored = pickle.loads(pickle.dumps(a))
    assert restored == a and restored.name == a.name
    assert copy.copy(a) is a and copy.deepcopy(a.settings) is a.settings


def test_one_changed_bit_makes_a_record_unequal(tmp_path):
    p = every_variant()
    path = saved(p, tmp_path)
    loaded = vesk.load(path)
    signals = loaded.settings.signals
    assert signals[2].peak == 0.0 and signals[2] != vesk.load(path).settings.signals[0]
    nan = signals[6]  # a NaN equals itself, read twice; -0.0 is not 0.0
    assert nan == vesk.load(path).settings.signals[6]
    flipped = vesk.loads(path.read_bytes().replace(b"\x00" * 7 + b"\x80", b"\x00" * 8, 1))
    assert flipped != loaded
    assert loaded != "a protocol" and (loaded == "a protocol") is False


def test_repr_and_asdict_show_the_fields(tmp_path):
    p = Protocol()
    p.set_session_duration(0.05)
    p.add_sine_signal(1.0, 10.0)
    p.add_arbitrary_signal(np.linspace(0.0, 1.0, p.get_num_samples()))
    signals = vesk.load(saved(p, tmp_path)).settings.signals
    assert repr(signals[0]) == "SineSignalParams(amplitude=1.0, frequency=10.0, phase=0.0, depth=1.0)"
    assert repr(signals[1]) == "ArbitrarySignalParams(samples=<250 samples: 0, 132, 263, 395, 526, ...>)"
    assert signals[0]._asdict() == {"amplitude": 1.0, "frequency": 10.0, "phase": 0.0, "depth": 1.0}
    assert list(signals[1]._asdict()) == ["samples"]


def _signal_count(loaded):
    return len(loaded.settings.signals)


def test_a_loaded_file_goes_to_another_process(tmp_path):
    loaded = vesk.load(saved(every_variant(), tmp_path))
    with ProcessPoolExecutor(max_workers=1) as pool:
        assert pool.submit(_signal_count, loaded).result(timeout=120) == 10
        assert pool.submit(copy.copy, loaded.settings).result(timeout=120) == loaded.settings


@pytest.mark.parametrize("broken", [b"", b"not a protocol file"])
def test_unpickling_decodes_as_strictly_as_loads(broken, tmp_path):
    name = vesk.load(saved(Protocol(), tmp_path)).__getstate__()[1]
    made = vesk.ProtocolFile.__new__(vesk.ProtocolFile)
    with pytest.raises(vesk.FormatError):
        made.__setstate__((broken, name))


@settings(max_examples=60, deadline=None)
@given(values=st.lists(st.floats(0.0, 1.0), min_size=50, max_size=400))
def test_values_are_what_add_arbitrary_signal_was_given_within_half_a_step(values, tmp_path_factory):
    p = Protocol()
    p.set_session_duration(len(values) / 5000.0)
    values = (values * 2)[: p.get_num_samples()]  # the duration may round up by one
    p.add_arbitrary_signal(np.array(values))
    signal = vesk.load(saved(p, tmp_path_factory.mktemp("v"))).settings.signals[0]
    back = signal.values()
    assert back.dtype == np.float64 and back.flags.writeable
    assert np.array_equal(back, signal.samples / 32767.0)
    assert np.all(np.abs(back - np.array(values)) <= 0.5 / 32767.0 + 1e-12)
    assert np.array_equal(signal.times(), np.arange(len(values)) / 5000.0)

"""Without NumPy the module imports and works; only add_arbitrary_signal fails."""

from conftest import run_python

BLOCK_NUMPY = """
import sys

class BlockNumpy:
    def find_spec(self, name, path=None, target=None):
        if name == "numpy" or name.startswith("numpy."):
            raise ImportError("numpy is blocked in this test")
        return None

sys.meta_path.insert(0, BlockNumpy())
for name in [n for n in sys.modules if n == "numpy" or n.startswith("numpy.")]:
    del sys.modules[name]
"""


def test_everything_but_arbitrary_signals_works_without_numpy(tmp_path):
    target = tmp_path / "no-numpy.vesk"
    result = run_python(
        BLOCK_NUMPY
        + f"""
import revevu
from revevu import Channel, Coil, Protocol
p = Protocol()
p.set_stimulation_intensity(0.5)
p.set_session_duration(0.01)
p.enable_channel(Channel.B)
p.set_amplitude_source(Coil.B1, 1)
p.set_modulation_source(Channel.A, 2, True)
print(p.add_constant_signal(0.5), p.add_sine_signal(1.0, 2.0), p.add_ramp_signal(1, 2, 3),
      p.add_mixed_signal(0, 1), p.get_num_samples(), p.get_sampling_rate())
for attempt in range(2):
    try:
        p.add_arbitrary_signal([0.0] * 50)
    except BaseException as error:
        print(type(error).__name__, type(error).__bases__[0].__name__, str(error).split(":")[0])
print(p.add_constant_signal(0.0))
p.save({str(target)!r})
print(len(str(p).splitlines()), "numpy" in sys.modules)
"""
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.split("\n")[:5] == [
        "0 1 2 3 50 5000.0",
        "PanicException BaseException Failed to access NumPy array API capsule",
        "PanicException BaseException Failed to access NumPy array API capsule",
        "4",
        "136 False",
    ]
    assert target.stat().st_size > 201
    assert "revevu panicked at" in result.stderr

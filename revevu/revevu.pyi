"""Compose stimulation protocols for a two-channel stimulator with resonant coils
and save them as .vesk protocol files.

A violated precondition raises ``PanicException``, which derives from
``BaseException`` (not ``Exception``) and is not an attribute of this module:
catch it with ``except BaseException``. See docs/api.md.
"""

from typing import ClassVar, SupportsFloat, SupportsIndex, final

import numpy as np
import numpy.typing as npt

__all__ = ["Protocol", "Channel", "Coil"]

# Float parameters go through float(): int, bool and objects with __float__
# or __index__ are accepted too.
_Float = SupportsFloat | SupportsIndex
# `external` takes exactly True or False, or a NumPy bool scalar; not 0 or 1.
_Bool = bool | np.bool_

@final
class Channel:
    """An output channel of the stimulator. Members only; cannot be instantiated.

    Members compare by identity; ``int(Channel.B)`` is 1.
    """

    A: ClassVar[Channel]
    """Channel A (value 0): edits ``channel_a_settings``."""
    B: ClassVar[Channel]
    """Channel B (value 1): edits ``channel_b_settings``."""

    def __int__(self) -> int:
        """The member's value: 0 for A, 1 for B."""

@final
class Coil:
    """An amplitude input of a channel. Members only; cannot be instantiated.

    Members compare by identity; ``int(Coil.B2)`` is 3.
    """

    A1: ClassVar[Coil]
    """Channel A's first amplitude input (value 0)."""
    A2: ClassVar[Coil]
    """Channel A's second amplitude input (value 1)."""
    B1: ClassVar[Coil]
    """Channel B's first amplitude input (value 2)."""
    B2: ClassVar[Coil]
    """Channel B's second amplitude input (value 3)."""

    def __int__(self) -> int:
        """The member's value: A1 0, A2 1, B1 2, B2 3."""

@final
class Protocol:
    """A stimulation protocol under construction.

    A new protocol has no signals, intensity 0.0, a session of 60.0 s, channel A
    enabled and channel B disabled, every source on internal signal 0.
    ``str(p)`` is the protocol's full text form.
    """

    def __init__(self) -> None:
        """A new protocol with the defaults; takes no arguments."""

    def __str__(self) -> str:
        """The multi-line text form, starting "Protocol {"."""

    def set_stimulation_intensity(self, intensity: _Float) -> None:
        """Set the stimulation intensity.

        Raises PanicException unless 0.0 <= intensity <= 1.0 (NaN fails).
        """

    def set_session_duration(self, duration: _Float) -> None:
        """Set the session duration in seconds.

        Raises PanicException unless 0.01 <= duration <= 1800.0 (NaN fails).
        Arbitrary signals already added keep their sample count.
        """

    def enable_channel(self, channel: Channel) -> None:
        """Enable a channel. There is no way to disable it again."""

    def set_amplitude_source(
        self, coil: Coil, index: SupportsIndex, external: _Bool = False
    ) -> None:
        """Drive an amplitude input from internal signal `index`, or from
        external input `index` when `external` is true.

        `index` is not checked against the signal list; `vesk check` reports
        positions that name no signal. A negative index raises OverflowError.
        """

    def set_modulation_source(
        self, channel: Channel, index: SupportsIndex, external: _Bool = False
    ) -> None:
        """Drive a channel's modulation input from internal signal `index`,
        or from external input `index` when `external` is true.

        `index` is not checked against the signal list. A negative index
        raises OverflowError.
        """

    def add_constant_signal(self, value: _Float) -> int:
        """Append a constant signal; returns its position in the signal list."""

    def add_sine_signal(
        self, amplitude: _Float, frequency: _Float, phase: _Float = 0.0, depth: _Float = 1.0
    ) -> int:
        """Append a sine signal; returns its position. Values are stored as given."""

    def add_ramp_signal(self, peak: _Float, up_duration: _Float, down_duration: _Float) -> int:
        """Append a ramp signal; returns its position. Values are stored as given."""

    def add_mixed_signal(self, a_idx: SupportsIndex, b_idx: SupportsIndex) -> int:
        """Append a signal mixing the signals at positions `a_idx` and `b_idx`;
        returns its position. The positions are not checked.
        """

    def add_arbitrary_signal(self, samples: npt.NDArray[np.float64]) -> int:
        """Append a sampled signal; returns its position.

        `samples` must be a one-dimensional float64 ndarray (any strides) of
        exactly get_num_samples() values in [0.0, 1.0]; each is stored as
        round(x * 32767). Anything else raises TypeError (wrong type) or
        PanicException (wrong length, a value outside [0, 1] or NaN).
        """

    def get_num_samples(self) -> int:
        """Samples in the session: ceil(duration * 5000.0)."""

    def get_sampling_rate(self) -> float:
        """Always 5000.0 samples per second."""

    def save(self, filepath: str) -> None:
        """Write the protocol file, replacing any earlier content.

        The name must end in ".vesk", else PanicException. A protocol without
        signals first gets the signal Constant 0.0 at position 0. A failing
        open or write raises PanicException with the operating system's error.
        """

"""A new Protocol, its text form, and the configuration methods."""

import math
import os

import pytest

from conftest import (
    MSG_DURATION_MAX,
    MSG_DURATION_MIN,
    MSG_INTENSITY,
    assert_panics,
    settings_of,
    source_of,
    unchanged,
)
from revevu import Channel, Coil, Protocol


def test_new_protocol_text_form(protocol):
    text = str(protocol)
    lines = text.split("\n")
    assert len(lines) == 104
    assert lines[:2] == ["Protocol {", "    settings: Settings {"]
    assert lines[-2:] == ["    },", "}"]
    assert "\n        signals: [],\n" in text
    assert "        channel_a_settings: ChannelSettings {\n            enabled: true,\n" in text
    assert "        channel_b_settings: ChannelSettings {\n            enabled: false,\n" in text
    assert not text.endswith("\n")
    assert all(line == line.rstrip() for line in lines)


def test_new_protocol_values(protocol):
    settings = settings_of(protocol)
    assert settings["intensity"] == 0.0
    assert settings["session_duration"] == 60.0
    assert settings["signals"] == []
    assert settings["monitor_trace_visible"] == [False] * 16
    assert settings["monitor_subsampling_factor"] == 1
    for channel in ("a", "b"):
        for source in ("amplitude1_source", "amplitude2_source", "modulation_source"):
            assert source_of(protocol, channel, source) == (0, 0, False)
    assert protocol.get_num_samples() == 300000
    assert protocol.get_sampling_rate() == 5000.0
    assert type(protocol.get_num_samples()) is int


def test_protocols_share_nothing():
    first, second = Protocol(), Protocol()
    first.set_session_duration(1.0)
    first.add_constant_signal(0.5)
    assert second.get_num_samples() == 300000
    assert settings_of(second)["signals"] == []


@pytest.mark.parametrize(
    "value, expected",
    [(None, False), ("", True), ("0", True), ("false", True), ("anything", True)],
)
def test_target_machine_flag_is_read_at_each_construction(monkeypatch, value, expected):
    if value is None:
        monkeypatch.delenv("VESK_TARGET_MACHINE", raising=False)
    else:
        monkeypatch.setenv("VESK_TARGET_MACHINE", value)
    assert settings_of(Protocol())["running_on_target_machine"] is expected


def test_target_machine_flag_needs_valid_utf8(monkeypatch):
    monkeypatch.setitem(os.environb, b"VESK_TARGET_MACHINE", b"\xff\xfe")
    assert settings_of(Protocol())["running_on_target_machine"] is False


def test_target_machine_flag_changes_only_later_protocols(monkeypatch):
    monkeypatch.delenv("VESK_TARGET_MACHINE", raising=False)
    before = Protocol()
    monkeypatch.setenv("VESK_TARGET_MACHINE", "1")
    after = Protocol()
    assert settings_of(before)["running_on_target_machine"] is False
    assert settings_of(after)["running_on_target_machine"] is True


# ---- Intensity ---------------------------------------------------------------------------


@pytest.mark.parametrize("value, shown", [(0.0, "0.0"), (1.0, "1.0"), (1, "1.0"), (0.3, "0.3"),
                                          (-0.0, "-0.0"), (True, "1.0")])
def test_intensity_accepted(protocol, value, shown):
    protocol.set_stimulation_intensity(value)
    assert f"\n        intensity: {shown},\n" in str(protocol)


@pytest.mark.parametrize("value", [1.0000000000000002, -0.1, -5e-324, math.nan, math.inf, -math.inf])
def test_intensity_refused(protocol, value):
    protocol.set_stimulation_intensity(0.5)
    with unchanged(protocol):
        assert_panics(lambda: protocol.set_stimulation_intensity(value), MSG_INTENSITY)


# ---- Session duration ---------------------------------------------------------------------


@pytest.mark.parametrize(
    "duration, samples",
    [(0.01, 50), (0.07, 351), (1.0, 5000), (60.0, 300000), (1800.0, 9000000), (0.0100000001, 51)],
)
def test_duration_and_sample_count(protocol, duration, samples):
    protocol.set_session_duration(duration)
    assert settings_of(protocol)["session_duration"] == duration
    assert protocol.get_num_samples() == samples


@pytest.mark.parametrize(
    "duration, message",
    [
        (1800.0000000000002, MSG_DURATION_MAX),
        (math.nan, MSG_DURATION_MAX),
        (math.inf, MSG_DURATION_MAX),
        (0.0099, MSG_DURATION_MIN),
        (0.0, MSG_DURATION_MIN),
        (-1.0, MSG_DURATION_MIN),
        (-math.inf, MSG_DURATION_MIN),
    ],
)
def test_duration_refused(protocol, duration, message):
    protocol.set_session_duration(2.5)
    with unchanged(protocol):
        assert_panics(lambda: protocol.set_session_duration(duration), message)
    assert protocol.get_num_samples() == 12500


# ---- Channels and sources -----------------------------------------------------------------


def test_enable_channel(protocol):
    protocol.enable_channel(Channel.B)
    protocol.enable_channel(Channel.B)
    settings = settings_of(protocol)
    assert settings["channel_b_settings"]["enabled"] is True
    assert settings["channel_a_settings"]["enabled"] is True


def test_enabling_channel_a_changes_nothing(protocol):
    with unchanged(protocol):
        protocol.enable_channel(channel=Channel.A)


AMPLITUDE_TARGETS = [
    (Coil.A1, "a", "amplitude1_source"),
    (Coil.A2, "a", "amplitude2_source"),
    (Coil.B1, "b", "amplitude1_source"),
    (Coil.B2, "b", "amplitude2_source"),
]
ALL_SOURCES = [(c, s) for c in "ab" for s in ("amplitude1_source", "amplitude2_source",
                                               "modulation_source")]


def others_untouched(protocol, channel, source):
    return all(source_of(protocol, c, s) == (0, 0, False)
               for c, s in ALL_SOURCES if (c, s) != (channel, source))


@pytest.mark.parametrize("coil, channel, source", AMPLITUDE_TARGETS, ids=str)
def test_amplitude_source_targets(protocol, coil, channel, source):
    protocol.set_amplitude_source(coil, 3)
    assert source_of(protocol, channel, source) == (3, 0, False)
    protocol.set_amplitude_source(coil, 7, external=True)
    assert source_of(protocol, channel, source) == (0, 7, True)
    assert others_untouched(protocol, channel, source)


@pytest.mark.parametrize("member, channel", [(Channel.A, "a"), (Channel.B, "b")], ids=str)
def test_modulation_source_targets(protocol, member, channel):
    protocol.set_modulation_source(member, 2, True)
    assert source_of(protocol, channel, "modulation_source") == (0, 2, True)
    protocol.set_modulation_source(member, 5)
    assert source_of(protocol, channel, "modulation_source") == (5, 0, False)
    assert others_untouched(protocol, channel, "modulation_source")


def test_positional_and_keyword_calls_have_the_same_effect():
    by_position, by_keyword = Protocol(), Protocol()
    by_position.set_modulation_source(Channel.B, 2, True)
    by_keyword.set_modulation_source(channel=Channel.B, index=2, external=True)
    assert str(by_position) == str(by_keyword)


def test_source_indexes_are_not_range_checked(protocol):
    protocol.set_amplitude_source(Coil.A1, 99)
    protocol.set_modulation_source(Channel.A, 2**64 - 1, True)
    assert source_of(protocol, "a", "amplitude1_source") == (99, 0, False)
    assert source_of(protocol, "a", "modulation_source") == (0, 2**64 - 1, True)

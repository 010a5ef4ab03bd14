"""Text from a crafted file reaches a person only escaped: one coil name
holding every kind of character that a terminal or a text renderer acts on,
through every output that shows it, comes back whole from its quoted form."""

import json
import re
import xml.etree.ElementTree as ET

import pytest
import vesk
from revevu import Protocol
from vesk_tool import run_vesk, saved, with_coil_name

# C0, DEL, C1 (U+009B is a terminal's CSI), the bidirectional formatting
# characters and the line and paragraph separators.
BIDI = ["\u061c", "\u200e", "\u200f", *map(chr, range(0x202A, 0x202F)), *map(chr, range(0x2066, 0x206A))]
NEVER_RAW = [*map(chr, range(0x20)), *map(chr, range(0x7F, 0xA0)), *BIDI, "\u2028", "\u2029"]
NAME = "\x9b\u202e\x00\x1b\n\x7f\x80\x9f" + "".join(BIDI) + '\u2028\u2029"\\é\U0010ffff'

TEXT_ESCAPE = re.compile(r"\\(?:u\{([0-9a-f]+)\}|(.))")
SHORT_ESCAPES = {'"': '"', "\\": "\\", "n": "\n", "t": "\t", "r": "\r", "0": "\0"}


def from_text_form(quoted: str) -> str:
    assert quoted[0] == quoted[-1] == '"', quoted
    return TEXT_ESCAPE.sub(
        lambda m: chr(int(m[1], 16)) if m[1] else SHORT_ESCAPES[m[2]], quoted[1:-1]
    )


def line_after(output: str, start: str) -> str:
    return next(line for line in output.splitlines() if line.lstrip().startswith(start)).split(
        start, 1
    )[1]


def vesk_output(*args, status=0) -> str:
    result = run_vesk(*args)
    assert result.returncode == status, result.stderr
    return result.stdout


def show(path, _):
    out = vesk_output("show", path)
    return out, from_text_form(line_after(out, "name: ").removesuffix(","))


def show_json(path, _):
    out = vesk_output("show", "--json", path)
    return out, json.loads(out)["machine_config"]["coils"][0]["name"]


def summary(path, _):
    out = vesk_output("summary", path)
    return out, json.loads(line_after(out, "channel A: enabled, coil 0 ").split(", setting 0")[0])


def summary_json(path, _):
    out = vesk_output("summary", "--json", path)
    return out, json.loads(out)["channel_a_settings"]["coil_name"]


def diff(path, folder):
    out = vesk_output("diff", path, saved(Protocol(), folder, "default.vesk"), status=1)
    return out, json.loads(line_after(out, "machine_config.coils[0].name: ").split(" -> ")[0])


def plot(path, folder):
    vesk_output("plot", path, "-o", folder / "out.svg")
    svg = (folder / "out.svg").read_text(encoding="utf-8")
    texts = [e.text for e in ET.fromstring(svg).iter("{http://www.w3.org/2000/svg}text")]
    quoted = next(t for t in texts if t.startswith("Channel A")).split(" coil 0 ", 1)[1]
    if quoted.endswith("\u2026"):  # a long name is cut to fit the heading: its start is kept
        start = re.sub(r"\\(u[0-9a-f]{0,3})?$", "", quoted.removesuffix("\u2026"))
        shown = json.loads(start + '"')
        assert len(shown) >= 12 and NAME.startswith(shown), quoted
        return svg, NAME
    return svg, json.loads(quoted.split(", setting 0")[0])


def refusal(path, _):
    with pytest.raises(vesk.NotReproducible) as refused:
        vesk.load(path).to_protocol()
    message = str(refused.value)
    return message, json.loads(message.split(" = ", 1)[1].split(": no method")[0])


@pytest.mark.parametrize("output", [show, show_json, summary, summary_json, diff, plot, refusal])
def test_a_crafted_name_is_shown_escaped_and_whole(output, tmp_path):
    # The file's own name is shown by the plot: it holds an override too.
    path = with_coil_name(saved(Protocol(), tmp_path, "crafted\u202e.vesk"), NAME.encode())
    text, name = output(path, tmp_path)
    assert name == NAME
    raw = [c for c in NEVER_RAW if c in text and c != "\n"]  # line breaks of the layout
    assert raw == [], [f"U+{ord(c):04X}" for c in raw]

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
BIDI = ["\u061c", "\u200e", "\u200f", *map(chr, range(0x202A, 0x202F))]
BIDI += map(chr, range(0x2066, 0x206A))
NEVER_RAW = [*map(chr, range(0x20)), *map(chr, range(0x7F, 0xA0)), *BIDI, "\u2028", "\u2029"]
NAME = "\x9b\u202e\x00\x1b\n\x7f\x80\x9f" + "".join(BIDI) + '\u2028\u2029"\\é\U0010ffff'

SHORT_ESCAPES = {'"': '"', "\\": "\\", "n": "\n", "t": "\t", "r": "\r", "0": "\0"}


def from_text_form(quoted: str) -> str:
    assert quoted[0] == quoted[-1] == '"', quoted
    escape = re.compile(r"\\(?:u\{([0-9a-f]+)\}|(.))")
    return escape.sub(lambda m: chr(int(m[1], 16)) if m[1] else SHORT_ESCAPES[m[2]], quoted[1:-1])


def after(output: str, start: str, end: str = "\n") -> str:
    """What follows `start` on its line, up to `end`."""
    line = next(line for line in output.splitlines() if start in line)
    return line.split(start, 1)[1].split(end)[0]


def plot_heading(svg: str) -> str:
    texts = [e.text for e in ET.fromstring(svg).iter("{http://www.w3.org/2000/svg}text")]
    quoted = after(next(t for t in texts if t.startswith("Channel A")), " coil 0 ", ", setting 0")
    if not quoted.endswith('\u2026"'):
        return json.loads(quoted)
    # Cut to fit the heading, between escapes: the start it keeps.
    shown = json.loads(quoted[:-2] + '"')
    assert len(shown) >= 8 and NAME.startswith(shown), quoted
    return NAME


# The command's arguments (FILE: the crafted file, OTHER: a default one, SVG:
# the plot's output), its exit status, and the name read back from its output.
OUTPUTS = {
    "show": (["show", "FILE"], 0, lambda out: from_text_form(after(out, "name: ", '",') + '"')),
    "show --json": (
        ["show", "--json", "FILE"],
        0,
        lambda out: json.loads(out)["machine_config"]["coils"][0]["name"],
    ),
    "summary": (["summary", "FILE"], 0, lambda out: json.loads(after(out, "coil 0 ", ", set"))),
    "summary --json": (
        ["summary", "--json", "FILE"],
        0,
        lambda out: json.loads(out)["channel_a_settings"]["coil_name"],
    ),
    "diff": (["diff", "FILE", "OTHER"], 1, lambda out: json.loads(after(out, "name: ", " -> "))),
    "plot": (["plot", "FILE", "-o", "SVG"], 0, plot_heading),
}


@pytest.mark.parametrize("output", [*OUTPUTS, "to_protocol()"])
def test_a_crafted_name_is_shown_escaped_and_whole(output, tmp_path):
    # The file's own name, which the plot shows, holds an override too.
    files = {
        "FILE": with_coil_name(saved(Protocol(), tmp_path, "crafted\u202e.vesk"), NAME.encode()),
        "OTHER": saved(Protocol(), tmp_path, "default.vesk"),
        "SVG": tmp_path / "out.svg",
    }
    if output == "to_protocol()":
        with pytest.raises(vesk.NotReproducible) as refused:
            vesk.load(files["FILE"]).to_protocol()
        text = str(refused.value)
        name = json.loads(after(text, " = ", ": no method"))
    else:
        args, status, read_name = OUTPUTS[output]
        result = run_vesk(*(files.get(arg, arg) for arg in args))
        assert result.returncode == status, result.stderr
        text = files["SVG"].read_text(encoding="utf-8") if output == "plot" else result.stdout
        name = read_name(text)
    assert name == NAME
    raw = [c for c in NEVER_RAW if c in text and c != "\n"]  # line breaks of the layout
    assert raw == [], [f"U+{ord(c):04X}" for c in raw]

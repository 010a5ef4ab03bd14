"""The mutation sampler's operator table (scripts/mutate.py): which sites it
finds and what each makes of them. No build is involved."""

import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "scripts"))
import mutate  # noqa: E402


def mutated_lines(source: str) -> set[tuple[str, str]]:
    text = source + "\n"
    return {(m.operator, m.apply(text).rstrip("\n")) for m in mutate.find_mutants("x.cpp", text)}


@pytest.mark.parametrize("source, operator, expected", [
    ("ok = lead <= 0xF4;", "relational", "ok = lead < 0xF4;"),
    ("ok = a != b;", "relational", "ok = a == b;"),
    ("ok = a && b;", "logical", "ok = a || b;"),
    ("x = a * b;", "arithmetic", "x = a / b;"),
    ("total -= step;", "arithmetic", "total += step;"),
    ("x = buffer[16];", "integer", "x = buffer[17];"),
    ("x = 0xFFu;", "integer", "x = 0x100u;"),
    ("x = 1'000;", "integer", "x = 1001;"),
    ("x = 0;\nx = 1'000;", "integer", "x = 0;\nx = 999;"),  # every other line: down
    ("if (done) return true;", "return", "if (done) return false;"),
    ("while (a < f(b)) step();", "negate", "while (!(a < f(b))) step();"),
    ("std::tie(next, error) = replace(target,\n    content);", "statement", ""),
])
def test_operator_makes_expected_text(source, operator, expected):
    assert (operator, expected) in mutated_lines(source)


@pytest.mark.parametrize("source, operator", [
    ("std::vector<std::pair<int, int>> v;", "relational"),  # template brackets
    ("f(-x, *p, T&& r);", "arithmetic"),  # unary minus, dereference
    ("f(-x, *p, T&& r);", "logical"),  # a reference
    ("x = 1.5e3 + 2e5;", "integer"),  # floating literals
    ("if (const int e = g(); e != 0) h(e);", "negate"),  # an initialiser cannot be negated
    ("const auto n = f(x);", "statement"),  # a declaration stays
    ('s = "a" + t;', "arithmetic"),  # text joined to a literal
])
def test_no_site_where_the_text_is_not_that_operator(source, operator):
    assert operator not in {op for op, _ in mutated_lines(source)}


QUOTED = r'''
#include <array>  // 1 + 2
#define LIMIT (3 < 4)
/* a < b && c
   return true; */
const char* s = "a < b && 7 - 1";  // return false;
const char* r = R"x(if (a) f(); 9 * 2; a" - 1 - ")x";
char c = '<'; char d = '\'';
int n = 1'000 + 2;
'''


def test_no_mutant_touches_a_comment_string_or_directive():
    text = QUOTED
    mutants = mutate.find_mutants("x.cpp", text)
    # Only the last line holds code with sites: `+` and its two literals.
    assert {m.line for m in mutants} == {9}, [m.describe(text) for m in mutants]
    assert {m.apply(text).splitlines()[8] for m in mutants} == {
        "int n = 1'000 - 2;", "int n = 1001 + 2;", "int n = 1'000 + 3;"}


def test_sample_draws_from_each_folder_in_proportion_to_its_lines():
    line = "x = a + b;\n"
    files = {"protocols/src/a.cpp": line * 30, "vesk/b.cpp": line * 10}
    order = mutate.sample_order(files, seed=5, only=None)
    for prefix in (4, 8, 40):
        folders = [mutate.folder_of(m.path) for m in order[:prefix]]
        assert folders.count("protocols") == 3 * folders.count("vesk")
    assert order == mutate.sample_order(files, seed=5, only=None)
    assert order != mutate.sample_order(files, seed=6, only=None)


def test_reviewed_entry_matches_the_same_change_after_the_code_moves(tmp_path):
    text = "void f() {\n    if (n <= limit) grow();\n}\n"
    moved = "// a comment above\n\n" + text
    key_of = {m.key(text): m for m in mutate.find_mutants("vesk/f.cpp", text)}
    flipped = "vesk/f.cpp: if (n <= limit) grow(); -> if (n < limit) grow();"
    assert flipped in key_of
    assert flipped in {m.key(moved) for m in mutate.find_mutants("vesk/f.cpp", moved)}
    listed = tmp_path / "reviewed.txt"
    listed.write_text(f"# header\n{flipped}\n    only the boundary,\n    which is never reached\n")
    assert mutate.read_reviewed(listed) == {flipped: "only the boundary, which is never reached"}

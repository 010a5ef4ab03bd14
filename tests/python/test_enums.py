"""Channel and Coil: single member objects with an integer value and a text
form, compared by identity, and nothing else."""

import operator
import sys

import pytest

from revevu import Channel, Coil, Protocol

MEMBERS = [
    (Channel.A, 0, "Channel.A"),
    (Channel.B, 1, "Channel.B"),
    (Coil.A1, 0, "Coil.A1"),
    (Coil.A2, 1, "Coil.A2"),
    (Coil.B1, 2, "Coil.B1"),
    (Coil.B2, 3, "Coil.B2"),
]


@pytest.mark.parametrize("member, value, text", MEMBERS, ids=[m[2] for m in MEMBERS])
def test_int_repr_and_str(member, value, text):
    assert int(member) == value
    assert type(int(member)) is int
    assert repr(member) == text
    assert str(member) == text
    assert f"{member}" == text


def test_classes_hold_exactly_their_members():
    assert [n for n in vars(Channel) if not n.startswith("_")] == ["A", "B"]
    assert [n for n in vars(Coil) if not n.startswith("_")] == ["A1", "A2", "B1", "B2"]
    assert all(type(m) is (Channel if t.startswith("Channel") else Coil) for m, _, t in MEMBERS)


def test_members_are_single_objects():
    assert Coil.A1 is Coil.A1
    assert getattr(Coil, "A1") is vars(Coil)["A1"]


@pytest.mark.parametrize(
    "left, right, equal",
    [
        (Coil.B1, Coil.B1, True),
        (Coil.B1, Coil.B2, False),
        (Coil.B1, 2, False),
        (Channel.A, Coil.A1, False),
        (Channel.B, 1, False),
    ],
)
def test_equality_is_identity(left, right, equal):
    assert (left == right) is equal
    assert (left != right) is not equal


def test_members_are_dictionary_keys():
    table = {member: text for member, _, text in MEMBERS}
    assert len(table) == 6
    assert table[Coil.A1] == "Coil.A1"
    assert table[Channel.A] == "Channel.A"
    assert hash(Coil.A1) == object.__hash__(Coil.A1)


@pytest.mark.parametrize("compare", [operator.lt, operator.le, operator.gt, operator.ge])
def test_no_ordering(compare):
    with pytest.raises(TypeError):
        compare(Coil.A1, Coil.A2)


@pytest.mark.parametrize("use", [lambda m: [10, 20][m], operator.index, float, lambda m: m + 1])
def test_not_a_number_beyond_int(use):
    with pytest.raises(TypeError):
        use(Channel.B)


def refusal_of_object_new(name):
    """CPython's own message for object.__new__ of a class without a
    constructor, for a class called `name`. The wording is the interpreter's
    and changed in 3.13.6 and 3.14, so it is taken from a built-in class that
    has no constructor either."""
    reference = type(iter(()))
    with pytest.raises(TypeError) as caught:
        object.__new__(reference)
    return str(caught.value).replace(reference.__name__, name)


@pytest.mark.parametrize(
    "make, message",
    [
        (lambda: Coil(), "cannot create 'Coil' instances"),
        (lambda: Channel(0), "cannot create 'Channel' instances"),
        (lambda: object.__new__(Coil), refusal_of_object_new("Coil")),
    ],
)
def test_no_instantiation(make, message):
    with pytest.raises(TypeError) as caught:
        make()
    assert str(caught.value) == message


@pytest.mark.parametrize("cls", [Channel, Coil])
def test_class_attributes_cannot_be_replaced_or_removed(cls):
    first = next(n for n in vars(cls) if not n.startswith("_"))
    member = getattr(cls, first)
    with pytest.raises(TypeError):
        setattr(cls, first, 5)
    with pytest.raises(TypeError):
        delattr(cls, first)
    with pytest.raises(TypeError):
        cls.NEW = member
    assert getattr(cls, first) is member


def test_slots_refuse_a_member_of_the_other_class():
    with pytest.raises(TypeError):
        Coil.__repr__(Channel.A)
    with pytest.raises(TypeError):
        Channel.__int__(Coil.B2)


@pytest.mark.parametrize("cls", [Channel, Coil])
def test_members_are_fixed_size_objects_even_while_a_method_holds_them(cls):
    # A member's reported size is its type's, also from inside an argument's
    # conversion, while the member it follows is held as an argument.
    sizes = []

    class Index:
        def __index__(self):
            sizes.extend(sys.getsizeof(m) for m in vars(cls).values() if type(m) is cls)
            return 0

    protocol = Protocol()
    protocol.add_constant_signal(0.0)
    method = protocol.set_amplitude_source if cls is Coil else protocol.set_modulation_source
    for member in (m for m in vars(cls).values() if type(m) is cls):
        method(member, Index())
    assert cls.__itemsize__ == 0
    assert sizes and set(sizes) == {cls.__basicsize__}

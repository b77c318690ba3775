"""JointGroup: a strict enumeration that keys every per-group result."""

import operator
import pickle

import pytest

MEMBERS = [("UNKNOWN", -1), ("ALL", 0), ("ARMS", 2), ("ARM_1", 3), ("ARM_2", 4), ("EXT_AXIS", 5)]


def test_members_values_and_order(norviktarn):
    jg = norviktarn.JointGroup
    assert [(name, member.value) for name, member in jg.__members__.items()] == MEMBERS
    for name, value in MEMBERS:
        member = getattr(jg, name)
        assert member.name == name
        assert int(member) == value
        assert operator.index(member) == value
        assert jg(value) == member


def test_str_and_repr(norviktarn):
    assert str(norviktarn.JointGroup.ARM_1) == "JointGroup.ARM_1"
    assert repr(norviktarn.JointGroup.ARM_1) == "<JointGroup.ARM_1: 3>"
    assert str(norviktarn.UNKNOWN) == "JointGroup.UNKNOWN"
    assert repr(norviktarn.UNKNOWN) == "<JointGroup.UNKNOWN: -1>"


def test_value_one_is_accepted_but_unnamed(norviktarn):
    one = norviktarn.JointGroup(1)
    assert one.name == "???"
    assert one.value == 1
    assert str(one) == "JointGroup.???"
    assert repr(one) == "<JointGroup.???: 1>"
    assert one == norviktarn.JointGroup(1)
    assert all(one != member for member in norviktarn.JointGroup.__members__.values())
    assert 1 not in [m.value for m in norviktarn.JointGroup.__members__.values()]


def test_construction_by_keyword_and_bad_values(norviktarn):
    assert norviktarn.JointGroup(value=5) == norviktarn.EXT_AXIS
    for bad in [2**31, "ARMS", 2.0, None]:
        with pytest.raises(TypeError) as err:
            norviktarn.JointGroup(bad)
        assert str(err.value).startswith(
            "__init__(): incompatible constructor arguments. The following argument types are supported:\n"
            "    1. norviktarn.JointGroup(value: int)")


def test_equality_only_with_members(norviktarn):
    arms = norviktarn.ARMS
    assert arms == norviktarn.JointGroup(2)
    assert not arms == 2
    assert arms != 2
    assert not norviktarn.JointGroup.ALL == 0
    assert not arms == "ARMS"
    assert not arms == None  # noqa: E711
    assert arms != norviktarn.ARM_1


def test_hash_is_the_value_and_members_key_dicts(norviktarn):
    for name, value in MEMBERS:
        assert hash(getattr(norviktarn.JointGroup, name)) == hash(value)
    table = {norviktarn.ARM_1: "left", norviktarn.ARM_2: "right"}
    assert table[norviktarn.JointGroup(3)] == "left"
    assert len({norviktarn.JointGroup(4), norviktarn.ARM_2}) == 1
    # equal hashes do not make a member equal to its integer
    assert 3 not in table


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickling_keeps_the_value(norviktarn, protocol):
    for member in list(norviktarn.JointGroup.__members__.values()) + [norviktarn.JointGroup(1)]:
        copy = pickle.loads(pickle.dumps(member, protocol))
        assert type(copy) is norviktarn.JointGroup
        assert copy == member and copy.value == member.value and copy.name == member.name


def test_state_is_the_integer_value(norviktarn):
    assert norviktarn.ARM_2.__getstate__() == 4
    restored = norviktarn.JointGroup.__new__(norviktarn.JointGroup)
    restored.__setstate__(5)
    assert restored == norviktarn.EXT_AXIS
    # a member already made ignores a second __setstate__: shared members stay intact
    norviktarn.ARMS.__setstate__(5)
    assert norviktarn.ARMS.value == 2


@pytest.mark.parametrize("op,symbol", [(operator.lt, "<"), (operator.le, "<="), (operator.gt, ">"),
                                       (operator.ge, ">=")])
def test_no_ordering(norviktarn, op, symbol):
    with pytest.raises(TypeError) as err:
        op(norviktarn.ARMS, norviktarn.ARM_1)
    assert str(err.value) == ("'%s' not supported between instances of 'norviktarn.JointGroup' and "
                              "'norviktarn.JointGroup'" % symbol)
    with pytest.raises(TypeError):
        op(norviktarn.ARMS, 3)
    with pytest.raises(TypeError):
        sorted([norviktarn.ARM_2, norviktarn.ARM_1])


@pytest.mark.parametrize("op,symbol", [(operator.add, "+"), (operator.sub, "-"), (operator.or_, "|"),
                                       (operator.and_, "&"), (operator.xor, "^")])
def test_no_arithmetic_or_bitwise_operators(norviktarn, op, symbol):
    with pytest.raises(TypeError) as err:
        op(norviktarn.ARMS, 1)
    assert str(err.value) == "unsupported operand type(s) for %s: 'norviktarn.JointGroup' and 'int'" % symbol
    with pytest.raises(TypeError):
        op(norviktarn.ARMS, norviktarn.ARM_1)
    with pytest.raises(TypeError):
        ~norviktarn.ARMS


def test_members_are_read_only(norviktarn):
    with pytest.raises(AttributeError, match="can't set attribute"):
        norviktarn.ARMS.value = 3
    with pytest.raises(AttributeError, match="object has no attribute 'label'"):
        norviktarn.ARMS.label = "x"
    assert norviktarn.ARMS.value == 2

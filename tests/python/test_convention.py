import operator

import pytest
import tessaly

C = tessaly.Convention
MEMBERS = [("BADGERFISH", 0), ("PARKER", 1), ("ABDERA", 2)]


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


@pytest.mark.parametrize("name, code", MEMBERS)
def test_member_repr_str_int_and_identity(name, code):
    member = getattr(C, name)
    assert repr(member) == str(member) == f"Convention.{name}"
    assert int(member) == code and type(int(member)) is int
    assert type(member) is C
    assert getattr(C, name) is member


EQUALITY = [
    (C.BADGERFISH, C.BADGERFISH, True),
    (C.BADGERFISH, C.PARKER, False),
    (C.BADGERFISH, 0, True),
    (C.PARKER, 1, True),
    (C.ABDERA, 2, True),
    (C.ABDERA, 1, False),
    (C.PARKER, True, True),  # bool is an int
    (C.PARKER, Index(1), True),  # anything that converts to a 64-bit integer
    (C.PARKER, -1, False),
    (C.PARKER, 2**64 + 1, False),  # does not fit in 64 bits: declined
    (C.PARKER, 1.0, False),  # floats do not convert
    (C.PARKER, "PARKER", False),
    (C.PARKER, "1", False),
    (C.PARKER, None, False),
    (C.PARKER, object(), False),
]


@pytest.mark.parametrize("a, b, equal", EQUALITY)
def test_equality(a, b, equal):
    assert (a == b) is equal
    assert (a != b) is not equal
    assert (b == a) is equal  # the reflected form reaches the same rule
    assert (b != a) is not equal


@pytest.mark.parametrize("op", [operator.lt, operator.le, operator.gt, operator.ge])
@pytest.mark.parametrize("other", [C.ABDERA, 2, "x"])
def test_ordering_is_declined(op, other):
    with pytest.raises(TypeError):
        op(C.PARKER, other)
    with pytest.raises(TypeError):
        op(other, C.PARKER)


def test_members_are_unhashable():
    for name, _ in MEMBERS:
        with pytest.raises(TypeError):
            hash(getattr(C, name))
    with pytest.raises(TypeError):
        {C.PARKER: 1}
    with pytest.raises(TypeError):
        {C.PARKER}


@pytest.mark.parametrize("args", [(), (0,), (C.PARKER,)])
def test_not_constructible(args):
    with pytest.raises(TypeError, match=r"^cannot create 'tessaly.Convention' instances$"):
        C(*args)
    with pytest.raises(TypeError):
        type(C.PARKER)(*args)

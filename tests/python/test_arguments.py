import itertools
import pathlib
import sys

import pytest
import tessaly
from conftest import SMALL_JSON, SMALL_XML, SMALL_XSD, loads

C = tessaly.Convention
SCHEMA = tessaly.Schema.from_bytes(SMALL_XSD)
GOOD = {"str": "no-such-file", "bytes": b"", "Schema": SCHEMA, "Convention": C.PARKER}


class Holder:
    class Nested:
        pass


# Wrong values per expected type, with the qualified type name the message shows.
WRONG = {
    "str": [(1, "int"), (b"x", "bytes"), (pathlib.PurePosixPath("x"), "PurePosixPath"), (Holder.Nested(), "Holder.Nested")],
    "bytes": [(bytearray(b"x"), "bytearray"), (memoryview(b"x"), "memoryview"), ("x", "str")],
    "Schema": [("x", "str"), (C.PARKER, "Convention"), (Holder.Nested(), "Holder.Nested")],
    "Convention": [(1, "int"), ("PARKER", "str"), (SCHEMA, "Schema")],
}

# name in messages, callable, (parameter, expected type) in order, required count
CALLS = [
    ("convert()", tessaly.convert, [("xml_path", "str"), ("xsd_path", "str"), ("convention", "Convention")], 2),
    ("convert_bytes()", tessaly.convert_bytes, [("xml_bytes", "bytes"), ("xsd_bytes", "bytes"), ("convention", "Convention")], 2),
    ("convert_to_file()", tessaly.convert_to_file,
     [("xml_path", "str"), ("xsd_path", "str"), ("output_path", "str"), ("convention", "Convention")], 3),
    ("convert_with_schema()", tessaly.convert_with_schema, [("xml_path", "str"), ("schema", "Schema"), ("convention", "Convention")], 2),
    ("convert_bytes_with_schema()", tessaly.convert_bytes_with_schema,
     [("xml_bytes", "bytes"), ("schema", "Schema"), ("convention", "Convention")], 2),
    ("convert_to_file_with_schema()", tessaly.convert_to_file_with_schema,
     [("xml_path", "str"), ("schema", "Schema"), ("output_path", "str"), ("convention", "Convention")], 3),
    ("Schema.from_file()", tessaly.Schema.from_file, [("xsd_path", "str")], 1),
    ("Schema.from_bytes()", tessaly.Schema.from_bytes, [("xsd_bytes", "bytes")], 1),
]
IDS = [c[0] for c in CALLS]


def quoted(names):
    q = [f"'{n}'" for n in names]
    if len(q) <= 2:
        return " and ".join(q)
    return ", ".join(q[:-1]) + ", and " + q[-1]


def notes(exc):
    return getattr(exc, "__notes__", None)


def expected_notes(param):
    # Exception notes exist from Python 3.11 on; without them the error comes bare.
    return [f"while processing '{param}'"] if sys.version_info >= (3, 11) else None


def raises_type_error(fn, *args, **kwargs):
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    return info.value


@pytest.mark.parametrize("name, fn, params, required", CALLS, ids=IDS)
def test_binding_errors(name, fn, params, required):
    names = [p for p, _ in params]
    good = [GOOD[t] for _, t in params]
    def missing_text(missing):
        word = "argument" if len(missing) == 1 else "arguments"
        return f"{name} missing {len(missing)} required positional {word}: {quoted(missing)}"

    for given in range(required):
        e = raises_type_error(fn, *good[:given])
        assert str(e) == missing_text(names[given:required])
        assert notes(e) is None
    if required > 1:  # the last required one by keyword leaves those before it missing
        e = raises_type_error(fn, **{names[required - 1]: good[required - 1]})
        assert str(e) == missing_text(names[: required - 1])

    n = len(names)
    e = raises_type_error(fn, *good, good[-1])
    assert str(e) == f"{name} takes from {required} to {n} positional arguments but {n + 1} were given"
    e = raises_type_error(fn, *good[:required], bogus=1)
    assert str(e) == f"{name} got an unexpected keyword argument 'bogus'"
    for i in range(required):
        e = raises_type_error(fn, *good[:required], **{names[i]: good[i]})
        assert str(e) == f"{name} got multiple values for argument '{names[i]}'"
    # binding is checked before any argument is converted
    assert "takes from" in str(raises_type_error(fn, *[object()] * (n + 1)))
    assert "unexpected" in str(raises_type_error(fn, *[object()] * required, bogus=1))


@pytest.mark.parametrize("name, fn, params, required", CALLS, ids=IDS)
def test_wrong_type_and_none(name, fn, params, required):
    good = [GOOD[t] for _, t in params]
    for i, (param, expected) in enumerate(params):
        for value, type_name in WRONG[expected] + [(None, None)]:
            # later arguments are never looked at, so they may be wrong too
            args = good[:i] + [value] + [object()] * (len(params) - i - 1)
            e = raises_type_error(fn, *args)
            if value is None:
                assert str(e) == f"'None' is not an instance of '{expected}'"
            else:
                assert str(e) == f"'{type_name}' object is not an instance of '{expected}'"
            assert notes(e) == expected_notes(param)


@pytest.mark.parametrize("name, fn, params, required", [c for c in CALLS if c[2][0][1] == "str"], ids=lambda v: v if isinstance(v, str) else None)
def test_lone_surrogate_raises_the_interpreters_encoding_error(name, fn, params, required):
    args = ["\udc80"] + [GOOD[t] for _, t in params[1:required]]
    with pytest.raises(UnicodeEncodeError) as info:
        fn(*args)
    assert notes(info.value) == expected_notes(params[0][0])


def call_forms(names, values):
    """Every way of passing the arguments: a positional prefix, the rest by keyword in any order."""
    for split in range(len(names) + 1):
        for order in itertools.permutations(range(split, len(names))):
            yield values[:split], {names[k]: values[k] for k in order}


@pytest.mark.parametrize("convention", [None, C.BADGERFISH, C.PARKER, C.ABDERA])
def test_every_way_of_passing_the_arguments_gives_the_same_result(small, schema, convention):
    out = small["out"]
    cases = [
        (tessaly.convert, ["xml_path", "xsd_path"], [small["xml"], small["xsd"]]),
        (tessaly.convert_bytes, ["xml_bytes", "xsd_bytes"], [SMALL_XML, SMALL_XSD]),
        (tessaly.convert_with_schema, ["xml_path", "schema"], [small["xml"], schema]),
        (tessaly.convert_bytes_with_schema, ["xml_bytes", "schema"], [SMALL_XML, schema]),
        (tessaly.convert_to_file, ["xml_path", "xsd_path", "output_path"], [small["xml"], small["xsd"], out]),
        (tessaly.convert_to_file_with_schema, ["xml_path", "schema", "output_path"], [small["xml"], schema, out]),
    ]
    # omitted means BadgerFish
    expected = tessaly.convert_bytes(SMALL_XML, SMALL_XSD, convention or C.BADGERFISH)
    if convention in (None, C.BADGERFISH):
        assert loads(expected) == SMALL_JSON
    for fn, names, values in cases:
        if convention is not None:
            names, values = names + ["convention"], values + [convention]
        for args, kwargs in call_forms(names, values):
            pathlib.Path(out).unlink(missing_ok=True)
            result = fn(*args, **kwargs)
            if "output_path" in names:
                assert result is None
                result = pathlib.Path(out).read_text()
            assert result == expected


def test_subclasses_of_str_and_bytes_are_accepted(small):
    class S(str):
        pass

    class B(bytes):
        pass

    expected = tessaly.convert(small["xml"], small["xsd"])
    assert tessaly.convert(S(small["xml"]), S(small["xsd"])) == expected
    assert tessaly.convert_bytes(B(SMALL_XML), B(SMALL_XSD)) == expected
    assert tessaly.convert_bytes_with_schema(B(SMALL_XML), tessaly.Schema.from_bytes(B(SMALL_XSD))) == expected

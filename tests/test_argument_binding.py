"""Argument-binding texts shared by every entry point."""

import ctypes

import pytest

import velmora.exceptions as exc
from velmora.cookies import Cookie


class CookieSubclass(Cookie):
    """Bound through the tuple and dict path rather than vectorcall."""


def call_with_dict(func, args, kwargs):
    """Calls through the C API, so that keyword dicts reach the callee as they are."""
    api = ctypes.pythonapi
    api.PyObject_Call.restype = ctypes.py_object
    api.PyObject_Call.argtypes = [ctypes.py_object, ctypes.py_object, ctypes.py_object]
    return api.PyObject_Call(func, tuple(args), kwargs)


@pytest.mark.parametrize(
    "cls, args, kwargs, text",
    [
        (exc.HTTPException, (), {}, "__init__() takes at least 1 positional argument (0 given)"),
        (exc.HTTPException, (), {"message": "m"},
         "__init__() takes at least 1 positional argument (0 given)"),
        (exc.HTTPException, (), {"message": "m", "bogus": 1},
         "__init__() takes at least 1 positional argument (0 given)"),
        (exc.HTTPException, (1, "m", 3), {},
         "__init__() takes at most 2 positional arguments (3 given)"),
        (exc.HTTPException, (404,), {"bogus": 1},
         "__init__() got an unexpected keyword argument 'bogus'"),
        (exc.HTTPException, (404,), {"status": 1},
         "__init__() got multiple values for keyword argument 'status'"),
        (exc.HTTPException, (404, "m"), {"message": "n"},
         "__init__() got multiple values for keyword argument 'message'"),
        # A keyword bound after the positional ones is no duplicate: the
        # unknown one is named.
        (exc.HTTPException, (400,), {"message": "x", "bogus": 1},
         "__init__() got an unexpected keyword argument 'bogus'"),
        (Cookie, ("a",), {"value": "b", "colour": 1},
         "__init__() got an unexpected keyword argument 'colour'"),
        (CookieSubclass, ("a",), {"value": "b", "colour": 1},
         "__init__() got an unexpected keyword argument 'colour'"),
        (Cookie, ("a", "b"), {"path": "/", "value": "c"},
         "__init__() got multiple values for keyword argument 'value'"),
        (exc.NotFound, (1, 2), {}, "__init__() takes at most 1 positional argument (2 given)"),
        (exc.RangeNotSatisfiable, (1,), {},
         "__init__() takes exactly 0 positional arguments (1 given)"),
        (exc.NotImplementedByServer, (), {"code": 1},
         "__init__() got an unexpected keyword argument 'code'"),
    ],
)
def test_binding_errors(cls, args, kwargs, text):
    with pytest.raises(TypeError) as info:
        cls(*args, **kwargs)
    assert str(info.value) == text


@pytest.mark.parametrize("cls, args", [(exc.HTTPException, (404,)), (exc.NotFound, ()),
                                       (exc.RangeNotSatisfiable, ())])
def test_keyword_names_must_be_strings(cls, args):
    with pytest.raises(TypeError) as info:
        call_with_dict(cls, args, {1: 2})
    assert str(info.value) in (
        "__init__() keywords must be strings",
        "__init__() got an unexpected keyword argument '1'",
    )
    if cls is not exc.RangeNotSatisfiable:
        assert str(info.value) == "__init__() keywords must be strings"


def test_keywords_may_be_given_in_any_order():
    e = exc.HTTPException(message="m", status=418)
    assert (e.status, e.args) == (418, ("m",))


class IntSubclass(int):
    pass


class ReturnsSubclass:
    def __int__(self):
        return IntSubclass(7)


class ReturnsFloat:
    def __int__(self):
        return 7.5


class IndexOnly:
    def __index__(self):
        return 7


@pytest.mark.parametrize(
    "value, expected",
    [
        (True, 1),
        (404.9, 404),
        (-404.9, -404),
        (-1, -1),
        (2**31 - 1, 2**31 - 1),
        (-(2**31), -(2**31)),
        (IntSubclass(12), 12),
    ],
)
def test_integer_conversion_values(value, expected):
    e = exc.HTTPException(0)
    e.status = value
    assert e.status == expected
    assert type(e.status) is int


@pytest.mark.parametrize(
    "value, error, text",
    [
        ("404", TypeError, "an integer is required"),
        (None, TypeError, "an integer is required"),
        (b"1", TypeError, "an integer is required"),
        (IndexOnly(), TypeError, "an integer is required"),
        (ReturnsFloat(), TypeError, "__int__ returned non-int (type float)"),
        (2**31, OverflowError, "value too large to convert to int"),
        (-(2**31) - 1, OverflowError, "value too large to convert to int"),
        (2**60 - 1, OverflowError, "value too large to convert to int"),
        (2**60, OverflowError, "Python int too large to convert to C int"),
        (-(2**60), OverflowError, "Python int too large to convert to C int"),
        (2**100, OverflowError, "Python int too large to convert to C int"),
    ],
)
def test_integer_conversion_errors_keep_the_old_value(value, error, text):
    e = exc.HTTPException(404)
    with pytest.raises(error) as info:
        e.status = value
    assert str(info.value) == text
    assert e.status == 404


def test_int_subclass_result_warns_and_is_taken():
    e = exc.HTTPException(0)
    with pytest.warns(DeprecationWarning) as record:
        e.status = ReturnsSubclass()
    assert e.status == 7
    assert str(record[0].message) == (
        "__int__ returned non-int (type IntSubclass).  The ability to return an instance of "
        "a strict subclass of int is deprecated, and may be removed in a future version of Python."
    )


def test_int_subclass_warning_as_error_fails_the_conversion():
    import warnings

    e = exc.HTTPException(5)
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        with pytest.raises(DeprecationWarning):
            e.status = ReturnsSubclass()
    assert e.status == 5

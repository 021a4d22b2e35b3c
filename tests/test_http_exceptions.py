"""HTTPException and the subclasses that only fix a status and a message."""

import warnings

import pytest

import velmora.exceptions as vx
from velmora.exceptions import (
    BadRequest,
    Conflict,
    Forbidden,
    HTTPException,
    NotFound,
    NotImplementedByServer,
    RangeNotSatisfiable,
    Unauthorized,
    UnsupportedMediaType,
)

MESSAGE_CLASSES = [
    (BadRequest, 400, "Bad request"),
    (Unauthorized, 401, "Unauthorized"),
    (Forbidden, 403, "Forbidden"),
    (NotFound, 404, "Not found"),
    (Conflict, 409, "Conflict"),
    (UnsupportedMediaType, 415, "Unsupported media type"),
]
FIXED_CLASSES = [
    (RangeNotSatisfiable, 416, "Range not satisfiable"),
    (NotImplementedByServer, 501, "Not implemented by server"),
]
ALL_CLASSES = [HTTPException] + [c for c, _, _ in MESSAGE_CLASSES + FIXED_CLASSES]


class IntSubclass(int):
    pass


class IntReturningStr:
    def __int__(self):
        return "404"


class IntReturningSubclass:
    def __int__(self):
        return IntSubclass(418)


class IndexOnly:
    def __index__(self):
        return 404


class StrSubclass(str):
    pass


# ---- HTTPException constructor ----------------------------------------------


def test_status_alone_gives_default_message():
    exc = HTTPException(404)
    assert exc.status == 404
    assert exc.args == ("HTTP exception",)
    assert str(exc) == "HTTP exception"


@pytest.mark.parametrize(
    "args, kwargs, status, message",
    [
        ((404, None), {}, 404, None),
        ((), {"status": 409, "message": "taken"}, 409, "taken"),
        ((409,), {"message": "taken"}, 409, "taken"),
        ((True,), {}, 1, "HTTP exception"),
        ((False,), {}, 0, "HTTP exception"),
        ((404.9,), {}, 404, "HTTP exception"),
        ((-404.9,), {}, -404, "HTTP exception"),
        ((-1,), {}, -1, "HTTP exception"),
        ((2**31 - 1,), {}, 2**31 - 1, "HTTP exception"),
        ((-(2**31),), {}, -(2**31), "HTTP exception"),
        ((IntSubclass(503),), {}, 503, "HTTP exception"),
    ],
)
def test_http_exception_values(args, kwargs, status, message):
    exc = HTTPException(*args, **kwargs)
    assert exc.status == status
    assert type(exc.status) is int
    assert exc.args == (message,)
    assert str(exc) == str(message)


@pytest.mark.parametrize(
    "args, kwargs, text",
    [
        ((), {}, "__init__() takes at least 1 positional argument (0 given)"),
        ((), {"message": "x"}, "__init__() takes at least 1 positional argument (0 given)"),
        ((1, "x", 3), {}, "__init__() takes at most 2 positional arguments (3 given)"),
        ((404,), {"code": 1}, "__init__() got an unexpected keyword argument 'code'"),
        ((404,), {"status": 1}, "__init__() got multiple values for keyword argument 'status'"),
        ((404, "x"), {"message": "y"},
         "__init__() got multiple values for keyword argument 'message'"),
        ((404,), {1: 2}, "__init__() keywords must be strings"),
    ],
)
def test_http_exception_binding_errors(args, kwargs, text):
    with pytest.raises(TypeError) as info:
        HTTPException(*args, **kwargs)
    assert str(info.value) == text


@pytest.mark.parametrize(
    "status, error, text",
    [
        ("404", TypeError, "an integer is required"),
        (b"404", TypeError, "an integer is required"),
        (None, TypeError, "an integer is required"),
        (IndexOnly(), TypeError, "an integer is required"),
        (IntReturningStr(), TypeError, "__int__ returned non-int (type str)"),
        (2**31, OverflowError, "value too large to convert to int"),
        (-(2**31) - 1, OverflowError, "value too large to convert to int"),
        (2**60 - 1, OverflowError, "value too large to convert to int"),
        (float(2**40), OverflowError, "value too large to convert to int"),
    ],
)
def test_status_conversion_errors(status, error, text):
    with pytest.raises(error) as info:
        HTTPException(status)
    assert str(info.value) == text


def test_huge_status_raises_interpreter_overflow():
    with pytest.raises(OverflowError) as info:
        HTTPException(2**70)
    assert str(info.value) != "value too large to convert to int"


def test_int_returning_int_subclass_warns_and_converts():
    with pytest.warns(DeprecationWarning) as record:
        exc = HTTPException(IntReturningSubclass())
    assert exc.status == 418
    assert str(record[0].message) == (
        "__int__ returned non-int (type IntSubclass).  The ability to return an instance of a "
        "strict subclass of int is deprecated, and may be removed in a future version of Python."
    )


def test_int_subclass_warning_as_error_fails_conversion():
    exc = HTTPException(500)
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        with pytest.raises(DeprecationWarning):
            exc.__init__(IntReturningSubclass(), "changed")
    assert exc.status == 500
    assert exc.args == ("HTTP exception",)


@pytest.mark.parametrize(
    "message, type_name",
    [(1, "int"), (b"x", "bytes"), (StrSubclass("x"), "StrSubclass"), (["x"], "list")],
)
def test_message_must_be_exact_str(message, type_name):
    with pytest.raises(TypeError) as info:
        HTTPException(404, message)
    assert str(info.value) == (
        f"Argument 'message' has incorrect type (expected str, got {type_name})"
    )


def test_failed_init_leaves_status_and_args():
    exc = HTTPException(404, "first")
    with pytest.raises(TypeError):
        exc.__init__("500", "second")
    with pytest.raises(TypeError):
        exc.__init__(500, 7)
    assert exc.status == 404
    assert exc.args == ("first",)


def test_failed_init_of_fresh_instance_keeps_constructor_args():
    exc = HTTPException.__new__(HTTPException, 1, 2)
    with pytest.raises(TypeError):
        exc.__init__(500, 7)
    assert exc.status == 0
    assert exc.args == (1, 2)


# ---- Subclasses with an optional message --------------------------------------


@pytest.mark.parametrize("cls, status, default", MESSAGE_CLASSES)
@pytest.mark.parametrize(
    "args, kwargs", [((), {}), ((None,), {}), (("",), {}), ((0,), {}), ((), {"message": None})]
)
def test_message_class_default_message(cls, status, default, args, kwargs):
    exc = cls(*args, **kwargs)
    assert exc.status == status
    assert exc.args == (default,)
    assert isinstance(exc, HTTPException)


@pytest.mark.parametrize("cls, status, default", MESSAGE_CLASSES)
def test_message_class_keeps_message(cls, status, default):
    assert cls("missing field").args == ("missing field",)
    exc = cls(message="gone")
    assert exc.args == ("gone",)
    assert exc.status == status


@pytest.mark.parametrize("cls, status, default", MESSAGE_CLASSES)
@pytest.mark.parametrize(
    "args, kwargs, error, text",
    [
        ((1,), {}, TypeError, "Argument 'message' has incorrect type (expected str, got int)"),
        ((StrSubclass("x"),), {}, TypeError,
         "Argument 'message' has incorrect type (expected str, got StrSubclass)"),
        (("a", "b"), {}, TypeError, "__init__() takes at most 1 positional argument (2 given)"),
        ((), {"status": 1}, TypeError, "__init__() got an unexpected keyword argument 'status'"),
        (("a",), {"message": "b"}, TypeError,
         "__init__() got multiple values for keyword argument 'message'"),
    ],
)
def test_message_class_errors(cls, status, default, args, kwargs, error, text):
    with pytest.raises(error) as info:
        cls(*args, **kwargs)
    assert str(info.value) == text


def test_message_truth_test_error_propagates():
    class Falsy:
        def __bool__(self):
            raise ZeroDivisionError("no truth")

    with pytest.raises(ZeroDivisionError, match="no truth"):
        NotFound(Falsy())


# ---- Subclasses without parameters --------------------------------------------


@pytest.mark.parametrize("cls, status, message", FIXED_CLASSES)
def test_fixed_class_values(cls, status, message):
    exc = cls()
    assert exc.status == status
    assert exc.args == (message,)


@pytest.mark.parametrize("cls, status, message", FIXED_CLASSES)
@pytest.mark.parametrize(
    "args, kwargs, text",
    [
        ((1,), {}, "__init__() takes exactly 0 positional arguments (1 given)"),
        ((), {"code": 1}, "__init__() got an unexpected keyword argument 'code'"),
        ((), {"message": "x"}, "__init__() got an unexpected keyword argument 'message'"),
    ],
)
def test_fixed_class_rejects_arguments(cls, status, message, args, kwargs, text):
    with pytest.raises(TypeError) as info:
        cls(*args, **kwargs)
    assert str(info.value) == text


# ---- status property ------------------------------------------------------------


@pytest.mark.parametrize("cls", ALL_CLASSES)
def test_status_property(cls):
    exc = cls.__new__(cls)
    assert exc.status == 0
    assert exc.args == ()
    exc.status = 503
    assert exc.status == 503
    exc.status = 404.5
    assert exc.status == 404
    with pytest.raises(TypeError, match="^an integer is required$"):
        exc.status = "500"
    with pytest.raises(OverflowError, match="^value too large to convert to int$"):
        exc.status = 2**31
    assert exc.status == 404
    with pytest.raises(NotImplementedError) as info:
        del exc.status
    assert str(info.value) == "__del__"
    assert exc.status == 404


# ---- The types themselves -------------------------------------------------------


@pytest.mark.parametrize("cls", ALL_CLASSES)
def test_type_identity(cls):
    name = cls.__name__
    assert getattr(vx, name) is cls
    assert cls.__module__ == "velmora.exceptions"
    assert cls.__qualname__ == name
    assert cls.__doc__ is None
    assert issubclass(cls, Exception)
    assert issubclass(cls, HTTPException)
    assert not hasattr(cls.__new__(cls), "message")


@pytest.mark.parametrize("cls", ALL_CLASSES)
def test_type_attributes_are_immutable(cls):
    with pytest.raises(TypeError):
        cls.extra = 1
    with pytest.raises(TypeError):
        cls.status = 1
    with pytest.raises(TypeError):
        del cls.status


def test_instances_take_arbitrary_attributes():
    exc = NotFound()
    exc.path = "/x"
    assert exc.__dict__ == {"path": "/x"}
    exc.add_note("note")
    assert exc.__notes__ == ["note"]


@pytest.mark.parametrize("cls", ALL_CLASSES)
def test_raise_and_catch(cls):
    exc = HTTPException(418, "teapot") if cls is HTTPException else cls()
    with pytest.raises(HTTPException) as info:
        raise exc
    assert info.value is exc
    assert info.value.__traceback__ is not None


# ---- Subclassing from Python ----------------------------------------------------


def test_python_subclass_of_http_exception():
    class TooManyRequests(HTTPException):
        def __init__(self, message=None):
            super().__init__(429, message or "Too many requests")

    exc = TooManyRequests()
    assert (exc.status, exc.args) == (429, ("Too many requests",))
    assert isinstance(exc, HTTPException)
    assert type(exc).__module__ == __name__


def test_python_subclass_inherits_native_init():
    class Missing(NotFound):
        pass

    exc = Missing("nothing")
    assert (exc.status, exc.args) == (404, ("nothing",))


def test_next_init_is_found_after_the_defining_class():
    # NotFound and RangeNotSatisfiable call the __init__ that follows them in
    # the instance's MRO, here a cooperative mixin placed before HTTPException.
    seen = []

    class Recording(HTTPException):
        def __init__(self, status, message="HTTP exception"):
            seen.append((status, message))
            super().__init__(status, message)

    class RecordedNotFound(NotFound, Recording):
        pass

    class RecordedRange(RangeNotSatisfiable, Recording):
        pass

    exc = RecordedNotFound("where")
    assert exc.status == 404 and exc.args == ("where",)
    exc = RecordedRange()
    assert exc.status == 416 and exc.args == ("Range not satisfiable",)
    assert seen == [(404, "where"), (416, "Range not satisfiable")]


def test_failing_next_init_leaves_status():
    class Refusing(HTTPException):
        def __init__(self, *args):
            raise RuntimeError("refused")

    class RefusedNotFound(NotFound, Refusing):
        pass

    exc = RefusedNotFound.__new__(RefusedNotFound)
    with pytest.raises(RuntimeError, match="refused"):
        exc.__init__()
    assert exc.status == 0


def test_http_exception_calls_next_init_after_itself():
    class Base(Exception):
        def __init__(self, *args):
            self.base_args = args
            super().__init__(*args)

    class Combined(HTTPException, Base):
        pass

    exc = Combined(400, "combined")
    assert exc.base_args == ("combined",)
    assert exc.status == 400

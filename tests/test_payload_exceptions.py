"""HTTP exceptions with a payload and the framework's own errors."""

import gc
import weakref

import pytest

import velmora.exceptions as vx
from velmora.exceptions import (
    BadRequest,
    BadRequestFormat,
    FailedRequestError,
    HTTPException,
    InternalServerError,
    InvalidArgument,
    InvalidExceptionHandler,
    InvalidOperation,
    MessageAborted,
    UnprocessableEntity,
)

ABORTED_TEXT = "The message was aborted before the client sent its whole content."
HANDLER_TEXT = (
    "Invalid Exception handler. Exception handlers must be asynchronous functions with "
    "signature: async def handler(app: Application, request: Request, exc: Exception)"
)
FAILED_PREFIX = "The response status code does not indicate success: "

MODULE_ORDER = [
    "MessageAborted", "HTTPException", "BadRequest", "BadRequestFormat", "NotFound",
    "InternalServerError", "InvalidArgument", "InvalidOperation", "UnsupportedMediaType",
    "UnprocessableEntity", "FailedRequestError", "InvalidExceptionHandler", "Unauthorized",
    "Forbidden", "Conflict", "RangeNotSatisfiable", "NotImplementedByServer",
]  # fmt: skip

PAYLOAD_CLASSES = [BadRequestFormat, InternalServerError, UnprocessableEntity, FailedRequestError]
FRAMEWORK_ERRORS = [MessageAborted, InvalidArgument, InvalidOperation, InvalidExceptionHandler]


class StrSubclass(str):
    pass


class FloatStatus:
    def __int__(self):
        return 502


def test_module_binds_types_in_body_order():
    names = [name for name, value in vars(vx).items() if isinstance(value, type)]
    assert names == MODULE_ORDER


@pytest.mark.parametrize("cls", PAYLOAD_CLASSES + FRAMEWORK_ERRORS)
def test_type_identity(cls):
    assert cls.__module__ == "velmora.exceptions"
    assert cls.__qualname__ == cls.__name__
    assert cls.__doc__ is None
    assert issubclass(cls, Exception)
    with pytest.raises(TypeError):
        cls.extra = 1


@pytest.mark.parametrize(
    "cls, bases",
    [
        (BadRequestFormat, (BadRequest, HTTPException)),
        (InternalServerError, (HTTPException,)),
        (UnprocessableEntity, (HTTPException,)),
        (FailedRequestError, (HTTPException,)),
    ],
)
def test_payload_class_bases(cls, bases):
    assert cls.__base__ is bases[0]
    for base in bases:
        assert issubclass(cls, base)


@pytest.mark.parametrize("cls", FRAMEWORK_ERRORS)
def test_framework_errors_are_not_http(cls):
    assert cls.__base__ is Exception
    assert not issubclass(cls, HTTPException)
    assert not hasattr(cls.__new__(cls), "status")


# ---- Constructors -------------------------------------------------------------


@pytest.mark.parametrize(
    "make, status, args, field, payload",
    [
        (lambda: BadRequestFormat(None), 400, ("Bad request",), "inner_exception", None),
        (lambda: BadRequestFormat(""), 400, ("Bad request",), "inner_exception", None),
        (lambda: BadRequestFormat("bad json", KeyError("k")), 400, ("bad json",),
         "inner_exception", KeyError),
        (lambda: BadRequestFormat(message="m", inner_exception=3), 400, ("m",),
         "inner_exception", 3),
        (lambda: InternalServerError(), 500, ("Internal server error",), "source_error", None),
        (lambda: InternalServerError(ValueError("v")), 500, ("Internal server error",),
         "source_error", ValueError),
        (lambda: InternalServerError(source_error=None), 500, ("Internal server error",),
         "source_error", None),
        (lambda: UnprocessableEntity(), 422, ("Unprocessable entity",), "details", None),
        (lambda: UnprocessableEntity(""), 422, ("Unprocessable entity",), "details", None),
        (lambda: UnprocessableEntity(details=[1]), 422, ("Unprocessable entity",), "details",
         [1]),
        (lambda: UnprocessableEntity("invalid", {"a": 1}), 422, ("invalid",), "details",
         {"a": 1}),
        (lambda: FailedRequestError(404, "not here"), 404,
         (FAILED_PREFIX + "404. Response body: not here",), "data", "not here"),
        (lambda: FailedRequestError(-5, None), -5, (FAILED_PREFIX + "-5. Response body: None",),
         "data", None),
        (lambda: FailedRequestError(True, ""), 1, (FAILED_PREFIX + "1. Response body: ",),
         "data", ""),
        (lambda: FailedRequestError(404.7, "x"), 404, (FAILED_PREFIX + "404. Response body: x",),
         "data", "x"),
        (lambda: FailedRequestError(data="d", status=FloatStatus()), 502,
         (FAILED_PREFIX + "502. Response body: d",), "data", "d"),
        (lambda: FailedRequestError(-(2**31), "x"), -(2**31),
         (FAILED_PREFIX + "-2147483648. Response body: x",), "data", "x"),
    ],
)  # fmt: skip
def test_payload_class_values(make, status, args, field, payload):
    exc = make()
    assert exc.status == status
    assert exc.args == args
    value = getattr(exc, field)
    if isinstance(payload, type):
        assert type(value) is payload
    else:
        assert value == payload


def test_source_error_keeps_the_instance():
    error = ValueError("boom")
    assert InternalServerError(error).source_error is error


@pytest.mark.parametrize(
    "make, error, text",
    [
        (lambda: BadRequestFormat(), TypeError,
         "__init__() takes at least 1 positional argument (0 given)"),
        (lambda: BadRequestFormat(inner_exception=1), TypeError,
         "__init__() takes at least 1 positional argument (0 given)"),
        (lambda: BadRequestFormat("a", 1, 2), TypeError,
         "__init__() takes at most 2 positional arguments (3 given)"),
        (lambda: BadRequestFormat(1), TypeError,
         "Argument 'message' has incorrect type (expected str, got int)"),
        (lambda: BadRequestFormat(StrSubclass("x")), TypeError,
         "Argument 'message' has incorrect type (expected str, got StrSubclass)"),
        (lambda: BadRequestFormat("a", message="b"), TypeError,
         "__init__() got multiple values for keyword argument 'message'"),
        (lambda: InternalServerError(ValueError(), 1), TypeError,
         "__init__() takes at most 1 positional argument (2 given)"),
        (lambda: InternalServerError("boom"), TypeError,
         "Argument 'source_error' has incorrect type (expected Exception, got str)"),
        (lambda: InternalServerError(KeyboardInterrupt()), TypeError,
         "Argument 'source_error' has incorrect type (expected Exception, got KeyboardInterrupt)"),
        (lambda: InternalServerError(ValueError), TypeError,
         "Argument 'source_error' has incorrect type (expected Exception, got type)"),
        (lambda: InternalServerError(message="x"), TypeError,
         "__init__() got an unexpected keyword argument 'message'"),
        (lambda: UnprocessableEntity("a", 1, 2), TypeError,
         "__init__() takes at most 2 positional arguments (3 given)"),
        (lambda: UnprocessableEntity(7), TypeError,
         "Argument 'message' has incorrect type (expected str, got int)"),
        (lambda: UnprocessableEntity(status=1), TypeError,
         "__init__() got an unexpected keyword argument 'status'"),
        (lambda: FailedRequestError(404), TypeError,
         "__init__() takes exactly 2 positional arguments (1 given)"),
        (lambda: FailedRequestError(status=404), TypeError,
         "__init__() takes exactly 2 positional arguments (1 given)"),
        (lambda: FailedRequestError(data="x"), TypeError,
         "__init__() takes exactly 2 positional arguments (0 given)"),
        (lambda: FailedRequestError(), TypeError,
         "__init__() takes exactly 2 positional arguments (0 given)"),
        (lambda: FailedRequestError(1, "x", 3), TypeError,
         "__init__() takes exactly 2 positional arguments (3 given)"),
        (lambda: FailedRequestError(404, b"x"), TypeError,
         "Argument 'data' has incorrect type (expected str, got bytes)"),
        (lambda: FailedRequestError(404, StrSubclass("x")), TypeError,
         "Argument 'data' has incorrect type (expected str, got StrSubclass)"),
        # The status is converted before data is examined.
        (lambda: FailedRequestError("404", b"x"), TypeError, "an integer is required"),
        (lambda: FailedRequestError(2**31, b"x"), OverflowError,
         "value too large to convert to int"),
        (lambda: FailedRequestError(404, "x", **{1: 2}), TypeError,
         "__init__() keywords must be strings"),
    ],
)  # fmt: skip
def test_payload_class_errors(make, error, text):
    with pytest.raises(error) as info:
        make()
    assert str(info.value) == text


def test_unprocessable_truth_test_error_propagates():
    class Falsy:
        def __bool__(self):
            raise ZeroDivisionError("no truth")

    with pytest.raises(ZeroDivisionError, match="no truth"):
        UnprocessableEntity(Falsy(), details=1)


@pytest.mark.parametrize(
    "make, args",
    [
        (lambda: MessageAborted(), (ABORTED_TEXT,)),
        (lambda: InvalidExceptionHandler(), (HANDLER_TEXT,)),
        (lambda: InvalidArgument("bad"), ("bad",)),
        (lambda: InvalidArgument(None), (None,)),
        (lambda: InvalidArgument(message="kw"), ("kw",)),
        (lambda: InvalidOperation("op"), ("op",)),
        (lambda: InvalidOperation(None, inner_exception=1), (None,)),
    ],
)
def test_framework_error_values(make, args):
    exc = make()
    assert exc.args == args
    assert str(exc) == str(args[0])


@pytest.mark.parametrize(
    "make, text",
    [
        (lambda: MessageAborted(1), "__init__() takes exactly 0 positional arguments (1 given)"),
        (lambda: MessageAborted(x=1), "__init__() got an unexpected keyword argument 'x'"),
        (lambda: InvalidExceptionHandler("h"),
         "__init__() takes exactly 0 positional arguments (1 given)"),
        (lambda: InvalidExceptionHandler(message="h"),
         "__init__() got an unexpected keyword argument 'message'"),
        (lambda: InvalidArgument(), "__init__() takes exactly 1 positional argument (0 given)"),
        (lambda: InvalidArgument("a", "b"),
         "__init__() takes exactly 1 positional argument (2 given)"),
        (lambda: InvalidArgument("a", inner_exception=1),
         "__init__() got an unexpected keyword argument 'inner_exception'"),
        (lambda: InvalidArgument(b"a"),
         "Argument 'message' has incorrect type (expected str, got bytes)"),
        (lambda: InvalidOperation(), "__init__() takes at least 1 positional argument (0 given)"),
        (lambda: InvalidOperation("a", 1, 2),
         "__init__() takes at most 2 positional arguments (3 given)"),
        (lambda: InvalidOperation(StrSubclass("a")),
         "Argument 'message' has incorrect type (expected str, got StrSubclass)"),
        (lambda: InvalidOperation("a", message="b"),
         "__init__() got multiple values for keyword argument 'message'"),
    ],
)  # fmt: skip
def test_framework_error_errors(make, text):
    with pytest.raises(TypeError) as info:
        make()
    assert str(info.value) == text


def test_invalid_operation_inner_exception_is_instance_attribute():
    exc = InvalidOperation("only message")
    assert exc.__dict__ == {"inner_exception": None}
    cause = OSError("disk")
    exc = InvalidOperation("with inner", cause)
    assert exc.inner_exception is cause
    exc.inner_exception = 2
    assert exc.inner_exception == 2
    del exc.inner_exception
    assert not hasattr(exc, "inner_exception")
    assert not hasattr(InvalidOperation.__new__(InvalidOperation), "inner_exception")


# ---- Properties ---------------------------------------------------------------


@pytest.mark.parametrize(
    "cls, field", [(BadRequestFormat, "inner_exception"), (UnprocessableEntity, "details")]
)
def test_writable_payload_property(cls, field):
    exc = cls.__new__(cls)
    assert getattr(exc, field) is None
    value = object()
    setattr(exc, field, value)
    assert getattr(exc, field) is value
    delattr(exc, field)
    assert getattr(exc, field) is None
    assert field not in exc.__dict__


def test_source_error_is_read_only():
    error = ValueError()
    exc = InternalServerError(error)
    with pytest.raises(AttributeError):
        exc.source_error = None
    with pytest.raises(AttributeError):
        del exc.source_error
    assert exc.source_error is error


def test_data_property_is_validated():
    exc = FailedRequestError(500, "body")
    exc.data = "other"
    assert exc.data == "other"
    exc.data = None
    assert exc.data is None
    exc.data = "again"
    for bad, name in [(b"x", "bytes"), (StrSubclass("x"), "StrSubclass"), (1, "int")]:
        with pytest.raises(TypeError) as info:
            exc.data = bad
        assert str(info.value) == f"Expected str, got {name}"
        assert exc.data == "again"
    del exc.data
    assert exc.data is None
    # The message is composed once, at construction.
    assert exc.args == (FAILED_PREFIX + "500. Response body: body",)


@pytest.mark.parametrize("cls", PAYLOAD_CLASSES)
def test_new_without_init_sets_payload_to_none(cls):
    exc = cls.__new__(cls, "a", 1)
    assert exc.args == ("a", 1)
    assert exc.status == 0
    field = {BadRequestFormat: "inner_exception", InternalServerError: "source_error",
             UnprocessableEntity: "details", FailedRequestError: "data"}[cls]  # fmt: skip
    assert getattr(exc, field) is None


# ---- Failing checks leave the payload as it was -------------------------------


@pytest.mark.parametrize(
    "make, field, reinit, error",
    [
        (lambda: BadRequestFormat("m", "old"), "inner_exception",
         lambda e: e.__init__(1, "new"), TypeError),
        (lambda: BadRequestFormat("m", "old"), "inner_exception",
         lambda e: e.__init__("m", "new", "extra"), TypeError),
        (lambda: InternalServerError(ValueError("old")), "source_error",
         lambda e: e.__init__("new"), TypeError),
        (lambda: UnprocessableEntity("m", "old"), "details",
         lambda e: e.__init__(5, "new"), TypeError),
        (lambda: FailedRequestError(404, "old"), "data",
         lambda e: e.__init__(404, b"new"), TypeError),
        (lambda: FailedRequestError(404, "old"), "data",
         lambda e: e.__init__("404", "new"), TypeError),
        (lambda: FailedRequestError(404, "old"), "data",
         lambda e: e.__init__(2**40, "new"), OverflowError),
    ],
)  # fmt: skip
def test_failing_init_keeps_payload(make, field, reinit, error):
    exc = make()
    before = getattr(exc, field)
    args = exc.args
    status = exc.status
    with pytest.raises(error):
        reinit(exc)
    assert getattr(exc, field) is before
    assert exc.args == args
    assert exc.status == status


class Refusing(HTTPException):
    def __init__(self, *args):
        raise RuntimeError("refused")


@pytest.mark.parametrize(
    "cls, field, args",
    [
        (BadRequestFormat, "inner_exception", ("m", "new")),
        (InternalServerError, "source_error", (ValueError(),)),
        (UnprocessableEntity, "details", ("m", "new")),
        (FailedRequestError, "data", (404, "new")),
    ],
)
def test_failing_base_init_keeps_payload(cls, field, args):
    refused = type("Refused" + cls.__name__, (cls, Refusing), {})
    exc = refused.__new__(refused)
    with pytest.raises(RuntimeError, match="refused"):
        exc.__init__(*args)
    assert getattr(exc, field) is None


def test_failing_base_init_keeps_invalid_operation_attribute():
    class Base(Exception):
        def __init__(self, *args):
            raise RuntimeError("refused")

    refused = type("RefusedOperation", (InvalidOperation, Base), {})
    exc = refused.__new__(refused)
    with pytest.raises(RuntimeError):
        exc.__init__("m", "inner")
    assert "inner_exception" not in exc.__dict__


# ---- Subclassing and the next __init__ -----------------------------------------


def test_next_init_after_payload_class_is_called():
    seen = []

    class Recording(HTTPException):
        def __init__(self, *args):
            seen.append(args)
            super().__init__(*args)

    class Recorded(UnprocessableEntity, Recording):
        pass

    class RecordedFailure(FailedRequestError, Recording):
        pass

    class RecordedInternal(InternalServerError, Recording):
        pass

    exc = Recorded(details="d")
    assert (exc.status, exc.args, exc.details) == (422, ("Unprocessable entity",), "d")
    exc = RecordedFailure(True, "b")
    assert exc.status == 1
    exc = RecordedInternal()
    assert exc.status == 500
    assert seen == [
        (422, "Unprocessable entity"),
        (1, FAILED_PREFIX + "1. Response body: b"),
        (500, "Internal server error"),
    ]


def test_bad_request_format_goes_through_bad_request():
    class Recording(BadRequest):
        def __init__(self, *args):
            self.recorded = args
            super().__init__(*args)

    class Recorded(BadRequestFormat, Recording):
        pass

    exc = Recorded("", "inner")
    assert exc.recorded == ("",)
    assert (exc.status, exc.args, exc.inner_exception) == (400, ("Bad request",), "inner")


@pytest.mark.parametrize(
    "cls, args",
    [(MessageAborted, ()), (InvalidExceptionHandler, ()), (InvalidArgument, ("a",)),
     (InvalidOperation, ("a",))],
)  # fmt: skip
def test_python_subclass_of_framework_error(cls, args):
    sub = type("Sub" + cls.__name__, (cls,), {"extra": 1})
    exc = sub(*args)
    assert isinstance(exc, cls)
    assert exc.args == cls(*args).args
    with pytest.raises(cls):
        raise exc


# ---- Garbage collection ---------------------------------------------------------


class Marker:
    pass


def _make_cycle(kind):
    # Returns a weak reference to an object that only the cycle keeps alive.
    marker = Marker()
    if kind == "inner_exception":
        exc = BadRequestFormat("m")
        exc.inner_exception = [exc, marker]
    elif kind == "source_error":
        # The source error refers back to the exception that wraps it.
        source = ValueError(marker)
        exc = InternalServerError(source)
        source.wrapper = exc
    elif kind == "details":
        exc = UnprocessableEntity(details={"self": None, "marker": marker})
        exc.details["self"] = exc
    elif kind == "subclass":
        sub = type("SubDetails", (UnprocessableEntity,), {})
        exc = sub(details=[marker])
        exc.details.append(exc)
    elif kind == "between_payloads":
        outer = BadRequestFormat("outer")
        inner = InternalServerError(ValueError(marker))
        outer.inner_exception = inner
        inner.source_error.outer = outer
        exc = outer
    else:  # raised and caught: the traceback keeps the frame that holds the exception
        exc = UnprocessableEntity(details=marker)
        try:
            raise exc
        except UnprocessableEntity as caught:
            exc.details = [caught.__traceback__, marker]
    return weakref.ref(marker)


@pytest.mark.parametrize(
    "kind",
    ["inner_exception", "source_error", "details", "subclass", "between_payloads", "raised"],
)
def test_collector_frees_cycle_through_payload(kind):
    gc.collect()
    # Exceptions take no weak references; the marker lives only as long as the cycle.
    gc.disable()
    try:
        marker_ref = _make_cycle(kind)
        assert marker_ref() is not None
    finally:
        gc.enable()
    gc.collect()
    assert marker_ref() is None


@pytest.mark.parametrize(
    "make",
    [
        lambda value: BadRequestFormat("m", value),
        lambda value: InternalServerError(value),
        lambda value: UnprocessableEntity(details=value),
    ],
)
def test_payload_is_visited_by_the_collector(make):
    value = ValueError()
    assert any(ref is value for ref in gc.get_referents(make(value)))


def test_failed_request_data_is_not_visited():
    exc = FailedRequestError(500, "body")
    assert "body" not in gc.get_referents(exc)
    assert gc.is_tracked(exc)


@pytest.mark.parametrize(
    "wrap",
    [
        lambda inner: BadRequestFormat("m", inner),
        lambda inner: InternalServerError(ValueError(inner)),
        lambda inner: UnprocessableEntity(details=[inner]),
    ],
)
def test_releasing_a_long_chain_does_not_exhaust_the_stack(wrap):
    chain = None
    for _ in range(100_000):
        chain = wrap(chain)
    del chain

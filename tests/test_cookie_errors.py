"""CookieError and CookieValueExceedsMaximumLength."""

import pytest

from velmora.cookies import CookieError, CookieValueExceedsMaximumLength

MAX_LENGTH_MESSAGE = (
    "The length of the cookie value exceeds the maximum length of 4096 bytes, and it would be "
    "ignored or truncated by clients. See: "
)


def test_hierarchy_and_names():
    assert CookieError.__bases__ == (Exception,)
    assert CookieValueExceedsMaximumLength.__bases__ == (CookieError,)
    for error in (CookieError, CookieValueExceedsMaximumLength):
        assert error.__module__ == "velmora.cookies"
        assert error.__qualname__ == error.__name__
        assert error.__doc__ is None


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [(("x",), {}, ("x",)), ((), {"message": "y"}, ("y",)), ((None,), {}, (None,))],
)
def test_cookie_error_message(args, kwargs, expected):
    error = CookieError(*args, **kwargs)
    assert error.args == expected
    if expected[0] is not None:
        assert str(error) == expected[0]


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "__init__() takes exactly 1 positional argument (0 given)"),
        (("a", "b"), {}, "__init__() takes exactly 1 positional argument (2 given)"),
        ((), {"text": "x"}, "__init__() takes exactly 1 positional argument (0 given)"),
        (("x",), {"text": "x"}, "__init__() got an unexpected keyword argument 'text'"),
        ((b"x",), {}, "Argument 'message' has incorrect type (expected str, got bytes)"),
        ((1,), {}, "Argument 'message' has incorrect type (expected str, got int)"),
    ],
)
def test_cookie_error_refuses(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        CookieError(*args, **kwargs)
    assert str(info.value) == message


def test_value_too_long_message():
    error = CookieValueExceedsMaximumLength()
    assert len(error.args) == 1
    message = error.args[0]
    assert message.startswith(MAX_LENGTH_MESSAGE)
    assert "rfc6265" in message and message.endswith("section-6.1")
    assert str(error) == message


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        (("x",), {}, "__init__() takes exactly 0 positional arguments (1 given)"),
        ((), {"message": "x"}, "__init__() got an unexpected keyword argument 'message'"),
    ],
)
def test_value_too_long_takes_no_arguments(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        CookieValueExceedsMaximumLength(*args, **kwargs)
    assert str(info.value) == message


def test_subclasses_run_the_inherited_constructors():
    class Specific(CookieError):
        pass

    class Longer(CookieValueExceedsMaximumLength):
        pass

    assert Specific("m").args == ("m",)
    assert Longer().args[0].startswith(MAX_LENGTH_MESSAGE)
    with pytest.raises(CookieError):
        raise Longer()

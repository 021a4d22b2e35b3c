"""Everyday use of velmora, checked with `mypy --strict` and run as a script.

The `refused_*` functions hold calls that the stubs must refuse; they are
never run. With --strict (warn_unused_ignores) an ignore that is not needed
is an error, so each of them proves one refusal.
"""

import pickle
from datetime import datetime
from typing import Any, assert_type

from velmora import get_include
from velmora.cookies import (
    Cookie,
    CookieError,
    CookieSameSiteMode,
    CookieValueExceedsMaximumLength,
    datetime_from_cookie_format,
    datetime_to_cookie_format,
    parse_cookie,
    quote,
    unquote,
)
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
    NotFound,
    NotImplementedByServer,
    RangeNotSatisfiable,
    UnprocessableEntity,
)


def status_of(exc: Exception) -> int:
    if isinstance(exc, HTTPException):
        return exc.status
    return 500


def exceptions() -> None:
    try:
        raise NotFound("no such user")
    except HTTPException as exc:
        assert_type(exc.status, int)
        assert str(exc) == "no such user" and exc.status == 404
    teapot = HTTPException(418, "teapot")
    teapot.status = 503
    assert status_of(teapot) == 503 and status_of(KeyError()) == 500
    assert BadRequest().args == ("Bad request",)
    assert RangeNotSatisfiable().status == 416 and NotImplementedByServer().status == 501

    failure = BadRequestFormat("bad JSON", inner_exception=ValueError("line 1"))
    assert_type(failure.inner_exception, BaseException | None)
    del failure.inner_exception
    source = InternalServerError(KeyError("k")).source_error
    assert_type(source, Exception | None)
    entity = UnprocessableEntity(details={"field": "required"})
    assert_type(entity.details, Any)
    failed = FailedRequestError(502, "upstream down")
    assert_type(failed.data, str | None)
    operation = InvalidOperation("closed", inner_exception=None)
    assert_type(operation.inner_exception, BaseException | None)
    others: list[Exception] = [MessageAborted(), InvalidArgument(None), InvalidExceptionHandler()]
    assert len(others) == 3


def refused_exception_calls(failed: FailedRequestError) -> None:
    entity = UnprocessableEntity()
    HTTPException()  # type: ignore[call-arg]
    HTTPException("404")  # type: ignore[arg-type]
    NotFound(message=1)  # type: ignore[arg-type]
    RangeNotSatisfiable("x")  # type: ignore[arg-type]
    InternalServerError("text")  # type: ignore[arg-type]
    FailedRequestError(500, b"body")  # type: ignore[arg-type]
    failed.data = b"body"  # type: ignore[assignment]
    entity.source_error  # type: ignore[attr-defined]
    InternalServerError().source_error = None  # type: ignore[misc]


def cookies() -> None:
    cookie = Cookie("session", "abc123", path="/", http_only=True, max_age=3600)
    assert_type(cookie.name, str)
    assert_type(cookie.value, str | None)
    assert_type(cookie.expires, datetime | None)
    assert_type(cookie.domain, str | None)
    assert_type(cookie.http_only, bool)
    assert_type(cookie.max_age, int)
    assert_type(cookie.same_site, CookieSameSiteMode)
    cookie.same_site = CookieSameSiteMode.STRICT
    cookie.expires = datetime(2030, 1, 1)
    del cookie.domain
    copy = cookie.clone()
    assert_type(copy, Cookie)
    assert copy == cookie and cookie == "abc123" and cookie == b"abc123"

    parsed = parse_cookie(b"id=a3fWa; Max-Age=60; SameSite=Lax")
    assert parsed.same_site is CookieSameSiteMode.LAX and parsed.max_age == 60
    text = datetime_to_cookie_format(datetime(2015, 10, 21, 7, 28))
    assert_type(text, bytes)
    assert_type(datetime_from_cookie_format(text), datetime)
    assert unquote(quote("a b")) == "a b"
    assert pickle.loads(pickle.dumps(cookie)) == cookie
    assert_type(get_include(), str)

    try:
        Cookie("big", "x" * 5000)
    except CookieValueExceedsMaximumLength as error:
        assert isinstance(error, CookieError)


def refused_cookie_calls(cookie: Cookie) -> None:
    Cookie(b"name", "v")  # type: ignore[arg-type]
    Cookie("n", "v", expires="2030")  # type: ignore[arg-type]
    Cookie("n", "v", colour="blue")  # type: ignore[call-arg]
    cookie.name = None  # type: ignore[assignment]
    parse_cookie("a=b")  # type: ignore[arg-type]
    datetime_to_cookie_format(b"x")  # type: ignore[arg-type]
    CookieValueExceedsMaximumLength("x")  # type: ignore[arg-type]



if __name__ == "__main__":
    exceptions()
    cookies()

"""Constructing, raising and catching every exception type leaks nothing."""

import gc
import sys

import pytest

from velmora.exceptions import (
    BadRequest,
    BadRequestFormat,
    Conflict,
    FailedRequestError,
    Forbidden,
    HTTPException,
    InternalServerError,
    InvalidArgument,
    InvalidExceptionHandler,
    InvalidOperation,
    MessageAborted,
    NotFound,
    NotImplementedByServer,
    RangeNotSatisfiable,
    Unauthorized,
    UnprocessableEntity,
    UnsupportedMediaType,
)

ROUNDS = 100_000
TOLERANCE = 100  # blocks; interpreter caches settle within a few dozen

# Each factory takes the round number, so that payloads are fresh objects
# that only the exception holds.
FACTORIES = {
    MessageAborted: lambda i: MessageAborted(),
    HTTPException: lambda i: HTTPException(400 + i % 100, "teapot"),
    BadRequest: lambda i: BadRequest(message="bad"),
    BadRequestFormat: lambda i: BadRequestFormat("bad json", ValueError(i)),
    NotFound: lambda i: NotFound(),
    InternalServerError: lambda i: InternalServerError(KeyError(i)),
    InvalidArgument: lambda i: InvalidArgument("argument"),
    InvalidOperation: lambda i: InvalidOperation("operation", [i]),
    UnsupportedMediaType: lambda i: UnsupportedMediaType("media"),
    UnprocessableEntity: lambda i: UnprocessableEntity("invalid", {"field": [i]}),
    FailedRequestError: lambda i: FailedRequestError(-i, str(i)),
    InvalidExceptionHandler: lambda i: InvalidExceptionHandler(),
    Unauthorized: lambda i: Unauthorized(),
    Forbidden: lambda i: Forbidden(None),
    Conflict: lambda i: Conflict(""),
    RangeNotSatisfiable: lambda i: RangeNotSatisfiable(),
    NotImplementedByServer: lambda i: NotImplementedByServer(),
}

# Constructors that fail after binding their arguments, for the error paths.
FAILING = {
    HTTPException: lambda i: HTTPException("400", "x"),
    BadRequestFormat: lambda i: BadRequestFormat(i, [i]),
    InternalServerError: lambda i: InternalServerError(str(i)),
    UnprocessableEntity: lambda i: UnprocessableEntity(i + 1, [i]),
    FailedRequestError: lambda i: FailedRequestError(i, bytes(3)),
    InvalidOperation: lambda i: InvalidOperation(b"x", [i]),
    MessageAborted: lambda i: MessageAborted(x=i),
}


def run_rounds(cls, make, rounds):
    for i in range(rounds):
        try:
            raise make(i)
        except cls as caught:
            caught.args  # noqa: B018


def run_failing(make, rounds):
    for i in range(rounds):
        try:
            make(i)
        except (TypeError, OverflowError):
            pass


def allocated_after(run):
    gc.collect()
    before = sys.getallocatedblocks()
    run()
    gc.collect()
    return sys.getallocatedblocks() - before


@pytest.mark.parametrize("cls", list(FACTORIES), ids=lambda cls: cls.__name__)
def test_raise_and_catch_leaves_blocks_flat(cls):
    make = FACTORIES[cls]
    run_rounds(cls, make, 1000)  # warm interpreter caches
    grown = allocated_after(lambda: run_rounds(cls, make, ROUNDS))
    assert grown < TOLERANCE


@pytest.mark.parametrize("cls", list(FAILING), ids=lambda cls: cls.__name__)
def test_failing_constructor_leaves_blocks_flat(cls):
    make = FAILING[cls]
    run_failing(make, 1000)
    grown = allocated_after(lambda: run_failing(make, ROUNDS // 4))
    assert grown < TOLERANCE


def test_payload_cycles_are_collected_without_growth():
    def cycles():
        for i in range(ROUNDS // 4):
            exc = UnprocessableEntity(details=[i])
            exc.details.append(exc)
            inner = BadRequestFormat("m")
            inner.inner_exception = InternalServerError(ValueError(inner))

    cycles()
    grown = allocated_after(cycles)
    assert grown < TOLERANCE

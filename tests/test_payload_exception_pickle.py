"""Pickling the payload and framework exception types through the exception protocol."""

import copy
import pickle

import pytest

import velmora.exceptions as exc


@pytest.mark.parametrize(
    "make, status, payload",
    [
        (lambda: exc.BadRequestFormat("m", ValueError("v")), 400, ("inner_exception", None)),
        (lambda: exc.UnprocessableEntity("m", {"a": 1}), 422, ("details", None)),
        (lambda: exc.InvalidOperation("m", 3), None, ("inner_exception", 3)),
        (lambda: exc.InvalidArgument("m"), None, None),
    ],
)
@pytest.mark.parametrize("roundtrip", [lambda x: pickle.loads(pickle.dumps(x)), copy.copy])
def test_round_trips_keep_message_but_not_record_payloads(make, status, payload, roundtrip):
    original = make()
    loaded = roundtrip(original)
    assert type(loaded) is type(original)
    assert loaded.args == original.args
    if status is not None:
        assert loaded.status == status
    if payload is not None:
        name, value = payload
        assert getattr(loaded, name) == value


@pytest.mark.parametrize(
    "make",
    [
        lambda: exc.FailedRequestError(404, "x"),
        lambda: exc.InternalServerError(),
        lambda: exc.MessageAborted(),
        lambda: exc.InvalidExceptionHandler(),
    ],
)
def test_loading_fails_with_the_constructor_error(make):
    with pytest.raises(TypeError):
        pickle.loads(pickle.dumps(make()))


def test_state_methods_of_a_payload_type():
    e = exc.BadRequestFormat("m", 5)
    reconstructor, (cls, checksum, state), items = e.__reduce_tavrin__()
    assert (reconstructor, cls, checksum, state, items) == (
        exc.__pyx_unpickle_BadRequestFormat, exc.BadRequestFormat, 0x819E913, None, (5, 400)
    )
    rebuilt = exc.__pyx_unpickle_BadRequestFormat(
        exc.BadRequestFormat, 0x819E913, (None, 400, {"hint": 1})
    )
    assert (rebuilt.status, rebuilt.hint, rebuilt.inner_exception, rebuilt.args) == (
        400, 1, None, ()
    )
    with pytest.raises(TypeError, match="Expected str, got bytes"):
        exc.__pyx_unpickle_FailedRequestError(exc.FailedRequestError, 0x161825A, (b"x", 1))

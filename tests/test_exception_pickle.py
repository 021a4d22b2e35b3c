"""Pickle states of the velmora.exceptions types: the state methods and
reconstructors, and what pickle and copy do through the exception protocol."""

import copy
import gc
import hashlib
import importlib
import io
import pickle

import pytest

import velmora.exceptions as exc

STATUS_SUMS = (0x73C163, 0x48A3661, 0x9ACB445)

# Every pickled type of both modules: member names in member order and the
# checksums (SHA-256, SHA-1, MD5) that stored pickles carry.
CHECKSUM_TABLE = [
    ("exceptions", "HTTPException", ["status"], 0x73C163, 0x48A3661, 0x9ACB445),
    ("exceptions", "BadRequest", ["status"], 0x73C163, 0x48A3661, 0x9ACB445),
    ("exceptions", "NotFound", ["status"], 0x73C163, 0x48A3661, 0x9ACB445),
    ("exceptions", "Unauthorized", ["status"], 0x73C163, 0x48A3661, 0x9ACB445),
    ("exceptions", "Forbidden", ["status"], 0x73C163, 0x48A3661, 0x9ACB445),
    ("exceptions", "Conflict", ["status"], 0x73C163, 0x48A3661, 0x9ACB445),
    ("exceptions", "UnsupportedMediaType", ["status"], 0x73C163, 0x48A3661, 0x9ACB445),
    ("exceptions", "RangeNotSatisfiable", ["status"], 0x73C163, 0x48A3661, 0x9ACB445),
    ("exceptions", "NotImplementedByServer", ["status"], 0x73C163, 0x48A3661, 0x9ACB445),
    ("exceptions", "BadRequestFormat", ["inner_exception", "status"],
     0x819E913, 0x7EF201E, 0xE127518),
    ("exceptions", "InternalServerError", ["source_error", "status"],
     0xD4B4C28, 0x35CFD7E, 0xA69C1ED),
    ("exceptions", "UnprocessableEntity", ["details", "status"], 0xE1AC2B, 0x5B96829, 0x21D6875),
    ("exceptions", "FailedRequestError", ["data", "status"], 0x161825A, 0xDFA3343, 0xD38EC95),
    ("exceptions", "MessageAborted", [], 0xE3B0C44, 0xDA39A3E, 0xD41D8CD),
    ("exceptions", "InvalidArgument", [], 0xE3B0C44, 0xDA39A3E, 0xD41D8CD),
    ("exceptions", "InvalidOperation", [], 0xE3B0C44, 0xDA39A3E, 0xD41D8CD),
    ("exceptions", "InvalidExceptionHandler", [], 0xE3B0C44, 0xDA39A3E, 0xD41D8CD),
    ("cookies", "Cookie",
     ["_name", "_value", "domain", "expires", "http_only", "max_age", "path", "same_site",
      "secure"], 0x2035A3D, 0xC44A7B0, 0xE7407DB),
    ("cookies", "CookieError", [], 0xE3B0C44, 0xDA39A3E, 0xD41D8CD),
    ("cookies", "CookieValueExceedsMaximumLength", [], 0xE3B0C44, 0xDA39A3E, 0xD41D8CD),
]
TABLE_IDS = [row[1] for row in CHECKSUM_TABLE]

# The types that carry only `status`, with a constructor call and its status.
STATUS_TYPES = [
    (lambda: exc.HTTPException(404), "HTTPException", 404),
    (lambda: exc.BadRequest(), "BadRequest", 400),
    (lambda: exc.NotFound(), "NotFound", 404),
    (lambda: exc.Unauthorized(), "Unauthorized", 401),
    (lambda: exc.Forbidden(), "Forbidden", 403),
    (lambda: exc.Conflict(), "Conflict", 409),
    (lambda: exc.UnsupportedMediaType(), "UnsupportedMediaType", 415),
    (lambda: exc.RangeNotSatisfiable(), "RangeNotSatisfiable", 416),
    (lambda: exc.NotImplementedByServer(), "NotImplementedByServer", 501),
]
STATUS_IDS = [row[1] for row in STATUS_TYPES]


def unpickler(name):
    return getattr(exc, f"__pyx_unpickle_{name}")


def module_type(module_name, type_name):
    module = importlib.import_module(f"velmora.{module_name}")
    return module, getattr(module, type_name)


# ---- checksums ---------------------------------------------------------------


def digest_prefix(algorithm, key):
    return int(hashlib.new(algorithm, key.encode()).hexdigest()[:7], 16)


@pytest.mark.parametrize("row", CHECKSUM_TABLE, ids=TABLE_IDS)
def test_listed_checksums_are_those_of_the_member_names(row):
    _, _, members, *sums = row
    assert members == sorted(members)
    key = " ".join(members)
    assert sums == [digest_prefix(a, key) for a in ("sha256", "sha1", "md5")]


@pytest.mark.parametrize("row", CHECKSUM_TABLE, ids=TABLE_IDS)
def test_reconstructor_uses_the_listed_checksums_and_member_text(row):
    module_name, type_name, members, *sums = row
    module, cls = module_type(module_name, type_name)
    reconstructor = getattr(module, f"__pyx_unpickle_{type_name}")
    text = "Incompatible checksums (0x1 vs (0x{:x}, 0x{:x}, 0x{:x}) = ({}))".format(
        *sums, ", ".join(members))
    with pytest.raises(pickle.PickleError) as info:
        reconstructor(cls, 1, None)
    assert str(info.value) == text
    for checksum in sums:
        assert type(reconstructor(cls, checksum, None)) is cls
    if issubclass(cls, BaseException):  # the interpreter's protocol stays in force
        assert cls.__reduce__ is BaseException.__reduce__
    else:
        assert cls.__reduce__ is cls.__dict__["__reduce_tavrin__"]


# ---- state methods -------------------------------------------------------------


@pytest.mark.parametrize("make, name, status", STATUS_TYPES, ids=STATUS_IDS)
def test_reduce_gives_the_direct_shape(make, name, status):
    cls = getattr(exc, name)
    assert make().__reduce_tavrin__() == (unpickler(name), (cls, STATUS_SUMS[0], (status,)))


@pytest.mark.parametrize("make, name, status", STATUS_TYPES, ids=STATUS_IDS)
def test_reduce_with_attributes_gives_the_deferred_shape(make, name, status):
    error = make()
    error.hint = 1
    assert error.__reduce_tavrin__() == (
        unpickler(name), (getattr(exc, name), STATUS_SUMS[0], None), (status, {"hint": 1}))


@pytest.mark.parametrize("make, name, status", STATUS_TYPES, ids=STATUS_IDS)
def test_methods_and_reconstructor_names(make, name, status):
    cls = getattr(exc, name)
    for method in ("__reduce_tavrin__", "__setstate_tavrin__"):
        assert cls.__dict__[method].__qualname__ == f"{name}.{method}"
    assert cls.__reduce__ is BaseException.__reduce__
    assert cls.__setstate__ is BaseException.__setstate__
    function = unpickler(name)
    assert function.__qualname__ == f"__pyx_unpickle_{name}"
    assert function.__module__ == "velmora.exceptions"


def test_reduce_records_a_python_subclass():
    class Gone(exc.NotFound):
        pass

    error = Gone()
    error.reason = "moved"
    reconstructor, args, state = error.__reduce_tavrin__()
    assert args == (Gone, STATUS_SUMS[0], None) and state == (404, {"reason": "moved"})
    again = reconstructor(*args)
    again.__setstate_tavrin__(state)
    assert type(again) is Gone and again.status == 404 and again.reason == "moved"


def test_reconstructor_example_values():
    error = exc.__pyx_unpickle_NotFound(exc.NotFound, 0x48A3661, (404,))
    assert type(error) is exc.NotFound and error.status == 404 and error.args == ()
    with pytest.raises(pickle.PickleError):
        exc.__pyx_unpickle_NotFound(exc.NotFound, 0xE3B0C44, (404,))


@pytest.mark.parametrize("make, name, status", STATUS_TYPES, ids=STATUS_IDS)
def test_reconstructor_without_state_runs_no_constructor(make, name, status):
    cls = getattr(exc, name)
    error = unpickler(name)(cls, STATUS_SUMS[2], None)
    assert type(error) is cls and error.status == 0 and error.args == ()


@pytest.mark.parametrize("item, stored", [(404.7, 404), (True, 1), (-1, -1), (2**31 - 1, 2**31 - 1)])
def test_status_conversion(item, stored):
    assert exc.__pyx_unpickle_Conflict(exc.Conflict, STATUS_SUMS[0], (item,)).status == stored
    error = exc.Conflict()
    error.__setstate_tavrin__((item,))
    assert error.status == stored


@pytest.mark.parametrize("state, error, text", [
    ((2**31,), OverflowError, "value too large to convert to int"),
    ((-(2**31) - 1,), OverflowError, "value too large to convert to int"),
    ((2**60,), OverflowError, None),
    (("404",), TypeError, "an integer is required"),
    ((None,), TypeError, "an integer is required"),
    ((), IndexError, "tuple index out of range"),
    (None, TypeError, "cannot pass None into a C function argument that is declared 'not None'"),
    ([404], TypeError, "Expected tuple, got list"),
])
def test_setstate_errors_keep_the_status(state, error, text):
    target = exc.Forbidden()
    with pytest.raises(error) as info:
        target.__setstate_tavrin__(state)
    if text is not None:
        assert str(info.value) == text
    assert target.status == 403


@pytest.mark.parametrize("state, attributes", [
    ((499, {}), {}),
    ((499, 0), {}),
    ((499, {"hint": 1}), {"hint": 1}),
    ((499, {"hint": 1}, {"ignored": 2}), {"hint": 1}),
])
def test_extra_items(state, attributes):
    error = exc.__pyx_unpickle_BadRequest(exc.BadRequest, STATUS_SUMS[0], state)
    assert error.status == 499 and error.__dict__ == attributes


# ---- a foreign __pyx_type ------------------------------------------------------


class Tracked(Exception):
    """Records every instance that gets finalised, so creation shows."""

    finalised = []

    def __del__(self):
        Tracked.finalised.append(type(self).__name__)


class TrackedNotFound(exc.NotFound):
    def __del__(self):
        Tracked.finalised.append(type(self).__name__)


@pytest.mark.parametrize("foreign, shown", [
    (ValueError, "ValueError"),
    (object, "object"),
    (Tracked, "Tracked"),
    (exc.BadRequest, "velmora.exceptions.BadRequest"),
])
def test_reconstructor_refuses_a_foreign_type_before_creating_anything(foreign, shown):
    Tracked.finalised.clear()
    with pytest.raises(TypeError) as info:
        exc.__pyx_unpickle_NotFound(foreign, STATUS_SUMS[0], (404,))
    assert str(info.value) == (
        f"velmora.exceptions.NotFound.__new__({shown}): {shown} is not a subtype of "
        "velmora.exceptions.NotFound")
    gc.collect()
    assert Tracked.finalised == []


def test_reconstructor_refuses_a_non_type():
    with pytest.raises(TypeError) as info:
        exc.__pyx_unpickle_NotFound(ValueError(), STATUS_SUMS[0], None)
    assert str(info.value) == (
        "velmora.exceptions.NotFound.__new__(X): X is not a type object (ValueError)")


def test_subtype_is_created():
    Tracked.finalised.clear()
    error = exc.__pyx_unpickle_NotFound(TrackedNotFound, STATUS_SUMS[0], (404,))
    assert type(error) is TrackedNotFound and error.status == 404
    del error
    gc.collect()
    assert Tracked.finalised == ["TrackedNotFound"]


# ---- pickle and copy through the exception protocol ------------------------------


def pickle_round_trip(error, protocol=pickle.HIGHEST_PROTOCOL):
    return pickle.loads(pickle.dumps(error, protocol))


ROUND_TRIPS = [
    lambda: exc.BadRequest("missing field"),
    lambda: exc.NotFound(),
    lambda: exc.Unauthorized("who are you"),
    lambda: exc.Forbidden(),
    lambda: exc.Conflict("taken"),
    lambda: exc.UnsupportedMediaType(),
]


@pytest.mark.parametrize("copier", [pickle_round_trip, copy.copy], ids=["pickle", "copy"])
@pytest.mark.parametrize("make", ROUND_TRIPS)
def test_message_classes_round_trip(make, copier):
    error = make()
    error.note = "kept"
    again = copier(error)
    assert type(again) is type(error) and again is not error
    assert again.args == error.args and str(again) == str(error)
    assert again.status == error.status and again.note == "kept"


@pytest.mark.parametrize("copier", [pickle_round_trip, copy.copy], ids=["pickle", "copy"])
@pytest.mark.parametrize("make, text", [
    (lambda: exc.HTTPException(404), "an integer is required"),
    (lambda: exc.RangeNotSatisfiable(), "__init__() takes exactly 0 positional arguments (1 given)"),
    (lambda: exc.NotImplementedByServer(),
     "__init__() takes exactly 0 positional arguments (1 given)"),
])
def test_loading_fails_with_the_constructor_error(make, text, copier):
    with pytest.raises(TypeError) as info:
        copier(make())
    assert str(info.value) == text


class StatePickler(pickle.Pickler):
    """Writes exceptions through their state methods, as pickles naming the
    reconstructors were written."""

    def reducer_override(self, obj):
        if isinstance(obj, exc.HTTPException):
            return obj.__reduce_tavrin__()
        return NotImplemented


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickles_naming_the_reconstructors_load(protocol):
    error = exc.RangeNotSatisfiable()
    error.status = 499
    buffer = io.BytesIO()
    StatePickler(buffer, protocol).dump(error)
    assert b"__pyx_unpickle_RangeNotSatisfiable" in buffer.getvalue()
    again = pickle.loads(buffer.getvalue())
    assert type(again) is exc.RangeNotSatisfiable
    assert again.status == 499 and again.args == ()


def test_deferred_state_meets_the_exception_setstate():
    # The deferred shape hands its tuple to __setstate__, which for exception
    # types is the interpreter's and wants a dictionary.
    error = exc.NotFound()
    error.hint = 1
    buffer = io.BytesIO()
    StatePickler(buffer).dump(error)
    with pytest.raises(TypeError, match="^state is not a dictionary$"):
        pickle.loads(buffer.getvalue())

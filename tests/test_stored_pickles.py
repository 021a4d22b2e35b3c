"""Pickles stored by earlier runs (tests/stored_pickles/, written by
make_stored_pickles.py) load into exactly the objects they held, and today's
code still writes the same bytes, for every pickled type and protocol 0 to 5."""

import datetime
import enum
import pickle

import pytest

import make_stored_pickles as stored
import velmora.cookies as cookies
import velmora.exceptions as exc
from velmora.cookies import Cookie, CookieSameSiteMode


class Fails:
    """A stored pickle that by design does not load: the constructor called
    with the stored `args` refuses them."""

    def __init__(self, error, text):
        self.error, self.text = error, text


ZERO_ARGS = "__init__() takes exactly 0 positional arguments (1 given)"


def status_only(cls, status, args=()):
    return {"type": cls, "args": args, "status": status, "__dict__": {}}


def payload(cls, status, field, value, args=()):
    return {"type": cls, "args": args, "status": status, field: value, "__dict__": {}}


def framework(cls, args=(), attributes=None):
    return {"type": cls, "args": args, "__dict__": attributes or {}}


def cookie(name, value, domain, expires, http_only, max_age, path, same_site, secure):
    return {"type": Cookie, "name": name, "value": value, "domain": domain, "expires": expires,
            "http_only": http_only, "max_age": max_age, "path": path, "same_site": same_site,
            "secure": secure}


# type name -> case -> what loading any of its six pickles gives. Loaded
# through the state methods, no constructor runs: `args` stays empty.
EXPECTED = {
    "HTTPException": {
        "pickle": Fails(TypeError, "an integer is required"),
        "state methods": status_only(exc.HTTPException, 418),
    },
    "BadRequest": {
        "pickle": status_only(exc.BadRequest, 400, ("missing field",)),
        "state methods": status_only(exc.BadRequest, 400),
    },
    "Unauthorized": {
        "pickle": status_only(exc.Unauthorized, 401, ("who are you",)),
        "state methods": status_only(exc.Unauthorized, 401),
    },
    "Forbidden": {
        "pickle": status_only(exc.Forbidden, 403, ("Forbidden",)),
        "state methods": status_only(exc.Forbidden, 403),
    },
    "NotFound": {
        "pickle": status_only(exc.NotFound, 404, ("no user 7",)),
        "with attribute": {**status_only(exc.NotFound, 404, ("Not found",)),
                           "__dict__": {"hint": ["moved", 1]}},
        "state methods": status_only(exc.NotFound, 404),
    },
    "Conflict": {
        "pickle": status_only(exc.Conflict, 409, ("taken",)),
        "state methods": status_only(exc.Conflict, 409),
    },
    "UnsupportedMediaType": {
        "pickle": status_only(exc.UnsupportedMediaType, 415, ("Unsupported media type",)),
        "state methods": status_only(exc.UnsupportedMediaType, 415),
    },
    "RangeNotSatisfiable": {
        "pickle": Fails(TypeError, ZERO_ARGS),
        "state methods": status_only(exc.RangeNotSatisfiable, 416),
    },
    "NotImplementedByServer": {
        "pickle": Fails(TypeError, ZERO_ARGS),
        "state methods": status_only(exc.NotImplementedByServer, 501),
    },
    # The payload lives in the record, which the exception protocol does not
    # write: it comes back as None.
    "BadRequestFormat": {
        "pickle": payload(exc.BadRequestFormat, 400, "inner_exception", None, ("bad json",)),
        "state methods": payload(exc.BadRequestFormat, 400, "inner_exception", None),
    },
    "InternalServerError": {
        "pickle": Fails(TypeError,
                        "Argument 'source_error' has incorrect type (expected Exception, got str)"),
        "state methods": payload(exc.InternalServerError, 500, "source_error", None),
    },
    "UnprocessableEntity": {
        "pickle": payload(exc.UnprocessableEntity, 422, "details", None, ("invalid",)),
        "state methods": payload(exc.UnprocessableEntity, 422, "details", None),
    },
    "FailedRequestError": {
        "pickle": Fails(TypeError, "__init__() takes exactly 2 positional arguments (1 given)"),
        "state methods": payload(exc.FailedRequestError, -5, "data", None),
    },
    "MessageAborted": {
        "pickle": Fails(TypeError, ZERO_ARGS),
        "state methods": framework(exc.MessageAborted),
    },
    "InvalidArgument": {
        "pickle": framework(exc.InvalidArgument, ("bad",)),
        "state methods": framework(exc.InvalidArgument),
    },
    "InvalidOperation": {
        # The dictionary entry comes back; the constructor stored None first.
        "pickle": framework(exc.InvalidOperation, ("no",),
                            {"inner_exception": ValueError("inner")}),
        "state methods": framework(exc.InvalidOperation),
    },
    "InvalidExceptionHandler": {
        "pickle": Fails(TypeError, ZERO_ARGS),
        "state methods": framework(exc.InvalidExceptionHandler),
    },
    "Cookie": {
        "every field": cookie("session", "a3fWa", "example.org",
                              datetime.datetime(2030, 1, 1, 12, 0, 5, 250), True, 3600, "/app",
                              CookieSameSiteMode.STRICT, True),
        "defaults": cookie("sid", "abc", None, None, False, -1, None,
                           CookieSameSiteMode.UNDEFINED, False),
        "code without a member": cookie(
            "n", "v", None,
            datetime.datetime(2015, 10, 21, 7, 28, tzinfo=datetime.timezone.utc), False, 0,
            None, CookieSameSiteMode(2**32 - 1), True),
        "allocated": cookie(None, None, None, None, False, 0, None,
                            CookieSameSiteMode.UNDEFINED, False),
    },
    "CookieError": {
        "pickle": framework(cookies.CookieError, ("bad cookie",)),
        "state methods": framework(cookies.CookieError),
    },
    "CookieValueExceedsMaximumLength": {
        "pickle": Fails(TypeError, ZERO_ARGS),
        "state methods": framework(cookies.CookieValueExceedsMaximumLength),
    },
}

ROWS = [(type_name, case) for type_name, cases in EXPECTED.items() for case in cases]
ROW_IDS = [f"{type_name}-{case.replace(' ', '_')}" for type_name, case in ROWS]


@pytest.fixture(scope="module")
def stored_pickles():
    return {type_name: stored.read(type_name) for type_name in EXPECTED}


def same(actual, expected):
    """Equal and of the very same type, all the way down; exceptions by type
    and args, enumeration members by identity."""
    if type(actual) is not type(expected):
        return False
    if isinstance(expected, BaseException):
        return same(actual.args, expected.args) and same(vars(actual), vars(expected))
    if isinstance(expected, enum.Enum):
        return actual is expected
    if isinstance(expected, datetime.datetime):
        return (actual, actual.tzinfo, actual.fold) == (expected, expected.tzinfo, expected.fold)
    if isinstance(expected, (tuple, list)):
        return len(actual) == len(expected) and all(map(same, actual, expected))
    if isinstance(expected, dict):
        return actual.keys() == expected.keys() and all(
            same(actual[key], expected[key]) for key in expected)
    return actual == expected


def test_every_pickled_type_has_stored_pickles_at_every_protocol(stored_pickles):
    reconstructors = {name.removeprefix("__pyx_unpickle_") for module in stored.MODULES
                      for name in vars(module) if name.startswith("__pyx_unpickle_")}
    assert len(reconstructors) == 20
    assert set(EXPECTED) == set(stored.CASES) == reconstructors
    for type_name, cases in EXPECTED.items():
        assert set(stored_pickles[type_name]) == set(cases) == set(stored.CASES[type_name])
        for pickles in stored_pickles[type_name].values():
            assert sorted(pickles) == list(stored.PROTOCOLS)
        # Each type's own reconstructor is named by a stored pickle.
        named = f"__pyx_unpickle_{type_name}".encode()
        assert any(named in data for pickles in stored_pickles[type_name].values()
                   for data in pickles.values())


def check_loaded(data, expected):
    if isinstance(expected, Fails):
        with pytest.raises(expected.error) as info:
            pickle.loads(data)
        assert str(info.value) == expected.text
        return
    loaded = pickle.loads(data)
    assert type(loaded) is expected["type"]
    for attribute, value in expected.items():
        if attribute != "type":
            actual = vars(loaded) if attribute == "__dict__" else getattr(loaded, attribute)
            assert same(actual, value), (attribute, actual, value)


@pytest.mark.parametrize("type_name, case", ROWS, ids=ROW_IDS)
@pytest.mark.parametrize("check", ["load", "write"])
def test_stored_pickles(stored_pickles, type_name, case, check):
    for protocol, data in stored_pickles[type_name][case].items():
        try:
            if check == "load":
                check_loaded(data, EXPECTED[type_name][case])
            else:
                # A difference is a layout change: pickles written from now on
                # would differ from those that users already stored.
                assert stored.written(type_name, case, protocol) == data
        except BaseException as error:
            error.add_note(f"stored pickle of protocol {protocol}")
            raise

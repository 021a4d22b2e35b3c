"""Pickling and copying of the velmora.cookies types: Cookie through its
state methods and reconstructor, the two cookie errors through the
interpreter's exception protocol."""

import copy
import datetime
import enum
import gc
import pickle

import pytest

import velmora.cookies as cookies
from velmora.cookies import (
    Cookie,
    CookieError,
    CookieSameSiteMode,
    CookieValueExceedsMaximumLength,
)

COOKIE_SUMS = (0x2035A3D, 0xC44A7B0, 0xE7407DB)
EMPTY_SUM = 0xE3B0C44
unpickle_cookie = cookies.__pyx_unpickle_Cookie
unpickle_error = cookies.__pyx_unpickle_CookieError
unpickle_too_long = cookies.__pyx_unpickle_CookieValueExceedsMaximumLength

EXPIRY = datetime.datetime(2015, 10, 21, 7, 28, tzinfo=datetime.timezone.utc)
# The properties behind the nine state items, in item order.
FIELDS = ("name", "value", "domain", "expires", "http_only", "max_age", "path", "same_site",
          "secure")
FULL_STATE = ("session", "abc123", "example.org", EXPIRY, True, 3600, "/app",
              CookieSameSiteMode.STRICT, True)
DEFAULT_STATE = ("n", "v", None, None, False, -1, None, CookieSameSiteMode.UNDEFINED, False)
ALLOCATED = (None, None, None, None, False, 0, None, CookieSameSiteMode.UNDEFINED, False)


class Jar(Cookie):
    """A Python subclass: its instances have a dictionary."""


class Moment(datetime.datetime):
    pass


class Text(str):
    pass


class Mode(enum.IntEnum):
    LAX = 1


class FailingTruth:
    def __bool__(self):
        raise ZeroDivisionError("truth")


def fields(cookie):
    return tuple(getattr(cookie, name) for name in FIELDS)


def full_cookie(cls=Cookie):
    return cls("session", "abc123", EXPIRY, "example.org", "/app", True, True, 3600,
               CookieSameSiteMode.STRICT)


def default_cookie():
    return Cookie("n", "v")


def old_cookie():
    """A cookie whose every field differs from FULL_STATE."""
    return Cookie("old", "val", None, "old.example", "/old", False, False, 10,
                  CookieSameSiteMode.LAX)


def applied(state, cookie=None):
    cookie = Cookie.__new__(Cookie) if cookie is None else cookie
    cookie.__setstate__(state)
    return cookie


def replaced(state, index, value):
    items = list(state)
    items[index] = value
    return tuple(items)


# ---- the state methods on the types ------------------------------------------


@pytest.mark.parametrize("cls, method", [
    (Cookie, "__reduce_tavrin__"), (Cookie, "__setstate_tavrin__"),
    (CookieError, "__reduce_tavrin__"), (CookieError, "__setstate_tavrin__"),
    (CookieValueExceedsMaximumLength, "__reduce_tavrin__"),
    (CookieValueExceedsMaximumLength, "__setstate_tavrin__"),
])
def test_state_methods_are_the_types_own(cls, method):
    # The subclass error needs its own pair: the inherited one would name
    # CookieError's reconstructor.
    function = cls.__dict__[method]
    assert function.__name__ == method
    assert function.__qualname__ == f"{cls.__name__}.{method}"


def test_cookie_pickles_through_them_and_the_errors_do_not():
    assert Cookie.__reduce__ is Cookie.__dict__["__reduce_tavrin__"]
    assert Cookie.__setstate__ is Cookie.__dict__["__setstate_tavrin__"]
    for cls in (CookieError, CookieValueExceedsMaximumLength):
        assert cls.__reduce__ is BaseException.__reduce__
        assert cls.__setstate__ is BaseException.__setstate__


@pytest.mark.parametrize("function", [unpickle_cookie, unpickle_error, unpickle_too_long])
def test_reconstructors_are_named_after_their_module(function):
    assert function.__module__ == "velmora.cookies"
    assert function.__qualname__ == function.__name__
    assert getattr(cookies, function.__name__) is function


# ---- reduce ---------------------------------------------------------------------


@pytest.mark.parametrize("make, state", [(full_cookie, FULL_STATE),
                                         (default_cookie, DEFAULT_STATE)],
                         ids=["full", "default"])
def test_constructed_cookies_reduce_to_the_deferred_shape(make, state):
    cookie = make()
    value = cookie.__reduce__()
    assert value == (unpickle_cookie, (Cookie, COOKIE_SUMS[0], None), state)
    assert value[0] is unpickle_cookie and value[1][0] is Cookie
    items = value[2]
    assert items[7] is state[7]
    assert items[4] is state[4] and items[8] is state[8] and type(items[5]) is int
    for index in (0, 1, 2, 3, 6):  # the field objects themselves
        assert items[index] is getattr(cookie, FIELDS[index])


def test_allocated_cookie_reduces_to_the_direct_shape():
    assert Cookie.__new__(Cookie).__reduce__() == (unpickle_cookie,
                                                   (Cookie, COOKIE_SUMS[0], ALLOCATED))


@pytest.mark.parametrize("index, value", [(0, ""), (1, "v"), (2, "d"), (3, EXPIRY), (6, "/")])
def test_any_object_field_set_gives_the_deferred_shape(index, value):
    state = replaced(ALLOCATED, index, value)
    assert applied(state).__reduce__() == (unpickle_cookie, (Cookie, COOKIE_SUMS[0], None), state)


@pytest.mark.parametrize("code, member", [
    (0, CookieSameSiteMode.UNDEFINED), (1, CookieSameSiteMode.LAX),
    (2, CookieSameSiteMode.STRICT), (3, CookieSameSiteMode.NONE),
])
def test_same_site_item_is_the_member(code, member):
    assert applied(replaced(DEFAULT_STATE, 7, code)).__reduce__()[2][7] is member


@pytest.mark.parametrize("code", [7, 2**31 + 1, 2**32 - 1])
def test_other_same_site_codes_come_from_calling_the_enumeration(code):
    item = applied(replaced(DEFAULT_STATE, 7, code)).__reduce__()[2][7]
    assert item is CookieSameSiteMode(code)
    assert item == code and item.name is None


def test_same_site_item_uses_the_enumeration_bound_at_call_time(monkeypatch):
    class Stand:
        UNDEFINED, LAX, STRICT, NONE = "u", "l", "s", "n"

        def __new__(cls, code):
            return ("called", code)

    monkeypatch.setattr(cookies, "CookieSameSiteMode", Stand)
    assert full_cookie().__reduce__()[2][7] == "s"
    assert applied(replaced(DEFAULT_STATE, 7, 9)).__reduce__()[2][7] == ("called", 9)


def test_subclass_reduce_carries_type_and_instance_dictionary():
    cookie = full_cookie(Jar)
    assert cookie.__reduce__() == (unpickle_cookie, (Jar, COOKIE_SUMS[0], None), FULL_STATE)
    cookie.tag = [1]
    assert cookie.__reduce__()[2] == FULL_STATE + ({"tag": [1]},)
    empty = Jar.__new__(Jar)
    empty.tag = 1
    assert empty.__reduce__() == (unpickle_cookie, (Jar, COOKIE_SUMS[0], None),
                                  ALLOCATED + ({"tag": 1},))


# ---- pickle and copy --------------------------------------------------------------


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("make", [full_cookie, default_cookie], ids=["full", "default"])
def test_pickle_round_trip(make, protocol):
    cookie = make()
    data = pickle.dumps(cookie, protocol)
    assert b"__pyx_unpickle_Cookie" in data
    again = pickle.loads(data)
    assert type(again) is Cookie and again is not cookie
    assert fields(again) == fields(cookie)
    assert again.same_site is cookie.same_site


# A protocol-0 pickle as stored by a release that wrote the MD5 checksum.
STORED_PICKLE = (
    b"cvelmora.cookies\n__pyx_unpickle_Cookie\np0\n(cvelmora.cookies\nCookie\np1\n"
    b"I242485211\nNtp2\nRp3\n(Vsid\np4\nVabc\np5\nVexample.org\np6\nNI01\nI60\nV/\n"
    b"p7\ncvelmora.cookies\nCookieSameSiteMode\np8\n(I1\ntp9\nRp10\nI00\ntp11\nb."
)


def test_stored_pickle_loads():
    cookie = pickle.loads(STORED_PICKLE)
    assert type(cookie) is Cookie
    assert fields(cookie) == ("sid", "abc", "example.org", None, True, 60, "/",
                              CookieSameSiteMode.LAX, False)
    assert cookie.same_site is CookieSameSiteMode.LAX


@pytest.mark.parametrize("index, value", [
    (0, ""), (0, None), (1, None), (1, "x" * 5000), (5, -(2**63)), (5, 2**63 - 1),
    (7, 7), (7, 2**31 + 1), (7, 2**32 - 1),
], ids=["empty-name", "no-name", "no-value", "long-value", "min-age", "max-age",
        "mode-7", "mode-2**31+1", "mode-max"])
def test_states_the_constructor_refuses_survive_pickling(index, value):
    cookie = applied(replaced(FULL_STATE, index, value))
    again = pickle.loads(pickle.dumps(cookie))
    assert fields(again) == fields(cookie)


@pytest.mark.parametrize("copier", [
    lambda c: pickle.loads(pickle.dumps(c, 0)),
    lambda c: pickle.loads(pickle.dumps(c, pickle.HIGHEST_PROTOCOL)),
    copy.copy,
    copy.deepcopy,
], ids=["pickle-0", "pickle-highest", "copy", "deepcopy"])
def test_subclass_with_attributes_round_trips(copier):
    cookie = full_cookie(Jar)
    cookie.tag = ["t", 1]
    again = copier(cookie)
    assert type(again) is Jar and again is not cookie
    assert fields(again) == fields(cookie) and again.tag == ["t", 1]


def test_copy_shares_the_field_objects():
    cookie = full_cookie()
    shallow = copy.copy(cookie)
    assert type(shallow) is Cookie and shallow is not cookie
    for name in ("name", "value", "domain", "expires", "path"):
        assert getattr(shallow, name) is getattr(cookie, name)
    assert fields(shallow) == fields(cookie)


def test_deepcopy():
    cookie = full_cookie(Jar)
    cookie.tag = ["t"]
    deep = copy.deepcopy(cookie)
    assert fields(deep) == fields(cookie)
    assert deep.tag == cookie.tag and deep.tag is not cookie.tag


# ---- the reconstructor ----------------------------------------------------------


@pytest.mark.parametrize("checksum", COOKIE_SUMS)
def test_reconstructor_accepts_each_checksum(checksum):
    cookie = unpickle_cookie(Cookie, checksum, FULL_STATE)
    assert type(cookie) is Cookie and fields(cookie) == FULL_STATE
    allocated = unpickle_cookie(Cookie, checksum, None)
    assert type(allocated) is Cookie and fields(allocated) == ALLOCATED


def test_reconstructor_refuses_another_checksum():
    with pytest.raises(pickle.PickleError) as info:
        unpickle_cookie(Cookie, EMPTY_SUM, None)
    assert str(info.value) == (
        "Incompatible checksums (0xe3b0c44 vs (0x2035a3d, 0xc44a7b0, 0xe7407db) = "
        "(_name, _value, domain, expires, http_only, max_age, path, same_site, secure))")


def test_reconstructor_rebuilds_a_subclass_with_its_dictionary():
    cookie = unpickle_cookie(Jar, COOKIE_SUMS[1], FULL_STATE + ({"tag": 1},))
    assert type(cookie) is Jar and fields(cookie) == FULL_STATE and cookie.tag == 1


class Tracked:
    finalised = []

    def __del__(self):
        Tracked.finalised.append(type(self).__name__)


@pytest.mark.parametrize("function, target, checksum", [
    (unpickle_cookie, int, COOKIE_SUMS[0]),
    (unpickle_cookie, Tracked, COOKIE_SUMS[0]),
    (unpickle_cookie, CookieError, COOKIE_SUMS[0]),
    (unpickle_error, ValueError, EMPTY_SUM),
    (unpickle_error, Cookie, EMPTY_SUM),
    (unpickle_too_long, CookieError, EMPTY_SUM),
], ids=["cookie-int", "cookie-python-class", "cookie-error", "error-ValueError", "error-cookie",
        "too-long-base"])
def test_reconstructor_refuses_a_foreign_type(function, target, checksum):
    owner = "velmora.cookies." + function.__name__.removeprefix("__pyx_unpickle_")
    shown = target.__name__ if target.__module__ in ("builtins", __name__) else (
        f"{target.__module__}.{target.__name__}")
    Tracked.finalised.clear()
    with pytest.raises(TypeError) as info:
        function(target, checksum, None)
    assert str(info.value) == f"{owner}.__new__({shown}): {shown} is not a subtype of {owner}"
    gc.collect()
    assert Tracked.finalised == []


def test_error_reconstructor_accepts_a_subtype_without_running_its_constructor():
    error = unpickle_error(CookieValueExceedsMaximumLength, 0xD41D8CD, ({"hint": 1},))
    assert type(error) is CookieValueExceedsMaximumLength
    assert error.args == () and error.hint == 1


# ---- applying a state ------------------------------------------------------------


@pytest.mark.parametrize("index, value, stored", [
    (0, "", ""),
    (1, "é" * 2049, "é" * 2049),
    (3, Moment(2024, 1, 1), Moment(2024, 1, 1)),
    (4, None, False), (4, "yes", True), (4, 0, False),
    (5, 3.9, 3), (5, True, 1), (5, -5, -5),
    (7, 7, 7), (7, Mode.LAX, CookieSameSiteMode.LAX), (7, 2.9, 2), (7, 2**32 - 1, 2**32 - 1),
    (8, [], False), (8, [0], True),
])
def test_conversions_on_apply(index, value, stored):
    cookie = applied(replaced(FULL_STATE, index, value))
    assert fields(cookie)[index] == stored
    assert fields(cookie)[:index] + fields(cookie)[index + 1:] == (
        FULL_STATE[:index] + FULL_STATE[index + 1:])


def test_applied_objects_are_stored_as_they_are():
    when, text = Moment(2024, 1, 1), "".join(["sess", "ion"])
    cookie = applied(replaced(replaced(FULL_STATE, 3, when), 0, text))
    assert cookie.expires is when and cookie.name is text
    assert cookie.same_site is CookieSameSiteMode.STRICT


@pytest.mark.parametrize("index, value, error, text", [
    (0, b"n", TypeError, "Expected str, got bytes"),
    (1, Text("v"), TypeError, "Expected str, got Text"),
    (2, 5, TypeError, "Expected str, got int"),
    (3, datetime.date(2024, 1, 1), TypeError, "Cannot convert datetime.date to datetime.datetime"),
    (3, "2024", TypeError, "Cannot convert str to datetime.datetime"),
    (4, FailingTruth(), ZeroDivisionError, "truth"),
    (5, None, TypeError, "an integer is required"),
    (5, "3600", TypeError, "an integer is required"),
    (5, 2**63, OverflowError, None),
    (6, b"/", TypeError, "Expected str, got bytes"),
    (7, -1, OverflowError, "can't convert negative value to CookieSameSiteMode"),
    (7, 2**32, OverflowError, "value too large to convert to CookieSameSiteMode"),
    (7, None, TypeError, "an integer is required"),
    (8, FailingTruth(), ZeroDivisionError, "truth"),
])
def test_first_failing_item_stops_later_fields_keep_their_values(index, value, error, text):
    cookie = old_cookie()
    old = fields(cookie)
    with pytest.raises(error) as info:
        cookie.__setstate__(replaced(FULL_STATE, index, value))
    if text is not None:
        assert str(info.value) == text
    assert fields(cookie)[:index] == FULL_STATE[:index]
    assert fields(cookie)[index:] == old[index:]


@pytest.mark.parametrize("state", [FULL_STATE[:8], ()], ids=["eight", "empty"])
def test_short_state_is_refused_before_anything_is_assigned(state):
    cookie = old_cookie()
    with pytest.raises(IndexError, match="^tuple index out of range$"):
        cookie.__setstate__(state)
    assert fields(cookie) == fields(old_cookie())
    with pytest.raises(IndexError, match="^tuple index out of range$"):
        unpickle_cookie(Cookie, COOKIE_SUMS[0], state)


@pytest.mark.parametrize("extra", [{}, None, 0])
def test_false_tenth_item_is_ignored(extra):
    assert fields(applied(FULL_STATE + (extra,))) == FULL_STATE


def test_plain_cookie_refuses_a_dictionary_item_after_the_nine_fields():
    cookie = old_cookie()
    with pytest.raises(AttributeError, match="__dict__"):
        cookie.__setstate__(FULL_STATE + ({"tag": 1},))
    assert fields(cookie) == FULL_STATE
    with pytest.raises(AttributeError, match="__dict__"):
        unpickle_cookie(Cookie, COOKIE_SUMS[0], FULL_STATE + ({"tag": 1},))


def test_subclass_dictionary_item_merges():
    cookie = full_cookie(Jar)
    cookie.keep = 1
    cookie.__setstate__(DEFAULT_STATE + ({"tag": 2},))
    assert fields(cookie) == DEFAULT_STATE and cookie.__dict__ == {"keep": 1, "tag": 2}


# ---- the cookie errors ------------------------------------------------------------


@pytest.mark.parametrize("make, function", [
    (lambda: CookieError("bad"), unpickle_error),
    (CookieValueExceedsMaximumLength, unpickle_too_long),
], ids=["CookieError", "CookieValueExceedsMaximumLength"])
def test_error_state_methods(make, function):
    error = make()
    cls = type(error)
    assert error.__reduce_tavrin__() == (function, (cls, EMPTY_SUM, ()))
    error.hint = 1
    assert error.__reduce_tavrin__() == (function, (cls, EMPTY_SUM, None), ({"hint": 1},))
    target = make()
    assert target.__setstate_tavrin__(({"hint": 2},)) is None
    assert target.hint == 2 and target.args == make().args


def test_python_subclass_of_an_error_reduces_with_its_base_reconstructor():
    class Rejected(CookieError):
        pass

    assert Rejected("x").__reduce_tavrin__() == (unpickle_error, (Rejected, EMPTY_SUM, ()))


def pickle_round_trip(error):
    return pickle.loads(pickle.dumps(error, pickle.HIGHEST_PROTOCOL))


COPIERS = pytest.mark.parametrize("copier", [pickle_round_trip, copy.copy, copy.deepcopy],
                                  ids=["pickle", "copy", "deepcopy"])


@COPIERS
@pytest.mark.parametrize("message", ["bad cookie", None])
def test_cookie_error_round_trips_through_the_exception_protocol(copier, message):
    error = CookieError(message)
    error.hint = 1
    again = copier(error)
    assert type(again) is CookieError and again is not error
    assert again.args == (message,) and again.hint == 1


@COPIERS
def test_value_too_long_fails_to_load_with_its_constructor_error(copier):
    error = CookieValueExceedsMaximumLength()
    pickle.dumps(error)  # writing works; loading calls the type with the message
    with pytest.raises(TypeError) as info:
        copier(error)
    assert str(info.value) == "__init__() takes exactly 0 positional arguments (1 given)"

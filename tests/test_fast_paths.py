"""The native fast paths against the generic paths they stand in for.

Each fast path runs only when the module name, type or method involved is the
standard one bound at import. Rebinding the names to equivalent copies of the
standard functions (generic_paths), or passing an instance of a subclass,
forces the generic path; both must give identical results and identical errors.
"""

import contextlib
import datetime
import enum
import locale
import time

import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st

import velmora.cookies as cookies
import velmora.exceptions as exc
from velmora.cookies import Cookie, CookieSameSiteMode, CookieValueExceedsMaximumLength
from generic_paths import either_path, generic_paths  # noqa: F401 - the fixture

try:
    from velmora._velmora_capi_test import write_cookie_for_response
except ImportError:  # a build without the test-only module
    write_cookie_for_response = None

FAST = settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])


@contextlib.contextmanager
def rebound(name, value):
    """Rebinds a module-level name of velmora.cookies for the block."""
    old = getattr(cookies, name)
    setattr(cookies, name, value)
    try:
        yield
    finally:
        setattr(cookies, name, old)


def outcome(call, *args, **kwargs):
    """What a call gives: its result, or the type and text of its error."""
    try:
        return ("ok", call(*args, **kwargs))
    except Exception as e:  # noqa: BLE001 - every error is compared
        return ("error", type(e), str(e))


def same_datetime(a, b):
    if a[0] == "ok" and b[0] == "ok":
        x, y = a[1], b[1]
        return (type(x), x, x.tzinfo, x.fold) == (type(y), y, y.tzinfo, y.fold)
    return a == b


# ---- Dates: parsing ----------------------------------------------------------

DAY_NAMES = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]
two_digits = st.integers(0, 99).map("{:02d}".format)
letters = st.text(alphabet="abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ", min_size=3,
                  max_size=3)


@st.composite
def cookie_dates(draw):
    """Texts of the canonical form with any field values, valid or not."""
    day_name = draw(st.sampled_from(DAY_NAMES) | letters)
    day = draw(st.sampled_from(["01", "28", "29", "30", "31"]) | two_digits)
    month = draw(st.sampled_from([*MONTHS, *map(str.lower, MONTHS), *map(str.upper, MONTHS)])
                 | letters)
    year = draw(st.sampled_from(["2015", "2000", "1900", "2024", "0000", "0068", "0069", "0099",
                                 "0100", "9999"]) | st.integers(0, 9999).map("{:04d}".format))
    hour, minute, second = draw(two_digits), draw(two_digits), draw(two_digits)
    zone = draw(st.sampled_from(["GMT", "gmt", "GmT", "UTC", "GMX", "+0200", "-0000", "Z"]))
    return f"{day_name}, {day} {month} {year} {hour}:{minute}:{second} {zone}".encode()


@st.composite
def mutated_dates(draw):
    """A canonical text with one byte replaced, inserted or removed."""
    text = bytearray(draw(cookie_dates()))
    at = draw(st.integers(0, len(text) - 1))
    byte = draw(st.sampled_from(b" ,:-+0aZ\t\x00\xc3\xff") | st.integers(0, 255))
    how = draw(st.sampled_from(["replace", "insert", "delete"]))
    if how == "replace":
        text[at] = byte
    elif how == "insert":
        text.insert(at, byte)
    else:
        del text[at]
    return bytes(text)


def generic(call, *args):
    with generic_paths():
        return outcome(call, *args)


def parse_generic(raw):
    return generic(cookies.datetime_from_cookie_format, raw)


@FAST
@given(cookie_dates() | mutated_dates() | st.binary(max_size=40))
@example(b"Wed, 21 Oct 2015 07:28:00 GMT")
@example(b"Sun, 29 Feb 2023 00:00:00 GMT")  # no such day
@example(b"Tue, 29 Feb 2000 23:59:59 GMT")
@example(b"Mon, 01 Jan 0050 00:00:00 GMT")  # two-digit years are mapped
@example(b"Mon, 31 Dec 9999 24:00:00 GMT")
@example(b"Mon, 00 Jan 2015 00:00:00 GMT")
@example(b"Wed, 21 Oct 2015 07:28:60 GMT")
def test_parsing_matches_the_standard_function(raw):
    fast = outcome(cookies.datetime_from_cookie_format, raw)
    assert same_datetime(fast, parse_generic(raw))


def test_parsing_calls_a_rebound_function_even_for_canonical_text():
    seen = []

    def spy(text):
        seen.append(text)
        return datetime.datetime(2001, 2, 3)

    with rebound("parsedate_to_datetime", spy):
        assert cookies.datetime_from_cookie_format(b"Wed, 21 Oct 2015 07:28:00 GMT") == (
            datetime.datetime(2001, 2, 3))
    assert seen == ["Wed, 21 Oct 2015 07:28:00 GMT"]


# ---- Dates: formatting -------------------------------------------------------


class SubDatetime(datetime.datetime):
    pass


def as_subclass(d):
    return SubDatetime(d.year, d.month, d.day, d.hour, d.minute, d.second, d.microsecond,
                       d.tzinfo, fold=d.fold)


zones = st.none() | st.just(datetime.UTC) | st.builds(
    datetime.timezone,
    st.timedeltas(min_value=datetime.timedelta(hours=-23, minutes=-59),
                  max_value=datetime.timedelta(hours=23, minutes=59)))


class RaisingDst(datetime.tzinfo):
    def utcoffset(self, dt):
        return None

    def dst(self, dt):
        raise RuntimeError("no dst here")


class OneHourDst(datetime.tzinfo):
    def utcoffset(self, dt):
        return datetime.timedelta(hours=1)

    def dst(self, dt):
        return datetime.timedelta(hours=1)


@FAST
@given(st.datetimes(min_value=datetime.datetime(1, 1, 1), timezones=zones,
                    allow_imaginary=True))
@example(datetime.datetime(2015, 10, 21, 7, 28))
@example(datetime.datetime(999, 12, 31, 23, 59, 59))
@example(datetime.datetime(1000, 1, 1))
@example(datetime.datetime(9999, 12, 31, 23, 59, 59, 999999))
@example(datetime.datetime(2024, 2, 29, 12, tzinfo=RaisingDst()))
@example(datetime.datetime(2024, 2, 29, 12, tzinfo=OneHourDst()))
def test_formatting_matches_strftime(value):
    fast = outcome(cookies.datetime_to_cookie_format, value)
    assert fast == outcome(cookies.datetime_to_cookie_format, as_subclass(value))
    expected = outcome(lambda: value.strftime("%a, %d %b %Y %H:%M:%S GMT").encode())
    assert fast == expected


def test_formatting_honours_a_replaced_time_strftime(monkeypatch):
    monkeypatch.setattr(time, "strftime", lambda fmt, tt: "formatted elsewhere")
    assert cookies.datetime_to_cookie_format(datetime.datetime(2015, 10, 21)) == (
        b"formatted elsewhere")


class OwnFormat(datetime.datetime):
    def strftime(self, fmt):
        return "own " + super().strftime(fmt)


LOCALE_VALUES = [
    datetime.datetime(2015, 10, 21, 7, 28),  # the native formatter
    datetime.datetime(2026, 12, 10, tzinfo=datetime.UTC),
    SubDatetime(2021, 3, 5, 9, 3, 7),  # the rest call strftime
    datetime.datetime(2024, 7, 29, 12, tzinfo=OneHourDst()),
    datetime.datetime(999, 5, 1),
    OwnFormat(2000, 6, 1),  # its own strftime, still called
]


@pytest.mark.parametrize("locale_name", ["POSIX", "C.UTF-8", "de_DE.UTF-8"])
def test_dates_are_english_under_any_time_locale(process_locale, locale_name, either_path):
    """Clients read only English names: a process locale must not change them."""
    expected = [outcome(cookies.datetime_to_cookie_format, v) for v in LOCALE_VALUES]
    assert expected[0] == ("ok", b"Wed, 21 Oct 2015 07:28:00 GMT")
    assert expected[-1] == ("ok", b"own Thu, 01 Jun 2000 00:00:00 GMT")
    with process_locale(locale_name):
        got = [outcome(cookies.datetime_to_cookie_format, v) for v in LOCALE_VALUES]
        if write_cookie_for_response is not None:
            header = write_cookie_for_response(Cookie("a", "b", expires=LOCALE_VALUES[2]))
            assert header == b"a=b; Expires=" + expected[2][1]
        assert cookies.datetime_from_cookie_format(got[0][1]) == LOCALE_VALUES[0]
        # The process keeps its own locale: strftime outside velmora still uses it.
        october = datetime.datetime(2015, 10, 21).strftime("%b")
        assert october == ("Okt" if locale_name.startswith("de") else "Oct")
    assert got == expected


# ---- Fixed cases that random draws rarely reach ---------------------------------

class FixedOffset(datetime.tzinfo):
    """A tzinfo that is not a datetime.timezone, with no daylight saving."""

    def utcoffset(self, dt):
        return datetime.timedelta(hours=2)

    def dst(self, dt):
        return None


class OwnEncode(str):
    def encode(self, *args):
        return b"<" + str.encode(self, *args) + b">"


class OwnEncodeFormat(datetime.datetime):
    def strftime(self, fmt):
        return OwnEncode(super().strftime(fmt))


class OwnEncodeValue(Cookie):
    value = property(lambda self: OwnEncode("v w"), Cookie.value.__set__)


def write_outcome(cookie):
    if write_cookie_for_response is None:
        pytest.skip("the test-only native module is not built")
    return outcome(write_cookie_for_response, cookie)


def fields_outcome(raw):
    result = outcome(cookies.parse_cookie, raw)
    if result[0] == "ok":
        c = result[1]
        return ("ok", c.domain, c.path, c.expires, c.max_age, c.same_site)
    return result


def date_outcome(raw):
    result = outcome(cookies.datetime_from_cookie_format, raw)
    return ("ok", type(result[1]), result[1]) if result[0] == "ok" else result


def format_outcome(value):
    return outcome(cookies.datetime_to_cookie_format, value)


GMT_DATE = "{}, {} 00:00:00 GMT".format
ATTRIBUTES = ("a=b; Domain=x; Path=/x; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=1;"
              " SameSite=Lax; domain=y; PATH=/y; expires=Thu, 22 Oct 2015 07:28:00 GMT;"
              " max-age=2; samesite=Strict")
# (what is compared, its input, the result when both paths share the code
# that decides it, else None)
FIXED_CASES = [
    # The two-digit-year pivot of RFC 822 dates, and the years around it.
    *[(date_outcome, GMT_DATE("Thu", f"01 Jan {year}").encode(), None)
      for year in ("0068", "0069", "0099", "0100", "0999", "1000")],
    # Days past the month's end and leap days: the same results and errors.
    *[(date_outcome, GMT_DATE("Mon", day).encode(), None)
      for day in ("30 Feb 2024", "31 Apr 2015", "29 Feb 2023", "29 Feb 2024")],
    # What the native formatter must leave to strftime.
    (format_outcome, datetime.datetime(2015, 10, 21, 7, 28, tzinfo=FixedOffset()), None),
    (format_outcome, datetime.datetime(2015, 10, 21, 7, 28, tzinfo=OneHourDst()), None),
    (format_outcome, datetime.datetime(999, 12, 31, 23, 59, 59), None),
    (format_outcome, datetime.datetime(68, 1, 1), None),
    (write_outcome, Cookie("a", "b", OwnEncodeFormat(2015, 10, 21, 7, 28)), None),
    (write_outcome, Cookie("a", "b", datetime.datetime(999, 1, 1)), None),
    (write_outcome, OwnEncodeValue("a", "b"), None),
    # Repeated attributes: the last of each wins, on both paths.
    (fields_outcome, ATTRIBUTES.encode(),
     ("ok", "y", "/y", datetime.datetime(2015, 10, 22, 7, 28), 2, CookieSameSiteMode.STRICT)),
    (fields_outcome, b"a=b; SameSite=Strict; SameSite=Lax; Expires=x; Expires=",
     ("ok", None, None, None, -1, CookieSameSiteMode.LAX)),
]


@pytest.mark.parametrize("compared, value, expected", FIXED_CASES,
                         ids=[f"{c.__name__}-{v!r:.40}" for c, v, _ in FIXED_CASES])
def test_fixed_cases_match_the_generic_path(compared, value, expected):
    fast = compared(value)
    with generic_paths():
        assert compared(value) == fast
    if expected is not None:
        assert fast == expected


# ---- Percent-decoding in the parser -------------------------------------------

percent_pieces = st.sampled_from(
    ["%", "%2", "%20", "%2f", "%2F", "%zz", "%G0", "%C3%A9", "%c3%a9", "%C3", "%A9", "%E2%82%AC",
     "%e2%82", "%FF", "%00", "%0A", "+", "=", "a", "Z", "0", "é", "€", "😀", " ", '"', "%%41"])
percent_text = st.lists(percent_pieces | st.text(max_size=3), max_size=8).map("".join).filter(
    lambda t: ";" not in t)


def parse_outcome(raw):
    result = outcome(cookies.parse_cookie, raw)
    if result[0] == "ok":
        return ("ok", result[1].name, result[1].value)
    return result


@FAST
@given(percent_text, percent_text)
@example("user%20id", "a%20b%2Fc%3Bd")
@example("caf%C3%A9", "%ZZ")
@example("a%C3%28b", "%E2%82%AC%E2%82")
def test_unquoting_matches_the_standard_function(name, value):
    raw = f"{name}={value}".encode()
    fast = parse_outcome(raw)
    with generic_paths():
        assert fast == parse_outcome(raw)


@FAST
@given(st.binary(max_size=30))
def test_unquoting_raw_bytes_matches_the_standard_function(raw):
    fast = parse_outcome(b"a=" + raw)
    with generic_paths():
        assert fast == parse_outcome(b"a=" + raw)


# ---- Percent-encoding in the writer --------------------------------------------

needs_writer = pytest.mark.skipif(write_cookie_for_response is None,
                                  reason="the test-only native module is not built")
any_text = st.text(st.characters(exclude_categories=()), min_size=1, max_size=12)
# Values pass the length check, which refuses lone surrogates; names may hold them.
value_text = st.text(max_size=12)


@needs_writer
@FAST
@given(any_text, st.none() | value_text)
@example("user id", "a b/c;d")
@example("café", "1=2")
@example("\ud800", "x")
@example("a", "~_.-/%")
def test_quoting_matches_the_standard_function(name, value):
    cookie = Cookie("placeholder", None)
    cookie.name = name
    cookie.value = value
    assert outcome(write_cookie_for_response, cookie) == generic(write_cookie_for_response, cookie)


# ---- The value length check --------------------------------------------------

value_chars = st.sampled_from(["a", "é", "ÿ", "€", "\u0800", "\uffff", "😀", "\ud800", "\udfff"])


@st.composite
def long_values(draw):
    """Texts around the 4096-byte limit, with characters of every UTF-8 width."""
    runs = draw(st.lists(st.tuples(value_chars, st.integers(1, 1500)), min_size=1, max_size=4))
    text = "".join(c * n for c, n in runs)
    target = 4096 + draw(st.integers(-2, 2))
    try:
        size = len(text.encode())
    except UnicodeEncodeError:
        return text
    return text + "a" * max(0, target - size) if draw(st.booleans()) else text


def expected_value_outcome(value):
    try:
        size = len(value.encode())
    except UnicodeEncodeError as e:
        return ("error", UnicodeEncodeError, str(e))
    if size > 4096:
        return ("error", CookieValueExceedsMaximumLength, str(CookieValueExceedsMaximumLength()))
    return ("ok", value)


class StrSubclass(str):
    pass


@FAST
@given(long_values() | st.text(st.characters(exclude_categories=()), max_size=20))
@example("é" * 2048)
@example("é" * 2049)
@example("a" * 4095 + "\ud800")
def test_value_length_matches_encoding(value):
    expected = expected_value_outcome(value)
    assert outcome(lambda: Cookie("a", value).value) == expected
    cookie = Cookie("a", "b")
    assert outcome(setattr, cookie, "value", value) == (
        ("ok", None) if expected[0] == "ok" else expected)
    assert cookie.value == (value if expected[0] == "ok" else "b")
    # A str subclass goes through its encode method: the same errors, and the
    # type error where an exact str would be stored.
    if value:
        generic = outcome(setattr, cookie, "value", StrSubclass(value))
        assert generic == (
            expected if expected[0] == "error" else
            ("error", TypeError, "Expected str, got StrSubclass"))


# ---- SameSite members ---------------------------------------------------------


def test_same_site_members_are_the_enumeration_members():
    for code in range(4):
        cookie = Cookie("a", "b", same_site=code)
        for _ in range(3):
            assert cookie.same_site is CookieSameSiteMode(code)


def test_same_site_follows_a_rebound_enumeration():
    Other = enum.IntEnum("Other", [("UNDEFINED", 0), ("LAX", 1), ("STRICT", 2), ("NONE", 3)])
    cookie = Cookie("a", "b", same_site=1)
    assert cookie.same_site is CookieSameSiteMode.LAX
    with rebound("CookieSameSiteMode", Other):
        assert cookie.same_site is Other.LAX
    assert cookie.same_site is CookieSameSiteMode.LAX


def test_same_site_follows_a_changed_class_attribute():
    cookie = Cookie("a", "b", same_site=2)
    assert cookie.same_site is CookieSameSiteMode.STRICT
    member = CookieSameSiteMode.STRICT
    type.__setattr__(CookieSameSiteMode, "STRICT", "changed")
    try:
        assert cookie.same_site == "changed"
    finally:
        type.__setattr__(CookieSameSiteMode, "STRICT", member)
    assert cookie.same_site is member


# ---- Exception constructors ----------------------------------------------------


class RaisingBool:
    def __bool__(self):
        raise ArithmeticError("no truth")


class HasInt:
    def __int__(self):
        return 418


argument_values = st.one_of(
    st.none(), st.booleans(), st.integers(-(2**40), 2**40), st.floats(-1e12, 1e12),
    st.text(max_size=4), st.just(""), st.just(0), st.just(404), st.builds(StrSubclass, st.text()),
    st.just(RaisingBool()), st.just(HasInt()), st.just(ValueError("inner")), st.just(b"x"))
keywords = st.dictionaries(
    st.sampled_from(["message", "status", "details", "data", "source_error", "inner_exception",
                     "code"]),
    argument_values, max_size=2)

PAYLOAD = {
    exc.BadRequestFormat: "inner_exception",
    exc.InternalServerError: "source_error",
    exc.UnprocessableEntity: "details",
    exc.FailedRequestError: "data",
}
CLASSES = [exc.HTTPException, exc.BadRequest, exc.Unauthorized, exc.Forbidden, exc.NotFound,
           exc.Conflict, exc.UnsupportedMediaType, exc.RangeNotSatisfiable,
           exc.NotImplementedByServer, *PAYLOAD]


def generic_variant(cls):
    """A subclass whose MRO puts a Python __init__ right after `cls`, so that
    every __init__ of the chain runs through the generic super() path."""
    base = cls.__mro__[1]

    class Between(base):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, **kwargs)

    return type("Generic" + cls.__name__, (cls, Between), {})


def plain_subclass(cls):
    return type("Sub" + cls.__name__, (cls,), {})


VARIANTS = {cls: (generic_variant(cls), plain_subclass(cls)) for cls in CLASSES}


def construct(cls, args, kwargs):
    result = outcome(cls, *args, **kwargs)
    if result[0] == "ok":
        e = result[1]
        payload = None
        for c, attr in PAYLOAD.items():
            if isinstance(e, c):
                payload = getattr(e, attr)
        return ("ok", e.args, e.status, payload)
    return result


@settings(max_examples=60, deadline=None)
@given(st.sampled_from(CLASSES), st.lists(argument_values, max_size=3), keywords)
@example(exc.NotFound, [], {})
@example(exc.HTTPException, [404, None], {})
@example(exc.BadRequest, [1], {})
def test_constructors_match_the_generic_path(cls, args, kwargs):
    fast = construct(cls, args, kwargs)
    generic, subclass = VARIANTS[cls]
    assert construct(generic, args, kwargs) == fast
    assert construct(subclass, args, kwargs) == fast


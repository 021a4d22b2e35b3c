"""parse_cookie, split_value and same_site_mode_from_bytes: the Python
function and the native entries (through the test-only C module)."""

import datetime
import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import velmora.cookies as cookies
from velmora.cookies import Cookie, CookieSameSiteMode, parse_cookie

from generic_paths import either_path  # noqa: F401 - the fixture

capi = pytest.importorskip("velmora._velmora_capi_test")

D = datetime.datetime(2015, 10, 21, 7, 28)
DEFAULTS = dict(expires=None, domain=None, path=None, http_only=False, secure=False, max_age=-1,
                same_site=CookieSameSiteMode.UNDEFINED)
FIELDS = ("name", "value", *DEFAULTS)


def fields(cookie):
    return {field: getattr(cookie, field) for field in FIELDS}


FULL = (b"id=a3fWa; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=3600; Domain=intranet; "
        b"Path=/app; HttpOnly; Secure; SameSite=Lax")

PARSES = [
    (b"a=b", dict(name="a", value="b")),
    (b" a=b", dict(name=" a", value="b")),
    (FULL, dict(name="id", value="a3fWa", expires=D, max_age=3600, domain="intranet",
                path="/app", http_only=True, secure=True, same_site=CookieSameSiteMode.LAX)),
    (b"user%20id=a%20b%2Fc%3Bd", dict(name="user id", value="a b/c;d")),
    (b"a=%ZZ", dict(name="a", value="%ZZ")),
    (b"a+b=c+d", dict(name="a+b", value="c+d")),
    (b"a=b=c", dict(name="a", value="b=c")),
    (b"a=", dict(name="a", value="")),
    (b'a="hello world"', dict(name="a", value="hello world")),
    (b'a="hello"', dict(name="a", value='"hello"')),
    (b'a="" x ""', dict(name="a", value=' x ')),
    (b'a=x "y z"', dict(name="a", value='x "y z"')),
    (b"a=b;path=/x;secure", dict(name="a", value="b", path="/x", secure=True)),
    (b"a=b; path=/x;secure", dict(name="a", value="b", path="/x;secure")),
    (b"a=b; Secure;", dict(name="a", value="b")),
    (b"a=b;Secure;", dict(name="a", value="b", secure=True)),
    (b"a=b;  Secure", dict(name="a", value="b")),
    (b"a=b; ; Secure", dict(name="a", value="b", secure=True)),
    (b"a=b; Path =/x", dict(name="a", value="b")),
    (b"a=b; PATH=/p; Path=/q", dict(name="a", value="b", path="/q")),
    (b"a=b; Max-Age=10; max-age=20", dict(name="a", value="b", max_age=20)),
    (b"a=b; Max-Age= 7", dict(name="a", value="b", max_age=7)),
    (b"a=b; Max-Age=-5", dict(name="a", value="b", max_age=-5)),
    (b"a=b; Max-Age=1_000", dict(name="a", value="b", max_age=1000)),
    (b"a=b; Max-Age=+0042", dict(name="a", value="b", max_age=42)),
    (b"a=b; Max-Age=9223372036854775807", dict(name="a", value="b", max_age=2**63 - 1)),
    (b"a=b; Expires=garbage; Expires=Wed, 21 Oct 2015 07:28:00 GMT",
     dict(name="a", value="b", expires=D)),
    (b"a=b; Domain=; Path=; Expires=", dict(name="a", value="b")),
    (b"a=b; Domain=%61", dict(name="a", value="b", domain="%61")),
    (b"a=b; HttpOnly=yes", dict(name="a", value="b")),
    (b"a=b; SameSite=strict", dict(name="a", value="b", same_site=CookieSameSiteMode.STRICT)),
    (b"a=b; SameSite=NONE", dict(name="a", value="b", same_site=CookieSameSiteMode.NONE)),
    (b"a=b; SameSite=Bogus", dict(name="a", value="b")),
    (b"a=b; SameSite= Lax", dict(name="a", value="b")),
    (b"a=b; SameSite=Lax; SameSite=", dict(name="a", value="b")),
    (b"a=1; b=2", dict(name="a", value="1")),
    (b"Path=/x", dict(name="Path", value="/x")),
    (b"a=b\r\n", dict(name="a", value="b\r\n")),
    (b"a=b; Path=/x\r\nSet-Cookie: c=d", dict(name="a", value="b", path="/x\r\nSet-Cookie: c=d")),
    ("caf\u00e9=\u20ac".encode(), dict(name="caf\u00e9", value="\u20ac")),
    (b"a=%E2%82%AC%C3", dict(name="a", value="\u20ac\ufffd")),
    ("a=\u00e9%41%e9".encode(), dict(name="a", value="\u00e9A\ufffd")),
]


@pytest.mark.parametrize("raw, expected", PARSES, ids=[repr(raw)[:40] for raw, _ in PARSES])
@pytest.mark.parametrize("entry", ["python", "native"])
def test_parses(raw, expected, entry, either_path):
    cookie = parse_cookie(raw) if entry == "python" else capi.parse_cookie(raw)
    assert type(cookie) is Cookie
    assert fields(cookie) == {**DEFAULTS, **expected}
    assert type(cookie.same_site) is CookieSameSiteMode


def int_error(literal):
    try:
        int(literal)
    except ValueError as e:
        return str(e)


FAILS = [
    (b"", ValueError, "Invalid name=value fragment: b''"),
    (b"foo", ValueError, "Invalid name=value fragment: b'foo'"),
    (b"foo; Path=/", ValueError, "Invalid name=value fragment: b'foo'"),
    (b"caf\xc3\xa9", ValueError, "Invalid name=value fragment: b'caf\\xc3\\xa9'"),
    (b"a=b; Max-Age=soon", ValueError, int_error(b"soon")),
    (b"a=b; Max-Age=x; Max-Age=5", ValueError, int_error(b"x")),
    (b"a=b; Max-Age=", ValueError, int_error(b"")),
    (b"a=b; Max-Age=99999999999999999999", OverflowError, None),
    (b"a=b; Max-Age=9223372036854775808", OverflowError, None),
    (b"\xff=1", UnicodeDecodeError, None),
    (b"a=\xff", UnicodeDecodeError, None),
    (b"a=b; Domain=\xff", UnicodeDecodeError, None),
    (b"a=b; Path=\xc3", UnicodeDecodeError, None),
    (b"a=b; Expires=garbage", ValueError, None),
    (b"a=b; Expires=\xff", UnicodeDecodeError, None),
    (b"=x", ValueError, "A cookie name is required"),
]


@pytest.mark.parametrize("raw, error, message", FAILS, ids=[repr(raw)[:40] for raw, *_ in FAILS])
@pytest.mark.parametrize("entry", [parse_cookie, capi.parse_cookie], ids=["python", "native"])
def test_fails(raw, error, message, entry, either_path):
    with pytest.raises(error) as info:
        entry(raw)
    assert type(info.value) is error
    if message is not None:
        assert str(info.value) == message


def test_invalid_pair_is_raised_while_the_search_error_is_handled():
    with pytest.raises(ValueError) as info:
        parse_cookie(b"foo")
    context = info.value.__context__
    assert type(context) is ValueError and str(context) == "subsection not found"
    assert info.value.__cause__ is None and not info.value.__suppress_context__


def test_invalid_pair_context_chains_what_the_caller_handles():
    try:
        raise KeyError("outer")
    except KeyError:
        with pytest.raises(ValueError) as info:
            parse_cookie(b"foo")
    assert type(info.value.__context__.__context__) is KeyError


def test_value_too_long_from_the_constructor():
    with pytest.raises(cookies.CookieValueExceedsMaximumLength):
        parse_cookie(b"a=" + b"x" * 4097)
    assert len(parse_cookie(b"a=" + b"%41" * 4096).value) == 4096


@pytest.mark.parametrize("raw", [bytearray(b"a=b"), "a=b", memoryview(b"a=b"), 1,
                                 type("B", (bytes,), {})(b"a=b")])
def test_argument_type(raw):
    with pytest.raises(TypeError, match=re.escape(
            f"Argument 'raw_value' has incorrect type (expected bytes, got {type(raw).__name__})")):
        parse_cookie(raw)


@pytest.mark.parametrize("entry", [parse_cookie, capi.parse_cookie], ids=["python", "native"])
def test_none_fails_as_a_method_call_on_none(entry):
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'split'"):
        entry(None)


@pytest.mark.parametrize("call, error", [
    ("parse_cookie()", "parse_cookie() takes exactly 1 positional argument (0 given)"),
    ("parse_cookie(b'a=b', b'c')", "parse_cookie() takes exactly 1 positional argument (2 given)"),
    ("parse_cookie(raw=b'a=b')", "parse_cookie() takes exactly 1 positional argument (0 given)"),
    ("parse_cookie(b'a=b', raw=1)", "parse_cookie() got an unexpected keyword argument 'raw'"),
    ("parse_cookie(b'a=b', raw_value=b'a=b')",
     "parse_cookie() got multiple values for keyword argument 'raw_value'"),
])
def test_argument_binding(call, error):
    with pytest.raises(TypeError) as info:
        eval(call, {"parse_cookie": parse_cookie})
    assert str(info.value) == error
    assert parse_cookie(raw_value=b"a=b").name == "a"


@pytest.mark.parametrize("raw, separator, expected", [
    (b"a; b", b"; ", (b"a", b" b")),
    (b"abc", b"", (b"", b"bc")),
    (b"", b"", (b"", b"")),
    (b"a=b=c", b"=", (b"a", b"b=c")),
    (b"=", b"=", (b"", b"")),
])
def test_split_value(raw, separator, expected):
    assert capi.split_value(raw, separator) == expected


def test_split_value_missing_separator_is_the_search_error():
    with pytest.raises(ValueError) as info:
        capi.split_value(b"abc", b"=")
    with pytest.raises(ValueError) as expected:
        b"abc".index(b"=")
    assert str(info.value) == str(expected.value)


@pytest.mark.parametrize("raw, code", [
    (None, 0), (b"", 0), (b"strict", 2), (b"STRICT", 2), (b"Lax", 1), (b"nOnE", 3),
    (b" lax", 0), (b"lax ", 0), (b"bogus", 0), (b"str\xefct", 0),
])
def test_same_site_mode_from_bytes(raw, code):
    assert capi.same_site_mode_raw(raw) == (code, None)


@pytest.mark.parametrize("raw", [1, "lax", bytearray(b"lax")])
def test_native_entries_fail_safely_outside_their_contract(raw):
    code, error = capi.same_site_mode_raw(raw)
    assert code == 0 and isinstance(error, TypeError)
    for call in (lambda: capi.parse_cookie(raw), lambda: capi.split_value(raw, b"="),
                 lambda: capi.split_value(b"a=b", raw), lambda: capi.split_value(None, b"=")):
        with pytest.raises((TypeError, AttributeError)):
            call()


def test_the_flag_changes_nothing():
    assert fields(capi.parse_cookie(FULL, 0)) == fields(capi.parse_cookie(FULL, 1))


class TestModuleLevelNames:
    """unquote is looked up on every use; the Cookie type is the module's own."""

    def test_rebound_unquote_is_called_for_name_and_value(self, monkeypatch):
        seen = []
        monkeypatch.setattr(cookies, "unquote", lambda text: seen.append(text) or text.upper())
        cookie = parse_cookie(b"a%20=b; Domain=d")
        assert (cookie.name, cookie.value, cookie.domain) == ("A%20", "B", "d")
        assert seen == ["a%20", "b"]

    def test_deleted_unquote_falls_back_to_builtins_then_fails(self, monkeypatch):
        import builtins
        monkeypatch.delattr(cookies, "unquote")
        with pytest.raises(NameError, match="name 'unquote' is not defined"):
            parse_cookie(b"a=b")
        monkeypatch.setattr(builtins, "unquote", str.upper, raising=False)
        assert parse_cookie(b"a=b").value == "B"

    def test_rebinding_cookie_changes_nothing(self, monkeypatch):
        monkeypatch.setattr(cookies, "Cookie", None)
        assert type(parse_cookie(b"a=b")) is Cookie

    def test_unquote_returning_a_non_str_reaches_the_constructor(self, monkeypatch):
        monkeypatch.setattr(cookies, "unquote", lambda text: b"x")
        with pytest.raises(TypeError, match="Argument 'name' has incorrect type"):
            parse_cookie(b"a=b")


# ---- What the parser builds against what the constructor builds ------------------

class StrSub(str):
    pass


class Code(int):
    pass


class DatetimeSub(datetime.datetime):
    pass


TWO_HOURS = datetime.timezone(datetime.timedelta(hours=2))
part_values = st.one_of(
    st.text(max_size=6), st.sampled_from(["", "\ud800"]),
    st.integers(4095, 4097).map("a".__mul__), st.integers(2047, 2049).map("\u00e9".__mul__),
    st.builds(StrSub, st.text(max_size=3)), st.integers(-2, 2), st.none(), st.just(b"x"))
expiry_values = st.one_of(
    st.none(), st.datetimes(), st.datetimes().map(lambda d: d.replace(tzinfo=TWO_HOURS)),
    st.datetimes().map(lambda d: DatetimeSub.combine(d.date(), d.time())))
same_site_values = st.one_of(
    st.sampled_from(list(CookieSameSiteMode)), st.integers(-1, 5), st.just(2**32 - 1),
    st.just(2**32), st.builds(Code, st.integers(0, 4)), st.just(True), st.just("LAX"), st.none())
attribute_text = st.text("abcxyz./-_", min_size=1, max_size=6)


def record(call, *args):
    """The fields a cookie holds as its struct stores them, or the error."""
    try:
        return ("ok", capi.fields(call(*args)))
    except Exception as e:  # noqa: BLE001 - every error is compared
        return ("error", type(e), str(e))


@settings(max_examples=300, deadline=None)
@given(name=part_values, value=part_values, expires=expiry_values,
       domain=st.none() | attribute_text, path=st.none() | attribute_text,
       http_only=st.booleans(), secure=st.booleans(), max_age=st.integers(-5, 2**63 - 1),
       same_site=same_site_values)
def test_parser_builds_what_the_constructor_builds(name, value, expires, domain, path,
                                                   http_only, secure, max_age, same_site):
    # unquote hands over the drawn name and value, parsedate_to_datetime the
    # expiry and the SameSite enumeration the drawn member, so that the
    # parser's shortcut meets everything the constructor might refuse.
    parts = iter([name, value])
    header = "n=v" + "".join([
        "; Expires=x" if expires is not None else "", f"; Domain={domain}" if domain else "",
        f"; Path={path}" if path else "", "; HttpOnly" if http_only else "",
        "; Secure" if secure else "", f"; Max-Age={max_age}", "; SameSite=Lax"])
    modes = type("Modes", (), dict(UNDEFINED=0, LAX=same_site, STRICT=2, NONE=3))
    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(cookies, "unquote", lambda text: next(parts))
        patch.setattr(cookies, "parsedate_to_datetime", lambda text: expires)
        patch.setattr(cookies, "CookieSameSiteMode", modes)
        parsed = record(capi.parse_cookie, header.encode())
        naive = expires.replace(tzinfo=None) if expires is not None else None
        built = record(Cookie, name, value, naive, domain, path, http_only, secure, max_age,
                       same_site)
    assert parsed == built

"""The native Set-Cookie writer, through the test-only C module, and its
round trip with parse_cookie."""

import datetime

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import velmora.cookies as cookies
from velmora.cookies import Cookie, CookieSameSiteMode, parse_cookie

from generic_paths import either_path  # noqa: F401 - the fixture

capi = pytest.importorskip("velmora._velmora_capi_test")
write = capi.write_cookie_for_response

D = datetime.datetime(2015, 10, 21, 7, 28)
M = CookieSameSiteMode


@pytest.mark.parametrize("kwargs, expected", [
    (dict(name="user id", value="a b/c;d", expires=D, max_age=3600, domain="intranet",
          path="/app", http_only=True, same_site=M.NONE),
     b"user%20id=a%20b/c%3Bd; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=3600; "
     b"Domain=intranet; Path=/app; HttpOnly; Secure; SameSite=None"),
    (dict(name="a", value="b"), b"a=b"),
    (dict(name="a", value=""), b"a="),
    (dict(name="a", value="b", max_age=0), b"a=b; Max-Age=0"),
    (dict(name="a", value="b", max_age=2**63 - 1), b"a=b; Max-Age=9223372036854775807"),
    (dict(name="a", value="b", max_age=-7), b"a=b"),
    (dict(name="a", value="b", same_site=M.LAX), b"a=b; SameSite=Lax"),
    (dict(name="a", value="b", same_site=M.STRICT), b"a=b; Secure; SameSite=Strict"),
    (dict(name="a", value="b", secure=True, same_site=M.NONE), b"a=b; Secure; SameSite=None"),
    (dict(name="a", value="b", secure=True, http_only=True), b"a=b; HttpOnly; Secure"),
    (dict(name="a", value="b", domain="", path=""), b"a=b"),
    (dict(name="a", value="b", path="/x;y"), b"a=b; Path=/x;y"),
    (dict(name="caf\u00e9", value="1=2"), b"caf%C3%A9=1%3D2"),
    (dict(name="a", value="~_.-/ +%\x00\x7f"), b"a=~_.-/%20%2B%25%00%7F"),
    (dict(name="a", value="b", domain="\u00e9.example"), "a=b; Domain=\u00e9.example".encode()),
    # Around the size of the writer's inline buffer for quoted names and values.
    (dict(name="n", value="\u00e9" * 100), b"n=" + b"%C3%A9" * 100),
    (dict(name="x" * 127, value="y" * 128), b"x" * 127 + b"=" + b"y" * 128),
    (dict(name="x" * 129, value=" " * 43), b"x" * 129 + b"=" + b"%20" * 43),
    (dict(name="a", value="b", expires=D.replace(microsecond=5)),
     b"a=b; Expires=Wed, 21 Oct 2015 07:28:00 GMT"),
])
def test_writes(kwargs, expected, either_path):
    assert write(Cookie(**kwargs)) == expected


@pytest.mark.parametrize("http_only, secure, same_site", [
    (h, s, m) for h in (False, True) for s in (False, True) for m in M])
def test_flags_in_every_combination(http_only, secure, same_site, either_path):
    parts = ["a=b", "Max-Age=1"] + ["HttpOnly"] * http_only
    parts += ["Secure"] * (secure or same_site in (M.STRICT, M.NONE))
    parts += {M.LAX: ["SameSite=Lax"], M.STRICT: ["SameSite=Strict"],
              M.NONE: ["SameSite=None"]}.get(same_site, [])
    cookie = Cookie("a", "b", http_only=http_only, secure=secure, max_age=1, same_site=same_site)
    assert write(cookie) == "; ".join(parts).encode()


def test_unnamed_same_site_code_writes_no_same_site():
    cookie = Cookie("a", "b")
    cookie.__setstate__(("a", "b", None, None, False, -1, None, 7, False))
    assert write(cookie) == b"a=b"


@pytest.mark.parametrize("attribute, text", [
    ("domain", "evil\r\nSet-Cookie: x=y"),
    ("path", "/\n"),
    ("domain", "a\x00b"),
    ("path", "/\x7f"),
    ("path", "/\x1f"),
    ("domain", "\t"),
])
def test_control_bytes_are_refused(attribute, text, either_path):
    cookie = Cookie("a", "b", **{attribute: text})
    with pytest.raises(ValueError, match=f"cookie {attribute} contains the control byte"):
        write(cookie)


def test_control_bytes_from_a_rebound_quote_are_refused(monkeypatch):
    monkeypatch.setattr(cookies, "quote", lambda text: text)
    with pytest.raises(ValueError, match="cookie value contains the control byte 0x0A"):
        write(Cookie("a", "b\nc"))
    with pytest.raises(ValueError, match="cookie name contains the control byte 0x0D"):
        write(Cookie("a\r", "b"))


def test_control_bytes_from_strftime_are_refused():
    class Odd(datetime.datetime):
        def strftime(self, fmt):
            return "Wed\r\nX: y"
    with pytest.raises(ValueError, match="cookie expires contains the control byte 0x0D"):
        write(Cookie("a", "b", Odd(2015, 1, 1)))


@pytest.mark.parametrize("kwargs, error", [
    (dict(name="a", value=None), TypeError),
    (dict(name="a", value="b", domain="\ud800"), UnicodeEncodeError),
    (dict(name="a", value="b", path="/\udfff"), UnicodeEncodeError),
    (dict(name="\ud800", value="b"), UnicodeEncodeError),
])
def test_failures(kwargs, error, either_path):
    with pytest.raises(error):
        write(Cookie(**kwargs) if kwargs["value"] is not None else Cookie(kwargs["name"], None))


def test_quote_error_is_the_standard_functions():
    from urllib.parse import quote
    with pytest.raises(TypeError) as expected:
        quote(None)
    with pytest.raises(TypeError) as info:
        write(Cookie("a", None))
    assert str(info.value) == str(expected.value)


class NoBuffer:
    """Kept by + on either side, and joined by nothing: it has no buffer."""

    def __add__(self, other):
        return self

    __radd__ = __add__

    def encode(self):
        return self


def test_part_without_buffer_fails_as_bytes_join_does(monkeypatch):
    with pytest.raises(TypeError) as expected:
        b"; ".join([NoBuffer(), b"Max-Age=1"])
    monkeypatch.setattr(cookies, "quote", lambda text: NoBuffer())
    with pytest.raises(TypeError) as info:
        write(Cookie("a", "b", max_age=1))
    assert str(info.value) == str(expected.value)


class TestModuleLevelNames:
    def test_quote_is_looked_up_for_name_and_value(self, monkeypatch):
        seen = []
        monkeypatch.setattr(cookies, "quote", lambda text: seen.append(text) or text.upper())
        assert write(Cookie("a b", "c", path="/p q")) == b"A B=C; Path=/p q"
        assert seen == ["a b", "c"]

    def test_deleted_quote(self, monkeypatch):
        monkeypatch.delattr(cookies, "quote")
        with pytest.raises(NameError, match="name 'quote' is not defined"):
            write(Cookie("a", "b"))

    def test_quote_returning_bytes_fails_at_encode(self, monkeypatch):
        monkeypatch.setattr(cookies, "quote", lambda text: text.encode())
        with pytest.raises(AttributeError, match="'bytes' object has no attribute 'encode'"):
            write(Cookie("a", "b"))


def test_subclass_properties_are_honoured_for_name_and_value_only():
    class Sub(Cookie):
        name = property(lambda self: "n", Cookie.name.__set__)
        value = property(lambda self: "v w", Cookie.value.__set__)
        path = property(lambda self: "/ignored", Cookie.path.__set__)

    assert write(Sub("a", "b", path="/p")) == b"n=v%20w; Path=/p"


def test_subclass_property_returning_an_int_fails_in_quote():
    class Sub(Cookie):
        name = property(lambda self: 5, Cookie.name.__set__)

    with pytest.raises(TypeError):
        write(Sub("a", "b"))


def test_aware_expiry_is_written_as_its_wall_clock():
    aware = D.replace(tzinfo=datetime.timezone(datetime.timedelta(hours=2)))
    assert write(Cookie("a", "b", aware)) == b"a=b; Expires=Wed, 21 Oct 2015 07:28:00 GMT"


# ---- round trip ---------------------------------------------------------------------------

texts = st.text(st.characters(codec="utf-8"), max_size=20)
no_pair = texts.filter(lambda s: "; " not in s and s[-1:] != ";" and not any(
    ord(c) < 0x20 or ord(c) == 0x7f for c in s))


@settings(max_examples=300, deadline=None)
@given(
    name=texts.filter(bool), value=texts,
    expires=st.none() | st.datetimes(min_value=datetime.datetime(1000, 1, 1)).map(
        lambda d: d.replace(microsecond=0)),
    domain=st.none() | no_pair.filter(bool), path=st.none() | no_pair.filter(bool),
    http_only=st.booleans(), secure=st.booleans(),
    max_age=st.just(-1) | st.integers(0, 2**63 - 1), same_site=st.sampled_from(list(M)),
)
def test_round_trip(name, value, expires, domain, path, http_only, secure, max_age, same_site):
    try:
        cookie = Cookie(name, value, expires, domain, path, http_only, secure, max_age,
                        same_site)
    except cookies.CookieValueExceedsMaximumLength:
        return
    back = parse_cookie(write(cookie))
    for field in ("name", "value", "expires", "domain", "path", "http_only", "max_age",
                  "same_site"):
        assert getattr(back, field) == getattr(cookie, field), field
    assert back.secure == (secure or same_site in (M.STRICT, M.NONE))


@pytest.mark.parametrize("obj", [None, b"a=b", object(), cookies.CookieError("x")])
def test_writer_refuses_what_is_no_cookie(obj):
    with pytest.raises(TypeError, match="write_cookie_for_response\\(\\) expects a Cookie"):
        write(obj)


def test_quote_is_looked_up_before_the_attribute_is_read(monkeypatch):
    class Sub(Cookie):
        name = property(lambda self: 1 / 0, Cookie.name.__set__)

    monkeypatch.delattr(cookies, "quote")
    with pytest.raises(NameError):
        write(Sub("a", "b"))

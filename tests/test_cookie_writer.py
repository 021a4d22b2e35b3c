"""write_cookie_for_response, reached through the test-only native module."""

import datetime
import urllib.parse

import pytest

import velmora.cookies as cookies
from velmora.cookies import Cookie, CookieSameSiteMode

capi_test = pytest.importorskip("velmora._velmora_capi_test")
write = capi_test.write_cookie_for_response

EXPIRES = datetime.datetime(2015, 10, 21, 7, 28)


@pytest.mark.parametrize(
    "kwargs, written",
    [
        (dict(name="user id", value="a b/c;d", expires=EXPIRES, max_age=3600, domain="intranet",
              path="/app", http_only=True, same_site=CookieSameSiteMode.NONE),
         b"user%20id=a%20b/c%3Bd; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=3600;"
         b" Domain=intranet; Path=/app; HttpOnly; Secure; SameSite=None"),
        (dict(name="a", value="b"), b"a=b"),
        (dict(name="a", value=""), b"a="),
        (dict(name="a", value="b", max_age=0), b"a=b; Max-Age=0"),
        (dict(name="a", value="b", max_age=9223372036854775807),
         b"a=b; Max-Age=9223372036854775807"),
        (dict(name="a", value="b", max_age=-5), b"a=b"),
        (dict(name="a", value="b", same_site=CookieSameSiteMode.LAX), b"a=b; SameSite=Lax"),
        (dict(name="a", value="b", same_site=CookieSameSiteMode.STRICT),
         b"a=b; Secure; SameSite=Strict"),
        (dict(name="a", value="b", secure=True, same_site=CookieSameSiteMode.NONE),
         b"a=b; Secure; SameSite=None"),
        (dict(name="a", value="b", secure=True, http_only=True), b"a=b; HttpOnly; Secure"),
        (dict(name="a", value="b", domain="", path=""), b"a=b"),
        (dict(name="a", value="b", path="/x;y"), b"a=b; Path=/x;y"),
        (dict(name="café", value="1=2"), b"caf%C3%A9=1%3D2"),
        (dict(name="n", value="é" * 100), b"n=" + b"%C3%A9" * 100),  # beyond the inline buffer
    ],
)
def test_written_bytes(kwargs, written):
    assert write(Cookie(**kwargs)) == written


def test_overridden_name_and_value_are_read_by_attribute():
    class Renamed(Cookie):
        @property
        def name(self):
            return "other name"

        @name.setter
        def name(self, value):
            pass

    assert write(Renamed("a", "b")) == b"other%20name=b"


def test_rebound_quote_is_called_for_name_and_value(monkeypatch):
    seen = []

    def spy(text):
        seen.append(text)
        return urllib.parse.quote(text).upper()

    monkeypatch.setattr(cookies, "quote", spy)
    assert write(Cookie("ab", "cd")) == b"AB=CD"
    assert seen == ["ab", "cd"]


@pytest.mark.parametrize(
    "cookie, error",
    [
        (Cookie("a", None), TypeError),
        (Cookie("a", "b", domain="\ud800"), UnicodeEncodeError),
        (Cookie("a", "b", path="/x\r\nSet-Cookie: evil=1"), ValueError),
    ],
)
def test_write_errors(cookie, error):
    with pytest.raises(error) as info:
        write(cookie)
    if cookie.value is None:
        with pytest.raises(TypeError) as standard:
            urllib.parse.quote(None)
        assert str(info.value) == str(standard.value)


def test_missing_quote_is_a_name_error(python_subprocess):
    # In a fresh interpreter: deleting the name reorders the module namespace.
    result = python_subprocess("""
        import velmora.cookies as cookies
        from velmora._velmora_capi_test import write_cookie_for_response
        del cookies.quote
        try:
            write_cookie_for_response(cookies.Cookie("a", "b"))
        except NameError as e:
            print(e)
    """)
    assert result.stdout.strip() == "name 'quote' is not defined", result.stderr


def test_surrogate_in_name_fails_as_quote_fails():
    cookie = Cookie("a", "b")
    cookie.name = "\udc80"
    with pytest.raises(UnicodeEncodeError) as native:
        write(cookie)
    with pytest.raises(UnicodeEncodeError) as standard:
        urllib.parse.quote("\udc80")
    assert str(native.value) == str(standard.value)

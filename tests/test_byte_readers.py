"""The byte-level readers of velmora.cookies on input that ends where an
unreadable page begins (the test-only module velmora._reader_probe): a read
past the last byte faults, and what the readers find is what parse_cookie
and datetime_from_cookie_format make of the same bytes."""

import datetime
import urllib.parse

import pytest
from hypothesis import HealthCheck, example, given, settings
from hypothesis import strategies as st

import velmora.cookies as cookies
from velmora.cookies import CookieSameSiteMode

probe = pytest.importorskip("velmora._reader_probe")

READERS = settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])

# Pieces of header syntax, so that draws meet the readers' boundaries: every
# key and flag in any case, separators, quotes, signs and digits.
header_pieces = st.sampled_from([
    "; ", ";", "=", " ", '"', "a", "b", "%20", "Expires", "expires=", "Domain=", "domain",
    "Path=", "PATH=", "Max-Age=", "max-age=", "SameSite=", "samesite=", "Lax", "STRICT", "none",
    "HttpOnly", "httponly", "Secure", "SECURE", "12", "-3", "+0", "1_0", "99999999999999999999",
    "Wed, 21 Oct 2015 07:28:00 GMT", "x=", "\xe9", "\t"])
headers = st.lists(header_pieces, max_size=14).map("".join).map(str.encode) | st.binary(
    max_size=24)


def outcome(call, *args):
    try:
        return ("ok", call(*args))
    except Exception as e:  # noqa: BLE001 - every error is compared
        return ("error", type(e), str(e))


def cookie_from_probe(found):
    """What parse_cookie builds from what the byte reader found, step by step
    as the documented algorithm takes it."""
    name, value, expires, domain, path, code, max_age, http_only, secure = found
    return (urllib.parse.unquote(name.decode()), urllib.parse.unquote(value.decode()),
            cookies.datetime_from_cookie_format(expires) if expires else None,
            domain.decode() or None, path.decode() or None, http_only, secure, max_age,
            CookieSameSiteMode(code))


def cookie_fields(cookie):
    return (cookie.name, cookie.value, cookie.expires, cookie.domain, cookie.path,
            cookie.http_only, cookie.secure, cookie.max_age, cookie.same_site)


@READERS
@given(headers)
@example(b"")
@example(b"a=b; SameSite=Lax; SameSite=")
@example(b'a=""; Path=/x;Secure')
@example(b"a=b; Max-Age=1_0; Domain=d")
def test_the_header_reader_finds_what_parse_cookie_builds(raw):
    found = outcome(probe.read_header, raw)
    parsed = outcome(cookies.parse_cookie, raw)
    if found[0] == "error":  # int() of a Max-Age, raised by the reader itself
        assert parsed == found
    elif found[1][0] == "bad pair":
        assert parsed == ("error", ValueError,
                          f"Invalid name=value fragment: {found[1][1]!r}")
    else:
        built = outcome(cookie_from_probe, found[1])
        if parsed[0] == "ok":
            assert built == ("ok", cookie_fields(parsed[1]))
        elif built[0] == "ok":  # the constructor refused the fields
            assert parsed[1] is cookies.CookieValueExceedsMaximumLength or parsed[1:] == (
                ValueError, "A cookie name is required")
        else:
            assert built == parsed


DAY_NAMES = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun", "xyz"]
MONTHS = ["Jan", "feb", "MAR", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec", "Foo"]


@st.composite
def dates(draw):
    number = st.integers(0, 99).map("{:02d}".format)
    text = "{}, {} {} {:04d} {}:{}:{} {}".format(
        draw(st.sampled_from(DAY_NAMES)), draw(number), draw(st.sampled_from(MONTHS)),
        draw(st.integers(0, 9999)), draw(number), draw(number), draw(number),
        draw(st.sampled_from(["GMT", "gmt", "UTC", "+0000"])))
    cut = draw(st.integers(0, len(text)))
    return text.encode() if draw(st.booleans()) else text[:cut].encode()


@READERS
@given(dates() | st.binary(max_size=32))
@example(b"Wed, 21 Oct 2015 07:28:00 GMT")
@example(b"Wed, 21 Oct 2015 07:28:00 GM")
@example(b"Thu, 01 Jan 0068 00:00:00 GMT")
def test_the_date_reader_finds_what_the_standard_function_reads(raw):
    found = probe.read_date(raw)
    if found is not None:
        assert cookies.datetime_from_cookie_format(raw) == datetime.datetime(*found)

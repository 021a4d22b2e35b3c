"""datetime_to_cookie_format and datetime_from_cookie_format, from Python
and through the native function table."""

import builtins
import datetime
import email.utils

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import velmora.cookies as cookies
from velmora.cookies import datetime_from_cookie_format, datetime_to_cookie_format

from generic_paths import either_path  # noqa: F401 - the fixture

capi = pytest.importorskip("velmora._velmora_capi_test")

D = datetime.datetime(2015, 10, 21, 7, 28)
PLUS_TWO = datetime.timezone(datetime.timedelta(hours=2))

TO = [datetime_to_cookie_format, capi.datetime_to_cookie_format]
FROM = [datetime_from_cookie_format, capi.datetime_from_cookie_format]
IDS = ["python", "native"]


@pytest.mark.parametrize("to", TO, ids=IDS)
@pytest.mark.parametrize("value, expected", [
    (D, b"Wed, 21 Oct 2015 07:28:00 GMT"),
    (D.replace(microsecond=123456), b"Wed, 21 Oct 2015 07:28:00 GMT"),
    (D.replace(tzinfo=PLUS_TWO), b"Wed, 21 Oct 2015 07:28:00 GMT"),
    (datetime.datetime(2021, 3, 5, 9, 3, 7), b"Fri, 05 Mar 2021 09:03:07 GMT"),
    (datetime.datetime(1, 1, 1), b"Mon, 01 Jan 0001 00:00:00 GMT"),
    (datetime.datetime(9999, 12, 31, 23, 59, 59), b"Fri, 31 Dec 9999 23:59:59 GMT"),
])
def test_format(to, value, expected, either_path):
    assert to(value) == expected


@pytest.mark.parametrize("parse", FROM, ids=IDS)
@pytest.mark.parametrize("raw", [
    b"Wed, 21 Oct 2015 07:28:00 GMT", b"Wed, 21 Oct 2015 07:28:00 +0200",
    b"Wed, 21 Oct 2015 07:28:00 -0000", b"Wed, 21 Oct 2015 07:28:00 UTC",
    b"21 Oct 2015 07:28:00", b"Thu, 21 Oct 2015 07:28:00 GMT",
])
def test_parse_keeps_the_wall_clock(parse, raw, either_path):
    result = parse(raw)
    assert result == D and result.tzinfo is None and type(result) is datetime.datetime


@pytest.mark.parametrize("parse", FROM, ids=IDS)
@pytest.mark.parametrize("raw, error", [
    (b"", ValueError), (b"garbage", ValueError), (b"\xff", UnicodeDecodeError),
    (None, AttributeError),
])
def test_parse_failures(parse, raw, error, either_path):
    with pytest.raises(error) as info:
        parse(raw)
    if raw is None:
        assert str(info.value) == "'NoneType' object has no attribute 'decode'"
    elif error is ValueError:
        with pytest.raises(ValueError) as expected:
            email.utils.parsedate_to_datetime(raw.decode())
        assert str(info.value) == str(expected.value)


@pytest.mark.parametrize("function, value, expected", [
    (datetime_to_cookie_format, datetime.date(2015, 1, 1), "datetime.datetime, got datetime.date"),
    (datetime_to_cookie_format, "x", "datetime.datetime, got str"),
    (datetime_from_cookie_format, bytearray(b"Wed, 21 Oct 2015 07:28:00 GMT"),
     "bytes, got bytearray"),
    (datetime_from_cookie_format, "Wed, 21 Oct 2015 07:28:00 GMT", "bytes, got str"),
    (datetime_from_cookie_format, type("B", (bytes,), {})(b""), "bytes, got B"),
])
def test_argument_types(function, value, expected):
    with pytest.raises(TypeError) as info:
        function(value)
    assert str(info.value) == f"Argument 'value' has incorrect type (expected {expected})"


def test_format_none_is_the_missing_strftime():
    with pytest.raises(AttributeError, match="'NoneType' object has no attribute 'strftime'"):
        datetime_to_cookie_format(None)
    assert datetime_to_cookie_format(value=D) == b"Wed, 21 Oct 2015 07:28:00 GMT"
    assert datetime_from_cookie_format(value=b"Wed, 21 Oct 2015 07:28:00 GMT") == D


class OwnFormat(datetime.datetime):
    def strftime(self, fmt):
        return "<" + fmt + ">"


class BytesFormat(datetime.datetime):
    def strftime(self, fmt):
        return StrEncodingTo(fmt)


class StrEncodingTo(str):
    result = 5

    def encode(self, *args):
        return self.result


def test_strftime_override_is_honoured():
    assert datetime_to_cookie_format(OwnFormat(2015, 1, 1)) == b"<%a, %d %b %Y %H:%M:%S GMT>"


@pytest.mark.parametrize("result, error", [(5, "Expected bytes, got int"),
                                           (bytearray(b"x"), "Expected bytes, got bytearray")])
def test_encode_returning_a_foreign_type(monkeypatch, result, error):
    monkeypatch.setattr(StrEncodingTo, "result", result)
    with pytest.raises(TypeError, match=error):
        datetime_to_cookie_format(BytesFormat(2015, 1, 1))


def test_encode_returning_none_passes(monkeypatch):
    monkeypatch.setattr(StrEncodingTo, "result", None)
    assert datetime_to_cookie_format(BytesFormat(2015, 1, 1)) is None


class TestParsedateLookup:
    def test_rebinding_changes_later_calls(self, monkeypatch):
        monkeypatch.setattr(cookies, "parsedate_to_datetime", lambda text: D.replace(year=2000))
        assert datetime_from_cookie_format(b"whatever") == D.replace(year=2000)

    def test_deleting_fails_before_the_argument_is_looked_at(self, monkeypatch):
        monkeypatch.delattr(cookies, "parsedate_to_datetime")
        for value in (None, b"x"):
            with pytest.raises(NameError, match="name 'parsedate_to_datetime' is not defined"):
                datetime_from_cookie_format(value)
        monkeypatch.setattr(builtins, "parsedate_to_datetime", lambda text: D, raising=False)
        assert datetime_from_cookie_format(b"x") == D

    @pytest.mark.parametrize("result, error", [
        (datetime.time(1), TypeError),
        (5, AttributeError),
    ])
    def test_foreign_results(self, monkeypatch, result, error):
        monkeypatch.setattr(cookies, "parsedate_to_datetime", lambda text: result)
        with pytest.raises(error) as info:
            datetime_from_cookie_format(b"x")
        if error is TypeError:
            assert str(info.value) == "Cannot convert datetime.time to datetime.datetime"

    def test_replace_returning_none_passes(self, monkeypatch):
        class Odd:
            def replace(self, **kwargs):
                assert kwargs == {"tzinfo": None}
                return None
        monkeypatch.setattr(cookies, "parsedate_to_datetime", lambda text: Odd())
        assert datetime_from_cookie_format(b"x") is None

    def test_subclass_result_is_kept(self, monkeypatch):
        class Sub(datetime.datetime):
            pass
        monkeypatch.setattr(cookies, "parsedate_to_datetime", lambda text: Sub(2015, 1, 1))
        assert type(datetime_from_cookie_format(b"x")) is Sub


@settings(max_examples=300, deadline=None)
@given(st.datetimes(min_value=datetime.datetime(1000, 1, 1)).map(lambda d: d.replace(microsecond=0)))
def test_format_then_parse_is_exact(value):
    assert datetime_from_cookie_format(datetime_to_cookie_format(value)) == value

"""Every-position byte tables: the native date reader against the standard
function, the writer's control-byte refusal in every part it checks, and
runs of lone semicolons in the parser.

Each test item runs a whole batch of generated cases and reports the first
cases that differ, so the tables stay cheap to run."""

import datetime
import email.utils
import string
import urllib.parse

import pytest

import velmora.cookies as cookies
from velmora.cookies import Cookie, CookieSameSiteMode
from test_fast_paths import outcome, rebound, same_datetime

capi = pytest.importorskip("velmora._velmora_capi_test")


def report(mismatches, total):
    """The failure text of a batch: how many cases differ and the first few."""
    shown = "\n".join(f"  {case}" for case in mismatches[:8])
    return f"{len(mismatches)} of {total} cases differ, first:\n{shown}"


# ---- Dates: each position of a canonical text, each byte class ------------------

CANONICAL_DATES = [
    b"Wed, 21 Oct 2015 07:28:00 GMT",
    b"Thu, 01 Jan 2015 00:00:00 GMT",
    # Every field at its largest: a higher digit anywhere leaves the range.
    b"Fri, 31 Dec 9999 23:59:59 gmt",
    # Two-digit years: 0068 is 2068, a leap year; 0069 would be 1969.
    b"Tue, 29 Feb 0068 12:34:56 GmT",
]
BLANKS = b" \t\n\r\x0b\x0c"
BYTE_CLASSES = {
    "digit": string.digits.encode(),
    "letter": string.ascii_letters.encode(),
    "blank": BLANKS,
    "punctuation": string.punctuation.encode(),
    "control": bytes(b for b in [*range(0x20), 0x7F] if b not in BLANKS),
    "high": bytes(range(0x80, 0x100)),
}


def standard_date(raw):
    return email.utils.parsedate_to_datetime(raw.decode()).replace(tzinfo=None)


@pytest.mark.parametrize("byte_class", BYTE_CLASSES)
@pytest.mark.parametrize("canonical", CANONICAL_DATES, ids=lambda raw: raw[:16].decode())
def test_dates_with_one_byte_replaced(canonical, byte_class):
    """The native reader (through the Python function and the function table)
    gives what the standard function gives, value and type or error type and
    text, for the text with any one position replaced by any byte of a class."""
    mismatches, total = [], 0
    for at in range(len(canonical)):
        for byte in BYTE_CLASSES[byte_class]:
            raw = canonical[:at] + bytes([byte]) + canonical[at + 1:]
            expected = outcome(standard_date, raw)
            for via, read in (("function", cookies.datetime_from_cookie_format),
                              ("table", capi.datetime_from_cookie_format)):
                total += 1
                got = outcome(read, raw)
                if not same_datetime(got, expected):
                    mismatches.append(f"{raw!r} ({via}, position {at}): {got} != {expected}")
    assert not mismatches, report(mismatches, total)


# ---- The writer: each control byte at each position of each checked part ----------

CONTROL_BYTES = bytes([*range(0x20), 0x7F])
# Printable neighbours of the refused ranges (0x20, 0x7E) among other bytes.
FILLER = b" ~!/aZ09-_.+ ~"
LENGTHS = range(1, 41)
DATE = datetime.datetime(2015, 10, 21, 7, 28)


def part(length, at=None, byte=None):
    """`length` filler bytes, with `byte` at position `at`."""
    raw = bytearray(FILLER * (length // len(FILLER) + 1))[:length]
    if at is not None:
        raw[at] = byte
    return bytes(raw)


class EncodesToBytearray(str):
    """A text whose encode() gives a bytearray: joined through its buffer."""

    def encode(self, *args):
        return bytearray(str.encode(self, *args))


class Formatted(datetime.datetime):
    """A datetime whose strftime returns the text it was given."""

    def strftime(self, fmt):
        return self.text


def formatted(text):
    moment = Formatted(2015, 10, 21, 7, 28)
    moment.text = text
    return moment


def quoted(raw):
    return urllib.parse.quote(raw.decode()).encode()


# part -> (quote bound while writing (None: the standard one), the cookie for
# the part's text, the bytes written for it, the name the refusal gives or
# None: never refused)
WRITER_PARTS = {
    "name, standard quote": (None, lambda t: Cookie(t, "b"), lambda r: quoted(r) + b"=b", None),
    "value, standard quote": (None, lambda t: Cookie("a", t), lambda r: b"a=" + quoted(r), None),
    "name, quote returning it": (str, lambda t: Cookie(t, "b"), lambda r: r + b"=b", "name"),
    "value, quote returning it": (str, lambda t: Cookie("a", t), lambda r: b"a=" + r,
                                  "value"),
    "name, quote result encoding to bytearray": (
        EncodesToBytearray, lambda t: Cookie(t, "b"), lambda r: r + b"=b", "name or value"),
    "value, quote result encoding to bytearray": (
        EncodesToBytearray, lambda t: Cookie("a", t), lambda r: b"a=" + r, "name or value"),
    "expires, strftime override": (
        None, lambda t: Cookie("a", "b", formatted(t)), lambda r: b"a=b; Expires=" + r,
        "expires"),
    "domain": (None, lambda t: Cookie("a", "b", domain=t), lambda r: b"a=b; Domain=" + r,
               "domain"),
    "path": (None, lambda t: Cookie("a", "b", path=t), lambda r: b"a=b; Path=" + r, "path"),
}


def refusal(attribute, byte):
    return ("error", ValueError,
            f"cookie {attribute} contains the control byte 0x{byte:02X}, which cannot be written "
            f"into a Set-Cookie header")


def write_outcome(quote, cookie):
    if quote is None:
        return outcome(capi.write_cookie_for_response, cookie)
    with rebound("quote", quote):
        return outcome(capi.write_cookie_for_response, cookie)


@pytest.mark.parametrize("name", WRITER_PARTS)
def test_control_bytes_in_each_written_part(name):
    """Through the function table as other native modules call it: a part of
    1 to 40 bytes with one control byte anywhere is refused, naming the part
    and the byte (or percent-encoded, where the standard quote runs), and the
    clean part is written as it is."""
    quote, make, written, attribute = WRITER_PARTS[name]
    mismatches, total = [], 0

    def check(raw, expected):
        nonlocal total
        total += 1
        got = write_outcome(quote, make(raw.decode()))
        if got != expected:
            mismatches.append(f"{raw!r}: {got} != {expected}")

    for length in LENGTHS:
        check(part(length), ("ok", written(part(length))))
        for at in range(length):
            for byte in CONTROL_BYTES:
                raw = part(length, at, byte)
                check(raw, refusal(attribute, byte) if attribute else ("ok", written(raw)))
    assert not mismatches, report(mismatches, total)


# ---- The parser: runs of lone semicolons around the attributes ---------------------

RUNS = (1, 2, 3, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100)
M = CookieSameSiteMode
# (fragment, field it sets, value read from it)
ATTRIBUTES = [
    (b"secure", "secure", True),
    (b"HttpOnly", "http_only", True),
    (b"Path=/p", "path", "/p"),
    (b"domain=d.example", "domain", "d.example"),
    (b"Max-Age=5", "max_age", 5),
    (b"SameSite=Strict", "same_site", M.STRICT),
    (b"Expires=Wed, 21 Oct 2015 07:28:00 GMT", "expires", DATE),
]
DEFAULTS = dict(name="a", value="b", expires=None, domain=None, path=None, http_only=False,
                secure=False, max_age=-1, same_site=M.UNDEFINED)


def kept(*attributes):
    return {field: value for _, field, value in attributes}


# layout -> (header for a run length and attributes, the fields it sets). A
# header without "; " is split at every lone ";" (empty fragments are
# ignored, so every attribute is kept); with one, it is split only there.
LAYOUTS = {
    "after a run": lambda run, attrs: (
        b"a=b" + b"".join(b";" * run + a for a, _, _ in attrs), kept(*attrs)),
    "between runs": lambda run, attrs: (
        b"a=b" + b"".join(b";" * run + a for a, _, _ in attrs) + b";" * run, kept(*attrs)),
    "after a run that follows an attribute": lambda run, attrs: (
        b"a=b;" + attrs[-1][0] + b";" * run + attrs[0][0], kept(attrs[-1], attrs[0])),
    "after a run, with a semicolon-blank before": lambda run, attrs: (
        b"a=b; x" + b";" * run + attrs[0][0], {}),
    "after a run, with a semicolon-blank after": lambda run, attrs: (
        b"a=b" + b";" * run + attrs[0][0] + b"; Path=/q",
        dict(value="b" + ";" * run + attrs[0][0].decode(), path="/q")),
}
# Each attribute alone, and all of them in one header.
ATTRIBUTE_SETS = [[a] for a in ATTRIBUTES] + [ATTRIBUTES]


def parsed_fields(raw):
    result = outcome(cookies.parse_cookie, raw)
    if result[0] != "ok":
        return result
    return {field: getattr(result[1], field) for field in DEFAULTS}


@pytest.mark.parametrize("layout", LAYOUTS)
def test_runs_of_lone_semicolons(layout):
    mismatches, total = [], 0
    for run in RUNS:
        for attrs in ATTRIBUTE_SETS:
            raw, fields = LAYOUTS[layout](run, attrs)
            expected = {**DEFAULTS, **fields}
            got = parsed_fields(raw)
            total += 1
            if got != expected:
                mismatches.append(f"{raw!r}: {got} != {expected}")
    assert not mismatches, report(mismatches, total)

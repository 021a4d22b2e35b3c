"""Python code that the cookie functions call back into, behaving badly.

The module-level quote, unquote and parsedate_to_datetime are looked up at
call time, and the cookie code calls strftime, encode, __eq__, __int__ and
__bool__ and reads properties that subclasses may override. Whatever those
do (raise, return the wrong type, rebind or delete module names, change the
cookie being written, call back in), the outcome is a Python exception or a
sound result, never a crash or a leak.
"""

import contextlib
import datetime
import sys

import pytest

import velmora.cookies as cookies
from velmora.cookies import Cookie, CookieSameSiteMode, CookieValueExceedsMaximumLength

capi = pytest.importorskip("velmora._velmora_capi_test")

D = datetime.datetime(2015, 10, 21, 7, 28)
RAW = b"a%20b=c%20d; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=5; SameSite=Lax"
DATE = b"Wed, 21 Oct 2015 07:28:00 GMT"
SENTINEL = object()


class Boom(Exception):
    pass


def boom(*args, **kwargs):
    raise Boom


@contextlib.contextmanager
def module_names(**replacements):
    """Rebinds (or, for SENTINEL, deletes) module names; everything the block
    rebound or deleted is put back afterwards."""
    names = vars(cookies)
    saved = {name: names[name] for name in
             ("quote", "unquote", "parsedate_to_datetime", "CookieSameSiteMode", "Cookie")}
    try:
        for name, value in replacements.items():
            if value is SENTINEL:
                del names[name]
            else:
                names[name] = value
        yield
    finally:
        names.update(saved)


def with_names(call, **replacements):
    def operation():
        with module_names(**replacements):
            return call()

    return operation


def write(cookie):
    return lambda: capi.write_cookie_for_response(cookie)


def parse(raw=RAW):
    return lambda: cookies.parse_cookie(raw)


# ---- objects that misbehave ----------------------------------------------------


class EncodeRaises(str):
    def encode(self, *args, **kwargs):
        raise Boom


class EncodeReturns(str):
    """A str whose encode() returns whatever the class says."""

    result = None

    def encode(self, *args, **kwargs):
        return self.result


class EncodeReturnsStr(EncodeReturns):
    result = "text"


class EncodeReturnsBytearray(EncodeReturns):
    result = bytearray(b"x")


class IntRaises:
    def __int__(self):
        raise Boom


class IntReturnsStr:
    def __int__(self):
        return "5"


class BoolRaises:
    def __bool__(self):
        raise Boom


class EqRaises:
    def __eq__(self, other):
        raise Boom

    __hash__ = None


class FalseBoolRaises:
    """What __eq__ returns: an object whose truth value cannot be told."""

    def __bool__(self):
        raise Boom


class EqReturnsOdd:
    def __eq__(self, other):
        return FalseBoolRaises()

    __hash__ = None


class Moment(datetime.datetime):
    """A datetime whose strftime (and truth) a class attribute decides."""

    def strftime(self, fmt):
        return self.formatted(fmt)

    def formatted(self, fmt):
        return datetime.datetime.strftime(self, fmt)


def moment(**methods):
    return type("HostileMoment", (Moment,), methods)(2015, 10, 21, 7, 28)


def overriding(**properties):
    """A Cookie subclass whose properties return what `properties` say."""
    namespace = {}
    for name, getter in properties.items():
        namespace[name] = property(getter, lambda self, new, name=name:
                                   getattr(Cookie, name).__set__(self, new))
    return type("OddCookie", (Cookie,), namespace)("n", "v", D, "d", "/p")


class Replacing:
    """replace() result of a rebound parsedate_to_datetime."""

    def __init__(self, result):
        self.result = result

    def replace(self, **kwargs):
        if isinstance(self.result, type) and issubclass(self.result, BaseException):
            raise self.result
        return self.result


class ModeWithOddMembers:
    UNDEFINED = LAX = STRICT = NONE = IntRaises()


class ModeWithTextMembers:
    UNDEFINED = LAX = STRICT = NONE = "lax"


def deleting(name, then):
    """A callable that deletes a module name and then does what `then` does."""

    def call(*args):
        vars(cookies).pop(name, None)
        return then(*args)

    return call


def rebinding(name, value, then):
    def call(*args):
        vars(cookies)[name] = value
        return then(*args)

    return call


def reentering(call):
    def callback(*args):
        call()
        return args[0]

    return callback


def reentrant_quote():
    def quote(text):
        capi.write_cookie_for_response(COOKIE)
        return text

    return with_names(write(COOKIE), quote=quote)


def reentrant_unquote():
    def unquote(text):
        cookies.parse_cookie(RAW)
        return text

    return with_names(parse(), unquote=unquote)


def call_twice(first, second):
    def operation():
        try:
            first()
        except Exception:
            pass
        return second()

    return operation


COOKIE = Cookie("n", "v", moment(), "d", "/p", True, True, 5, CookieSameSiteMode.NONE)


def settable(attribute, value):
    cookie = Cookie("n", "v", D, "d", "/p", True, False, 5, 1)
    before = capi.fields(cookie)

    def operation():
        try:
            setattr(cookie, attribute, value)
        finally:
            assert capi.fields(cookie) == before, "a failed setter changed the cookie"

    return operation


def state_with(index, item):
    state = list(Cookie("n", "v").__reduce__()[2])
    state[index] = item
    return lambda: Cookie.__new__(Cookie).__setstate__(tuple(state))


# name -> (operation, exception it must raise)
HOSTILE = {
    # quote, rebound
    "quote raises": (with_names(write(COOKIE), quote=boom), Boom),
    "quote returns int": (with_names(write(COOKIE), quote=lambda t: 5), AttributeError),
    "quote returns bytes": (with_names(write(COOKIE), quote=lambda t: b"x"), AttributeError),
    "quote returns None": (with_names(write(COOKIE), quote=lambda t: None), AttributeError),
    "quote result's encode raises": (
        with_names(write(COOKIE), quote=EncodeRaises), Boom),
    "quote result's encode returns str": (
        with_names(write(COOKIE), quote=EncodeReturnsStr), TypeError),
    "quote deletes itself": (
        with_names(write(COOKIE), quote=deleting("quote", str)), NameError),
    "quote rebinds itself to a raising one": (
        with_names(write(COOKIE), quote=rebinding("quote", boom, str)), Boom),
    "quote re-enters the writer": (reentrant_quote(), RecursionError),
    "quote deleted": (with_names(write(COOKIE), quote=SENTINEL), NameError),
    # unquote, rebound
    "unquote raises": (with_names(parse(), unquote=boom), Boom),
    "unquote returns int": (with_names(parse(), unquote=lambda t: 5), TypeError),
    "unquote returns bytes": (with_names(parse(), unquote=str.encode), TypeError),
    "unquote returns None": (with_names(parse(), unquote=lambda t: None), ValueError),
    "unquote returns a str subclass": (with_names(parse(), unquote=EncodeRaises), TypeError),
    "unquote returns a long value": (
        with_names(parse(), unquote=lambda t: t * 5000), CookieValueExceedsMaximumLength),
    "unquote deletes itself": (
        with_names(parse(), unquote=deleting("unquote", str)), NameError),
    "unquote deletes CookieSameSiteMode": (
        with_names(parse(), unquote=deleting("CookieSameSiteMode", str)), NameError),
    "unquote rebinds CookieSameSiteMode to object()": (
        with_names(parse(), unquote=rebinding("CookieSameSiteMode", object(), str)),
        AttributeError),
    "CookieSameSiteMode members with a raising __int__": (
        with_names(parse(), CookieSameSiteMode=ModeWithOddMembers), Boom),
    "CookieSameSiteMode members that are text": (
        with_names(parse(), CookieSameSiteMode=ModeWithTextMembers), TypeError),
    "unquote rebinds parsedate_to_datetime": (
        with_names(parse(), unquote=rebinding("parsedate_to_datetime", boom, str)), Boom),
    "unquote re-enters the parser": (reentrant_unquote(), RecursionError),
    "unquote deleted": (with_names(parse(), unquote=SENTINEL), NameError),
    # parsedate_to_datetime, rebound
    "parsedate raises": (with_names(parse(), parsedate_to_datetime=boom), Boom),
    "parsedate returns None": (
        with_names(parse(), parsedate_to_datetime=lambda t: None), AttributeError),
    "parsedate returns str": (
        with_names(parse(), parsedate_to_datetime=lambda t: t), TypeError),
    "parsedate returns a date": (
        with_names(parse(), parsedate_to_datetime=lambda t: datetime.date(2020, 1, 1)),
        TypeError),
    "replace returns int": (
        with_names(parse(), parsedate_to_datetime=lambda t: Replacing(5)), TypeError),
    "replace raises": (
        with_names(parse(), parsedate_to_datetime=lambda t: Replacing(Boom)), Boom),
    "parsedate deletes CookieSameSiteMode": (
        with_names(parse(), parsedate_to_datetime=deleting(
            "CookieSameSiteMode", lambda t: D)), NameError),
    "parsedate deletes itself, then is called again": (
        with_names(call_twice(parse(), parse()),
                   parsedate_to_datetime=deleting("parsedate_to_datetime", lambda t: D)),
        NameError),
    "capi date with parsedate deleted": (
        with_names(lambda: capi.datetime_from_cookie_format(DATE),
                   parsedate_to_datetime=SENTINEL), NameError),
    # strftime and encode
    "strftime raises": (lambda: cookies.datetime_to_cookie_format(moment(formatted=boom)), Boom),
    "strftime raises in the writer": (
        write(Cookie("n", "v", moment(formatted=boom))), Boom),
    "strftime returns int": (
        lambda: cookies.datetime_to_cookie_format(moment(formatted=lambda s, f: 5)),
        AttributeError),
    "strftime result's encode raises": (
        write(Cookie("n", "v", moment(formatted=lambda s, f: EncodeRaises("x")))), Boom),
    "strftime result's encode returns str": (
        lambda: cookies.datetime_to_cookie_format(
            moment(formatted=lambda s, f: EncodeReturnsStr("x"))), TypeError),
    "strftime result's encode returns None, in the writer": (
        write(Cookie("n", "v", moment(formatted=lambda s, f: EncodeReturns("x")))), TypeError),
    "expires whose truth raises": (write(Cookie("n", "v", moment(__bool__=boom))), Boom),
    "value setter, encode raises": (settable("value", EncodeRaises("x")), Boom),
    "value property returns a str whose encode raises": (
        write(overriding(value=lambda self: EncodeRaises("x"))), Boom),
    # __eq__
    "== with a value whose __eq__ raises": (
        lambda: overriding(value=lambda self: EqRaises()) == "v", Boom),
    "== with a name whose __eq__ raises": (
        lambda: Cookie("n", "v") == overriding(name=lambda self: EqRaises()), Boom),
    "== whose result's truth raises": (
        lambda: Cookie("n", "v") == overriding(name=lambda self: EqReturnsOdd()), Boom),
    "!= whose result's truth raises": (
        lambda: overriding(value=lambda self: EqReturnsOdd()) != "v", Boom),
    # __int__
    "max_age __int__ raises": (lambda: Cookie("n", "v", max_age=IntRaises()), Boom),
    "same_site __int__ raises": (lambda: Cookie("n", "v", same_site=IntRaises()), Boom),
    "max_age __int__ returns str": (lambda: Cookie("n", "v", max_age=IntReturnsStr()),
                                    TypeError),
    "max_age setter, __int__ raises": (settable("max_age", IntRaises()), Boom),
    "same_site setter, __int__ raises": (settable("same_site", IntRaises()), Boom),
    "state max_age __int__ raises": (state_with(5, IntRaises()), Boom),
    "state same_site __int__ raises": (state_with(7, IntRaises()), Boom),
    # __bool__
    "http_only __bool__ raises": (lambda: Cookie("n", "v", http_only=BoolRaises()), Boom),
    "secure __bool__ raises": (lambda: Cookie("n", "v", secure=BoolRaises()), Boom),
    "name setter, __bool__ raises": (settable("name", BoolRaises()), Boom),
    "value setter, __bool__ raises": (settable("value", BoolRaises()), Boom),
    "http_only setter, __bool__ raises": (settable("http_only", BoolRaises()), Boom),
    "state http_only __bool__ raises": (state_with(4, BoolRaises()), Boom),
    # property overrides of subclasses, through the writer and the methods
    "name property returns int": (write(overriding(name=lambda self: 5)), TypeError),
    "name property returns None": (write(overriding(name=lambda self: None)), TypeError),
    "value property returns int": (write(overriding(value=lambda self: 5)), TypeError),
    "value property returns None": (write(overriding(value=lambda self: None)), TypeError),
    "value property returns float": (write(overriding(value=lambda self: 1.5)), TypeError),
    "name property raises": (write(overriding(name=boom)), Boom),
    "name property returns a lone surrogate": (
        write(overriding(name=lambda self: "\ud800")), UnicodeEncodeError),
    "clone with a name property returning int": (
        lambda: overriding(name=lambda self: 5).clone(), TypeError),
    "capi clone with a name property returning bytes": (
        lambda: capi.clone(overriding(name=lambda self: b"n")), TypeError),
    "repr with a value property returning int": (
        lambda: repr(overriding(value=lambda self: 5)), TypeError),
    "clone override returns a str": (
        lambda: capi.clone(type("C", (Cookie,), {"clone": lambda self: "x"})("n", "v")),
        TypeError),
    "clone override of a subclass without dictionary returns a str": (
        lambda: capi.clone(
            type("C", (Cookie,), {"__slots__": (), "clone": lambda self: "x"})("n", "v")),
        TypeError),
}


def mutating_quote(text):
    """Empties the cookie being written while the writer works on it."""
    MUTATED.domain = None
    MUTATED.path = "/" + "x" * 50
    MUTATED.expires = None
    MUTATED.name = "other"
    return text


def mutating_strftime(self, fmt):
    MUTATED_BY_DATE.domain = "d" * 40
    MUTATED_BY_DATE.path = None
    MUTATED_BY_DATE.expires = None
    return datetime.datetime.strftime(self, fmt)


MUTATED = Cookie("n", "v", D, "example.org", "/p", max_age=1)
MUTATED_BY_DATE = Cookie("n", "v", moment(formatted=mutating_strftime), "example.org", "/p")


class CountingCookie(Cookie):
    pass


# name -> (operation, check of its result): odd but legitimate outcomes.
SURVIVABLE = {
    # + and b"; ".join take bytes-like parts.
    "quote result's encode returns bytearray": (
        with_names(write(COOKIE), quote=EncodeReturnsBytearray), lambda r: r.startswith(b"x=x")),
    "quote changes the cookie it writes": (
        with_names(write(MUTATED), quote=mutating_quote), lambda r: r.startswith(b"n=v")),
    "strftime changes the cookie it writes": (
        write(MUTATED_BY_DATE),
        lambda r: r == b"n=v; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Domain=" + b"d" * 40),
    "name property returns bytes": (
        write(overriding(name=lambda self: b"a b")), lambda r: r.startswith(b"a%20b=v")),
    "unquote rebinds Cookie": (
        with_names(parse(), unquote=rebinding("Cookie", CountingCookie, str)),
        lambda r: type(r) is Cookie),
    "replace returns None": (
        with_names(parse(), parsedate_to_datetime=lambda t: Replacing(None)),
        lambda r: r.expires is None),
    "capi date, replace returns None": (
        with_names(lambda: capi.datetime_from_cookie_format(DATE),
                   parsedate_to_datetime=lambda t: Replacing(None)), lambda r: r is None),
    "strftime result's encode returns None": (
        lambda: cookies.datetime_to_cookie_format(
            moment(formatted=lambda s, f: EncodeReturns("x"))), lambda r: r is None),
}


def snapshot_names():
    return {name: vars(cookies).get(name, SENTINEL) for name in
            ("quote", "unquote", "parsedate_to_datetime", "CookieSameSiteMode", "Cookie")}


@pytest.mark.parametrize("name", sorted(HOSTILE))
def test_hostile_callables_raise(name):
    operation, expected = HOSTILE[name]
    before = snapshot_names()
    with pytest.raises(expected):
        operation()
    assert snapshot_names() == before


@pytest.mark.parametrize("name", sorted(SURVIVABLE))
def test_hostile_callables_with_sound_results(name):
    operation, check = SURVIVABLE[name]
    assert check(operation())


def test_writer_keeps_what_it_read_before_the_cookie_changed():
    cookie = Cookie("n", "v", D, "example.org", "/p", max_age=1)

    def quote(text):
        cookie.domain = cookie.path = cookie.expires = None
        return text

    with module_names(quote=quote):
        written = capi.write_cookie_for_response(cookie)
    # Fields read after quote ran see its changes; nothing else is torn.
    assert written == b"n=v; Max-Age=1"


@pytest.mark.skipif(sys.getallocatedblocks() == 0,
                    reason="needs the interpreter's own allocator to count blocks")
def test_hostile_callables_leak_nothing():
    operations = [op for op, _ in HOSTILE.values()] + [op for op, _ in SURVIVABLE.values()]
    recursive = {HOSTILE["quote re-enters the writer"][0],
                 HOSTILE["unquote re-enters the parser"][0]}
    operations = [op for op in operations if op not in recursive]

    def run(times):
        for _ in range(times):
            for operation in operations:
                try:
                    operation()
                except Exception:
                    pass

    run(50)
    blocks = sys.getallocatedblocks()
    run(1000)
    grown = sys.getallocatedblocks() - blocks
    assert grown < 500, f"{grown} blocks more after 1000 rounds"

"""Caller code at its worst, at every point where the modules run it.

Each row of CAMPAIGN is one operation and one callback point: a dunder or
method that the modules call on an object the caller handed in (an __int__,
a __bool__, an encode, a property of a subclass, the next __init__, an
update, a rebound module function). When the point is reached, `strike`

  (a) empties every dict and list that holds the object whose code runs
      (as a finaliser or another thread of the caller's program could),
  (b) drops the test's own references to the call's other arguments,
  (c) runs the same constructor, setter or method again on the same target,
      with arguments of the same values,
  (e) runs gc.collect(),

and, in the raising half of the table, (d) raises. (It runs (c) first, so
that what the second call allocates cannot refill the memory the frees of
(a) and (b) release.) The outcome must be the
one of the same call without the callback, or the callback's error with the
target as the same call leaves it (the re-entered call ran with the same
values); every object handed in must be freed afterwards. A freed argument
read again may go unnoticed here; test_campaign_under_dev_mode runs the
table in a fresh interpreter under -X dev, whose allocator makes that crash.
"""

import datetime
import gc
import os
import subprocess
import sys
import weakref
from dataclasses import dataclass
from typing import Any, Callable

import pytest

import velmora.cookies as cookies
import velmora.exceptions as vx
from velmora.cookies import Cookie, CookieError

capi = pytest.importorskip("velmora._velmora_capi_test")

D = datetime.datetime(2015, 10, 21, 7, 28)
RAW = b"a%20b=c%20d; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=5; Path=/p"


class Boom(Exception):
    pass


class Campaign:
    active = False  # armed for the next callback point reached
    raising = False
    struck = False  # the point was reached
    args: dict | None = None  # the test's references to the call's arguments
    reenter: Callable[[], Any] | None = None


CTX = Campaign()


def purge(obj):
    """Empties every dict and list holding `obj`, except module namespaces."""
    spared = {id(vars(m)) for m in list(sys.modules.values()) if hasattr(m, "__dict__")}
    for o in gc.get_referrers(obj):
        if type(o) is dict and id(o) not in spared:
            if any(v is obj for v in list(o.values())):
                o.clear()
        elif type(o) is list and any(v is obj for v in o):
            o.clear()


def strike(obj):
    if not CTX.active:
        return
    CTX.active = False  # once per call: what the callback itself runs is left alone
    CTX.struck = True
    # The call again first: what it allocates must not land where the frees
    # below leave holes, or a freed argument read later would look intact.
    try:
        CTX.reenter()
    except Exception:
        pass
    purge(obj)
    CTX.args.clear()
    gc.collect()
    if CTX.raising:
        raise Boom("callback")


def text(s):
    """A str made at run time, so that nothing but the call holds it."""
    return "".join([s] * 20)


# ---- objects whose code runs at a callback point -----------------------------


class Int:
    def __init__(self, value):
        self.value = value

    def __int__(self):
        strike(self)
        return self.value


class Truth:
    def __init__(self, value):
        self.value = value

    def __bool__(self):
        strike(self)
        return self.value


class Encodes:
    """A true value that is no str, for the value setter's length check."""

    def __bool__(self):
        return True

    def encode(self):
        strike(self)
        return b"x"


class Payload:
    pass


class StrikingCall:
    """Stands in for a module-level function (or CookieSameSiteMode)."""

    def __init__(self, function):
        self.function = function

    def __call__(self, *args):
        strike(self)
        return self.function(*args)

    def __getattr__(self, name):
        strike(self)
        return getattr(self.function, name)


class NextInit(Exception):
    """Put after a module type in an MRO: its __init__ is the next one."""

    def __init__(self, *args):
        strike(self)
        super().__init__(*args)


class HTTPWithNext(vx.HTTPException, NextInit):
    pass


class UnprocessableWithNext(vx.UnprocessableEntity, NextInit):
    pass


class FailedWithNext(vx.FailedRequestError, NextInit):
    pass


class CookieErrorWithNext(CookieError, NextInit):
    pass


class UpdateDict(dict):
    def update(self, other):
        strike(self)
        dict.update(self, other)


class KeysMapping:
    def keys(self):
        strike(self)
        return ["k"]

    def __getitem__(self, key):
        return 1


class TruthyPairs(list):
    def __bool__(self):
        strike(self)
        return True


class TruthDict(dict):
    def __bool__(self):
        strike(self)
        return True


class DictProperty(vx.NotFound):
    @property
    def __dict__(self):
        return TruthDict(a=1)


class CookieSub(Cookie):
    pass


def forwarding_property(name, on_get=False, on_set=False):
    base = getattr(Cookie, name)

    def get(self):
        if on_get:
            strike(self)
        return base.__get__(self)

    def set(self, value):
        if on_set:
            strike(value)
        base.__set__(self, value)

    return property(get, set)


class NameSetter(Cookie):
    name = forwarding_property("name", on_set=True)


class ValueSetter(Cookie):
    value = forwarding_property("value", on_set=True)


class NameGetter(Cookie):
    name = forwarding_property("name", on_get=True)


class ValueGetter(Cookie):
    value = forwarding_property("value", on_get=True)


class CloneOverride(Cookie):
    def clone(self):
        strike(self)
        return Cookie.clone(self)


class Decodes(bytes):
    def decode(self, *args):
        strike(self)
        return bytes.decode(self, *args)


class Moment(datetime.datetime):
    def strftime(self, fmt):
        strike(self)
        return datetime.datetime.strftime(self, fmt)


class Replaces:
    def replace(self, **kwargs):
        strike(self)
        return D.replace(**kwargs)


# ---- the table ---------------------------------------------------------------


@dataclass
class Row:
    make_target: Callable[[], Any]  # the object a call works on, or None
    make_args: Callable[[], dict]  # fresh arguments, the caller's object among them
    call: Callable[[Any, dict], Any]  # the operation; returns what to compare
    names: dict | None = None  # module names of velmora.cookies rebound around the call


def fresh(cls):
    return lambda: cls.__new__(cls)


def init(target, args):
    target.__init__(**args)
    return target


def construct(cls):
    return lambda target, args: cls(**args)


def setter(attribute):
    def call(target, args):
        setattr(target, attribute, args["value"])
        return target

    return call


def method(name):
    return lambda target, args: getattr(target, name)(**args)


def cookie_args(**extra):
    return lambda: dict(name=text("n"), value=text("v"), domain=text("d"), path=text("/"),
                        **{k: v() for k, v in extra.items()})


def a_cookie(cls=Cookie, **fields):
    return lambda: cls(text("n"), text("v"), D, text("d"), text("/"), **fields)



def writer(target, args):
    return capi.write_cookie_for_response(target)


STATUS_STATE = (0x73C163,)
COOKIE_STATE = Cookie("n", "v", D, "d", "/p", True, False, 5, 1).__reduce__()[2]


def cookie_state(index, item):
    def make():
        state = list(COOKIE_STATE)
        state[index] = item()
        return {"__pyx_state": tuple(state)}

    return make


CAMPAIGN = {
    # status conversion, tuple and dict path
    "HTTPException.__init__, status __int__": Row(
        fresh(vx.HTTPException), lambda: dict(status=Int(404), message=text("m")), init),
    "HTTPException subclass, status __int__": Row(
        lambda: None, lambda: dict(status=Int(404), message=text("m")),
        construct(type("Sub", (vx.HTTPException,), {}))),
    "status setter, __int__": Row(
        lambda: vx.HTTPException(500), lambda: dict(value=Int(404)), setter("status")),
    "FailedRequestError.__init__, status __int__": Row(
        fresh(vx.FailedRequestError), lambda: dict(status=Int(502), data=text("d")), init),
    # message truth
    "BadRequest.__init__, false message __bool__": Row(
        fresh(vx.BadRequest), lambda: dict(message=Truth(False)), init),
    "NotFound.__init__, true message __bool__": Row(
        fresh(vx.NotFound), lambda: dict(message=Truth(True)), init),
    "UnprocessableEntity.__init__, message __bool__": Row(
        fresh(vx.UnprocessableEntity), lambda: dict(message=Truth(False), details=Payload()),
        init),
    # the next __init__ in the MRO
    "HTTPException, next __init__": Row(
        fresh(HTTPWithNext), lambda: dict(status=404, message=text("m")), init),
    "UnprocessableEntity, next __init__": Row(
        fresh(UnprocessableWithNext), lambda: dict(message=text("m"), details=Payload()), init),
    "FailedRequestError, next __init__": Row(
        fresh(FailedWithNext), lambda: dict(status=502, data=text("d")), init),
    "CookieError, next __init__": Row(
        fresh(CookieErrorWithNext), lambda: dict(message=text("m")), init),
    # pickle states of the exceptions
    "__setstate_tavrin__, status item __int__": Row(
        vx.NotFound, lambda: {"__pyx_state": (Int(404),)}, method("__setstate_tavrin__")),
    "__setstate_tavrin__, dictionary update": Row(
        lambda: _with_dict(vx.NotFound(), UpdateDict()),
        lambda: {"__pyx_state": (404, {"a": text("x")})}, method("__setstate_tavrin__")),
    "__setstate_tavrin__, keys() of the extra item": Row(
        vx.NotFound, lambda: {"__pyx_state": (404, KeysMapping())},
        method("__setstate_tavrin__")),
    "__setstate_tavrin__, __bool__ of the extra item": Row(
        vx.NotFound, lambda: {"__pyx_state": (404, TruthyPairs([("a", text("x"))]))},
        method("__setstate_tavrin__")),
    "__pyx_unpickle_NotFound, checksum __int__": Row(
        lambda: None,
        lambda: dict(__pyx_type=vx.NotFound, __pyx_checksum=Int(STATUS_STATE[0]),
                     __pyx_state=(404, {"a": text("x")})),
        lambda target, args: vx.__pyx_unpickle_NotFound(**args)),
    "__reduce_tavrin__, __dict__ property and its truth": Row(
        DictProperty, dict, method("__reduce_tavrin__")),
    # the Cookie constructor: vectorcall, generic and __init__ paths
    "Cookie(), http_only __bool__": Row(
        lambda: None, cookie_args(http_only=lambda: Truth(True)), construct(Cookie)),
    "Cookie(), secure __bool__": Row(
        lambda: None, cookie_args(secure=lambda: Truth(True)), construct(Cookie)),
    "Cookie(), max_age __int__": Row(
        lambda: None, cookie_args(max_age=lambda: Int(5)), construct(Cookie)),
    "Cookie(), same_site __int__": Row(
        lambda: None, cookie_args(same_site=lambda: Int(2)), construct(Cookie)),
    "Cookie subclass, http_only __bool__": Row(
        lambda: None, cookie_args(http_only=lambda: Truth(True)), construct(CookieSub)),
    "Cookie subclass, max_age __int__": Row(
        lambda: None, cookie_args(max_age=lambda: Int(5)), construct(CookieSub)),
    "Cookie.__init__, same_site __int__": Row(
        fresh(Cookie), cookie_args(same_site=lambda: Int(7)), init),
    "Cookie subclass, name property setter": Row(fresh(NameSetter), cookie_args(), init),
    "Cookie subclass, value property setter": Row(fresh(ValueSetter), cookie_args(), init),
    # Cookie properties
    "name setter, __bool__": Row(a_cookie(), lambda: dict(value=Truth(True)), setter("name")),
    "value setter, __bool__": Row(a_cookie(), lambda: dict(value=Truth(False)), setter("value")),
    "value setter, encode": Row(a_cookie(), lambda: dict(value=Encodes()), setter("value")),
    "http_only setter, __bool__": Row(
        a_cookie(), lambda: dict(value=Truth(True)), setter("http_only")),
    "max_age setter, __int__": Row(a_cookie(), lambda: dict(value=Int(9)), setter("max_age")),
    "same_site setter, __int__": Row(a_cookie(), lambda: dict(value=Int(3)), setter("same_site")),
    "same_site getter, CookieSameSiteMode attribute": Row(
        a_cookie(same_site=1), dict, lambda target, args: target.same_site,
        names={"CookieSameSiteMode": lambda: StrikingCall(cookies.CookieSameSiteMode)}),
    "same_site getter, CookieSameSiteMode called": Row(
        a_cookie(same_site=7), dict, lambda target, args: target.same_site,
        names={"CookieSameSiteMode": lambda: StrikingCall(cookies.CookieSameSiteMode)}),
    # Cookie methods
    "clone, name property of a subclass": Row(a_cookie(NameGetter), dict, method("clone")),
    "clone, value property of a subclass": Row(a_cookie(ValueGetter), dict, method("clone")),
    "clone, CookieSameSiteMode called": Row(
        a_cookie(same_site=7), dict, method("clone"),
        names={"CookieSameSiteMode": lambda: StrikingCall(cookies.CookieSameSiteMode)}),
    "native clone, override of a subclass": Row(
        a_cookie(CloneOverride), dict, lambda target, args: capi.clone(target, 0)),
    "==, name property of a subclass": Row(
        a_cookie(NameGetter), lambda: dict(other=Cookie(text("n"), text("v"))),
        lambda target, args: target == args["other"]),
    "==, value property of the other cookie": Row(
        a_cookie(), lambda: dict(other=ValueGetter(text("n"), text("v"))),
        lambda target, args: target == args["other"]),
    "==, decode of a bytes subclass": Row(
        a_cookie(), lambda: dict(other=Decodes(text("v").encode())),
        lambda target, args: target != args["other"]),
    "repr, name property of a subclass": Row(
        a_cookie(NameGetter), dict, lambda target, args: repr(target)),
    # Cookie pickle state
    "__setstate__, http_only item __bool__": Row(
        fresh(Cookie), cookie_state(4, lambda: Truth(True)), method("__setstate__")),
    "__setstate__, max_age item __int__": Row(
        fresh(Cookie), cookie_state(5, lambda: Int(5)), method("__setstate__")),
    "__setstate__, same_site item __int__": Row(
        fresh(Cookie), cookie_state(7, lambda: Int(7)), method("__setstate__")),
    "__reduce__, CookieSameSiteMode called": Row(
        a_cookie(same_site=7), dict, method("__reduce__"),
        names={"CookieSameSiteMode": lambda: StrikingCall(cookies.CookieSameSiteMode)}),
    # writer, parser and dates
    "writer, quote": Row(
        a_cookie(), dict, writer, names={"quote": lambda: StrikingCall(cookies.quote)}),
    "writer, strftime of expires": Row(
        lambda: Cookie(text("n"), text("v"), Moment(2015, 10, 21, 7, 28)), dict, writer),
    "writer, value property of a subclass": Row(a_cookie(ValueGetter), dict, writer),
    "parse_cookie, unquote": Row(
        lambda: None, lambda: dict(raw_value=RAW), lambda target, args: cookies.parse_cookie(**args),
        names={"unquote": lambda: StrikingCall(cookies.unquote)}),
    "parse_cookie, parsedate_to_datetime": Row(
        lambda: None, lambda: dict(raw_value=RAW), lambda target, args: cookies.parse_cookie(**args),
        names={"parsedate_to_datetime": lambda: StrikingCall(cookies.parsedate_to_datetime)}),
    "parse_cookie, replace of the parsed date": Row(
        lambda: None, lambda: dict(raw_value=RAW), lambda target, args: cookies.parse_cookie(**args),
        names={"parsedate_to_datetime": lambda: lambda t: Replaces()}),
    "datetime_to_cookie_format, strftime": Row(
        lambda: None, lambda: dict(value=Moment(2015, 10, 21, 7, 28)),
        lambda target, args: cookies.datetime_to_cookie_format(**args)),
    "datetime_from_cookie_format, parsedate_to_datetime": Row(
        lambda: None, lambda: dict(value=b"Wed, 21 Oct 2015 07:28:00 GMT"),
        lambda target, args: cookies.datetime_from_cookie_format(**args),
        names={"parsedate_to_datetime": lambda: StrikingCall(cookies.parsedate_to_datetime)}),
}


def _with_dict(instance, dictionary):
    instance.__dict__ = dictionary
    return instance


# ---- running a row -----------------------------------------------------------


def snapshot(obj):
    """What an outcome is compared by: record fields, not properties."""
    if isinstance(obj, Cookie):
        return type(obj).__name__, capi.fields(obj)
    if isinstance(obj, BaseException):
        payload = {name: getattr(obj, name) for name in
                   ("status", "inner_exception", "source_error", "details", "data")
                   if hasattr(type(obj), name)}
        payload = {k: type(v).__name__ if isinstance(v, Payload) else v
                   for k, v in payload.items()}
        return type(obj).__name__, obj.args, payload, dict(vars(obj))
    if isinstance(obj, tuple):
        return tuple(snapshot(item) for item in obj)
    if isinstance(obj, dict):
        return {key: snapshot(value) for key, value in obj.items()}
    if isinstance(obj, (str, bytes, int, float, type(None), type, datetime.datetime)):
        return obj
    return type(obj).__name__


def watch(args):
    refs = []
    for value in args.values():
        for item in value if type(value) is tuple else (value,):
            if isinstance(item, type):
                continue
            try:
                refs.append(weakref.ref(item))
            except TypeError:
                pass
    return refs


def run(row, hostile, raising=False):
    saved = {name: vars(cookies)[name] for name in row.names or {}}
    for name, make in (row.names or {}).items():
        vars(cookies)[name] = make()
    try:
        target = row.make_target()
        args = row.make_args()
        refs = watch(args)
        CTX.args, CTX.raising, CTX.struck = args, raising, False
        CTX.reenter = lambda: row.call(target, row.make_args())
        CTX.active = hostile
        try:
            outcome = ("result", snapshot(row.call(target, args)))
        except Exception as error:
            outcome = ("error", type(error).__name__, str(error))
        finally:
            CTX.active, CTX.reenter, CTX.args = False, None, None
        after = snapshot(target) if target is not None else None
    finally:
        vars(cookies).update(saved)
    struck = CTX.struck
    del target, args
    gc.collect()
    leaked = [ref() for ref in refs if ref() is not None]
    return outcome, after, struck, leaked


@pytest.mark.parametrize("raising", [False, True], ids=["returns", "raises"])
@pytest.mark.parametrize("name", sorted(CAMPAIGN))
def test_caller_code_at_the_callback_point(name, raising):
    row = CAMPAIGN[name]
    expected, expected_after, _, _ = run(row, hostile=False)
    outcome, after, struck, leaked = run(row, hostile=True, raising=raising)
    assert struck, "the callback point was never reached"
    if raising:
        assert outcome == ("error", "Boom", "callback")
    else:
        assert outcome == expected
    # The re-entered call ran with the same values: nothing of the first
    # call is half-written over it.
    assert after == expected_after
    assert not leaked, f"still alive after the call: {leaked!r:.200}"


@pytest.mark.skipif(os.environ.get("VELMORA_CAMPAIGN_CHILD") == "1",
                    reason="already the -X dev run")
def test_campaign_under_dev_mode():
    env = dict(os.environ, VELMORA_CAMPAIGN_CHILD="1")
    result = subprocess.run(
        [sys.executable, "-X", "dev", "-m", "pytest", "-q", "-p", "no:cacheprovider",
         "-k", "test_caller_code_at_the_callback_point", __file__],
        capture_output=True, text=True, env=env, timeout=600,
        cwd=os.path.dirname(__file__))
    assert result.returncode == 0, (result.returncode, result.stdout[-3000:],
                                    result.stderr[-3000:])

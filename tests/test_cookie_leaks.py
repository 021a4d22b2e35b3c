"""No reference or memory is lost by construction, the failure path of every
setter and constructor check, clone, or pickling and its failure paths."""

import copy
import datetime
import pickle
import sys

import pytest

import velmora.cookies as cookies
from velmora.cookies import Cookie, CookieError

try:
    from velmora._velmora_capi_test import write_cookie_for_response
except ImportError:  # a build without the test-only module
    write_cookie_for_response = None

ITERATIONS = 100_000

pytestmark = pytest.mark.skipif(
    sys.getallocatedblocks() == 0, reason="needs the interpreter's own allocator to count blocks"
)


class Moment(datetime.datetime):
    pass


class SubCookie(Cookie):
    pass


class FailingTruth:
    def __bool__(self):
        raise ZeroDivisionError


def operations():
    """Callables that each exercise one path; failures are expected."""
    name = "".join(["na", "me"])  # not interned: its count must stay put
    value = "".join(["val", "ue"])
    # Built at run time and watched: a one-character literal is immortal, and
    # a reference lost on it would show in no count.
    domain = "".join(["example", ".org"])
    path = "".join(["/", "app"])
    expires = Moment(2020, 1, 1)
    long_value = "\u00e9" * 2049
    failing = FailingTruth()
    cookie = Cookie(name, value, expires, domain, path, True, True, 60, 7)
    sub = SubCookie(name, value, expires=expires, domain=domain, path=path,
                    same_site=2**31 + 5)

    def attempt(target, attribute, new):
        def run():
            setattr(target, attribute, new)

        return run

    def delete(target, attribute):
        def run():
            delattr(target, attribute)

        return run

    ops = [
        lambda: Cookie(name, value, expires, domain, path, True, False, 5, 1),
        lambda: Cookie(name, value, max_age=2.5, same_site=9, http_only=1),
        lambda: SubCookie(name, value, expires, domain=domain, path=path),
        lambda: Cookie.__new__(Cookie),
        cookie.clone,
        sub.clone,
        lambda: repr(cookie),
        lambda: cookie == sub,
        lambda: cookie == b"value",
        lambda: cookie.same_site,
        lambda: sub.same_site,
        lambda: cookie.domain,
        lambda: cookie.path,
        # constructor failures, one per check
        lambda: Cookie(name),
        lambda: Cookie(name, value, colour=1),
        lambda: Cookie(name, value, http_only=failing),
        lambda: Cookie(name, value, max_age=None),
        lambda: Cookie(name, value, same_site=-1),
        lambda: Cookie(b"x", value),
        lambda: Cookie(name, value, None, domain, b"/p"),
        lambda: Cookie(name, value, expires, domain, path, max_age=None),
        lambda: Cookie(name, value, expires=datetime.date(2020, 1, 1)),
        lambda: Cookie(None, value),
        lambda: Cookie(name, long_value),
        lambda: SubCookie(name, long_value, expires),
        # setter failures, one per property and kind
        attempt(cookie, "name", None),
        attempt(cookie, "name", 5),
        attempt(cookie, "name", failing),
        attempt(cookie, "value", long_value),
        attempt(cookie, "value", 5),
        attempt(cookie, "value", 0),
        attempt(cookie, "value", "\ud800"),
        attempt(cookie, "expires", "x"),
        attempt(cookie, "domain", b"d"),
        attempt(cookie, "path", 1),
        attempt(cookie, "http_only", failing),
        attempt(cookie, "secure", failing),
        attempt(cookie, "max_age", "1"),
        attempt(cookie, "max_age", 2**64),
        attempt(cookie, "same_site", -1),
        attempt(cookie, "same_site", 2**32),
        delete(cookie, "name"),
        delete(cookie, "max_age"),
        # successful stores that replace objects
        attempt(sub, "expires", expires),
        attempt(sub, "domain", domain),
        attempt(sub, "path", path),
        delete(sub, "domain"),
        delete(sub, "path"),
        attempt(sub, "domain", domain),
        attempt(sub, "path", path),
        attempt(sub, "value", value),
    ]
    if write_cookie_for_response is not None:
        ops.append(lambda: write_cookie_for_response(cookie))
    ops += pickle_operations(name, value, expires, domain, path)
    return ops, (name, value, expires, domain, path)


def pickle_operations(name, value, expires, domain, path):
    state = (name, value, domain, expires, True, 60, path, 7, False)
    unpickle, checksum = cookies.__pyx_unpickle_Cookie, 0x2035A3D
    jar = SubCookie(name, value, expires, domain, path)
    jar.tag = [value]
    error = CookieError(name)
    error.hint = value

    def setstate(state):
        def run():
            Cookie.__new__(Cookie).__setstate__(state)

        return run

    return [
        jar.__reduce__,
        lambda: pickle.loads(pickle.dumps(jar)),
        lambda: copy.copy(jar),
        setstate(state),
        setstate(state + ({"a": value},)),  # no instance dictionary
        setstate(state[:3] + (datetime.date(2020, 1, 1),) + state[4:]),
        setstate(state[:7] + (-1,) + state[8:]),
        setstate(state[:5]),
        lambda: unpickle(SubCookie, checksum, state + ({"a": value},)),
        lambda: unpickle(Cookie, 1, state),
        lambda: unpickle(int, checksum, state),
        lambda: unpickle(Cookie, checksum, [value]),
        error.__reduce_tavrin__,
        lambda: error.__setstate_tavrin__(({"b": name},)),
        lambda: cookies.__pyx_unpickle_CookieError(ValueError, 0xE3B0C44, None),
    ]


def run(ops, times):
    for _ in range(times):
        for op in ops:
            try:
                op()
            except Exception:
                pass


def test_no_leaks():
    ops, watched = operations()
    run(ops, 1000)
    counts = [sys.getrefcount(obj) for obj in watched]
    blocks = sys.getallocatedblocks()
    run(ops, ITERATIONS)
    grown = sys.getallocatedblocks() - blocks
    assert [sys.getrefcount(obj) for obj in watched] == counts
    assert grown < 1000, f"{grown} blocks more after {ITERATIONS} iterations"

"""Every allocation failure ends in MemoryError, never in a crash or a SystemError."""

import pytest

import velmora.exceptions as exc
from alloc_failure import fail_each_allocation


def raise_and_catch(factory):
    def operation():
        try:
            raise factory()
        except exc.HTTPException as caught:
            return caught

    return operation


EXCEPTION_OPERATIONS = {
    "HTTPException(404)": lambda: exc.HTTPException(404),
    "HTTPException(kw)": lambda: exc.HTTPException(status=404, message="m"),
    "NotFound()": lambda: exc.NotFound(),
    "BadRequest(msg)": lambda: exc.BadRequest("missing"),
    "RangeNotSatisfiable()": lambda: exc.RangeNotSatisfiable(),
    "raise NotFound": raise_and_catch(exc.NotFound),
    "status setter": lambda: setattr(exc.HTTPException(1), "status", 2**20),
}

FAILING_OPERATIONS = {
    "status overflow": (lambda: exc.HTTPException(2**70), OverflowError),
    "status type": (lambda: exc.HTTPException("404"), TypeError),
    "unexpected keyword": (lambda: exc.NotFound(code=1), TypeError),
}


@pytest.mark.parametrize("name", sorted(EXCEPTION_OPERATIONS))
def test_exception_operations_survive_allocation_failures(name):
    operation = EXCEPTION_OPERATIONS[name]

    def check(outcome):
        if isinstance(outcome, exc.HTTPException) and not isinstance(outcome, MemoryError):
            # A finished instance is complete: status and message were both set.
            assert outcome.status != 0 and len(outcome.args) == 1

    fail_each_allocation(operation, check)


@pytest.mark.parametrize("name", sorted(FAILING_OPERATIONS))
def test_failing_operations_survive_allocation_failures(name):
    operation, expected = FAILING_OPERATIONS[name]
    fail_each_allocation(operation, expect=expected)


def test_import_survives_allocation_failures(python_subprocess):
    result = python_subprocess("""
        import sys, _testcapi
        outcomes = set()
        for k in range(400):
            for name in [m for m in sys.modules if m.startswith("velmora")]:
                del sys.modules[name]
            _testcapi.set_nomemory(k, k + 1)
            try:
                import velmora.exceptions
            except MemoryError:
                outcomes.add("MemoryError")
                continue
            except BaseException as e:
                _testcapi.remove_mem_hooks()
                c = e
                while c is not None and not isinstance(c, MemoryError):
                    c = c.__cause__ or c.__context__
                # The import machinery reports a failed lock allocation as
                # RuntimeError("can't allocate ...") rather than MemoryError.
                interpreter_own = isinstance(e, RuntimeError) and "can't allocate" in str(e)
                if c is None and not interpreter_own:
                    print("unexpected", k, repr(e))
                    raise SystemExit(1)
                continue
            finally:
                _testcapi.remove_mem_hooks()
            outcomes.add("ok")
        print(sorted(outcomes))
    """)
    assert result.returncode == 0, result.stdout + result.stderr


# ---- velmora.cookies ---------------------------------------------------------

import copy  # noqa: E402
import datetime  # noqa: E402
import pickle  # noqa: E402

import velmora.cookies as cookies  # noqa: E402
from velmora.cookies import (  # noqa: E402
    Cookie,
    CookieError,
    CookieSameSiteMode,
    CookieValueExceedsMaximumLength,
)

try:
    from velmora import _velmora_capi_test as capi
except ImportError:  # a build without the test-only module
    capi = None

needs_capi = pytest.mark.skipif(capi is None, reason="needs velmora._velmora_capi_test")

D = datetime.datetime(2015, 10, 21, 7, 28)
FULL = (b"user%20id=a%20b%2Fc%3Bd; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=3600; "
        b"Domain=intranet; Path=/app; HttpOnly; Secure; SameSite=Lax")
COOKIE = Cookie("user id", "a b/c;d", D, "intranet", "/app", True, False, 3600,
                CookieSameSiteMode.NONE)
STATE = COOKIE.__reduce__()[2]


class SubCookie(Cookie):
    pass


class RenamedCookie(Cookie):
    @property
    def name(self):
        return "caf\u00e9 " + "x" * 40

    @name.setter
    def name(self, new):
        Cookie.name.__set__(self, new)


SUB = SubCookie("n", "v", D, same_site=9)
RENAMED = RenamedCookie("n", "\u00e9t\u00e9", path="/p")
PICKLED = pickle.dumps(COOKIE)


def snapshot(outcome):
    """What an outcome holds, comparable with =="""
    if isinstance(outcome, Cookie):
        return (type(outcome), outcome.name, outcome.value, outcome.expires, outcome.domain,
                outcome.path, outcome.http_only, outcome.secure, outcome.max_age,
                int(outcome.same_site))
    if isinstance(outcome, BaseException):
        return (type(outcome), outcome.args)
    return outcome


def assert_sound_record(cookie):
    """Every field of the record holds a complete value of its type."""
    for text in (cookie.name, cookie.value, cookie.domain, cookie.path):
        assert text is None or type(text) is str
    assert cookie.expires is None or isinstance(cookie.expires, datetime.datetime)
    if capi is not None:
        capi.fields(cookie)


COOKIE_OPERATIONS = {
    "Cookie(name, value)": lambda: Cookie("n", "v"),
    "Cookie(all)": lambda: Cookie("user id", "a b", D, "d", "/p", True, True, 60, 7),
    "Cookie(keywords)": lambda: Cookie(name="n", value="\u00e9" * 10, max_age=2.5,
                                       same_site=CookieSameSiteMode.STRICT),
    "SubCookie()": lambda: SubCookie("n", "v", expires=D, domain="d"),
    "Cookie.__new__": lambda: Cookie.__new__(Cookie),
    "clone": COOKIE.clone,
    "clone of a subclass": SUB.clone,
    "repr": lambda: repr(SUB),
    "== cookie": lambda: COOKIE == SUB,
    "== bytes": lambda: COOKIE == b"a b/c;d",
    "!= str": lambda: COOKIE != "x",
    "same_site getter": lambda: SUB.same_site,
    "CookieError()": lambda: CookieError("message"),
    "CookieValueExceedsMaximumLength()": lambda: CookieValueExceedsMaximumLength(),
    "parse_cookie(full)": lambda: cookies.parse_cookie(FULL),
    "parse_cookie(quoted)": lambda: cookies.parse_cookie(b'a="hello world"; Path=/'),
    "parse_cookie(utf-8)": lambda: cookies.parse_cookie(b"caf%C3%A9=%E2%98%83\xc3\xa9; Domain=\xc3\xa9"),
    "parse_cookie(lone semicolons)": lambda: cookies.parse_cookie(b"a=b;path=/x;secure;samesite=none"),
    "parse_cookie(max-age by int())": lambda: cookies.parse_cookie(b"a=b; Max-Age= 1_000 "),
    "datetime_to_cookie_format": lambda: cookies.datetime_to_cookie_format(D),
    "datetime_from_cookie_format": lambda: cookies.datetime_from_cookie_format(
        b"Wed, 21 Oct 2015 07:28:00 +0200"),
    "__reduce__": COOKIE.__reduce__,
    "pickle.dumps": lambda: pickle.dumps(COOKIE),
    "copy.copy": lambda: copy.copy(SUB),
    "pickle.loads": lambda: pickle.loads(PICKLED),
    "__pyx_unpickle_Cookie": lambda: cookies.__pyx_unpickle_Cookie(Cookie, 0x2035A3D, STATE),
    "__pyx_unpickle_Cookie(sha1)": lambda: cookies.__pyx_unpickle_Cookie(SubCookie, 0xC44A7B0,
                                                                          None),
    "__pyx_unpickle_CookieError": lambda: cookies.__pyx_unpickle_CookieError(
        CookieError, 0xE3B0C44, ()),
}
if capi is not None:
    COOKIE_OPERATIONS.update({
        "capi write_cookie_for_response": lambda: capi.write_cookie_for_response(COOKIE),
        "capi write of a property override": lambda: capi.write_cookie_for_response(RENAMED),
        "capi split_value": lambda: capi.split_value(b"a=b=c", b"="),
        "capi same_site_mode_from_bytes": lambda: capi.same_site_mode_from_bytes(b"STRICT"),
        "capi parse_cookie": lambda: capi.parse_cookie(FULL),
        "capi datetime_from_cookie_format": lambda: capi.datetime_from_cookie_format(
            b"Wed, 21 Oct 2015 07:28:00 GMT"),
        "capi datetime_to_cookie_format": lambda: capi.datetime_to_cookie_format(D),
        "capi clone with dispatch": lambda: capi.clone(SUB),
    })

FAILING_COOKIE_OPERATIONS = {
    "parse_cookie(no pair)": (lambda: cookies.parse_cookie(b"foo; Path=/"), ValueError),
    "parse_cookie(bad max-age)": (lambda: cookies.parse_cookie(b"a=b; Max-Age=soon"), ValueError),
    "parse_cookie(huge max-age)": (
        lambda: cookies.parse_cookie(b"a=b; Max-Age=99999999999999999999"), OverflowError),
    "parse_cookie(not utf-8)": (lambda: cookies.parse_cookie(b"\xff=1"), UnicodeDecodeError),
    "parse_cookie(bad expires)": (lambda: cookies.parse_cookie(b"a=b; Expires=x"), ValueError),
    "parse_cookie(empty name)": (lambda: cookies.parse_cookie(b"=x"), ValueError),
    "parse_cookie(long value)": (lambda: cookies.parse_cookie(b"a=" + b"%C3%A9" * 2049),
                                 CookieValueExceedsMaximumLength),
    "datetime_from_cookie_format(garbage)": (
        lambda: cookies.datetime_from_cookie_format(b"garbage"), ValueError),
    "Cookie(long value)": (lambda: Cookie("n", "\u00e9" * 2049), CookieValueExceedsMaximumLength),
    "__pyx_unpickle_Cookie(bad checksum)": (
        lambda: cookies.__pyx_unpickle_Cookie(Cookie, 0xE3B0C44, None), pickle.PickleError),
}
if capi is not None:
    FAILING_COOKIE_OPERATIONS.update({
        "capi split_value(absent)": (lambda: capi.split_value(b"abc", b"="), ValueError),
        "capi write(control byte)": (
            lambda: capi.write_cookie_for_response(Cookie("a", "b", path="/\r\n")), ValueError),
    })


@pytest.mark.parametrize("name", sorted(COOKIE_OPERATIONS))
def test_cookie_operations_survive_allocation_failures(name):
    operation = COOKIE_OPERATIONS[name]
    expected = snapshot(operation())

    def check(outcome):
        if isinstance(outcome, BaseException):
            return
        if isinstance(outcome, Cookie):
            assert_sound_record(outcome)
        # What an operation returns after failures elsewhere is what it
        # returns when nothing fails: nothing was skipped on the way.
        assert snapshot(outcome) == expected

    fail_each_allocation(operation, check)


@pytest.mark.parametrize("name", sorted(FAILING_COOKIE_OPERATIONS))
def test_failing_cookie_operations_survive_allocation_failures(name):
    operation, expected = FAILING_COOKIE_OPERATIONS[name]
    fail_each_allocation(operation, expect=expected)


SETTERS = [
    ("name", "other name"),
    ("value", "\u00e9" * 100),
    ("value", None),
    ("expires", datetime.datetime(2030, 1, 1)),
    ("domain", "example.org"),
    ("path", None),
    ("http_only", [1]),
    ("secure", 1),
    ("max_age", 2**40),
    ("max_age", 2.5),
    ("same_site", CookieSameSiteMode.STRICT),
    ("same_site", 2**31 + 11),
]


@pytest.mark.parametrize("attribute, new", SETTERS, ids=lambda v: repr(v)[:20])
def test_setters_survive_allocation_failures(attribute, new):
    held = {}

    def setup():
        held["cookie"] = cookie = Cookie("n", "v", D, "d", "/p", False, True, 5, 1)
        held["before"] = snapshot(cookie)
        return cookie

    def operation(cookie):
        setattr(cookie, attribute, new)

    def check(outcome):
        cookie = held["cookie"]
        assert_sound_record(cookie)
        if isinstance(outcome, BaseException):
            assert snapshot(cookie) == held["before"], "a failed setter changed the cookie"
        else:
            reference = Cookie("n", "v", D, "d", "/p", False, True, 5, 1)
            setattr(reference, attribute, new)
            assert snapshot(cookie) == snapshot(reference)

    fail_each_allocation(operation, check, setup=setup)


@pytest.mark.parametrize("target_type", [Cookie, SubCookie])
def test_setstate_survives_allocation_failures(target_type):
    held = {}

    def setup():
        held["cookie"] = cookie = target_type.__new__(target_type)
        return cookie

    def check(outcome):
        assert_sound_record(held["cookie"])
        if not isinstance(outcome, BaseException):
            assert snapshot(held["cookie"])[1:] == snapshot(COOKIE)[1:]

    fail_each_allocation(lambda cookie: cookie.__setstate__(STATE), check, setup=setup)


def test_init_again_survives_allocation_failures():
    held = {}

    def setup():
        held["cookie"] = cookie = SubCookie("n", "v")
        return cookie

    def check(outcome):
        assert_sound_record(held["cookie"])

    fail_each_allocation(
        lambda cookie: cookie.__init__("user id", "\u00e9", D, "d", "/p", True, True, 1, 3),
        check, setup=setup)


@pytest.mark.parametrize("module", ["velmora.cookies", "velmora._velmora_capi_test"])
def test_cookies_import_survives_allocation_failures(python_subprocess, module):
    if module.endswith("capi_test") and capi is None:
        pytest.skip("needs velmora._velmora_capi_test")
    result = python_subprocess(f"""
        import sys, _testcapi
        # The standard library the module body imports is imported first:
        # the failures are meant for the module's own steps.
        import datetime, enum, urllib.parse, email.utils
        outcomes = set()
        for k in range(1500):
            for name in [m for m in sys.modules if m.startswith("velmora")]:
                del sys.modules[name]
            _testcapi.set_nomemory(k, k + 1)
            try:
                import {module}
            except BaseException as e:
                _testcapi.remove_mem_hooks()
                c = e
                while c is not None and not isinstance(c, MemoryError):
                    c = c.__cause__ or c.__context__
                interpreter_own = isinstance(e, RuntimeError) and "can't allocate" in str(e)
                if c is None and not interpreter_own:
                    print("unexpected", k, repr(e))
                    raise SystemExit(1)
                outcomes.add("failed")
                continue
            finally:
                _testcapi.remove_mem_hooks()
            outcomes.add("ok")
            break
        # The import that finally succeeded built a whole module.
        import velmora.cookies as c
        names = ["Cookie", "CookieError", "CookieValueExceedsMaximumLength",
                 "CookieSameSiteMode", "quote", "unquote", "parsedate_to_datetime",
                 "datetime_to_cookie_format", "datetime_from_cookie_format", "parse_cookie",
                 "__pyx_unpickle_CookieError", "__pyx_unpickle_CookieValueExceedsMaximumLength",
                 "__pyx_unpickle_Cookie", "__pyx_capi__", "__test__"]
        missing = [n for n in names if n not in vars(c)]
        assert not missing, missing
        assert len(c.__pyx_capi__) == 6
        cookie = c.parse_cookie(b"a=b%20c; Max-Age=5; SameSite=Strict")
        assert (cookie.value, cookie.max_age, cookie.same_site) == ("b c", 5, 2)
        if "{module}".endswith("capi_test"):
            import velmora._velmora_capi_test as capi
            assert capi.write_cookie_for_response(cookie) == (
                b"a=b%20c; Max-Age=5; Secure; SameSite=Strict")
        print(sorted(outcomes))
    """)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "'failed'" in result.stdout and "'ok'" in result.stdout, result.stdout

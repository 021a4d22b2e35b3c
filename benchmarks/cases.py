"""The benchmark cases: velmora's functions, their peers and the floors.

A case is a statement timed in a timeit loop plus the namespace it runs in.
Its setup imports what it needs, runs the statement once and checks the
result, so that a case measures the work it claims to. A velmora function
that is not importable yet makes the case "n/a (not built)" instead of
failing the run; a missing peer package makes it "n/a (not installed)".
"""

import dataclasses
import datetime
import glob
import importlib
import os
import random
import sys
from collections.abc import Callable
from pathlib import Path

REPO_ROOT = Path(__file__).resolve().parent.parent

# Set by callgrind.py for its children, each of which runs a single case: a
# case may then change module state for good in its setup.
ISOLATED_ENV = "VELMORA_BENCH_ISOLATED"
# Operations per statement of the cases run in a C loop: the Python call into
# the loop is shared by that many operations, timed or counted.
NATIVE_INNER = 100


def isolated() -> bool:
    return os.environ.get(ISOLATED_ENV) == "1"

# Roles of a case within its subject.
VELMORA = "velmora"
PEER = "peer"
FLOOR = "floor"


class Unavailable(Exception):
    """The case cannot run; `reason` is the short text of the tables."""

    reason = "unavailable"


class NotBuilt(Unavailable):
    reason = "not built"


class NotInstalled(Unavailable):
    reason = "not installed"


class WrongResult(Unavailable):
    reason = "wrong result"


@dataclasses.dataclass
class Prepared:
    """A statement ready for timing: `stmt` runs with `namespace` as globals."""

    stmt: str
    namespace: dict
    info: str = ""  # what one run produced, for tables that show it


@dataclasses.dataclass(frozen=True)
class Case:
    id: str
    group: str
    subject: str
    label: str
    role: str
    setup: Callable[[], Prepared]
    note: str = ""
    size: int = 0  # bytes of input, for the per-byte figures
    # Operations per statement (a C loop run from one statement); times and
    # counts are divided by it.
    inner: int = 1


@dataclasses.dataclass(frozen=True)
class Subject:
    key: str
    title: str
    floor: str | None  # id of the floor case its rows are compared with


@dataclasses.dataclass(frozen=True)
class Group:
    key: str
    title: str
    subjects: tuple[Subject, ...]
    note: str = ""


# --- inputs ---------------------------------------------------------------

FULL_HEADER = (
    b"id=a3fWa; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=3600; Domain=intranet;"
    b" Path=/app; HttpOnly; Secure; SameSite=Lax"
)
PERCENT_HEADER = b"user%20id=a%20b%2Fc%3Bd"
_TOKEN_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_"
LONG_VALUE = "".join(random.Random(7).choice(_TOKEN_ALPHABET) for _ in range(3072))
LONG_HEADER = b"session=" + LONG_VALUE.encode()

EXPIRES = datetime.datetime(2015, 10, 21, 7, 28)
EXPIRES_UTC = EXPIRES.replace(tzinfo=datetime.UTC)
EXPIRES_TEXT = b"Wed, 21 Oct 2015 07:28:00 GMT"

FULL_WRITTEN = (
    b"user%20id=a%20b/c%3Bd; Expires=Wed, 21 Oct 2015 07:28:00 GMT; Max-Age=3600;"
    b" Domain=intranet; Path=/app; HttpOnly; Secure; SameSite=None"
)

# What parse_cookie must return for each parsed header (attribute: value).
PARSED = {
    "ab": {"name": "a", "value": "b"},
    "full": {
        "name": "id",
        "value": "a3fWa",
        "expires": EXPIRES,
        "max_age": 3600,
        "domain": "intranet",
        "path": "/app",
        "http_only": True,
        "secure": True,
        "same_site": 1,
    },
    "percent": {"name": "user id", "value": "a b/c;d"},
    "long": {"name": "session", "value": LONG_VALUE},
}
PARSE_INPUTS = {"ab": b"a=b", "full": FULL_HEADER, "percent": PERCENT_HEADER, "long": LONG_HEADER}


# --- imports --------------------------------------------------------------


def velmora_names(module: str, *names: str) -> list:
    """The named velmora objects, or NotBuilt when one is missing."""
    try:
        mod = importlib.import_module(module)
        return [getattr(mod, name) for name in names]
    except (ImportError, AttributeError) as e:
        raise NotBuilt(f"{type(e).__name__}: {e}") from None


def peer_names(module: str, *names: str) -> list:
    try:
        mod = importlib.import_module(module)
    except ImportError as e:
        raise NotInstalled(f"{type(e).__name__}: {e}") from None
    return [getattr(mod, name) for name in names]


TEST_MODULE = "_velmora_capi_test"


def capi_test_module():
    """The test-only module that exposes the native Set-Cookie writer.

    Looked up in the directories of VELMORA_TEST_MODULE_PATH, among the
    installed modules, then in the build directories of this checkout (not
    the sanitizer build, which needs its runtime preloaded).
    """
    extra = [p for p in os.environ.get("VELMORA_TEST_MODULE_PATH", "").split(os.pathsep) if p]
    for entry in reversed(extra):
        if entry not in sys.path:
            sys.path.insert(0, entry)
    errors = []
    for name in (TEST_MODULE, f"velmora.{TEST_MODULE}"):
        try:
            return importlib.import_module(name)
        except ImportError as e:
            errors.append(str(e))
    pattern = str(REPO_ROOT / "build" / "**" / f"{TEST_MODULE}*.so")
    built = [p for p in glob.glob(pattern, recursive=True) if "asan" not in Path(p).parts]
    for path in sorted(built, key=os.path.getmtime, reverse=True):
        sys.path.insert(0, os.path.dirname(path))
        try:
            return importlib.import_module(TEST_MODULE)
        except ImportError as e:
            errors.append(str(e))
            sys.path.remove(os.path.dirname(path))
            sys.modules.pop(TEST_MODULE, None)
    raise NotBuilt("; ".join(errors) + " (set VELMORA_TEST_MODULE_PATH to its directory)")


# --- building cases -------------------------------------------------------


def checked(stmt: str, namespace: dict, check: Callable[[object], object], expr: str | None = None):
    """Runs the statement once, checks what `expr` (default: the statement) gives."""
    if expr is None:
        result = eval(stmt, namespace)
    else:
        exec(stmt, namespace)
        result = eval(expr, namespace)
    verdict = check(result)
    if verdict is not True:
        raise WrongResult(f"{expr or stmt} gave {result!r:.200}")
    return Prepared(stmt, namespace)


def fields_match(result, expected: dict) -> bool:
    return all(getattr(result, k, None) == v for k, v in expected.items())


def raise_catch(ctor: str, cls: str) -> str:
    return f"try:\n    raise {ctor}\nexcept {cls}:\n    pass"


# --- parsing --------------------------------------------------------------


def _parse_velmora(key: str) -> Prepared:
    (parse_cookie,) = velmora_names("velmora.cookies", "parse_cookie")
    ns = {"parse_cookie": parse_cookie, "raw": PARSE_INPUTS[key]}
    return checked("parse_cookie(raw)", ns, lambda c: fields_match(c, PARSED[key]))


def _raw_pair(key: str) -> tuple[str, str]:
    name, _, value = PARSE_INPUTS[key].decode().partition(";")[0].partition("=")
    return name, value


def _parse_cookiejar(key: str) -> Prepared:
    (parse_ns_headers,) = peer_names("http.cookiejar", "parse_ns_headers")
    ns = {"parse_ns_headers": parse_ns_headers, "headers": [PARSE_INPUTS[key].decode()]}
    return checked("parse_ns_headers(headers)", ns, lambda r: r[0][0] == _raw_pair(key))


def _parse_simplecookie(key: str) -> Prepared:
    (SimpleCookie,) = peer_names("http.cookies", "SimpleCookie")
    ns = {"SimpleCookie": SimpleCookie, "text": PARSE_INPUTS[key].decode()}
    name, value = _raw_pair(key)
    return checked("SimpleCookie(text)", ns, lambda r: r[name].value == value)


def _parse_werkzeug(key: str) -> Prepared:
    (Cookie,) = peer_names("werkzeug.test", "Cookie")
    ns = {"from_header": Cookie._from_response_header, "text": PARSE_INPUTS[key].decode()}
    name, value = _raw_pair(key)
    return checked(
        "from_header('localhost', '/', text)",
        ns,
        lambda r: (r.key, r.value) == (name, value),
    )


def _cookie_floor() -> Prepared:
    (Cookie,) = velmora_names("velmora.cookies", "Cookie")
    return checked("Cookie('a', 'b')", {"Cookie": Cookie}, lambda c: (c.name, c.value) == ("a", "b"))


# --- writing --------------------------------------------------------------

WRITTEN = {"ab": b"a=b", "full": FULL_WRITTEN}


def _write_velmora(key: str) -> Prepared:
    Cookie, CookieSameSiteMode = velmora_names("velmora.cookies", "Cookie", "CookieSameSiteMode")
    writer = capi_test_module()
    try:
        write = writer.write_cookie_for_response
    except AttributeError as e:
        raise NotBuilt(str(e)) from None
    if key == "ab":
        cookie = Cookie("a", "b")
    else:
        cookie = Cookie(
            "user id", "a b/c;d", EXPIRES, "intranet", "/app", True, False, 3600,
            CookieSameSiteMode.NONE,
        )
    ns = {"write": write, "cookie": cookie}
    return checked("write(cookie)", ns, lambda r: r == WRITTEN[key])


def _write_werkzeug(key: str) -> Prepared:
    (dump_cookie,) = peer_names("werkzeug.http", "dump_cookie")
    ns = {"dump_cookie": dump_cookie, "expires": EXPIRES}
    if key == "ab":
        return checked("dump_cookie('a', 'b', path=None)", ns, lambda r: r == "a=b")
    stmt = (
        "dump_cookie('user id', 'a b/c;d', max_age=3600, expires=expires, domain='intranet',"
        " path='/app', secure=True, httponly=True, samesite='None')"
    )
    return checked(stmt, ns, lambda r: r.startswith("user id=") and "SameSite=None" in r)


# The Morsel and Starlette refuse the blank of the name "user id": callers of
# theirs pass the name already percent-encoded.
_ENCODED_NAME = "user%20id"


def _write_morsel(key: str) -> Prepared:
    (Morsel,) = peer_names("http.cookies", "Morsel")
    morsel = Morsel()
    if key == "ab":
        morsel.set("a", "b", "b")
        expected = "a=b"
    else:
        morsel.set(_ENCODED_NAME, "a b/c;d", "a%20b/c%3Bd")
        morsel.update(
            {
                "expires": EXPIRES_TEXT.decode(),
                "max-age": 3600,
                "domain": "intranet",
                "path": "/app",
                "httponly": True,
                "secure": True,
                "samesite": "None",
            }
        )
        expected = "user%20id=a%20b/c%3Bd; Domain=intranet; expires="
    return checked("morsel.OutputString()", {"morsel": morsel}, lambda r: r.startswith(expected))


def _write_starlette(key: str) -> Prepared:
    (Response,) = peer_names("starlette.responses", "Response")
    response = Response()
    ns = {
        "set_cookie": response.set_cookie,
        "pop": response.raw_headers.pop,
        "expires": EXPIRES_UTC,
    }
    if key == "ab":
        call = "set_cookie('a', 'b', path=None, samesite=None)"
        expected = b"a=b"
    else:
        call = (
            f"set_cookie({_ENCODED_NAME!r}, 'a b/c;d', max_age=3600, expires=expires,"
            " path='/app', domain='intranet', secure=True, httponly=True, samesite='none')"
        )
        expected = b'user%20id="a b/c\\073d"; Domain=intranet; expires=Wed, 21 Oct 2015'
    checked(call, ns, lambda h: h[0] == b"set-cookie" and h[1].startswith(expected), "pop()")
    return Prepared(f"{call}\npop()", ns)


def _bytes_floor(length: int) -> Callable[[], Prepared]:
    def setup() -> Prepared:
        # Slicing a longer object copies; a slice of the whole object would
        # return the object itself.
        ns = {"source": bytes(length + 1)}
        return checked(f"source[:{length}]", ns, lambda r: len(r) == length)

    return setup


# --- dates ----------------------------------------------------------------


def _format_velmora() -> Prepared:
    (to_cookie,) = velmora_names("velmora.cookies", "datetime_to_cookie_format")
    ns = {"datetime_to_cookie_format": to_cookie, "expires": EXPIRES}
    return checked("datetime_to_cookie_format(expires)", ns, lambda r: r == EXPIRES_TEXT)


def _format_email() -> Prepared:
    (format_datetime,) = peer_names("email.utils", "format_datetime")
    ns = {"format_datetime": format_datetime, "expires": EXPIRES_UTC}
    return checked(
        "format_datetime(expires, usegmt=True)", ns, lambda r: r == EXPIRES_TEXT.decode()
    )


def _format_werkzeug() -> Prepared:
    (http_date,) = peer_names("werkzeug.http", "http_date")
    ns = {"http_date": http_date, "expires": EXPIRES}
    return checked("http_date(expires)", ns, lambda r: r == EXPIRES_TEXT.decode())


def _parse_date_velmora() -> Prepared:
    (from_cookie,) = velmora_names("velmora.cookies", "datetime_from_cookie_format")
    ns = {"datetime_from_cookie_format": from_cookie, "raw": EXPIRES_TEXT}
    return checked("datetime_from_cookie_format(raw)", ns, lambda r: r == EXPIRES)


def _parse_date_email() -> Prepared:
    (parsedate_to_datetime,) = peer_names("email.utils", "parsedate_to_datetime")
    ns = {"parsedate_to_datetime": parsedate_to_datetime, "text": EXPIRES_TEXT.decode()}
    return checked("parsedate_to_datetime(text)", ns, lambda r: r == EXPIRES_UTC)


def _parse_date_werkzeug() -> Prepared:
    (parse_date,) = peer_names("werkzeug.http", "parse_date")
    ns = {"parse_date": parse_date, "text": EXPIRES_TEXT.decode()}
    return checked("parse_date(text)", ns, lambda r: r == EXPIRES_UTC)


def _datetime_floor() -> Prepared:
    ns = {"datetime": datetime.datetime}
    return checked("datetime(2015, 10, 21, 7, 28)", ns, lambda r: r == EXPIRES)


# --- exceptions -----------------------------------------------------------


class PlainNotFound(Exception):
    """What an application would write without a framework's exception family."""

    def __init__(self, message=None):
        self.status = 404
        super().__init__(message or "Not found")


class PlainHTTPException(Exception):
    def __init__(self, status, message="HTTP exception"):
        self.status = status
        super().__init__(message)


def _exception_case(ctor: str, cls_name: str, cls, check, raised: bool) -> Prepared:
    """The constructor call alone (`raised` false), or the instance raised and caught."""
    ns = {cls_name: cls}
    checked(ctor, ns, check)
    return Prepared(raise_catch(ctor, cls_name) if raised else ctor, ns)


def _status(expected_status: int, expected_text: str, attr: str = "status"):
    return lambda e: getattr(e, attr, None) == expected_status and expected_text in str(e)


def _exc_velmora(ctor: str, raised: bool) -> Callable[[], Prepared]:
    cls_name = ctor.partition("(")[0]

    def setup() -> Prepared:
        (cls,) = velmora_names("velmora.exceptions", cls_name)
        text = "Not found" if cls_name == "NotFound" else "x"
        return _exception_case(ctor, cls_name, cls, _status(404, text), raised)

    return setup


def _exc_werkzeug(ctor: str, raised: bool) -> Callable[[], Prepared]:
    def setup() -> Prepared:
        (cls,) = peer_names("werkzeug.exceptions", "NotFound")
        text = "Not Found" if ctor == "NotFound()" else "x"
        return _exception_case(ctor, "NotFound", cls, _status(404, text, "code"), raised)

    return setup


def _exc_starlette(ctor: str, raised: bool) -> Callable[[], Prepared]:
    def setup() -> Prepared:
        (cls,) = peer_names("starlette.exceptions", "HTTPException")
        text = "Not Found" if ctor == "HTTPException(404)" else "x"
        check = _status(404, text, "status_code")
        return _exception_case(ctor, "HTTPException", cls, check, raised)

    return setup


def _exc_plain(ctor: str, raised: bool) -> Callable[[], Prepared]:
    cls_name = ctor.partition("(")[0]
    cls = PlainNotFound if cls_name == "NotFound" else PlainHTTPException

    def setup() -> Prepared:
        text = "Not found" if cls_name == "NotFound" else "x"
        return _exception_case(ctor, cls_name, cls, _status(404, text), raised)

    return setup


def _exception_floor(raised: bool) -> Callable[[], Prepared]:
    return lambda: _exception_case("Exception('x')", "Exception", Exception,
                                   lambda e: e.args == ("x",), raised)


# --- as specified, without fast paths -------------------------------------
#
# The same velmora calls with the module-level names rebound to equivalent
# copies of the standard functions (same code, globals and defaults, but not
# the objects bound at import), which the native stand-ins do not replace, and
# the datetime given as an instance of a plain subclass, which strftime then
# formats. What remains is the documented algorithm run through Python calls.
# Timed in one process with the other cases, each statement rebinds the names
# and restores them (two module assignments, included in the figure); counted
# under callgrind, the child rebinds them once.


class PlainDatetime(datetime.datetime):
    """A datetime subclass without overrides: strftime formats it, not velmora."""


def standard_copy(function):
    import types

    copy = types.FunctionType(function.__code__, function.__globals__, function.__name__,
                              function.__defaults__, function.__closure__)
    copy.__kwdefaults__ = function.__kwdefaults__
    copy.__qualname__ = function.__qualname__
    return copy


def _as_specified(stmt: str, namespace: dict, names: tuple[str, ...], check) -> Prepared:
    (cookies,) = velmora_names("velmora", "cookies")
    copies = {name: standard_copy(getattr(cookies, name)) for name in names}
    namespace = dict(namespace, cookies=cookies, copies=copies,
                     originals={name: getattr(cookies, name) for name in names})
    if isolated():
        for name, copy in copies.items():
            setattr(cookies, name, copy)
        return checked(stmt, namespace, check)
    swap_in = "".join(f"cookies.{n} = copies[{n!r}]\n" for n in names)
    swap_out = "".join(f"cookies.{n} = originals[{n!r}]\n" for n in names)
    wrapped = f"{swap_in}result = {stmt}\n{swap_out}"
    return checked(wrapped, namespace, check, "result")


def _parse_generic(key: str) -> Prepared:
    (parse_cookie,) = velmora_names("velmora.cookies", "parse_cookie")
    ns = {"parse_cookie": parse_cookie, "raw": PARSE_INPUTS[key]}
    return _as_specified("parse_cookie(raw)", ns, ("unquote", "parsedate_to_datetime"),
                         lambda c: fields_match(c, PARSED[key]))


def _write_generic(key: str) -> Prepared:
    prepared = _write_velmora(key)
    cookie = prepared.namespace["cookie"]
    if cookie.expires is not None:
        e = cookie.expires
        cookie.expires = PlainDatetime(e.year, e.month, e.day, e.hour, e.minute, e.second)
    return _as_specified("write(cookie)", prepared.namespace, ("quote",),
                         lambda r: r == WRITTEN[key])


def _format_generic() -> Prepared:
    (to_cookie,) = velmora_names("velmora.cookies", "datetime_to_cookie_format")
    ns = {"datetime_to_cookie_format": to_cookie, "expires": PlainDatetime(2015, 10, 21, 7, 28)}
    return checked("datetime_to_cookie_format(expires)", ns, lambda r: r == EXPIRES_TEXT)


def _parse_date_generic() -> Prepared:
    (from_cookie,) = velmora_names("velmora.cookies", "datetime_from_cookie_format")
    ns = {"datetime_from_cookie_format": from_cookie, "raw": EXPIRES_TEXT}
    return _as_specified("datetime_from_cookie_format(raw)", ns, ("parsedate_to_datetime",),
                         lambda r: r == EXPIRES)


GENERIC_LABEL = "velmora as specified, without fast paths"


# --- native entries -------------------------------------------------------
#
# Other native modules call the table __pyx_capi__ from C. These cases run
# the entry in a C loop of the test-only module (NATIVE_INNER operations per
# statement, timed and counted alike), against floors run the same way: the
# Cookie type called with the fields the parser finds, and one bytes object
# built from the parts the writer joins.

FULL_FIELDS = ("id", "a3fWa", EXPIRES, "intranet", "/app", True, True, 3600)
FULL_PARTS = tuple(
    part for piece in FULL_WRITTEN.split(b"; ") for part in (piece, b"; "))[:-1]


def _native_loop(function: str, *args) -> Callable[[], Prepared]:
    def setup() -> Prepared:
        module = capi_test_module()
        try:
            loop = getattr(module, function)
        except AttributeError as e:
            raise NotBuilt(str(e)) from None
        resolved = [a() if callable(a) and not isinstance(a, type) else a for a in args]
        ns = {"loop": loop, "args": tuple(resolved)}
        return checked(f"loop(*args, {NATIVE_INNER})", ns, lambda r: r is None)

    return setup


def _cookie_type():
    (Cookie,) = velmora_names("velmora.cookies", "Cookie")
    return Cookie


def _cookie_args(key: str):
    def make():
        (mode,) = velmora_names("velmora.cookies", "CookieSameSiteMode")
        if key == "ab":
            return ("a", "b", None, None, None, False, False, -1, mode.UNDEFINED)
        return (*FULL_FIELDS, mode.LAX)

    return make


def _written_cookie(key: str):
    def make():
        return _write_velmora(key).namespace["cookie"]

    return make


# --- the catalogue --------------------------------------------------------

GROUPS = (
    Group(
        "parse",
        "Parsing one Set-Cookie value",
        (
            Subject("ab", "a=b", "parse/floor/cookie"),
            Subject("full", "full example", "parse/floor/cookie"),
            Subject("percent", "percent-encoded", "parse/floor/cookie"),
            Subject("long", "3 KB value", "parse/floor/cookie"),
            Subject("floor", "floor", None),
        ),
        "velmora takes the raw bytes and percent-decodes name and value; the peers get the"
        " text decoded ahead of the loop and do not percent-decode. Werkzeug has no public"
        " Set-Cookie parser: its row is the test client's `werkzeug.test.Cookie."
        "_from_response_header`.",
    ),
    Group(
        "write",
        "Writing a Set-Cookie value",
        (
            Subject("ab", "a=b", "write/floor/ab"),
            Subject("full", "full cookie", "write/floor/full"),
            Subject("floor", "floor", None),
        ),
        "velmora writes through the test-only native module (one Python-level call into"
        " `write_cookie_for_response`). The Morsel is prebuilt: name, value and attributes"
        " set and encoded (expiry text included) before the loop. Starlette's row is"
        " `Response.set_cookie` on a prebuilt response followed by popping the header it"
        " appended. Morsel and Starlette get the name already percent-encoded (they refuse"
        " a blank in it).",
    ),
    Group(
        "dates",
        "Cookie dates",
        (
            Subject("format", "datetime to text", "dates/floor/format"),
            Subject("parse", "text to datetime", "dates/floor/parse"),
            Subject("floor", "floor", None),
        ),
        "`email.utils.format_datetime` gets an aware UTC datetime (it requires one for"
        " usegmt=True); the peers return `str` where velmora returns `bytes`.",
    ),
    Group(
        "native",
        "Native entries, called from C",
        (
            Subject("parse-ab", "parse_cookie(b'a=b')", "native/floor/cookie-ab"),
            Subject("parse-full", "parse_cookie(full example)", "native/floor/cookie-full"),
            Subject("write-ab", "write a=b", "native/floor/bytes-ab"),
            Subject("write-full", "write full cookie", "native/floor/bytes-full"),
            Subject("format", "datetime_to_cookie_format", None),
            Subject("parse-date", "datetime_from_cookie_format", None),
            Subject("floor", "floor", None),
        ),
        "Each row runs the native entry of `__pyx_capi__` in a C loop of the test-only"
        " module, as the framework's other native modules call it: one Python call runs"
        f" {NATIVE_INNER} operations, and the figure is per operation. The floors are C"
        " loops too: the Cookie type called with the fields the parser finds, and one"
        " bytes object built from the parts the writer joins.",
    ),
    Group(
        "exceptions",
        "HTTP exceptions: constructed; raised and caught",
        (
            Subject("new-notfound", "NotFound() constructed", "exceptions/floor/new-exception"),
            Subject("new-http404", "HTTPException(404, 'x') constructed",
                    "exceptions/floor/new-exception"),
            Subject("notfound", "NotFound() raised and caught", "exceptions/floor/exception"),
            Subject("http404", "HTTPException(404, 'x') raised and caught",
                    "exceptions/floor/exception"),
            Subject("floor", "floor", None),
        ),
        "The constructed rows call the constructor and drop the instance; the raised rows"
        " raise it and catch it by its own class. Werkzeug has no status parameter: its"
        " `HTTPException(404, 'x')` row is `NotFound('x')`. The plain classes set `status`"
        " in `__init__` and call `super().__init__`.",
    ),
)


def _case(group, subject, impl, label, role, setup, note="") -> Case:
    return Case(f"{group}/{subject}/{impl}", group, subject, label, role, setup, note)


def all_cases() -> list[Case]:
    cases = []
    for key in PARSE_INPUTS:
        cases += [
            _case("parse", key, "velmora", "velmora parse_cookie", VELMORA,
                  lambda key=key: _parse_velmora(key)),
            _case("parse", key, "cookiejar", "http.cookiejar.parse_ns_headers", PEER,
                  lambda key=key: _parse_cookiejar(key)),
            _case("parse", key, "simplecookie", "http.cookies.SimpleCookie", PEER,
                  lambda key=key: _parse_simplecookie(key)),
            _case("parse", key, "werkzeug", "werkzeug.test.Cookie._from_response_header", PEER,
                  lambda key=key: _parse_werkzeug(key)),
        ]
    for key in ("ab", "full"):
        cases.append(_case("parse", key, "velmora-generic", GENERIC_LABEL, VELMORA,
                           lambda key=key: _parse_generic(key)))
    cases.append(_case("parse", "floor", "cookie", "velmora Cookie('a', 'b')", FLOOR, _cookie_floor))

    for key in WRITTEN:
        cases += [
            _case("write", key, "velmora", "velmora write_cookie_for_response", VELMORA,
                  lambda key=key: _write_velmora(key)),
            _case("write", key, "werkzeug", "werkzeug.http.dump_cookie", PEER,
                  lambda key=key: _write_werkzeug(key)),
            _case("write", key, "morsel", "http.cookies.Morsel.OutputString (prebuilt)", PEER,
                  lambda key=key: _write_morsel(key)),
            _case("write", key, "starlette", "starlette Response.set_cookie", PEER,
                  lambda key=key: _write_starlette(key)),
        ]
    for key in WRITTEN:
        cases.append(_case("write", key, "velmora-generic", GENERIC_LABEL, VELMORA,
                           lambda key=key: _write_generic(key)))
    for key, written in WRITTEN.items():
        cases.append(
            _case("write", "floor", key, f"bytes copy of {len(written)} bytes", FLOOR,
                  _bytes_floor(len(written)))
        )

    cases += [
        _case("dates", "format", "velmora", "velmora datetime_to_cookie_format", VELMORA,
              _format_velmora),
        _case("dates", "format", "email", "email.utils.format_datetime", PEER, _format_email),
        _case("dates", "format", "werkzeug", "werkzeug.http.http_date", PEER, _format_werkzeug),
        _case("dates", "parse", "velmora", "velmora datetime_from_cookie_format", VELMORA,
              _parse_date_velmora),
        _case("dates", "parse", "email", "email.utils.parsedate_to_datetime", PEER,
              _parse_date_email),
        _case("dates", "parse", "werkzeug", "werkzeug.http.parse_date", PEER,
              _parse_date_werkzeug),
        _case("dates", "format", "velmora-generic", GENERIC_LABEL, VELMORA, _format_generic),
        _case("dates", "parse", "velmora-generic", GENERIC_LABEL, VELMORA, _parse_date_generic),
        _case("dates", "floor", "format", f"bytes copy of {len(EXPIRES_TEXT)} bytes", FLOOR,
              _bytes_floor(len(EXPIRES_TEXT))),
        _case("dates", "floor", "parse", "datetime(2015, 10, 21, 7, 28)", FLOOR,
              _datetime_floor),
    ]

    def native(subject, impl, label, role, setup):
        return Case(f"native/{subject}/{impl}", "native", subject, label, role, setup,
                    inner=NATIVE_INNER)

    cases += [
        native("parse-ab", "velmora", "velmora parse_cookie, native entry", VELMORA,
               _native_loop("repeat_parse_cookie", b"a=b")),
        native("parse-full", "velmora", "velmora parse_cookie, native entry", VELMORA,
               _native_loop("repeat_parse_cookie", FULL_HEADER)),
        native("write-ab", "velmora", "velmora write_cookie_for_response, native entry",
               VELMORA, _native_loop("repeat_write", _written_cookie("ab"))),
        native("write-full", "velmora", "velmora write_cookie_for_response, native entry",
               VELMORA, _native_loop("repeat_write", _written_cookie("full"))),
        native("format", "velmora", "velmora datetime_to_cookie_format, native entry", VELMORA,
               _native_loop("repeat_datetime_to_cookie_format", EXPIRES)),
        native("parse-date", "velmora", "velmora datetime_from_cookie_format, native entry",
               VELMORA, _native_loop("repeat_datetime_from_cookie_format", EXPIRES_TEXT)),
        native("floor", "cookie-ab", "Cookie type called from C with the fields of a=b", FLOOR,
               _native_loop("repeat_call", _cookie_type, _cookie_args("ab"))),
        native("floor", "cookie-full", "Cookie type called from C with the fields of the full"
               " example", FLOOR, _native_loop("repeat_call", _cookie_type, _cookie_args("full"))),
        native("floor", "bytes-ab", "bytes built from its parts in C, 3 bytes", FLOOR,
               _native_loop("repeat_bytes_from_parts", (b"a", b"=", b"b"))),
        native("floor", "bytes-full", f"bytes built from its parts in C, {len(FULL_WRITTEN)}"
               " bytes", FLOOR, _native_loop("repeat_bytes_from_parts", FULL_PARTS)),
    ]

    for key, ctor, starlette_ctor, werkzeug_ctor in (
        ("notfound", "NotFound()", "HTTPException(404)", "NotFound()"),
        ("http404", "HTTPException(404, 'x')", "HTTPException(404, 'x')", "NotFound('x')"),
    ):
        for subject, raised in ((f"new-{key}", False), (key, True)):
            cases += [
                _case("exceptions", subject, "velmora", f"velmora {ctor}", VELMORA,
                      _exc_velmora(ctor, raised)),
                _case("exceptions", subject, "werkzeug", f"werkzeug {werkzeug_ctor}", PEER,
                      _exc_werkzeug(werkzeug_ctor, raised)),
                _case("exceptions", subject, "starlette", f"starlette {starlette_ctor}", PEER,
                      _exc_starlette(starlette_ctor, raised)),
                _case("exceptions", subject, "plain", f"plain Python {ctor}", PEER,
                      _exc_plain(ctor, raised)),
            ]
    cases += [
        _case("exceptions", "floor", "new-exception", "Exception('x') constructed", FLOOR,
              _exception_floor(False)),
        _case("exceptions", "floor", "exception", "Exception('x') raised and caught", FLOOR,
              _exception_floor(True)),
    ]
    return cases


def loop_overhead_case() -> Case:
    """An empty statement: what the timing loop itself costs per operation."""
    return Case("overhead/empty/pass", "overhead", "empty", "pass", FLOOR,
                lambda: Prepared("pass", {}))

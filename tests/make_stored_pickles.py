"""Writes the stored pickles of tests/stored_pickles/: for every pickled type
of velmora.exceptions and velmora.cookies, a few instances at protocols 0 to
5, one JSON file per type (case name -> protocol -> base64 of the pickle).

Stored pickles outlive the code that wrote them, so test_stored_pickles.py
loads these files and also checks that today's code still writes the very
same bytes. Run this only when a layout change is meant to ship, and review
the diff (``--show TYPE`` prints the disassembly of a type's pickles). The
bytes also hold what the interpreter writes for datetimes, enumeration members
and built-in exceptions; a new CPython feature release may change those, which
is no layout change of ours but still wants a look before rewriting:

    python tests/make_stored_pickles.py [--show TYPE]
"""

import argparse
import base64
import datetime
import io
import json
import pickle
import pickletools
import sys
from pathlib import Path

import velmora.cookies as cookies
import velmora.exceptions as exc

DIRECTORY = Path(__file__).resolve().parent / "stored_pickles"
PROTOCOLS = range(6)
MODULES = (exc, cookies)


class StatePickler(pickle.Pickler):
    """Writes the exception types through their state methods, as pickles
    that name the module's reconstructors were written."""

    def reducer_override(self, obj):
        if isinstance(obj, BaseException) and type(obj).__module__.startswith("velmora."):
            return obj.__reduce_tavrin__()
        return NotImplemented


def through_state_methods(obj, protocol):
    buffer = io.BytesIO()
    StatePickler(buffer, protocol).dump(obj)
    return buffer.getvalue()


def with_attribute(obj, name, value):
    setattr(obj, name, value)
    return obj


def allocated(cls):
    return cls.__new__(cls)


# type name -> case name -> (writer, builder). "pickle" is what pickle.dumps
# writes today (the interpreter's exception protocol for exceptions, the state
# methods for Cookie); "state methods" names the reconstructor. Only states of
# the direct shape are stored for exceptions: a deferred state meets the
# exception base's __setstate__, which wants a dictionary.
CASES = {
    "HTTPException": {
        "pickle": (pickle.dumps, lambda: exc.HTTPException(418, "I'm a teapot")),
        "state methods": (through_state_methods, lambda: exc.HTTPException(418, "I'm a teapot")),
    },
    "BadRequest": {
        "pickle": (pickle.dumps, lambda: exc.BadRequest("missing field")),
        "state methods": (through_state_methods, lambda: exc.BadRequest("missing field")),
    },
    "Unauthorized": {
        "pickle": (pickle.dumps, lambda: exc.Unauthorized("who are you")),
        "state methods": (through_state_methods, lambda: exc.Unauthorized()),
    },
    "Forbidden": {
        "pickle": (pickle.dumps, lambda: exc.Forbidden()),
        "state methods": (through_state_methods, lambda: exc.Forbidden()),
    },
    "NotFound": {
        "pickle": (pickle.dumps, lambda: exc.NotFound("no user 7")),
        "with attribute": (pickle.dumps,
                           lambda: with_attribute(exc.NotFound(), "hint", ["moved", 1])),
        "state methods": (through_state_methods, lambda: exc.NotFound("no user 7")),
    },
    "Conflict": {
        "pickle": (pickle.dumps, lambda: exc.Conflict("taken")),
        "state methods": (through_state_methods, lambda: exc.Conflict()),
    },
    "UnsupportedMediaType": {
        "pickle": (pickle.dumps, lambda: exc.UnsupportedMediaType()),
        "state methods": (through_state_methods, lambda: exc.UnsupportedMediaType()),
    },
    "RangeNotSatisfiable": {
        "pickle": (pickle.dumps, lambda: exc.RangeNotSatisfiable()),
        "state methods": (through_state_methods, lambda: exc.RangeNotSatisfiable()),
    },
    "NotImplementedByServer": {
        "pickle": (pickle.dumps, lambda: exc.NotImplementedByServer()),
        "state methods": (through_state_methods, lambda: exc.NotImplementedByServer()),
    },
    "BadRequestFormat": {
        "pickle": (pickle.dumps, lambda: exc.BadRequestFormat("bad json", ValueError("x"))),
        "state methods": (through_state_methods, lambda: exc.BadRequestFormat("bad json")),
    },
    "InternalServerError": {
        "pickle": (pickle.dumps, lambda: exc.InternalServerError(KeyError("db"))),
        "state methods": (through_state_methods, lambda: exc.InternalServerError()),
    },
    "UnprocessableEntity": {
        "pickle": (pickle.dumps,
                   lambda: exc.UnprocessableEntity("invalid", {"email": "required"})),
        "state methods": (through_state_methods, lambda: exc.UnprocessableEntity("invalid")),
    },
    "FailedRequestError": {
        "pickle": (pickle.dumps, lambda: exc.FailedRequestError(502, "upstream down")),
        "state methods": (through_state_methods, lambda: exc.FailedRequestError(-5, None)),
    },
    "MessageAborted": {
        "pickle": (pickle.dumps, lambda: exc.MessageAborted()),
        "state methods": (through_state_methods, lambda: exc.MessageAborted()),
    },
    "InvalidArgument": {
        "pickle": (pickle.dumps, lambda: exc.InvalidArgument("bad")),
        "state methods": (through_state_methods, lambda: exc.InvalidArgument("bad")),
    },
    "InvalidOperation": {
        "pickle": (pickle.dumps, lambda: exc.InvalidOperation("no", ValueError("inner"))),
        # Constructed, it holds inner_exception in its dictionary (deferred).
        "state methods": (through_state_methods, lambda: allocated(exc.InvalidOperation)),
    },
    "InvalidExceptionHandler": {
        "pickle": (pickle.dumps, lambda: exc.InvalidExceptionHandler()),
        "state methods": (through_state_methods, lambda: exc.InvalidExceptionHandler()),
    },
    "Cookie": {
        "every field": (pickle.dumps, lambda: cookies.Cookie(
            "session", "a3fWa", datetime.datetime(2030, 1, 1, 12, 0, 5, 250), "example.org",
            "/app", True, True, 3600, cookies.CookieSameSiteMode.STRICT)),
        "defaults": (pickle.dumps, lambda: cookies.Cookie("sid", "abc")),
        "code without a member": (pickle.dumps, lambda: cookies.Cookie(
            "n", "v", datetime.datetime(2015, 10, 21, 7, 28, tzinfo=datetime.timezone.utc),
            None, None, False, True, 0, 2**32 - 1)),
        "allocated": (pickle.dumps, lambda: allocated(cookies.Cookie)),
    },
    "CookieError": {
        "pickle": (pickle.dumps, lambda: cookies.CookieError("bad cookie")),
        "state methods": (through_state_methods, lambda: cookies.CookieError("bad cookie")),
    },
    "CookieValueExceedsMaximumLength": {
        "pickle": (pickle.dumps, lambda: cookies.CookieValueExceedsMaximumLength()),
        "state methods": (through_state_methods,
                          lambda: cookies.CookieValueExceedsMaximumLength()),
    },
}


def written(type_name, case, protocol):
    """The bytes today's code writes for a case."""
    writer, build = CASES[type_name][case]
    return writer(build(), protocol)


def path_of(type_name):
    return DIRECTORY / f"{type_name}.json"


def read(type_name):
    """case -> protocol -> stored bytes."""
    stored = json.loads(path_of(type_name).read_text())
    return {case: {int(protocol): base64.b64decode(data) for protocol, data in pickles.items()}
            for case, pickles in stored.items()}


def write_all():
    DIRECTORY.mkdir(exist_ok=True)
    for type_name, cases in CASES.items():
        content = {case: {str(protocol): base64.b64encode(written(type_name, case, protocol))
                          .decode("ascii") for protocol in PROTOCOLS}
                   for case in cases}
        path_of(type_name).write_text(json.dumps(content, indent=1) + "\n")
    print(f"wrote {len(CASES)} files to {DIRECTORY}")


def show(type_name):
    for case, pickles in read(type_name).items():
        for protocol, data in pickles.items():
            print(f"---- {type_name}, {case}, protocol {protocol}")
            pickletools.dis(data, annotate=0)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--show", metavar="TYPE", help="disassemble the stored pickles of TYPE")
    options = parser.parse_args(argv)
    if options.show:
        show(options.show)
    else:
        write_all()
    return 0


if __name__ == "__main__":
    sys.exit(main())

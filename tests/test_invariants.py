"""What must not happen whatever path the code takes: constructors that leave
attributes behind which their type does not have, and a cached SameSite
member served after the enumeration's lookup changed."""

import enum
import itertools

import pytest

import velmora.cookies as cookies
import velmora.exceptions as exc
from velmora.cookies import Cookie, CookieSameSiteMode

# Attributes that some of the types have; each type has only its own.
PAYLOAD_NAMES = ("status", "inner_exception", "source_error", "details", "data", "message")


@pytest.mark.parametrize("make, attributes, dictionary", [
    (lambda: exc.HTTPException(404, "x"), {"status"}, {}),
    (lambda: exc.NotFound(), {"status"}, {}),
    (lambda: exc.RangeNotSatisfiable(), {"status"}, {}),
    (lambda: exc.BadRequestFormat("m", 1), {"status", "inner_exception"}, {}),
    (lambda: exc.InternalServerError(), {"status", "source_error"}, {}),
    (lambda: exc.UnprocessableEntity(details=1), {"status", "details"}, {}),
    (lambda: exc.FailedRequestError(404, "x"), {"status", "data"}, {}),
    (lambda: exc.MessageAborted(), set(), {}),
    (lambda: exc.InvalidArgument("m"), set(), {}),
    (lambda: exc.InvalidArgument(message=None), set(), {}),
    (lambda: exc.InvalidOperation("m"), {"inner_exception"}, {"inner_exception": None}),
    (lambda: exc.InvalidExceptionHandler(), set(), {}),
    (lambda: cookies.CookieError("m"), set(), {}),
    (lambda: cookies.CookieValueExceedsMaximumLength(), set(), {}),
], ids=["HTTPException", "NotFound", "RangeNotSatisfiable", "BadRequestFormat",
        "InternalServerError", "UnprocessableEntity", "FailedRequestError", "MessageAborted",
        "InvalidArgument", "InvalidArgument-keyword", "InvalidOperation",
        "InvalidExceptionHandler", "CookieError", "CookieValueExceedsMaximumLength"])  # fmt: skip
def test_constructors_leave_only_their_own_attributes(make, attributes, dictionary):
    error = make()
    assert {name for name in PAYLOAD_NAMES if hasattr(error, name)} == attributes
    assert vars(error) == dictionary


MEMBER_NAMES = ["UNDEFINED", "LAX", "STRICT", "NONE"]


@pytest.mark.parametrize("code", range(4), ids=MEMBER_NAMES)
def test_same_site_sees_a_property_set_on_the_metaclass_after_the_member_was_read(code):
    # A data descriptor of the metaclass comes before the class's own members
    # in attribute lookup; the member read (and kept) before it was set must
    # not be served any more.
    name, other = MEMBER_NAMES[code], CookieSameSiteMode((code + 1) % 4)
    metaclass = type(CookieSameSiteMode)
    assert metaclass is enum.EnumType and name not in vars(metaclass)
    cookie = Cookie("n", "v", same_site=code)
    for _ in range(2):
        assert cookie.same_site is CookieSameSiteMode(code)
    setattr(metaclass, name, property(lambda cls: other))
    try:
        assert cookie.same_site is other
        assert cookie.__reduce__()[2][7] is other
        assert cookie.clone().same_site is other
    finally:
        delattr(metaclass, name)
    assert cookie.same_site is CookieSameSiteMode(code)


class Counting:
    """A descriptor whose every read gives the next number."""

    def __init__(self, start):
        self.numbers = itertools.count(start)

    def __get__(self, instance, owner=None):
        return next(self.numbers)


def on_the_metaclass(name, descriptor):
    metaclass = type(CookieSameSiteMode)
    setattr(metaclass, name, property(descriptor.__get__))
    return lambda: delattr(metaclass, name)


def in_the_class(name, descriptor):
    member = vars(CookieSameSiteMode)[name]
    type.__setattr__(CookieSameSiteMode, name, descriptor)
    return lambda: type.__setattr__(CookieSameSiteMode, name, member)


def on_the_type_of_a_read_member(name, descriptor):
    # A plain object in the class, read once through a cookie (and so
    # remembered), whose type gains a __get__ afterwards.
    member = vars(CookieSameSiteMode)[name]
    plain = type("Plain", (), {})()
    type.__setattr__(CookieSameSiteMode, name, plain)
    assert Cookie("n", "v", same_site=member.value).same_site is plain
    type(plain).__get__ = lambda self, instance, owner=None: descriptor.__get__(instance, owner)
    return lambda: type.__setattr__(CookieSameSiteMode, name, member)


@pytest.mark.parametrize("install", [
    pytest.param(on_the_metaclass, id="metaclass-property"),
    pytest.param(in_the_class, id="class-descriptor"),
    pytest.param(on_the_type_of_a_read_member, id="member-type-descriptor"),
])
def test_same_site_runs_a_descriptor_of_the_member_name_on_every_read(install):
    # What attribute lookup gives, every time: the next number.
    cookie = Cookie("n", "v", same_site=1)
    undo = install("LAX", Counting(10))
    try:
        assert [CookieSameSiteMode.LAX, CookieSameSiteMode.LAX] == [10, 11]
        assert [cookie.same_site, cookie.same_site] == [12, 13]
        assert cookie.__reduce__()[2][7] == 14
        assert cookie.clone().same_site == 15
    finally:
        undo()
    assert cookie.same_site is vars(CookieSameSiteMode)["LAX"]

"""The Cookie type: construction, properties, comparison, repr and clone."""

import datetime

import pytest

from velmora.cookies import (
    Cookie,
    CookieSameSiteMode,
    CookieValueExceedsMaximumLength,
)

EXPIRY = datetime.datetime(2015, 10, 21, 7, 28)


class SubCookie(Cookie):
    pass


class SiblingCookie(Cookie):
    pass


class Moment(datetime.datetime):
    pass


class Text(str):
    pass


def read_as(getter, stored):
    """A property that reads `getter` and stores through Cookie's own `stored`."""
    return property(getter, stored.__set__)


class FailingTruth:
    def __bool__(self):
        raise ZeroDivisionError("truth")


# Calling Cookie itself takes the vectorcall entry, a subclass the generic
# allocation-then-__init__ path; both must behave the same.
FACTORIES = pytest.mark.parametrize("factory", [Cookie, SubCookie], ids=["Cookie", "subclass"])


# ---- construction -------------------------------------------------------------


@FACTORIES
def test_defaults(factory):
    cookie = factory("user", "abcdef")
    assert (cookie.name, cookie.value) == ("user", "abcdef")
    assert cookie.expires is None and cookie.domain is None and cookie.path is None
    assert cookie.http_only is False and cookie.secure is False
    assert cookie.max_age == -1
    assert cookie.same_site is CookieSameSiteMode.UNDEFINED


@FACTORIES
def test_every_parameter_by_position_and_by_keyword(factory):
    values = ("n", "v", EXPIRY, "example.org", "/app", True, 1, 3600, CookieSameSiteMode.NONE)
    names = ("name", "value", "expires", "domain", "path", "http_only", "secure", "max_age",
             "same_site")
    for cookie in (factory(*values), factory(**dict(zip(names, values)))):
        assert cookie.expires is EXPIRY
        assert (cookie.domain, cookie.path) == ("example.org", "/app")
        assert cookie.http_only is True and cookie.secure is True
        assert cookie.max_age == 3600
        assert cookie.same_site is CookieSameSiteMode.NONE


@FACTORIES
@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((), {}, "__init__() takes at least 2 positional arguments (0 given)"),
        (("a",), {}, "__init__() takes at least 2 positional arguments (1 given)"),
        ((), {"value": "b"}, "__init__() takes at least 2 positional arguments (0 given)"),
        (("a",) * 10, {}, "__init__() takes at most 9 positional arguments (10 given)"),
        (("a", "b"), {"colour": 1}, "__init__() got an unexpected keyword argument 'colour'"),
        (("a", "b"), {"name": "c"}, "__init__() got multiple values for keyword argument 'name'"),
    ],
)
def test_argument_binding(factory, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        factory(*args, **kwargs)
    assert str(info.value) == message


@FACTORIES
@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        # Flags come first, then max_age, then same_site, then the types.
        ({"name": b"n", "http_only": FailingTruth(), "max_age": None}, ZeroDivisionError, "truth"),
        ({"name": b"n", "secure": FailingTruth(), "max_age": None}, ZeroDivisionError, "truth"),
        ({"name": b"n", "max_age": None, "same_site": -1}, TypeError, "an integer is required"),
        ({"name": b"n", "max_age": "1"}, TypeError, "an integer is required"),
        ({"name": b"n", "same_site": -1}, OverflowError,
         "can't convert negative value to CookieSameSiteMode"),
        ({"same_site": 2**32}, OverflowError, "value too large to convert to CookieSameSiteMode"),
        ({"same_site": None}, TypeError, "an integer is required"),
        ({"name": b"n", "value": b"v"}, TypeError,
         "Argument 'name' has incorrect type (expected str, got bytes)"),
        ({"name": Text("n")}, TypeError,
         "Argument 'name' has incorrect type (expected str, got Text)"),
        ({"value": b"v", "expires": "x"}, TypeError,
         "Argument 'value' has incorrect type (expected str, got bytes)"),
        ({"expires": datetime.date(2020, 1, 1), "domain": 1}, TypeError,
         "Argument 'expires' has incorrect type (expected datetime.datetime, got datetime.date)"),
        ({"domain": b"d", "path": 1}, TypeError,
         "Argument 'domain' has incorrect type (expected str, got bytes)"),
        ({"path": Text("/")}, TypeError,
         "Argument 'path' has incorrect type (expected str, got Text)"),
        # The type checks pass None; the name setter refuses it.
        ({"name": None}, ValueError, "A cookie name is required"),
        ({"name": ""}, ValueError, "A cookie name is required"),
        ({"max_age": 2**63}, OverflowError, None),
    ],
)
def test_order_of_checks(factory, kwargs, error, message):
    arguments = {"name": "n", "value": "v", **kwargs}
    with pytest.raises(error) as info:
        factory(**arguments)
    if message is not None:
        assert str(info.value) == message


@FACTORIES
@pytest.mark.parametrize(
    "kwargs, attribute, expected",
    [
        ({"value": None}, "value", None),
        ({"expires": Moment(2020, 1, 1)}, "expires", Moment(2020, 1, 1)),
        ({"max_age": 2.9}, "max_age", 2),
        ({"max_age": True}, "max_age", 1),
        ({"max_age": -(2**63)}, "max_age", -(2**63)),
        ({"http_only": None}, "http_only", False),
        ({"http_only": "yes"}, "http_only", True),
        ({"secure": []}, "secure", False),
        ({"same_site": 1}, "same_site", CookieSameSiteMode.LAX),
        ({"same_site": 2.5}, "same_site", CookieSameSiteMode.STRICT),
        ({"same_site": 2**32 - 1}, "same_site", 2**32 - 1),
    ],
)
def test_accepted_values(factory, kwargs, attribute, expected):
    assert getattr(factory(**{"name": "n", "value": "v", **kwargs}), attribute) == expected


def test_failed_reinit_keeps_what_earlier_steps_stored():
    cookie = Cookie("a", "b", domain="old")
    with pytest.raises(CookieValueExceedsMaximumLength):
        cookie.__init__("renamed", "x" * 5000, domain="new", max_age=5)
    assert cookie.name == "renamed"
    assert cookie.value == "b"
    assert cookie.domain == "old" and cookie.max_age == -1


def test_constructor_assigns_name_and_value_through_subclass_properties():
    seen = []

    class Recording(Cookie):
        @property
        def name(self):
            return "from property"

        @name.setter
        def name(self, value):
            seen.append(("name", value))

        @property
        def value(self):
            return Cookie.value.__get__(self)

        @value.setter
        def value(self, value):
            seen.append(("value", value))
            Cookie.value.__set__(self, value.upper())

    cookie = Recording(None, "abc")
    assert seen == [("name", None), ("value", "abc")]
    assert cookie.value == "ABC" and cookie.name == "from property"


def test_subclass_init_runs():
    class WithInit(Cookie):
        def __init__(self, name):
            super().__init__(name, "fixed", max_age=1)

    cookie = WithInit("n")
    assert (type(cookie), cookie.value, cookie.max_age) == (WithInit, "fixed", 1)


@pytest.mark.parametrize("args", [(), ("a", "b", "c"), (1, 2, 3, 4, 5, 6, 7, 8, 9, 10)])
def test_allocation_alone_ignores_arguments(args):
    cookie = Cookie.__new__(Cookie, *args, extra=1)
    assert cookie.name is None and cookie.value is None
    assert cookie.max_age == 0 and cookie.same_site is CookieSameSiteMode.UNDEFINED
    assert cookie.http_only is False and cookie.expires is None


# ---- properties ---------------------------------------------------------------


@pytest.mark.parametrize(
    "attribute, value",
    [
        ("name", "other"),
        ("value", "other"),
        ("value", None),
        ("expires", EXPIRY),
        ("expires", Moment(2001, 2, 3)),
        ("expires", None),
        ("domain", "example.org"),
        ("domain", None),
        ("path", "/"),
        ("path", None),
    ],
)
def test_object_property_stores_the_object(attribute, value):
    cookie = Cookie("n", "v", expires=EXPIRY, domain="d", path="/p")
    setattr(cookie, attribute, value)
    assert getattr(cookie, attribute) is value


@pytest.mark.parametrize(
    "attribute, value, expected",
    [
        ("http_only", 1, True),
        ("http_only", None, False),
        ("secure", "x", True),
        ("secure", 0.0, False),
        ("max_age", 7.9, 7),
        ("max_age", -5, -5),
        ("max_age", 2**63 - 1, 2**63 - 1),
        ("same_site", 3, CookieSameSiteMode.NONE),
        ("same_site", CookieSameSiteMode.LAX, CookieSameSiteMode.LAX),
    ],
)
def test_native_property_converts(attribute, value, expected):
    cookie = Cookie("n", "v")
    setattr(cookie, attribute, value)
    result = getattr(cookie, attribute)
    assert result == expected and type(result) is type(expected)


@pytest.mark.parametrize("attribute", ["expires", "domain", "path"])
def test_deleting_an_object_property_stores_none(attribute):
    cookie = Cookie("n", "v", expires=EXPIRY, domain="d", path="/p")
    delattr(cookie, attribute)
    assert getattr(cookie, attribute) is None


@pytest.mark.parametrize(
    "attribute", ["name", "value", "http_only", "secure", "max_age", "same_site"]
)
def test_deleting_other_properties_is_refused(attribute):
    cookie = Cookie("n", "v")
    with pytest.raises(NotImplementedError, match=r"^__del__$"):
        delattr(cookie, attribute)


class LongEncoding(str):
    def encode(self, *args):
        return b"x" * 4097 if not args else str.encode(self, *args)


class ShortEncoding(str):
    def encode(self, *args):
        return b"x" if not args else str.encode(self, *args)


@pytest.mark.parametrize(
    "attribute, value, error, message",
    [
        ("name", None, ValueError, "A cookie name is required"),
        ("name", "", ValueError, "A cookie name is required"),
        ("name", 0, ValueError, "A cookie name is required"),
        ("name", b"", ValueError, "A cookie name is required"),
        ("name", FailingTruth(), ZeroDivisionError, "truth"),
        ("name", 5, TypeError, "Expected str, got int"),
        ("name", b"n", TypeError, "Expected str, got bytes"),
        ("name", Text("n"), TypeError, "Expected str, got Text"),
        # A true value is measured before its type is checked.
        ("value", 5, AttributeError, "'int' object has no attribute 'encode'"),
        ("value", b"v", AttributeError, "'bytes' object has no attribute 'encode'"),
        ("value", LongEncoding("v"), CookieValueExceedsMaximumLength, None),
        ("value", ShortEncoding("v"), TypeError, "Expected str, got ShortEncoding"),
        ("value", 0, TypeError, "Expected str, got int"),
        ("value", b"", TypeError, "Expected str, got bytes"),
        ("value", False, TypeError, "Expected str, got bool"),
        ("value", "\ud800", UnicodeEncodeError, None),
        ("value", FailingTruth(), ZeroDivisionError, "truth"),
        ("expires", "2020", TypeError, "Cannot convert str to datetime.datetime"),
        ("expires", datetime.date(2020, 1, 1), TypeError,
         "Cannot convert datetime.date to datetime.datetime"),
        ("domain", b"d", TypeError, "Expected str, got bytes"),
        ("domain", Text("d"), TypeError, "Expected str, got Text"),
        ("path", 1, TypeError, "Expected str, got int"),
        ("http_only", FailingTruth(), ZeroDivisionError, "truth"),
        ("secure", FailingTruth(), ZeroDivisionError, "truth"),
        ("max_age", None, TypeError, "an integer is required"),
        ("max_age", "10", TypeError, "an integer is required"),
        ("max_age", 2**63, OverflowError, None),
        ("same_site", -1, OverflowError, "can't convert negative value to CookieSameSiteMode"),
        ("same_site", 2**32, OverflowError, "value too large to convert to CookieSameSiteMode"),
        ("same_site", 2**70, OverflowError, None),
        ("same_site", None, TypeError, "an integer is required"),
    ],
)
def test_failed_setter_leaves_the_field(attribute, value, error, message):
    cookie = Cookie("n", "v", expires=EXPIRY, domain="d", path="/p", http_only=True,
                    max_age=9, same_site=2)
    before = getattr(cookie, attribute)
    with pytest.raises(error) as info:
        setattr(cookie, attribute, value)
    if message is not None:
        assert str(info.value) == message
    assert getattr(cookie, attribute) is before or getattr(cookie, attribute) == before


@pytest.mark.parametrize(
    "value, accepted",
    [
        ("a" * 4096, True),
        ("a" * 4097, False),
        ("\u00e9" * 2048, True),
        ("\u00e9" * 2049, False),
        ("\u20ac" * 1365 + "a", True),
        ("\u20ac" * 1366, False),
        ("\U0001f36a" * 1024, True),
        ("\U0001f36a" * 1024 + "a", False),
    ],
    ids=["ascii-4096", "ascii-4097", "2048-e-acute", "2049-e-acute", "euro-4096", "euro-4098",
         "emoji-4096", "emoji-4097"],
)
@pytest.mark.parametrize("how", ["constructor", "setter"])
def test_value_limit_counts_utf8_bytes(value, accepted, how):
    def store():
        if how == "constructor":
            return Cookie("n", value)
        cookie = Cookie("n", "v")
        cookie.value = value
        return cookie

    if accepted:
        assert store().value is value
    else:
        with pytest.raises(CookieValueExceedsMaximumLength) as info:
            store()
        assert str(info.value).startswith(
            "The length of the cookie value exceeds the maximum length of 4096 bytes"
        )


def test_instances_have_no_dict_and_no_weakrefs():
    import weakref

    cookie = Cookie("n", "v")
    with pytest.raises(AttributeError):
        cookie.colour = "blue"
    with pytest.raises(TypeError):
        weakref.ref(cookie)


# ---- comparison ---------------------------------------------------------------


@pytest.mark.parametrize(
    "other, equal",
    [
        ("abc", True),
        ("abd", False),
        (Text("abc"), True),
        (b"abc", True),
        (b"ab", False),
        (bytearray(b"abc"), False),
        (5, False),
        (None, False),
        (Cookie("n", "abc"), True),
        (Cookie("n", "abc", expires=EXPIRY, domain="d", path="/x", http_only=True, secure=True,
                max_age=1, same_site=3), True),
        (SubCookie("n", "abc"), True),
        (SiblingCookie("n", "abc"), True),
        (SiblingCookie("n", "abd"), False),
        (Cookie("m", "abc"), False),
        (Cookie("n", "abd"), False),
    ],
)
@FACTORIES
def test_equality(factory, other, equal):
    cookie = factory("n", "abc")
    assert (cookie == other) is equal
    assert (other == cookie) is equal
    assert (cookie != other) is (not equal)


def test_equality_with_invalid_utf8_bytes_raises():
    with pytest.raises(UnicodeDecodeError):
        Cookie("n", "abc") == b"\xff"  # noqa: B015


def test_equality_result_of_names_is_returned_when_false():
    class Name(str):
        def __eq__(self, other):
            return 0

        __hash__ = str.__hash__

    class Named(Cookie):
        name = read_as(lambda self: Name("n"), Cookie.name)

    assert (Named("n", "v") == Cookie("n", "v")) == 0
    assert (Named("n", "v") != Cookie("n", "v")) is True


@pytest.mark.parametrize("op", ["<", "<=", ">", ">="])
def test_ordering_is_not_supported(op):
    with pytest.raises(TypeError):
        eval(f"a {op} b", {"a": Cookie("a", "1"), "b": Cookie("b", "2")})


def test_unhashable():
    with pytest.raises(TypeError):
        hash(Cookie("n", "v"))


# ---- repr ---------------------------------------------------------------------


@pytest.mark.parametrize(
    "cookie, text",
    [
        (Cookie("user", "abcdef"), "<Cookie user: abc...>"),
        (Cookie("a", ""), "<Cookie a: ...>"),
        (Cookie("a", "xy"), "<Cookie a: xy...>"),
        (SubCookie("sub", "value"), "<Cookie sub: val...>"),
    ],
)
def test_repr(cookie, text):
    assert repr(cookie) == text


def test_repr_formats_other_objects_through_properties():
    class Odd(Cookie):
        name = read_as(lambda self: 42, Cookie.name)
        value = read_as(lambda self: [1, 2, 3, 4], Cookie.value)

    assert repr(Odd("n", "v")) == "<Cookie 42: [1, 2, 3]...>"


def test_repr_of_a_cookie_without_value():
    with pytest.raises(TypeError, match=r"^'NoneType' object is unsliceable$"):
        repr(Cookie("a", None))


# ---- clone --------------------------------------------------------------------


@pytest.mark.parametrize("source_type", [Cookie, SubCookie])
def test_clone_is_a_plain_cookie_sharing_the_objects(source_type):
    source = source_type("n", "v", expires=EXPIRY, domain="d", path="/p", http_only=True,
                         secure=False, max_age=0, same_site=CookieSameSiteMode.STRICT)
    copy = source.clone()
    assert type(copy) is Cookie and copy is not source
    for attribute in ("name", "value", "expires", "domain", "path", "same_site"):
        assert getattr(copy, attribute) is getattr(source, attribute)
    assert (copy.http_only, copy.secure, copy.max_age) == (True, False, 0)


@pytest.mark.parametrize("code", [7, 2**31 + 5, 2**32 - 1])
def test_clone_keeps_codes_without_a_member(code):
    assert Cookie("n", "v", same_site=code).clone().same_site == code


def test_clone_reads_name_and_value_through_overrides():
    class Overriding(Cookie):
        value = read_as(lambda self: "x" * 4097, Cookie.value)

    class Renaming(Cookie):
        name = read_as(lambda self: "renamed", Cookie.name)

    assert Renaming("n", "v").clone().name == "renamed"
    with pytest.raises(CookieValueExceedsMaximumLength):
        Overriding.clone(Overriding("n", "v"))


def test_clone_of_an_allocated_cookie_runs_the_constructor_checks():
    with pytest.raises(ValueError, match="A cookie name is required"):
        Cookie.__new__(Cookie).clone()


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1,), {}, "clone() takes exactly 0 positional arguments (1 given)"),
        ((), {"deep": True}, "clone() got an unexpected keyword argument 'deep'"),
    ],
)
def test_clone_takes_no_arguments(args, kwargs, message):
    with pytest.raises(TypeError) as info:
        Cookie("n", "v").clone(*args, **kwargs)
    assert str(info.value) == message


def test_clone_method_metadata():
    assert Cookie.clone.__qualname__ == "Cookie.clone"
    assert Cookie.clone.__doc__ is None

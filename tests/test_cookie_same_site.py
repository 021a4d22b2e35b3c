"""CookieSameSiteMode and the same_site property."""

import builtins
import enum

import pytest

import velmora.cookies as cookies
from velmora.cookies import Cookie, CookieSameSiteMode

MEMBERS = [("UNDEFINED", 0), ("LAX", 1), ("STRICT", 2), ("NONE", 3)]


def test_members_in_definition_order():
    assert [(m.name, m.value) for m in CookieSameSiteMode] == MEMBERS
    assert issubclass(CookieSameSiteMode, enum.IntEnum)
    assert CookieSameSiteMode.__module__ == "velmora.cookies"
    assert CookieSameSiteMode.__qualname__ == "CookieSameSiteMode"


@pytest.mark.parametrize("name, code", MEMBERS)
def test_members_are_ints_and_read_back_identically(name, code):
    member = getattr(CookieSameSiteMode, name)
    assert member == code and isinstance(member, int) and str(member) == str(code)
    assert repr(member) == f"<CookieSameSiteMode.{name}: {code}>"
    assert CookieSameSiteMode(code) is member
    assert Cookie("n", "v", same_site=code).same_site is member


@pytest.mark.parametrize("code", [4, 7, 2**31 - 1, 2**31, 2**31 + 5, 2**32 - 1])
def test_codes_without_a_member_read_back_as_pseudo_members(code):
    cookie = Cookie("n", "v", same_site=code)
    mode = cookie.same_site
    # Codes from 2**31 up read back as the positive numbers they are.
    assert mode == code and mode > 0
    assert isinstance(mode, CookieSameSiteMode)
    assert mode.name is None and mode.value == code
    assert repr(mode) == f"<CookieSameSiteMode: {code}>"
    assert cookie.same_site is mode
    assert CookieSameSiteMode(code) is mode
    # Storing the pseudo-member back keeps the code.
    cookie.same_site = mode
    assert Cookie("n", "v", same_site=mode).same_site is mode


def test_pseudo_members_do_not_join_iteration():
    Cookie("n", "v", same_site=9).same_site  # noqa: B018
    assert [m.name for m in CookieSameSiteMode] == [name for name, _ in MEMBERS]


@pytest.mark.parametrize("bad, error", [("x", ValueError), (None, TypeError), (1.5j, TypeError)])
def test_values_int_cannot_take_are_refused(bad, error):
    with pytest.raises(error):
        CookieSameSiteMode(bad)


def test_lookup_converts_like_int():
    assert CookieSameSiteMode("12") == 12
    assert CookieSameSiteMode(-1) == -1


def test_the_private_base_is_not_bound():
    base = CookieSameSiteMode.__mro__[1]
    assert issubclass(base, enum.IntEnum) and base is not enum.IntEnum
    assert not hasattr(base, "UNDEFINED")
    assert base.__name__ not in vars(cookies)


class TestCallTimeLookup:
    """The getter finds CookieSameSiteMode by name on every call."""

    @pytest.fixture
    def saved_mode(self):
        namespace = vars(cookies)
        snapshot = dict(namespace)
        yield cookies.CookieSameSiteMode
        # Put back in its order: a deleted and re-added name would move to the
        # end of the namespace, whose order other tests check.
        namespace.clear()
        namespace.update(snapshot)
        if hasattr(builtins, "CookieSameSiteMode"):
            del builtins.CookieSameSiteMode

    def test_rebinding_changes_the_result(self, saved_mode):
        class Stand:
            UNDEFINED, LAX, STRICT, NONE = "u", "l", "s", "n"

            def __new__(cls, code):
                return ("called", code)

        cookies.CookieSameSiteMode = Stand
        assert Cookie("n", "v", same_site=1).same_site == "l"
        assert Cookie("n", "v", same_site=2**31 + 1).same_site == ("called", 2**31 + 1)

    def test_deleting_raises_name_error(self, saved_mode):
        del cookies.CookieSameSiteMode
        cookie = Cookie("n", "v")
        with pytest.raises(NameError, match=r"^name 'CookieSameSiteMode' is not defined$"):
            cookie.same_site  # noqa: B018
        with pytest.raises(NameError):
            cookie.clone()

    def test_builtins_are_the_fallback(self, saved_mode):
        del cookies.CookieSameSiteMode
        builtins.CookieSameSiteMode = saved_mode
        assert Cookie("n", "v", same_site=3).same_site is saved_mode.NONE

"""HTTP cookies of the velmora web framework: the Cookie model, cookie dates
and the parser of one Set-Cookie-style header value.

The Set-Cookie writer is reachable from native code only, through the
function table ``__pyx_capi__`` (see ``velmora/cookies.h``).
"""

from datetime import datetime
from email.utils import parsedate_to_datetime as parsedate_to_datetime
from enum import IntEnum
from types import CapsuleType
from typing import Any, ClassVar, Never
from urllib.parse import quote as quote, unquote as unquote

from typing_extensions import disjoint_base

__pyx_capi__: dict[str, CapsuleType]
__test__: dict[str, object]

class CookieSameSiteMode(IntEnum):
    """SameSite attribute of a cookie; STRICT and NONE also force Secure."""

    UNDEFINED = 0
    LAX = 1
    STRICT = 2
    NONE = 3

class CookieError(Exception):
    def __init__(self, message: str | None) -> None: ...

class CookieValueExceedsMaximumLength(CookieError):
    """The UTF-8 encoded value is longer than 4096 bytes."""

    def __init__(self, *args: Never, **kwargs: Never) -> None: ...  # no arguments

@disjoint_base
class Cookie:
    """One HTTP cookie. Equal to another cookie with the same name and value,
    and to a str or bytes equal to its value; unhashable."""

    __pyx_vtable__: ClassVar[CapsuleType]
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __init__(
        self,
        name: str,
        value: str | None,
        expires: datetime | None = None,
        domain: str | None = None,
        path: str | None = None,
        http_only: bool = False,
        secure: bool = False,
        max_age: int = -1,
        same_site: int = 0,  # CookieSameSiteMode.UNDEFINED
    ) -> None: ...
    @property
    def name(self) -> str: ...
    @name.setter
    def name(self, value: str, /) -> None: ...
    @property
    def value(self) -> str | None: ...
    @value.setter
    def value(self, value: str | None, /) -> None: ...
    @property
    def expires(self) -> datetime | None: ...
    @expires.setter
    def expires(self, value: datetime | None, /) -> None: ...
    @expires.deleter
    def expires(self) -> None: ...
    @property
    def domain(self) -> str | None: ...
    @domain.setter
    def domain(self, value: str | None, /) -> None: ...
    @domain.deleter
    def domain(self) -> None: ...
    @property
    def path(self) -> str | None: ...
    @path.setter
    def path(self, value: str | None, /) -> None: ...
    @path.deleter
    def path(self) -> None: ...
    @property
    def http_only(self) -> bool: ...
    @http_only.setter
    def http_only(self, value: bool, /) -> None: ...
    @property
    def secure(self) -> bool: ...
    @secure.setter
    def secure(self, value: bool, /) -> None: ...
    @property
    def max_age(self) -> int:
        """Seconds; a negative number (the default -1) means no Max-Age."""
    @max_age.setter
    def max_age(self, value: int, /) -> None: ...
    @property
    def same_site(self) -> CookieSameSiteMode: ...
    @same_site.setter
    def same_site(self, value: int, /) -> None: ...
    def clone(self) -> Cookie:
        """A plain Cookie (never a subclass) sharing this cookie's fields."""
    def __eq__(self, other: object, /) -> bool: ...
    def __ne__(self, other: object, /) -> bool: ...

def datetime_to_cookie_format(value: datetime) -> bytes:
    """b"Wed, 21 Oct 2015 07:28:00 GMT": the wall-clock fields as they are,
    without time-zone arithmetic or microseconds."""

def datetime_from_cookie_format(value: bytes) -> datetime:
    """The naive datetime of the wall-clock fields the text states; any zone
    in the text is dropped without shifting the time."""

def parse_cookie(raw_value: bytes) -> Cookie:
    """One Set-Cookie-style header value (``name=value; Attr=...``) to a
    Cookie; the last occurrence of an attribute wins."""

# Reconstructors named by pickles; a ``__pyx_state`` of None leaves the
# fields as allocation sets them.
def __pyx_unpickle_Cookie(
    __pyx_type: type[Cookie], __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None
) -> Cookie: ...
def __pyx_unpickle_CookieError(
    __pyx_type: type[CookieError], __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None
) -> CookieError: ...
def __pyx_unpickle_CookieValueExceedsMaximumLength(
    __pyx_type: type[CookieValueExceedsMaximumLength],
    __pyx_checksum: int,
    __pyx_state: tuple[Any, ...] | None,
) -> CookieValueExceedsMaximumLength: ...

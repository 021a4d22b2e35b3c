"""A small pure-Python stand-in for velmora.cookies, for the benchmark's smoke test.

It lets the benchmark exercise its velmora rows (setup, checks, ratios,
targets, hostile inputs) whether or not the native module is built. It is
not a reference implementation: it only gets the benchmark's inputs right.
"""

import email.utils
import enum
import urllib.parse


class CookieSameSiteMode(enum.IntEnum):
    UNDEFINED = 0
    LAX = 1
    STRICT = 2
    NONE = 3


class Cookie:
    def __init__(self, name, value, expires=None, domain=None, path=None, http_only=False,
                 secure=False, max_age=-1, same_site=0):
        self.name, self.value, self.expires = name, value, expires
        self.domain, self.path = domain, path
        self.http_only, self.secure = bool(http_only), bool(secure)
        self.max_age, self.same_site = max_age, CookieSameSiteMode(same_site)


def datetime_to_cookie_format(value):
    return value.strftime("%a, %d %b %Y %H:%M:%S GMT").encode()


def datetime_from_cookie_format(value):
    return email.utils.parsedate_to_datetime(value.decode()).replace(tzinfo=None)


def parse_cookie(raw_value):
    fragments = raw_value.split(b"; ")
    if len(fragments) == 1:
        fragments = raw_value.split(b";")
    name, sep, value = fragments[0].partition(b"=")
    if not sep:
        raise ValueError(f"Invalid name=value fragment: {fragments[0]}")
    attributes = {}
    for fragment in fragments[1:]:
        key, sep, text = fragment.partition(b"=")
        attributes[key.lower() + sep] = text
    expires = attributes.get(b"expires=")
    same_site = (attributes.get(b"samesite=") or b"").lower()
    return Cookie(
        urllib.parse.unquote(name.decode()),
        urllib.parse.unquote(value.decode()),
        datetime_from_cookie_format(expires) if expires else None,
        (attributes.get(b"domain=") or b"").decode() or None,
        (attributes.get(b"path=") or b"").decode() or None,
        b"httponly" in attributes,
        b"secure" in attributes,
        int(attributes.get(b"max-age=", -1)),
        {b"lax": 1, b"strict": 2, b"none": 3}.get(same_site, 0),
    )


def write_cookie_for_response(cookie):
    quote = urllib.parse.quote
    parts = [quote(cookie.name).encode() + b"=" + quote(cookie.value).encode()]
    if cookie.expires:
        parts.append(b"Expires=" + datetime_to_cookie_format(cookie.expires))
    if cookie.max_age >= 0:
        parts.append(b"Max-Age=%d" % cookie.max_age)
    if cookie.domain:
        parts.append(b"Domain=" + cookie.domain.encode())
    if cookie.path:
        parts.append(b"Path=" + cookie.path.encode())
    if cookie.http_only:
        parts.append(b"HttpOnly")
    if cookie.secure or cookie.same_site in (2, 3):
        parts.append(b"Secure")
    if cookie.same_site in (1, 2, 3):
        parts.append(b"SameSite=" + (b"Lax", b"Strict", b"None")[cookie.same_site - 1])
    return b"; ".join(parts)

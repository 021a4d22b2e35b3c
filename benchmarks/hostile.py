"""Hostile inputs for parse_cookie: time per byte as the input grows.

A parser fed by the network must stay linear: the figure per byte at 1 MiB
should be no worse than at 1 KiB. Inputs are a single byte repeated (alone,
as the cookie value, and as an attribute), many short fragments, and long
runs that one step of the parser meets at once (percent escapes, quotes and
blanks, Max-Age digits, an Expires text). Many of
them make parse_cookie raise; raising is timed like returning, and the table
says which happened.
"""

from cases import VELMORA, Case, Prepared, velmora_names

SIZES = (1024, 64 * 1024, 1024 * 1024)

_BYTES = (("semicolon", "';'", b";"), ("equals", "'='", b"="), ("percent", "'%'", b"%"),
          ("quote", "'\"'", b'"'), ("blank", "blank", b" "), ("ff", "0xFF", b"\xff"))
_PLACES = (("alone", "{} repeated", b""), ("value", "a= then {} repeated", b"a="),
           ("attribute", "a=b; then {} repeated", b"a=b; "))
_FRAGMENTS = (
    ("lone-semicolons", "a=b then ';x' repeated", b";x"),
    ("pairs", "a=b then '; x=y' repeated", b"; x=y"),
    ("max-age", "a=b then '; Max-Age=1' repeated", b"; Max-Age=1"),
    ("path", "a=b then '; Path=/p' repeated", b"; Path=/p"),
    ("secure", "a=b then '; Secure' repeated", b"; Secure"),
    ("expires", "a=b then '; Expires=<date>' repeated",
     b"; Expires=Wed, 21 Oct 2015 07:28:00 GMT"),
    ("samesite", "a=b then '; SameSite=Lax' repeated", b"; SameSite=Lax"),
    ("empty-keys", "a=b then '; =' repeated", b"; ="),
)
# Long stretches that one step of the parser works through at once.
_RUNS = (
    ("value-escapes", "a= then '%C3%A9' repeated", b"a=", b"%C3%A9"),
    ("quoted-blanks", "a=\" then '\" ' repeated", b'a="', b'" '),
    ("max-age-digits", "a=b; Max-Age= then '1' repeated", b"a=b; Max-Age=", b"1"),
    ("expires-text", "a=b; Expires= then 'x' repeated", b"a=b; Expires=", b"x"),
)


def _kinds():
    """(slug, title, prefix, repeated part) for every kind of hostile input."""
    for byte_slug, byte_title, byte in _BYTES:
        for place_slug, place_title, prefix in _PLACES:
            yield f"{byte_slug}-{place_slug}", place_title.format(byte_title), prefix, byte
    for slug, title, fragment in _FRAGMENTS:
        yield slug, title, b"a=b", fragment
    yield from _RUNS


def _length(prefix: bytes, part: bytes, size: int) -> int:
    """Length of the input of about `size` bytes: the prefix and whole repeated parts."""
    return len(prefix) + len(part) * ((size - len(prefix)) // len(part))


def size_label(size: int) -> str:
    return f"{size // (1024 * 1024)} MiB" if size >= 1024 * 1024 else f"{size // 1024} KiB"


def _setup(prefix: bytes, part: bytes, size: int):
    def setup() -> Prepared:
        (parse_cookie,) = velmora_names("velmora.cookies", "parse_cookie")
        raw = prefix + part * ((size - len(prefix)) // len(part))
        try:
            outcome = type(parse_cookie(raw)).__name__
        except Exception as e:
            outcome = f"raises {type(e).__name__}"
        stmt = "try:\n    parse_cookie(raw)\nexcept Exception:\n    pass"
        return Prepared(stmt, {"parse_cookie": parse_cookie, "raw": raw}, info=outcome)

    return setup


def hostile_cases() -> list[Case]:
    cases = []
    for slug, title, prefix, part in _kinds():
        for size in SIZES:
            cases.append(Case(f"hostile/{slug}/{size_label(size).replace(' ', '')}", "hostile",
                              title, size_label(size), VELMORA, _setup(prefix, part, size),
                              size=_length(prefix, part, size)))
    return cases


def markdown_table(outcomes) -> str:
    """One row per input kind: ns per byte at each size and the growth across them."""
    lines = [
        "### parse_cookie on hostile inputs (velmora only)",
        "",
        "| input | outcome | " + " | ".join(f"ns/byte at {size_label(s)}" for s in SIZES)
        + " | growth (largest / smallest) |",
        "|---|---|" + "---:|" * (len(SIZES) + 1),
    ]
    by_subject: dict[str, list] = {}
    for o in outcomes:
        by_subject.setdefault(o.case.subject, []).append(o)
    for subject, rows in by_subject.items():
        cells, per_byte = [], []
        for o in rows:
            if o.ok:
                per_byte.append(o.min_ns / o.case.size)
                cells.append(f"{per_byte[-1]:.2f}")
            else:
                cells.append(f"n/a ({o.reason})")
        growth = (f"{per_byte[-1] / per_byte[0]:.2f}x"
                  if len(per_byte) == len(rows) and len(per_byte) > 1 else "n/a")
        outcome = "; ".join(sorted({o.info for o in rows if o.info})) or "n/a"
        lines.append(f"| {subject} | {outcome} | " + " | ".join(cells) + f" | {growth} |")
    return "\n".join(lines)

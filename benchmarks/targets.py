"""The performance targets of the native core, checked against one run's ratios.

Benchmark figures only: nothing here fails a build or a test.
"""

import dataclasses

from cases import PEER, Case

FASTER = "faster"  # the reference's figure / the case's figure >= goal
WITHIN = "within"  # the case's figure / the reference's figure <= goal
AT_MOST = "at most"  # the case's figure <= goal (instructions; callgrind runs only)
FASTEST_PEER = "fastest peer"

# Which run the targets are checked against: timing (the default) or
# callgrind (set by callgrind.measure). Targets of the other mode are n/a.
TIMING = "timing"
CALLGRIND = "callgrind"
MODE = TIMING


@dataclasses.dataclass(frozen=True)
class Target:
    text: str
    case: str
    versus: str | None  # a case id, FASTEST_PEER of the case's subject, or None (AT_MOST)
    kind: str
    goal: float
    mode: str = TIMING


TARGETS = (
    Target("parse_cookie(b'a=b') vs fastest peer", "parse/ab/velmora", FASTEST_PEER, FASTER, 2),
    Target("parse_cookie(b'a=b') vs Cookie('a', 'b')", "parse/ab/velmora", "parse/floor/cookie",
           WITHIN, 2.5),
    Target("parse_cookie(full example) vs fastest peer", "parse/full/velmora", FASTEST_PEER,
           FASTER, 8),
    Target("write a=b vs fastest peer", "write/ab/velmora", FASTEST_PEER, FASTER, 6),
    Target("write full cookie vs fastest peer", "write/full/velmora", FASTEST_PEER, FASTER, 8),
    Target("datetime_to_cookie_format vs email.utils.format_datetime", "dates/format/velmora",
           "dates/format/email", FASTER, 10),
    Target("datetime_from_cookie_format vs email.utils.parsedate_to_datetime",
           "dates/parse/velmora", "dates/parse/email", FASTER, 10),
    Target("NotFound() raised and caught vs fastest peer", "exceptions/notfound/velmora",
           FASTEST_PEER, FASTER, 2.5),
    Target("NotFound() raised and caught vs Exception('x')", "exceptions/notfound/velmora",
           "exceptions/floor/exception", WITHIN, 1.5),
    # Instructions per operation, against floors counted in the same run.
    Target("parse_cookie(b'a=b'), native entry vs its floor", "native/parse-ab/velmora",
           "native/floor/cookie-ab", WITHIN, 1.7, CALLGRIND),
    Target("parse_cookie(full example), native entry vs its floor", "native/parse-full/velmora",
           "native/floor/cookie-full", WITHIN, 3.1, CALLGRIND),
    Target("write a=b, native entry vs its floor", "native/write-ab/velmora",
           "native/floor/bytes-ab", WITHIN, 2.6, CALLGRIND),
    Target("write full cookie, native entry vs its floor", "native/write-full/velmora",
           "native/floor/bytes-full", WITHIN, 3.5, CALLGRIND),
    Target("datetime_to_cookie_format, native entry", "native/format/velmora", None, AT_MOST,
           450, CALLGRIND),
    Target("datetime_from_cookie_format, native entry", "native/parse-date/velmora", None,
           AT_MOST, 600, CALLGRIND),
    Target("HTTPException(404, 'x') vs Exception('x')", "exceptions/http404/velmora",
           "exceptions/floor/exception", WITHIN, 1.5, CALLGRIND),
    Target("NotFound() raised and caught vs Exception('x'), instructions",
           "exceptions/notfound/velmora", "exceptions/floor/exception", WITHIN, 1.12, CALLGRIND),
)


def fastest_peer(case_id: str, values: dict[str, float], cases: list[Case]) -> str | None:
    """Id of the peer with the lowest figure in the subject of `case_id`."""
    group, subject, _ = case_id.split("/")
    peers = [c.id for c in cases
             if c.group == group and c.subject == subject and c.role == PEER and c.id in values]
    return min(peers, key=values.__getitem__, default=None)


def evaluate(values: dict[str, float], cases: list[Case]) -> list[dict]:
    """One verdict per target: "pass", "miss" or "n/a" when a figure is missing."""
    rows = []
    for t in TARGETS:
        versus = fastest_peer(t.case, values, cases) if t.versus == FASTEST_PEER else t.versus
        row = {"target": t.text, "case": t.case, "versus": versus, "kind": t.kind,
               "goal": t.goal, "ratio": None, "verdict": "n/a"}
        mine, theirs = values.get(t.case), values.get(versus) if versus else None
        if t.mode != MODE:
            pass
        elif t.kind == AT_MOST:
            if mine:
                row["ratio"] = mine
                row["verdict"] = "pass" if mine <= t.goal else "miss"
        elif mine and theirs:
            if t.kind == FASTER:
                row["ratio"] = theirs / mine
                row["verdict"] = "pass" if row["ratio"] >= t.goal else "miss"
            else:
                row["ratio"] = mine / theirs
                row["verdict"] = "pass" if row["ratio"] <= t.goal else "miss"
        rows.append(row)
    return rows


def markdown(rows: list[dict], unit: str) -> str:
    lines = [
        f"| target | against | measured ({unit}) | goal | verdict |",
        "|---|---|---:|---:|---|",
    ]
    for r in rows:
        goal = f"speed-up ≥ {r['goal']:g}x" if r["kind"] == FASTER else f"cost ≤ {r['goal']:g}x"
        if r["kind"] == AT_MOST:
            goal = f"≤ {r['goal']:g} instructions"
        if r["ratio"] is None:
            measured = "n/a"
        elif r["kind"] == AT_MOST:
            measured = f"{r['ratio']:,.0f} instructions"
        elif r["kind"] == FASTER:
            measured = f"speed-up {r['ratio']:.2f}x"
        else:
            measured = f"cost {r['ratio']:.2f}x"
        lines.append(f"| {r['target']} | {r['versus'] or 'n/a'} | {measured} | {goal} |"
                     f" {r['verdict']} |")
    return "\n".join(lines)

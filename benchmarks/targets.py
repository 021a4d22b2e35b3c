"""The performance targets of the native core, checked against one run's ratios.

Benchmark figures only: nothing here fails a build or a test. A run checks
the targets of its own kind (timed, or counted under callgrind); the others
are listed with the option that checks them.
"""

import dataclasses

from cases import PEER, Case

FASTER = "faster"  # the reference's figure / the case's figure >= goal
WITHIN = "within"  # the case's figure / the reference's figure <= goal
AT_MOST = "at most"  # the case's figure <= goal (instructions; callgrind runs only)
FASTEST_PEER = "fastest peer"

# Which run checks a target: a timed one, or one counted under callgrind.
TIMING = "timing"
CALLGRIND = "callgrind"
# What a run of the other kind shows in place of a verdict.
OTHER_RUN = {TIMING: "run without --callgrind", CALLGRIND: "run with --callgrind"}


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
    # Instructions per operation, the timing loop's own share taken off,
    # against floors counted in the same run.
    Target("parse_cookie(b'a=b'), native entry vs its floor", "native/parse-ab/velmora",
           "native/floor/cookie-ab", WITHIN, 1.7, CALLGRIND),
    Target("parse_cookie(full example), native entry vs its floor", "native/parse-full/velmora",
           "native/floor/cookie-full", WITHIN, 3.1, CALLGRIND),
    Target("write a=b, native entry vs its floor", "native/write-ab/velmora",
           "native/floor/bytes-ab", WITHIN, 2.3, CALLGRIND),
    Target("write full cookie, native entry vs its floor", "native/write-full/velmora",
           "native/floor/bytes-full", WITHIN, 3.0, CALLGRIND),
    Target("datetime_to_cookie_format, native entry", "native/format/velmora", None, AT_MOST,
           450, CALLGRIND),
    Target("datetime_from_cookie_format, native entry", "native/parse-date/velmora", None,
           AT_MOST, 600, CALLGRIND),
    Target("HTTPException(404, 'x') constructed vs Exception('x')",
           "exceptions/new-http404/velmora", "exceptions/floor/new-exception", WITHIN, 1.35,
           CALLGRIND),
    Target("NotFound() constructed vs Exception('x')", "exceptions/new-notfound/velmora",
           "exceptions/floor/new-exception", WITHIN, 1.12, CALLGRIND),
    Target("HTTPException(404, 'x') raised and caught vs Exception('x')",
           "exceptions/http404/velmora", "exceptions/floor/exception", WITHIN, 1.5, CALLGRIND),
    Target("NotFound() raised and caught vs Exception('x'), instructions",
           "exceptions/notfound/velmora", "exceptions/floor/exception", WITHIN, 1.12, CALLGRIND),
)


def fastest_peer(case_id: str, values: dict[str, float], cases: list[Case]) -> str | None:
    """Id of the peer with the lowest figure in the subject of `case_id`."""
    group, subject, _ = case_id.split("/")
    peers = [c.id for c in cases
             if c.group == group and c.subject == subject and c.role == PEER and c.id in values]
    return min(peers, key=values.__getitem__, default=None)


def evaluate(values: dict[str, float], cases: list[Case], mode: str) -> list[dict]:
    """One verdict per target: "pass" or "miss"; "n/a" when a figure is missing, and
    "other run" for the targets that a run of the other kind checks."""
    rows = []
    for t in TARGETS:
        versus = fastest_peer(t.case, values, cases) if t.versus == FASTEST_PEER else t.versus
        row = {"target": t.text, "case": t.case, "versus": versus, "kind": t.kind,
               "goal": t.goal, "mode": t.mode, "ratio": None, "verdict": "n/a"}
        mine, theirs = values.get(t.case), values.get(versus) if versus else None
        if t.mode != mode:
            row["verdict"] = "other run"
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


def goal_text(row: dict) -> str:
    if row["kind"] == AT_MOST:
        return f"≤ {row['goal']:g} instructions"
    return f"speed-up ≥ {row['goal']:g}x" if row["kind"] == FASTER else f"cost ≤ {row['goal']:g}x"


def measured_text(row: dict) -> str:
    if row["ratio"] is None:
        return "n/a"
    if row["kind"] == AT_MOST:
        return f"{row['ratio']:,.0f} instructions"
    return f"speed-up {row['ratio']:.2f}x" if row["kind"] == FASTER else f"cost {row['ratio']:.2f}x"


def markdown(rows: list[dict], unit: str) -> str:
    lines = [
        f"| target | against | measured ({unit}) | goal | verdict |",
        "|---|---|---:|---:|---|",
    ]
    for r in rows:
        if r["verdict"] == "other run":
            measured, verdict = "", OTHER_RUN[r["mode"]]
        else:
            measured, verdict = measured_text(r), r["verdict"]
        lines.append(f"| {r['target']} | {r['versus'] or 'n/a'} | {measured} | {goal_text(r)} |"
                     f" {verdict} |")
    return "\n".join(lines)


def summary(rows: list[dict]) -> str:
    """One line: how many of this run's targets were met and which were missed."""
    checked = [r for r in rows if r["verdict"] != "other run"]
    met = sum(r["verdict"] == "pass" for r in checked)
    line = f"Targets: {met} of {len(checked)} met"
    others = len(rows) - len(checked)
    if others:
        mode = next(r["mode"] for r in rows if r["verdict"] == "other run")
        line += f" ({others} more: {OTHER_RUN[mode]})"
    missed = [f"{r['target']} ({measured_text(r)}, goal {goal_text(r)})"
              for r in checked if r["verdict"] == "miss"]
    line += ("; missed: " + "; ".join(missed)) if missed else "; none missed"
    unmeasured = sum(r["verdict"] == "n/a" for r in checked)
    if unmeasured:
        line += f"; {unmeasured} without a figure (filtered out or not built)"
    return line + "."

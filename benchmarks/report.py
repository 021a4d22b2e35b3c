"""Markdown tables, the JSON record and the machine description of a run."""

import datetime
import hashlib
import importlib.metadata
import json
import os
import platform
import subprocess
import sys
from pathlib import Path

from cases import FLOOR, GROUPS, PEER, REPO_ROOT, Group
from measure import Outcome

LEGEND = (
    "min and median: ns per operation over the repeats; spread: (p90 - min) / min of the"
    " repeats; vs fastest peer: the fastest peer's min / this row's min (above 1: faster"
    " than every peer); vs floor: this row's min / the floor's min."
)


def fmt_ns(value: float) -> str:
    return f"{value:,.0f}" if value >= 100 else f"{value:.1f}"


def fmt_ratio(value: float | None) -> str:
    return "n/a" if value is None else f"{value:.2f}x"


def subject_of(group: Group, key: str):
    return next(s for s in group.subjects if s.key == key)


def ratios(outcomes: list[Outcome]) -> dict[str, dict]:
    """Per case id: the fastest peer's id and both ratios (None when a figure is missing)."""
    by_id = {o.case.id: o for o in outcomes}
    result = {}
    for group in GROUPS:
        for subject in group.subjects:
            rows = [o for o in outcomes if o.case.group == group.key and o.case.subject == subject.key]
            peers = [o for o in rows if o.case.role == PEER and o.ok]
            best = min(peers, key=lambda o: o.min_ns, default=None)
            floor = by_id.get(subject.floor) if subject.floor else None
            for o in rows:
                entry = {"fastest_peer": best.case.id if best else None,
                         "vs_fastest_peer": None, "vs_floor": None}
                if o.ok and best:
                    entry["vs_fastest_peer"] = best.min_ns / o.min_ns
                if o.ok and floor is not None and floor.ok and o.case.role != FLOOR:
                    entry["vs_floor"] = o.min_ns / floor.min_ns
                result[o.case.id] = entry
    return result


def markdown_tables(outcomes: list[Outcome], unit: str = "ns") -> str:
    """One table per group; `unit` "ns" for timings, "Ir" for instruction counts."""
    ratio = ratios(outcomes)
    parts = []
    for group in GROUPS:
        rows = [o for o in outcomes if o.case.group == group.key]
        if not rows:
            continue
        if unit == "ns":
            head = "| case | implementation | min | median | spread | vs fastest peer | vs floor |"
        else:
            head = "| case | implementation | instructions/op | vs fastest peer | vs floor |"
        lines = [f"### {group.title}", "", head, "|---|---|" + "---:|" * (head.count("|") - 3)]
        order = [s.key for s in group.subjects]
        for o in sorted(rows, key=lambda o: order.index(o.case.subject)):
            title = subject_of(group, o.case.subject).title
            label = f"**{o.case.label}**" if o.case.role == "velmora" else o.case.label
            if not o.ok:
                empty = " |" * (head.count("|") - 4)
                lines.append(f"| {title} | {label} | n/a ({o.reason}) |{empty}")
                continue
            r = ratio.get(o.case.id, {})
            figures = (f"{fmt_ns(o.min_ns)} | {fmt_ns(o.median_ns)} | {o.spread:.0%}"
                       if unit == "ns" else f"{o.min_ns:,.0f}")
            lines.append(
                f"| {title} | {label} | {figures} | {fmt_ratio(r.get('vs_fastest_peer'))} |"
                f" {fmt_ratio(r.get('vs_floor'))} |"
            )
        if group.note:
            lines += ["", group.note]
        parts.append("\n".join(lines))
    return "\n\n".join(parts)


def _cpu_model() -> str:
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor()


def _version(dist: str) -> str | None:
    try:
        return importlib.metadata.version(dist)
    except importlib.metadata.PackageNotFoundError:
        return None


def _git_commit() -> str | None:
    try:
        out = subprocess.run(["git", "rev-parse", "--short", "HEAD"], cwd=REPO_ROOT,
                             capture_output=True, text=True, timeout=10)
        return out.stdout.strip() or None
    except (OSError, subprocess.SubprocessError):
        return None


def environment() -> dict:
    return {
        "python": sys.version,
        "implementation": platform.python_implementation(),
        "compiler": platform.python_compiler(),
        "platform": platform.platform(),
        "cpu": _cpu_model(),
        "cpu_count": os.cpu_count(),
        "load_average": list(os.getloadavg()),
        "packages": {name: _version(name) for name in ("velmora", "werkzeug", "starlette")},
        "commit": _git_commit(),
        "time": datetime.datetime.now(datetime.UTC).isoformat(timespec="seconds"),
    }


def outcome_record(o: Outcome, ratio: dict | None = None) -> dict:
    record = {
        "id": o.case.id,
        "group": o.case.group,
        "subject": o.case.subject,
        "implementation": o.case.label,
        "role": o.case.role,
        "status": o.status if o.ok else "n/a",
    }
    if o.info:
        record["info"] = o.info
    if not o.ok:
        record["reason"] = o.reason
        record["detail"] = o.detail
        return record
    record.update({
        "operations_per_repeat": o.number,
        "repeats": len(o.samples_ns),
        "min_ns": o.min_ns,
        "median_ns": o.median_ns,
        "p90_ns": o.p90_ns,
        "spread": o.spread,
    })
    if o.case.size:
        record["size"] = o.case.size
        record["min_ns_per_byte"] = o.min_ns / o.case.size
    if ratio:
        record.update(ratio)
    return record


BENCHMARKS = REPO_ROOT / "benchmarks"
RECORDS = BENCHMARKS / "results"


def sources_digest() -> str:
    """SHA-256 of the benchmark's own code (the .py files under benchmarks/, the
    records left out), stored with each run: a record whose digest differs from
    the tree's was made by other benchmark code."""
    digest = hashlib.sha256()
    for path in sorted(BENCHMARKS.rglob("*.py")):
        if RECORDS in path.parents:
            continue
        data = path.read_bytes()
        digest.update(f"{path.relative_to(BENCHMARKS).as_posix()}\0{len(data)}\0".encode())
        digest.update(data)
    return digest.hexdigest()


def write_json(path: Path, data: dict) -> None:
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(json.dumps(data, indent=1, sort_keys=False) + "\n")

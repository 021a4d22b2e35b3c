"""Writes the benchmark sections of README.md from the recorded runs.

    python benchmarks/readme_table.py          # rewrite the sections in README.md
    python benchmarks/readme_table.py --check  # exit 1 when a section or a record is stale

`make bench-record` runs it after recording a timed run
(benchmarks/results/latest.json) and a callgrind run (callgrind.json), so
the README always shows the recorded runs. Only the lines between each pair
of markers are replaced. A record is stale when the benchmark code that made
it is not the tree's (its stored digest of benchmarks/ differs).
"""

import argparse
import json
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import targets  # noqa: E402
from cases import GROUPS, REPO_ROOT  # noqa: E402
from report import RECORDS, fmt_ns, sources_digest  # noqa: E402

README = REPO_ROOT / "README.md"


def markers(name: str) -> tuple[str, str]:
    return (f"<!-- {name}: begin (benchmarks/readme_table.py writes this part) -->",
            f"<!-- {name}: end -->")


def run_description(record: dict) -> str:
    env = record.get("environment", {})
    python = (env.get("python") or "?").split()[0]
    return (f"Run of {env.get('time', '?')} on {env.get('cpu', '?')} "
            f"({env.get('cpu_count', '?')} cores), CPython {python}, commit "
            f"{env.get('commit', '?')}")


def timing_caption(record: dict) -> str:
    settings = record.get("settings", {})
    how = f"{settings.get('rounds', '?')} rounds"
    if settings.get("quick"):
        how += ", quick run"
    if settings.get("filter"):
        how += ", only " + ", ".join(settings["filter"])
    return (f"{run_description(record)}, {how}. min and median: ns per operation; vs fastest "
            "peer: the fastest peer's min over this row's min (above 1: faster than every "
            "peer).")


def callgrind_caption(record: dict) -> str:
    loop = record.get("loop_overhead_ir")
    share = (f"the timing loop's own share ({loop:,.0f} per statement) taken off"
             if loop is not None else "the timing loop's own share included")
    return (f"{run_description(record)}, N = {record.get('settings', {}).get('n', '?')}."
            f" Instructions per operation, {share}; vs floor: this row's count over its"
            " floor's.")


def case_tables(cases: list[dict], columns: tuple[str, ...], figures) -> list[str]:
    """One Markdown table per group; `figures(case)` gives the cells after the label."""
    parts = []
    for group in GROUPS:
        rows = [c for c in cases if c["group"] == group.key]
        if not rows:
            continue
        order = [s.key for s in group.subjects]
        titles = {s.key: s.title for s in group.subjects}
        lines = [f"#### {group.title}", "",
                 "| case | implementation | " + " | ".join(columns) + " |",
                 "|---|---|" + "---:|" * len(columns)]
        for c in sorted(rows, key=lambda c: order.index(c["subject"])):
            label = c["implementation"]
            if c["role"] == "velmora":
                label = f"**{label}**"
            if c["status"] != "ok":
                cells = [f"n/a ({c.get('reason', 'no result')})"] + [""] * (len(columns) - 1)
            else:
                cells = figures(c)
            cells = [titles[c["subject"]], label, *cells]
            lines.append("|" + "|".join(f" {cell} " if cell else " " for cell in cells) + "|")
        parts.append("\n".join(lines))
    return parts


def ratio_cell(value: float | None) -> str:
    return "" if value is None else f"{value:.2f}x"


def targets_table(record: dict, mode: str, unit: str) -> str:
    rows = [r for r in record.get("targets", []) if r.get("mode") == mode]
    return "#### Targets\n\n" + targets.markdown(rows, unit) if rows else ""


def timing_section(record: dict | None) -> str:
    if not record or record.get("kind") != "timing":
        return "No timed run is recorded."
    parts = [timing_caption(record)]
    parts += case_tables(record.get("cases", []), ("min", "median", "vs fastest peer"),
                         lambda c: [fmt_ns(c["min_ns"]), fmt_ns(c["median_ns"]),
                                    ratio_cell(c.get("vs_fastest_peer"))])
    parts.append(targets_table(record, targets.TIMING, "min ns"))
    return "\n\n".join(p for p in parts if p)


def callgrind_section(record: dict | None) -> str:
    if not record or record.get("kind") != "callgrind":
        return "No callgrind run is recorded."
    parts = [callgrind_caption(record)]
    parts += case_tables(record.get("cases", []), ("instructions/op", "vs floor"),
                         lambda c: [f"{c['instructions_per_op']:,.0f}",
                                    ratio_cell(c.get("vs_floor"))])
    parts.append(targets_table(record, targets.CALLGRIND, "instructions"))
    return "\n\n".join(p for p in parts if p)


# Marker name, record file, section writer.
SECTIONS = (
    ("benchmark table", "latest.json", timing_section),
    ("instruction counts", "callgrind.json", callgrind_section),
)


def load(name: str) -> dict | None:
    path = RECORDS / name
    return json.loads(path.read_text()) if path.exists() else None


def rewritten(readme: str, records: dict[str, dict | None]) -> str:
    for name, file, section in SECTIONS:
        begin, end = markers(name)
        head, found, rest = readme.partition(begin)
        _, found_end, tail = rest.partition(end)
        if not found or not found_end:
            raise SystemExit(f"README.md lacks the markers {begin!r} and {end!r}")
        readme = f"{head}{begin}\n{section(records[file])}\n{end}{tail}"
    return readme


def stale_records(records: dict[str, dict | None]) -> list[str]:
    """The records that other benchmark code made (or that hold no digest)."""
    digest = sources_digest()
    return [file for file, record in records.items()
            if record is not None and record.get("benchmark_sources") != digest]


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true",
                        help="only tell whether a section or a record is stale")
    args = parser.parse_args(argv)
    readme = README.read_text()
    records = {file: load(file) for _, file, _ in SECTIONS}
    new = rewritten(readme, records)
    if args.check:
        problems = []
        if new != readme:
            problems.append("README.md's benchmark sections are not the recorded runs':"
                            " run benchmarks/readme_table.py")
        for file in stale_records(records):
            problems.append(f"benchmarks/results/{file} was made by other benchmark code than"
                            " the tree's: run make bench-record")
        print("\n".join(problems))
        return 1 if problems else 0
    if new != readme:
        README.write_text(new)
    return 0


if __name__ == "__main__":
    sys.exit(main())

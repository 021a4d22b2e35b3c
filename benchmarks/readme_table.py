"""Writes the benchmark section of README.md from benchmarks/results/latest.json.

    python benchmarks/readme_table.py          # rewrite the section in README.md
    python benchmarks/readme_table.py --check  # exit 1 when the section is stale

`make bench-record` runs it after recording a run, so the README always
shows the recorded run. Only the lines between the two markers are replaced.
"""

import argparse
import json
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from cases import GROUPS, REPO_ROOT  # noqa: E402

BEGIN = "<!-- benchmark table: begin (benchmarks/readme_table.py writes this part) -->"
END = "<!-- benchmark table: end -->"
README = REPO_ROOT / "README.md"
RESULTS = REPO_ROOT / "benchmarks" / "results" / "latest.json"


def fmt_ns(value: float) -> str:
    return f"{value:,.0f}" if value >= 100 else f"{value:.1f}"


def caption(record: dict) -> str:
    env, settings = record.get("environment", {}), record.get("settings", {})
    python = (env.get("python") or "?").split()[0]
    how = f"{settings.get('rounds', '?')} rounds"
    if settings.get("quick"):
        how += ", quick run"
    if settings.get("filter"):
        how += ", only " + ", ".join(settings["filter"])
    return (f"Run of {env.get('time', '?')} on {env.get('cpu', '?')} "
            f"({env.get('cpu_count', '?')} cores), CPython {python}, commit "
            f"{env.get('commit', '?')}, {how}. min and median: ns per operation; vs fastest "
            "peer: the fastest peer's min over this row's min (above 1: faster than every "
            "peer).")


def tables(record: dict) -> str:
    if record.get("kind") != "timing":
        return "The latest record holds no timing run."
    cases = record.get("cases", [])
    parts = [caption(record)]
    for group in GROUPS:
        rows = [c for c in cases if c["group"] == group.key]
        if not rows:
            continue
        order = [s.key for s in group.subjects]
        titles = {s.key: s.title for s in group.subjects}
        lines = [f"#### {group.title}", "",
                 "| case | implementation | min | median | vs fastest peer |",
                 "|---|---|---:|---:|---:|"]
        for c in sorted(rows, key=lambda c: order.index(c["subject"])):
            label = c["implementation"]
            if c["role"] == "velmora":
                label = f"**{label}**"
            if c["status"] != "ok":
                figures = [f"n/a ({c.get('reason', 'no result')})", "", ""]
            else:
                ratio = c.get("vs_fastest_peer")
                figures = [fmt_ns(c["min_ns"]), fmt_ns(c["median_ns"]),
                           "" if ratio is None else f"{ratio:.2f}x"]
            cells = [titles[c["subject"]], label, *figures]
            lines.append("|" + "|".join(f" {cell} " if cell else " " for cell in cells) + "|")
        parts.append("\n".join(lines))
    return "\n\n".join(parts)


def rewritten(readme: str, record: dict) -> str:
    head, found, rest = readme.partition(BEGIN)
    _, found_end, tail = rest.partition(END)
    if not found or not found_end:
        raise SystemExit(f"README.md lacks the markers {BEGIN!r} and {END!r}")
    return f"{head}{BEGIN}\n{tables(record)}\n{END}{tail}"


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--check", action="store_true", help="only tell whether it is stale")
    args = parser.parse_args(argv)
    readme = README.read_text()
    new = rewritten(readme, json.loads(RESULTS.read_text()))
    if args.check:
        if new != readme:
            print("README.md's benchmark section is stale: run benchmarks/readme_table.py")
            return 1
        return 0
    if new != readme:
        README.write_text(new)
    return 0


if __name__ == "__main__":
    sys.exit(main())

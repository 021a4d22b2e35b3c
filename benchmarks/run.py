"""velmora's benchmark: the native core against peer implementations.

`make bench` runs this file. It times every case in one process, velmora
interleaved with its peers, prints a Markdown table per group and the
targets, and writes latest.json and latest.png into build/bench (ignored by
git); `make bench-record` writes them into benchmarks/results instead, the
record the README's tables are made from. `--callgrind` counts instructions
per operation instead (see callgrind.py). The last line printed says how
many targets the run met and which it missed; the exit status does not
depend on it (a report, not a test: timings on a shared machine are noisy).
"""

import argparse
import os
import sys
import time
from pathlib import Path

import measure
import report
import targets
from cases import FLOOR, NATIVE_INNER, PEER, VELMORA, all_cases, loop_overhead_case
from chart import write_chart
from hostile import hostile_cases
from hostile import markdown_table as hostile_table

# A run changes no tracked file unless asked to (--out benchmarks/results).
RESULTS = Path(__file__).resolve().parent.parent / "build" / "bench"


def parse_args(argv: list[str]) -> argparse.Namespace:
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--quick", action="store_true",
                   help="a short run (few rounds of short repeats) for smoke tests")
    p.add_argument("--filter", action="append", default=[], metavar="SUBSTR",
                   help="run only the cases whose id (group/subject/implementation) contains"
                        " SUBSTR; repeatable")
    p.add_argument("--list", action="store_true", help="print the case ids and exit")
    p.add_argument("--rounds", type=int, help="repeats per case (default 500, quick 5)")
    p.add_argument("--repeat-ms", type=float, help="length of one repeat (default 2, quick 0.5)")
    p.add_argument("--seed", type=int, default=1, help="seed of the per-round shuffling")
    p.add_argument("--hostile", action="store_true",
                   help="also time parse_cookie per byte on hostile inputs up to 1 MiB")
    p.add_argument("--callgrind", action="store_true",
                   help="count instructions per operation under valgrind instead of timing")
    p.add_argument("--callgrind-n", type=int, default=2000, metavar="N",
                   help="operations per measured loop in callgrind mode (default 2000)")
    p.add_argument("--callgrind-peers", action="store_true",
                   help="in callgrind mode, count the peers too (default: velmora and floors)")
    p.add_argument("--out", type=Path, default=RESULTS,
                   help="directory of the result files (default build/bench)")
    p.add_argument("--no-chart", action="store_true", help="do not draw the PNG chart")
    args = p.parse_args(argv)
    args.rounds = args.rounds or (5 if args.quick else 500)
    args.repeat_ms = args.repeat_ms or (0.5 if args.quick else 2.0)
    return args


def selected(cases: list, filters: list[str]) -> list:
    return [c for c in cases if not filters or any(f in c.id for f in filters)]


def header(args: argparse.Namespace, env: dict, what: str) -> str:
    return (
        f"## velmora benchmark ({what})\n\n"
        f"Python {env['python'].split()[0]} on {env['cpu']} ({env['cpu_count']} cores,"
        f" load {env['load_average'][0]:.2f}); velmora {env['packages']['velmora']},"
        f" werkzeug {env['packages']['werkzeug']}, starlette {env['packages']['starlette']}"
    )


def run_timing(args: argparse.Namespace) -> tuple[dict, list]:
    env = report.environment()
    chosen = selected(all_cases(), args.filter)
    started = time.monotonic()
    outcomes = measure.measure([*chosen, loop_overhead_case()], rounds=args.rounds,
                               repeat_s=args.repeat_ms / 1e3, seed=args.seed)
    overhead = outcomes.pop()
    ratio = report.ratios(outcomes)
    values = {o.case.id: o.min_ns for o in outcomes if o.ok}
    verdicts = targets.evaluate(values, chosen, targets.TIMING)

    print(header(args, env, "min ns per operation"))
    print(f"\n{args.rounds} interleaved rounds of ~{args.repeat_ms:g} ms per case."
          f" Figures include the timing loop's own cost, {overhead.min_ns:.1f} ns per"
          f" statement (an empty statement; rows run in a C loop share it among"
          f" {NATIVE_INNER} operations).\n")
    print(report.markdown_tables(outcomes))
    print(f"\n{report.LEGEND}\n")
    print("### Targets\n")
    print(targets.markdown(verdicts, "min ns"))

    hostile = []
    if args.hostile:
        chosen_hostile = selected(hostile_cases(), args.filter)
        # Few, long repeats: a single operation on 1 MiB takes milliseconds.
        hostile = measure.measure(chosen_hostile, rounds=max(1, args.rounds // 100),
                                  repeat_s=(1.0 if args.quick else 20.0) / 1e3, seed=args.seed)
        print()
        print(hostile_table(hostile))

    env["load_average_after"] = list(os.getloadavg())
    return {
        "kind": "timing",
        "environment": env,
        "settings": {"rounds": args.rounds, "repeat_ms": args.repeat_ms, "seed": args.seed,
                     "quick": args.quick, "filter": args.filter,
                     "seconds": round(time.monotonic() - started, 1)},
        "loop_overhead_ns": overhead.min_ns if overhead.ok else None,
        "cases": [report.outcome_record(o, ratio.get(o.case.id)) for o in outcomes],
        "targets": verdicts,
        "hostile": [report.outcome_record(o) for o in hostile],
    }, outcomes


def run_callgrind(args: argparse.Namespace) -> tuple[dict, list]:
    import callgrind

    env = report.environment()
    roles = {VELMORA, FLOOR} | ({PEER} if args.callgrind_peers else set())
    chosen = [c for c in selected(all_cases(), args.filter) if c.role in roles]
    if args.hostile:
        chosen += selected(hostile_cases(), args.filter)
    outcomes = callgrind.measure([*chosen, loop_overhead_case()], args.callgrind_n)
    overhead = outcomes.pop()
    callgrind.take_off_loop(outcomes, overhead)
    main = [o for o in outcomes if o.case.group != "hostile"]
    values = {o.case.id: o.min_ns for o in main if o.ok}
    verdicts = targets.evaluate(values, chosen, targets.CALLGRIND)

    print(header(args, env, "callgrind instructions per operation"))
    if overhead.ok:
        loop = (f"taken off: {overhead.min_ns:,.0f} per statement, an empty statement's"
                f" count (rows run in a C loop share it among {NATIVE_INNER} operations)")
    else:
        loop = "not taken off (the empty statement could not be counted)"
    print(f"\nInstructions per operation, (Ir(2N) - Ir(N)) / N with N = {args.callgrind_n};"
          f" the timing loop's own share is {loop}.\n")
    print(report.markdown_tables(main, unit="Ir"))
    print("\n### Targets (instruction counts)\n")
    print(targets.markdown(verdicts, "instructions"))
    hostile = [o for o in outcomes if o.case.group == "hostile"]
    if hostile:
        print("\n(hostile inputs: instructions per byte)\n")
        print(hostile_table(hostile).replace("ns/byte", "Ir/byte"))
    ratio = report.ratios(main)
    return {
        "kind": "callgrind",
        "environment": env,
        "settings": {"n": args.callgrind_n, "filter": args.filter, "peers": args.callgrind_peers},
        "loop_overhead_ir": overhead.min_ns if overhead.ok else None,
        "cases": [_instruction_record(o, ratio.get(o.case.id)) for o in main],
        "targets": verdicts,
        "hostile": [_instruction_record(o) for o in hostile],
    }, main


def _instruction_record(o, ratio: dict | None = None) -> dict:
    """The JSON record of a case counted under callgrind: instructions, not times."""
    record = report.outcome_record(o, ratio)
    for key in ("min_ns", "median_ns", "p90_ns", "spread", "repeats", "min_ns_per_byte"):
        record.pop(key, None)
    if o.ok:
        record["instructions_per_op"] = o.min_ns
        if o.loop_share is not None:
            record["loop_instructions_per_op"] = o.loop_share
        if o.case.size:
            record["instructions_per_byte"] = o.min_ns / o.case.size
    return record


def main(argv: list[str] | None = None) -> int:
    args = parse_args(sys.argv[1:] if argv is None else argv)
    if args.list:
        for case in [*all_cases(), *hostile_cases()]:
            print(case.id)
        return 0
    data, outcomes = run_callgrind(args) if args.callgrind else run_timing(args)
    data["benchmark_sources"] = report.sources_digest()
    name = "callgrind.json" if args.callgrind else "latest.json"
    report.write_json(args.out / name, data)
    print(f"\nwrote {args.out / name}", end="")
    if not args.callgrind and not args.no_chart:
        problem = write_chart(args.out / "latest.png", outcomes, data["environment"])
        print(f" and {args.out / 'latest.png'}" if problem is None else f" (no chart: {problem})")
    else:
        print()
    print(f"\n{targets.summary(data['targets'])}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

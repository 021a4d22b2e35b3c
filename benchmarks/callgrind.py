"""Instructions per operation under callgrind: a figure that a busy machine cannot blur.

The parent runs one child interpreter per case under valgrind. The child
warms the case up (so the interpreter has specialised its bytecode), then
runs the timing loop twice, N and 2N operations, each inside a call into a C
function through ctypes. Callgrind collects only inside that call
(`--toggle-collect=ffi_call`) and writes one profile part after each
(`--dump-after=ffi_call`); the difference of the two parts divided by N is
the cost of one operation, without the start-up and the bracket's own cost.
Where the bracket's symbol cannot be seen, the child runs once per loop size
with collection from the start, and the same difference is taken.

Run as a script, this file is the child: `callgrind.py CASE_ID N [MODE]`.
"""

import ctypes
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from cases import ISOLATED_ENV, REPO_ROOT, Case, all_cases, loop_overhead_case
from hostile import hostile_cases
from measure import Outcome, prepare

BRACKET = "ffi_call"
BRACKETED = "bracketed"  # both loops in one run, collected inside the bracket only
WHOLE = "whole"  # one loop per run, collected from the start
NATIVE = "native"  # a run without valgrind that compiles and caches the child's imports

# The children cache their compiled modules here, so that only the first
# run compiles them (slowly, under valgrind) even where the environment says
# not to write bytecode next to the sources.
PYCACHE = REPO_ROOT / "build" / "bench-pycache"


def ensure_valgrind() -> None:
    if shutil.which("valgrind") is None:
        subprocess.run([str(REPO_ROOT / "scripts" / "need-tools"), "valgrind"], check=True)


def loop_size(case: Case, n: int) -> int:
    """Operations per loop: fewer for large inputs, whose single operation is long."""
    return max(2, n * 64 // max(64, case.size)) if case.size > 1024 else n


def _totals(path: Path) -> int | None:
    try:
        text = path.read_text(errors="replace")
    except OSError:
        return None
    found = re.search(r"^(?:summary|totals):\s+(\d+)", text, re.M)
    return int(found.group(1)) if found else None


def _run_child(case: Case, n: int, mode: str, out: Path) -> tuple[dict, str]:
    options = ["--tool=callgrind", f"--callgrind-out-file={out}"]
    if mode == BRACKETED:
        options += ["--collect-atstart=no", f"--toggle-collect={BRACKET}",
                    f"--dump-after={BRACKET}"]
    command = [sys.executable, __file__, case.id, str(n), mode]
    if mode != NATIVE:
        command = ["valgrind", *options, *command]
    env = dict(os.environ, PYTHONHASHSEED="0", PYTHONPYCACHEPREFIX=str(PYCACHE))
    env[ISOLATED_ENV] = "1"  # one case per child: its setup may change module state
    env.pop("PYTHONDONTWRITEBYTECODE", None)
    proc = subprocess.run(command, capture_output=True, text=True, env=env, timeout=1800)
    report = {}
    for line in proc.stdout.splitlines():
        if line.startswith("{"):
            report = json.loads(line)
    if proc.returncode != 0 and not report:
        report = {"status": "n/a", "reason": "error: child failed",
                  "detail": proc.stderr.strip()[-500:]}
    return report, proc.stderr


def measure_case(case: Case, n: int) -> Outcome:
    """Instructions per operation of one case, as an Outcome with one figure."""
    outcome, timer = prepare(case)  # in this process first: no valgrind run for an n/a case
    if timer is None:
        return outcome
    n = loop_size(case, n)
    with tempfile.TemporaryDirectory(prefix="velmora-callgrind-") as tmp:
        out = Path(tmp) / "cg"
        report, _ = _run_child(case, 1, NATIVE, out)
        if report.get("status") == "ok":
            report, _ = _run_child(case, n, BRACKETED, out)
        if report.get("status") != "ok":
            outcome.fail(report.get("reason", "error"), str(report.get("detail", "")))
            return outcome
        first, second = _totals(Path(f"{out}.1")), _totals(Path(f"{out}.2"))
        if not first or not second:
            whole = []
            for size in (n, 2 * n):
                report, _ = _run_child(case, size, WHOLE, out)
                whole.append(_totals(out) if report.get("status") == "ok" else None)
            first, second = whole
        if not first or not second:
            outcome.fail("error: no callgrind totals", "callgrind wrote no usable profile")
            return outcome
    outcome.info = report.get("info", "")
    outcome.number = n
    outcome.samples_ns = [(second - first) / n / case.inner]
    return outcome


def take_off_loop(outcomes: list[Outcome], loop: Outcome) -> None:
    """Each operation's own cost: its count less the empty statement's, which is the
    timing loop's share of every statement (divided among a C loop's operations)."""
    if not loop.ok:
        return
    for o in outcomes:
        if o.ok:
            o.loop_share = loop.min_ns / o.case.inner
            o.samples_ns = [s - o.loop_share for s in o.samples_ns]


def measure(cases: list[Case], n: int, progress: bool = True) -> list[Outcome]:
    ensure_valgrind()
    outcomes = []
    for i, case in enumerate(cases, 1):
        if progress:
            print(f"callgrind {i}/{len(cases)}: {case.id}", file=sys.stderr, flush=True)
        outcomes.append(measure_case(case, n))
    return outcomes


# --- the child ------------------------------------------------------------


def _bracket(run) -> None:
    """Calls `run` from inside a C function (bsearch over one element, through ctypes)."""
    compare_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
    failure = []

    def compare(_a, _b):
        try:
            run()
        except BaseException as e:  # ctypes would print and swallow it
            failure.append(e)
        return 0

    libc = ctypes.CDLL(None)
    libc.bsearch.restype = ctypes.c_void_p
    libc.bsearch.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_size_t,
                             compare_type]
    key, items = ctypes.c_int(0), (ctypes.c_int * 1)(0)
    libc.bsearch(ctypes.byref(key), items, 1, ctypes.sizeof(ctypes.c_int), compare_type(compare))
    if failure:
        raise failure[0]


def child(case_id: str, n: int, mode: str) -> int:
    catalogue = hostile_cases() if case_id.startswith("hostile/") else all_cases()
    cases = {c.id: c for c in [*catalogue, loop_overhead_case()]}
    outcome, timer = prepare(cases[case_id])
    if timer is None:
        print(json.dumps({"status": "n/a", "reason": outcome.reason, "detail": outcome.detail}))
        return 0
    timer.timeit(min(n, 1000))  # warm-up: the interpreter specialises the loop's bytecode
    if mode == BRACKETED:
        _bracket(lambda: timer.timeit(n))
        _bracket(lambda: timer.timeit(2 * n))
    else:
        timer.timeit(n)
    print(json.dumps({"status": "ok", "info": outcome.info}))
    return 0


if __name__ == "__main__":
    sys.exit(child(sys.argv[1], int(sys.argv[2]), sys.argv[3] if len(sys.argv) > 3 else BRACKETED))

"""Timing: timeit loops calibrated per case, cases interleaved round by round.

On a shared, noisy machine the minimum over many short repeats is the
steadiest figure, and running every case once per round (in a shuffled
order) spreads slow periods evenly over all of them, so that the ratios
between cases hold even when the absolute figures drift.
"""

import dataclasses
import random
import statistics
import sys
import time
import timeit

from cases import Case, Prepared, Unavailable


@dataclasses.dataclass
class Outcome:
    """What became of one case: figures, or the reason it has none."""

    case: Case
    status: str = "ok"  # "ok" or "n/a"
    reason: str = ""  # short text for the tables ("not built", ...)
    detail: str = ""  # the full error, for the JSON record
    info: str = ""
    number: int = 0  # statements per repeat (each runs case.inner operations)
    samples_ns: list[float] = dataclasses.field(default_factory=list)
    # Counted under callgrind: the timing loop's share per operation, taken off
    # the samples.
    loop_share: float | None = None

    @property
    def ok(self) -> bool:
        return self.status == "ok" and bool(self.samples_ns)

    @property
    def min_ns(self) -> float:
        return min(self.samples_ns)

    @property
    def median_ns(self) -> float:
        return statistics.median(self.samples_ns)

    @property
    def p90_ns(self) -> float:
        ordered = sorted(self.samples_ns)
        return ordered[min(len(ordered) - 1, int(0.9 * len(ordered)))]

    @property
    def spread(self) -> float:
        """(p90 - min) / min over the repeats."""
        return (self.p90_ns - self.min_ns) / self.min_ns if self.min_ns > 0 else 0.0

    def fail(self, reason: str, detail: str) -> None:
        self.status, self.reason, self.detail = "n/a", reason, detail


def prepare(case: Case) -> tuple[Outcome, timeit.Timer | None]:
    """Runs the case's setup; an unavailable case gets its reason instead of a timer."""
    outcome = Outcome(case)
    try:
        prepared: Prepared = case.setup()
        timer = timeit.Timer(prepared.stmt, globals=prepared.namespace)
        outcome.info = prepared.info
        return outcome, timer
    except Unavailable as e:
        outcome.fail(e.reason, str(e))
    except Exception as e:  # a broken case must not stop the others
        outcome.fail(f"error: {type(e).__name__}", f"{type(e).__name__}: {e}")
    return outcome, None


def calibrate(timer: timeit.Timer, repeat_s: float) -> int:
    """Operations per repeat so that one repeat lasts about `repeat_s`."""
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= repeat_s / 4 or number >= 1 << 28:
            break
        # Grow by at most 10x at a time: the first calls can be slow.
        number *= min(10, max(2, int(repeat_s / 4 / max(elapsed, 1e-9)) + 1))
    return max(1, round(number * repeat_s / max(elapsed, 1e-9)))


def measure(cases: list[Case], *, rounds: int, repeat_s: float, seed: int = 1,
            progress: bool = True) -> list[Outcome]:
    outcomes: list[Outcome] = []
    timed: list[tuple[Outcome, timeit.Timer]] = []
    for case in cases:
        outcome, timer = prepare(case)
        outcomes.append(outcome)
        if timer is None:
            continue
        try:
            outcome.number = calibrate(timer, repeat_s)
        except Exception as e:
            outcome.fail(f"error: {type(e).__name__}", f"{type(e).__name__}: {e}")
            continue
        timed.append((outcome, timer))

    if progress and timed:
        estimate = rounds * len(timed) * repeat_s
        print(f"timing {len(timed)} cases, {rounds} rounds of ~{repeat_s * 1e3:g} ms per case"
              f" (about {estimate:.0f} s)", file=sys.stderr, flush=True)
    rng = random.Random(seed)
    order = list(timed)
    started = time.monotonic()
    for done in range(rounds):
        rng.shuffle(order)
        for outcome, timer in order:
            if outcome.status != "ok":
                continue
            try:
                elapsed = timer.timeit(outcome.number)
            except Exception as e:
                outcome.fail(f"error: {type(e).__name__}", f"{type(e).__name__}: {e}")
                continue
            outcome.samples_ns.append(elapsed / outcome.number / outcome.case.inner * 1e9)
        if progress and rounds >= 10 and (done + 1) % max(1, rounds // 5) == 0:
            print(f"  round {done + 1}/{rounds} ({time.monotonic() - started:.0f} s)",
                  file=sys.stderr, flush=True)
    return outcomes

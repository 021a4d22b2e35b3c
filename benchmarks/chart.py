"""Bar chart of one timed run: one panel per group, one row per operation.

Each row holds velmora's bar, its bar "as specified, without fast paths"
where the operation has one, the fastest peer's and the floor's; beside
velmora's bar stands its speed-up against the fastest peer (or, where there
is no peer, its cost against the floor). Bars start at zero on a linear
axis shared by the whole panel, so that their lengths compare.
"""

import contextlib
import dataclasses
import datetime
from pathlib import Path

from cases import FLOOR, GROUPS, PEER, VELMORA, Group
from measure import Outcome

VELMORA_COLOUR = "#c0392b"
GENERIC_COLOUR = "#f0a30a"
PEER_COLOUR = "#2e86c1"
FLOOR_COLOUR = "#a6acaf"
LEGEND = (
    (VELMORA_COLOUR, "velmora"),
    (GENERIC_COLOUR, "velmora as specified, without fast paths"),
    (PEER_COLOUR, "fastest peer"),
    (FLOOR_COLOUR, "floor"),
)

# Short names of the peers, by the last part of their case ids.
PEER_NAMES = {
    "cookiejar": "http.cookiejar",
    "simplecookie": "SimpleCookie",
    "morsel": "Morsel",
    "email": "email.utils",
    "plain": "plain Python",
}

BAR_INCHES = 0.3  # height of one bar's slot
GAP = 0.7  # between two rows, in bar slots
FONT = 10


@dataclasses.dataclass
class Bar:
    outcome: Outcome
    colour: str
    text: str


def _ns(value: float) -> str:
    return f"{value:,.0f} ns" if value >= 100 else f"{value:.1f} ns"


def _peer_name(case_id: str) -> str:
    key = case_id.rsplit("/", 1)[-1]
    return PEER_NAMES.get(key, key)


def _comparison(mine: Outcome, peer: Outcome | None, floor: Outcome | None) -> str:
    """What stands beside velmora's bar."""
    if peer is not None:
        speed_up = peer.min_ns / mine.min_ns
        name = _peer_name(peer.case.id)
        if speed_up >= 1:
            return f"{speed_up:.1f}x faster than {name}"
        return f"{1 / speed_up:.1f}x slower than {name}"
    if floor is not None:
        return f"{mine.min_ns / floor.min_ns:.2f}x its floor"
    return ""


def _rows(group: Group, outcomes: list[Outcome]) -> list[tuple[str, list[Bar]]]:
    """(operation, its bars) for every operation of the group with a velmora row."""
    by_id = {o.case.id: o for o in outcomes if o.ok}
    rows = []
    for subject in group.subjects:
        own = [o for o in outcomes if o.case.group == group.key and o.case.subject == subject.key]
        mine = next((o for o in own if o.case.id.endswith("/velmora")), None)
        if mine is None:
            continue
        generic = next((o for o in own if o.ok and o.case.id.endswith("/velmora-generic")), None)
        peers = [o for o in own if o.ok and o.case.role == PEER]
        peer = min(peers, key=lambda o: o.min_ns, default=None)
        floor = by_id.get(subject.floor) if subject.floor else None
        bars = []
        if mine.ok:
            comparison = _comparison(mine, peer, floor)
            text = f"{_ns(mine.min_ns)}  {comparison}" if comparison else _ns(mine.min_ns)
            bars.append(Bar(mine, VELMORA_COLOUR, text))
        else:
            bars.append(Bar(mine, VELMORA_COLOUR, f"velmora: n/a ({mine.reason})"))
        if generic is not None:
            bars.append(Bar(generic, GENERIC_COLOUR, f"as specified {_ns(generic.min_ns)}"))
        if peer is not None:
            bars.append(Bar(peer, PEER_COLOUR, f"{_peer_name(peer.case.id)} {_ns(peer.min_ns)}"))
        if floor is not None and floor.case.role == FLOOR:
            bars.append(Bar(floor, FLOOR_COLOUR, f"floor {_ns(floor.min_ns)}"))
        rows.append((subject.title, bars))
    return rows


def chart_title(env: dict) -> str:
    load = env.get("load_average") or [0.0]
    after = env.get("load_average_after") or load
    when = env.get("time") or "?"
    with contextlib.suppress(ValueError):
        when = datetime.datetime.fromisoformat(when).strftime("%Y-%m-%d %H:%M UTC")
    return (f"velmora benchmark: min ns per operation, shorter is faster\n"
            f"{when}, commit {env.get('commit') or '?'},"
            f" Python {(env.get('python') or '?').split()[0]},"
            f" load average {load[0]:.2f} before, {after[0]:.2f} after"
            f" ({env.get('cpu_count', '?')} cores)")


def write_chart(path: Path, outcomes: list[Outcome], env: dict) -> str | None:
    """Writes the PNG; returns why it could not, or None."""
    try:
        import matplotlib
    except ImportError:
        return "matplotlib is not installed"
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.patches import Patch
    from matplotlib.ticker import StrMethodFormatter

    panels = [(g, rows) for g in GROUPS if (rows := _rows(g, outcomes))]
    if not panels:
        return "no velmora rows"
    slots = [sum(len(bars) + GAP for _, bars in rows) for _, rows in panels]
    fig, axes = plt.subplots(
        len(panels), 1, figsize=(13, 1.2 + sum(slots) * BAR_INCHES + 0.8 * len(panels)),
        gridspec_kw={"height_ratios": slots}, squeeze=False, layout="constrained")
    for ax, (group, rows), height in zip(axes[:, 0], panels, slots):
        y, centres, labels, widest = 0.0, [], [], 0.0
        for title, bars in rows:
            first = y
            for bar in bars:
                value = bar.outcome.min_ns if bar.outcome.ok else 0.0
                widest = max(widest, value)
                ax.barh(y, value, height=0.8, color=bar.colour)
                ax.text(value, y, f" {bar.text}", va="center", fontsize=FONT - 1,
                        fontweight="bold" if bar.colour == VELMORA_COLOUR else "normal")
                y += 1
            centres.append((first + y - 1) / 2)
            labels.append(title)
            y += GAP
        ax.set_yticks(centres, labels, fontsize=FONT)
        ax.set_ylim(height - GAP / 2 - 0.5, -0.5 - GAP / 2)
        # Room on the right for the text beside the longest bars.
        ax.set_xlim(0, widest * 1.5 if widest else 1)
        ax.set_title(group.title, fontsize=FONT + 1, loc="left", fontweight="bold")
        ax.tick_params(axis="x", labelsize=FONT - 1)
        ax.xaxis.set_major_formatter(StrMethodFormatter("{x:,.0f}"))
        ax.grid(axis="x", color="#dddddd", linewidth=0.8)
        ax.set_axisbelow(True)
        for side in ("top", "right"):
            ax.spines[side].set_visible(False)
    axes[-1, 0].set_xlabel("ns per operation (min over the repeats; each panel has its own"
                           " scale, starting at zero)", fontsize=FONT)
    fig.suptitle(chart_title(env), fontsize=FONT + 2)
    # Above the first panel's title, inside the layout.
    axes[0, 0].legend(handles=[Patch(color=c, label=t) for c, t in LEGEND],
                      loc="lower center", bbox_to_anchor=(0.5, 1.06), ncol=len(LEGEND),
                      fontsize=FONT, frameon=False)
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=100, bbox_inches="tight")
    plt.close(fig)
    return None

"""Bar chart of one run: min ns per operation, one panel per group."""

from pathlib import Path

from cases import FLOOR, GROUPS, VELMORA
from measure import Outcome

COLOURS = {VELMORA: "#c0392b", FLOOR: "#95a5a6"}
PEER_COLOUR = "#2e86c1"


def write_chart(path: Path, outcomes: list[Outcome], title: str) -> str | None:
    """Writes the PNG; returns why it could not, or None."""
    try:
        import matplotlib
    except ImportError:
        return "matplotlib is not installed"
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    groups = [g for g in GROUPS if any(o.case.group == g.key for o in outcomes)]
    if not groups:
        return "no cases"
    heights = [sum(o.case.group == g.key for o in outcomes) for g in groups]
    fig, axes = plt.subplots(len(groups), 1, figsize=(12, 1.2 + 0.32 * sum(heights) + len(groups)),
                             gridspec_kw={"height_ratios": heights}, squeeze=False)
    for ax, group in zip(axes[:, 0], groups):
        order = [s.key for s in group.subjects]
        rows = sorted((o for o in outcomes if o.case.group == group.key),
                      key=lambda o: order.index(o.case.subject))
        labels, values, colours = [], [], []
        for o in rows:
            subject = next(s.title for s in group.subjects if s.key == o.case.subject)
            labels.append(f"{subject}: {o.case.label}")
            values.append(o.min_ns if o.ok else 0)
            colours.append(COLOURS.get(o.case.role, PEER_COLOUR))
        positions = range(len(rows))
        ax.barh(positions, values, color=colours)
        ax.set_yticks(list(positions), labels, fontsize=7)
        ax.invert_yaxis()
        if any(values):
            ax.set_xscale("log")
        ax.set_title(group.title, fontsize=9, loc="left")
        ax.tick_params(axis="x", labelsize=7)
        smallest = min((v for v in values if v), default=1)
        for y, (o, v) in enumerate(zip(rows, values)):
            text = f"{v:,.0f}" if o.ok else f"n/a ({o.reason})"
            ax.text(v if o.ok else smallest, y, f" {text}", va="center", fontsize=6)
        if any(values):
            ax.set_xlim(left=smallest / 2, right=max(values) * 3)
    axes[-1, 0].set_xlabel("min ns per operation (log scale; red velmora, blue peers, grey floors)",
                           fontsize=8)
    fig.suptitle(title, fontsize=9)
    fig.tight_layout(rect=(0, 0, 1, 0.985))
    path.parent.mkdir(parents=True, exist_ok=True)
    fig.savefig(path, dpi=110, bbox_inches="tight")
    plt.close(fig)
    return None

"""ProtocolFile.plot: the picture of ProtocolFile.svg() drawn onto matplotlib
axes, from the series the vesk module computes for it (ProtocolFile._plot_rows).
Imported on plot's first call, so that vesk works without matplotlib."""

INSTALL = 'ProtocolFile.plot needs matplotlib: pip install "revevu[plot]"'

# The SVG's colours: line, fill and band of each channel, a disabled one grey.
COLOURS = {
    "A": ("#1d4ed8", "#bfdbfe", "#dbeafe"),
    "B": ("#b45309", "#fde68a", "#fef3c7"),
    "off": ("#9ca3af", "#e5e7eb", "#f3f4f6"),
}
WARNING_LINE, WARNING_FILL = "#dc2626", "#fee2e2"
EXTERNAL_LINE, EXTERNAL_FILL = "#94a3b8", "#f1f5f9"
AREA, AREA_EDGE = "#f9fafb", "#d1d5db"  # each row's plot area

# Row r of six stands on y = (5 - r) * ROW_STEP, its values on 0..1 above that.
ROW_STEP = 1.25
# A band's edges on its row's 0..1 scale, where the SVG draws them.
BAND_LOW, BAND_HIGH = 1 / 12, 11 / 12


def draw(loaded, ax=None, start=None, end=None):
    picture = loaded._plot_rows(start, end)  # a window it cannot draw raises first
    try:
        import matplotlib.pyplot as plt
    except ImportError as error:
        raise ImportError(INSTALL) from error
    if ax is None:
        _, ax = plt.subplots(figsize=(12, 6.5), layout="constrained")
    rows = picture["rows"]
    start, end = picture["start"], picture["end"]
    ticks, labels = [], []
    for r, row in enumerate(rows):
        base = (len(rows) - 1 - r) * ROW_STEP
        draw_row(ax, row, base, start, end)
        ticks.append(base + 0.5)
        labels.append(f"{row['channel']}: {row['input']}\n{row['source']}")
    ax.set_yticks(ticks, labels)
    for label, row in zip(ax.get_yticklabels(), rows):
        label.set_color(WARNING_LINE if row["source_missing"] else
                        "#1f2937" if row["enabled"] else "#6b7280")
    ax.set_ylim(-0.25, len(rows) * ROW_STEP)
    ax.set_xlim(start, end)
    ax.set_xlabel("time (s)")
    ax.set_title(picture["title"])
    return ax


def draw_row(ax, row, base, start, end):
    line, fill, band = COLOURS[row["channel"] if row["enabled"] else "off"]
    kind = row["kind"]
    ax.axhspan(base, base + 1, facecolor=AREA, edgecolor=AREA_EDGE, linewidth=0.6, zorder=0)
    if kind == "envelope" and len(row["edges"]):
        ax.stairs(base + row["high"], row["edges"], baseline=base + row["low"], fill=True,
                  facecolor=fill, edgecolor=line, linewidth=0.8)
    elif kind == "samples" and len(row["edges"]):
        ax.stairs(base + row["values"], row["edges"], baseline=None, color=line, linewidth=1.5)
        if row["dots"]:
            ax.plot(row["edges"][:-1], base + row["values"], "o", color=line, markersize=3)
    elif kind == "level":
        ax.hlines(base + row["level"], start, end, colors=line, linewidth=2,
                  linestyles="dashed" if row["label"] else "solid")
        if row["label"]:
            ax.text(start, base + row["level"], " " + row["label"], color=WARNING_LINE,
                    fontsize=8, va="center")
    else:
        colours = {"band": (band, line, None), "external": (EXTERNAL_FILL, EXTERNAL_LINE, "//"),
                   "warning": (WARNING_FILL, WARNING_LINE, None)}[kind]
        ax.fill_between([start, end], base + BAND_LOW, base + BAND_HIGH, facecolor=colours[0],
                        edgecolor=colours[1], hatch=colours[2], linewidth=0.8)
        ax.text((start + end) / 2, base + 0.5, row["label"], ha="center", va="center",
                fontsize=8, color=WARNING_LINE if kind == "warning" else "#1f2937")
    if row["detail"]:
        ax.text(end, base + 1.02, row["detail"], ha="right", va="bottom", fontsize=7,
                color=WARNING_LINE if row["detail_warning"] else "#374151")

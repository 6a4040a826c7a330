#!/usr/bin/env python3
"""Draws the pictures of kestrune from the CSV files it writes (kestrune plot/curve --data).

    python3 plot.py [--size WIDTHxHEIGHT] DATA.csv PICTURE [DATA.csv PICTURE ...]

PICTURE's extension picks the format: .png, .svg or .pdf; --size gives its size in pixels. The data
files are described in `kestrune plot --help` and `kestrune curve --help`; "nan" marks a value that is
not known. kestrune computes every number; this only draws.
Exit codes: 0 drawn, 1 failed, 3 matplotlib is missing.
"""
import csv
import math
import os
import sys
import textwrap

MISSING_MATPLOTLIB = 3

try:
    import matplotlib
except ImportError:
    sys.stderr.write("plot.py: %s has no matplotlib\n" % sys.executable)
    sys.exit(MISSING_MATPLOTLIB)

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import matplotlib.transforms as transforms  # noqa: E402

matplotlib.rcParams["svg.fonttype"] = "none"  # text stays text: searchable, and smaller
DPI = 120

INPUT_COLOUR = "#9a9a9a"
INPUT_EDGE = "#505050"
OUTPUT_COLOUR = "#1f5fa8"
KEY_COLOUR = "#d9822b"
GAIN_COLOUR = "#b3322d"
THRESHOLD_COLOUR = "#b3322d"


def read_data(path):
    # kestrune writes UTF-8; a file edited in another encoding shows its stray bytes escaped.
    with open(path, encoding="utf-8", errors="backslashreplace", newline="") as data:
        lines = list(data)
    pairs = (line[1:].partition(":") for line in lines if line.startswith("#"))
    meta = {key.strip(): value.strip() for key, _, value in pairs}
    reader = csv.DictReader(line for line in lines if not line.startswith("#"))
    rows = list(reader)
    return meta, {name: [float(row[name]) for row in rows] for name in reader.fieldnames or []}


def new_figure(meta, size, default_inches, ratios=(1,)):
    """A figure of size pixels (or default_inches) with panels one above the other, as high as ratios say,
    and the title and the settings wrapped to its width."""
    inches = (size[0] / DPI, size[1] / DPI) if size else default_inches
    figure, axes = plt.subplots(len(ratios), 1, sharex=True, figsize=inches, dpi=DPI, squeeze=False,
                                layout="constrained", gridspec_kw={"height_ratios": list(ratios)})
    # At most one character per 12 pixels at this font size; a peer's dozens of parameters wrap between
    # settings, never inside one (textwrap breaks at ASCII blanks only, not at no-break spaces).
    settings = ", ".join(item.replace(" ", "\u00a0") for item in meta.get("settings", "").split(", "))
    settings = textwrap.fill(settings, width=max(40, int(inches[0] * DPI / 12)))
    figure.suptitle("%s\n%s" % (meta.get("title", ""), settings), fontsize=10)
    for panel in axes.flat:
        panel.grid(True, alpha=0.3)
    return figure, list(axes.flat)


def draw_render(meta, columns, size):
    time = columns["time_s"]
    keyed_by_sidechain = meta.get("keyed_by_sidechain") == "1"
    threshold = float(meta.get("threshold_db", "nan"))
    has_threshold = threshold == threshold
    gain_method = meta.get("gain", "none")
    show_key = keyed_by_sidechain or has_threshold
    ratios = [3] + ([2] if show_key else []) + ([2] if gain_method != "none" else [])
    figure, axes = new_figure(meta, size, (12, 2.4 * len(ratios) + 1.2), ratios)

    # The input behind, light and outlined; the output over it, translucent, so that the input shows
    # through wherever the output covers it (makeup gain).
    panels = iter(axes)
    top = next(panels)
    top.fill_between(time, columns["input_min"], columns["input_max"], color=INPUT_COLOUR, alpha=0.3, linewidth=0)
    top.plot(time, columns["input_max"], color=INPUT_EDGE, linewidth=0.6, label="input (outline)")
    top.plot(time, columns["input_min"], color=INPUT_EDGE, linewidth=0.6)
    top.fill_between(time, columns["output_min"], columns["output_max"], color=OUTPUT_COLOUR, linewidth=0,
                     alpha=0.6, label="output", zorder=3)
    peak = max([abs(v) for v in columns["input_min"] + columns["input_max"] + columns["output_min"]
                + columns["output_max"] if math.isfinite(v)] or [1.0])
    limit = max(1.0, peak * 1.05)
    top.set_ylim(-limit, limit)
    top.set_ylabel("amplitude")
    top.set_title("input and output (peak per pixel column)", fontsize=10, loc="left")
    top.legend(loc="upper right", fontsize="small", framealpha=0.9)

    if show_key:
        # In dBFS: a threshold of -30 dB would sit at +-0.03 on a linear scale, on the zero line.
        key = next(panels)
        floor = min(-60.0, 6.0 * math.floor((threshold - 24.0) / 6.0)) if has_threshold else -60.0
        peaks = [max(abs(low), abs(high)) for low, high in zip(columns["key_min"], columns["key_max"])]
        level = [max(floor, 20.0 * math.log10(v)) if v > 0.0 else floor for v in peaks]
        key.fill_between(time, level, floor, color=KEY_COLOUR, alpha=0.35, linewidth=0)
        key.plot(time, level, color=KEY_COLOUR, linewidth=0.8)
        if has_threshold:
            key.axhline(threshold, color=THRESHOLD_COLOUR, linestyle="--", linewidth=1.2)
            key.text(0.005, threshold, "threshold %.1f dBFS" % threshold, color=THRESHOLD_COLOUR, fontsize="small",
                     va="bottom", transform=transforms.blended_transform_factory(key.transAxes, key.transData),
                     bbox={"facecolor": "white", "alpha": 0.8, "edgecolor": "none", "pad": 1.0})
        key.set_ylim(floor, max([3.0] + [v + 3.0 for v in level if math.isfinite(v)]))
        key.set_ylabel("key (dBFS)")
        key.set_title("key: the sidechain" if keyed_by_sidechain else "key: the input itself (self-keyed)",
                      fontsize=10, loc="left")

    if gain_method != "none":
        gain = next(panels)
        lowest = min([v for v in columns["gain_db"] if math.isfinite(v)] + [0.0])
        bottom = min(lowest * 1.1, -1.0)
        # An effect that silences its output takes all the gain (-inf dB): drawn at the foot of the axis.
        values = [min(max(v, bottom), 0.5) if v == v else v for v in columns["gain_db"]]
        gain.fill_between(time, values, 0.0, color=GAIN_COLOUR, alpha=0.25, linewidth=0)
        gain.plot(time, values, color=GAIN_COLOUR, linewidth=1.0)
        gain.set_ylim(bottom, 0.5)
        how = "measured through a probe instance" if gain_method == "probe" else "estimated as output / input peak"
        largest = max(0.0, -lowest)  # never "-0.0"
        gain.set_title("gain reduction as applied (%s), largest %.1f dB" % (how, largest), fontsize=10, loc="left")
        gain.set_ylabel("gain (dB)")

    axes[-1].set_xlabel("time (s)")
    start = float(meta.get("start_s", "0"))
    axes[-1].set_xlim(start, float(meta.get("end_s", time[-1] if time else start + 1.0)))
    return figure


def draw_curve(meta, columns, size):
    threshold = float(meta.get("threshold_db", "nan"))
    figure, (axes,) = new_figure(meta, size, (8, 6.5))
    level = columns["input_db"]
    axes.plot(level, level, color="#cccccc", linewidth=1.0, label="unity (no compression)")
    axes.plot(level, columns["steady_db"], color=OUTPUT_COLOUR, linewidth=3.0, alpha=0.6,
              label="measured, steady level (square wave)")
    ideal = columns["ideal_db"]
    if any(v == v for v in ideal):
        # Drawn over the measurement: where the two agree the dashes run along the measured line.
        axes.plot(level, ideal, color="black", linestyle="--", linewidth=1.0, zorder=4, label="ideal hard knee")
    axes.plot(level, columns["sine_db"], color=KEY_COLOUR, linewidth=1.2, linestyle=":",
              label="measured, 1 kHz sine (peak)")
    if threshold == threshold:
        axes.axvline(threshold, color=THRESHOLD_COLOUR, linestyle="--", linewidth=1.0,
                     label="threshold %.1f dB" % threshold)
    axes.set_xlim(-80.0, 0.0)
    axes.set_xlabel("input level (dBFS)")
    axes.set_ylabel("output level (dBFS)")
    axes.legend(loc="upper left", fontsize="small")
    return figure


def picture_size(text):
    """WIDTHxHEIGHT as two whole numbers of pixels, each 200..10000, or exit with a message."""
    width, _, height = text.partition("x")
    numbers = [int(n) if n.isascii() and n.isdigit() and len(n) <= 9 else 0 for n in (width, height)]
    if not all(200 <= n <= 10000 for n in numbers):
        sys.exit("plot.py: --size %s: give WIDTHxHEIGHT in pixels, each 200..10000, e.g. 1600x900" % text)
    return tuple(numbers)


def main(arguments):
    size = None
    if arguments[:1] == ["--size"] and len(arguments) > 1:
        size = picture_size(arguments[1])
        arguments = arguments[2:]
    if len(arguments) % 2 != 0 or not arguments:
        sys.exit("usage: plot.py [--size WIDTHxHEIGHT] DATA.csv PICTURE [DATA.csv PICTURE ...]")
    for data_path, picture in zip(arguments[0::2], arguments[1::2]):
        meta, columns = read_data(data_path)
        if "time_s" in columns:
            figure = draw_render(meta, columns, size)
        elif "input_db" in columns:
            figure = draw_curve(meta, columns, size)
        else:
            sys.exit("plot.py: %s has neither a time_s nor an input_db column" % data_path)
        figure.savefig(picture, format=os.path.splitext(picture)[1][1:].lower())
        plt.close(figure)


if __name__ == "__main__":
    main(sys.argv[1:])

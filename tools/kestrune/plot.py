#!/usr/bin/env python3
"""Draws the pictures of kestrune from the CSV files it writes (kestrune plot/curve --data).

    python3 plot.py DATA.csv PICTURE.png [DATA.csv PICTURE.png ...]

A data file opens with lines "# key: value" (title, settings, threshold_db and, for a render,
keyed_by_sidechain 0 or 1 and gain probe, ratio or none), then a header row and one row per point:

    render: time_s,input_min,input_max,key_min,key_max,output_min,output_max,gain_db
    curve:  input_db,steady_db,sine_db,ideal_db

"nan" marks a value that is not known. kestrune computes every number; this only draws.
Exit codes: 0 drawn, 1 failed, 3 matplotlib is missing.
"""
import csv
import sys

MISSING_MATPLOTLIB = 3

try:
    import matplotlib
except ImportError:
    sys.stderr.write("plot.py: %s has no matplotlib\n" % sys.executable)
    sys.exit(MISSING_MATPLOTLIB)

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

INPUT_COLOUR = "#9a9a9a"
OUTPUT_COLOUR = "#1f5fa8"
KEY_COLOUR = "#d9822b"
GAIN_COLOUR = "#b3322d"
THRESHOLD_COLOUR = "#b3322d"


def read_data(path):
    meta = {}
    body = []
    with open(path, encoding="utf-8", newline="") as data:
        for line in data:
            if line.startswith("#"):
                key, _, value = line[1:].partition(":")
                meta[key.strip()] = value.strip()
            else:
                body.append(line)
    reader = csv.DictReader(body)
    columns = {name: [] for name in reader.fieldnames or []}
    for row in reader:
        for name, values in columns.items():
            values.append(float(row[name]))
    return meta, columns


def threshold_lines(axes, threshold_db):
    level = 10.0 ** (threshold_db / 20.0)
    axes.axhline(level, color=THRESHOLD_COLOUR, linestyle="--", linewidth=1.0,
                 label="threshold %.1f dB" % threshold_db)
    axes.axhline(-level, color=THRESHOLD_COLOUR, linestyle="--", linewidth=1.0)


def waveform_axes(axes, peak):
    limit = max(1.0, peak * 1.05)
    axes.set_ylim(-limit, limit)
    axes.set_ylabel("amplitude")
    axes.grid(True, alpha=0.3)
    axes.legend(loc="upper right", fontsize="small", framealpha=0.9)


def draw_render(meta, columns, png):
    time = columns["time_s"]
    keyed_by_sidechain = meta.get("keyed_by_sidechain") == "1"
    threshold = float(meta.get("threshold_db", "nan"))
    has_threshold = threshold == threshold
    gain_method = meta.get("gain", "none")
    rows = 2 + (1 if keyed_by_sidechain else 0) - (1 if gain_method == "none" else 0)
    ratios = [3] + ([2] if keyed_by_sidechain else []) + ([2] if gain_method != "none" else [])

    figure, axes = plt.subplots(rows, 1, sharex=True, figsize=(12, 2.4 * rows + 1.2), dpi=120,
                                gridspec_kw={"height_ratios": ratios}, squeeze=False)
    axes = [row[0] for row in axes]
    figure.suptitle("%s\n%s" % (meta.get("title", ""), meta.get("settings", "")), fontsize=11)

    top = axes[0]
    top.fill_between(time, columns["input_min"], columns["input_max"], color=INPUT_COLOUR, linewidth=0,
                     label="input")
    top.fill_between(time, columns["output_min"], columns["output_max"], color=OUTPUT_COLOUR, linewidth=0,
                     alpha=0.85, label="output")
    if has_threshold and not keyed_by_sidechain:
        threshold_lines(top, threshold)
    peak = max([abs(v) for v in columns["input_min"] + columns["input_max"] + columns["output_min"]
                + columns["output_max"]] or [1.0])
    top.set_title("input and output (peak per pixel column)", fontsize=10, loc="left")
    waveform_axes(top, peak)

    row = 1
    if keyed_by_sidechain:
        key = axes[row]
        key.fill_between(time, columns["key_min"], columns["key_max"], color=KEY_COLOUR, linewidth=0,
                         label="sidechain key")
        if has_threshold:
            threshold_lines(key, threshold)
        key_peak = max([abs(v) for v in columns["key_min"] + columns["key_max"]] or [1.0])
        key.set_title("sidechain key", fontsize=10, loc="left")
        waveform_axes(key, key_peak)
        row += 1

    if gain_method != "none":
        gain = axes[row]
        values = columns["gain_db"]
        gain.fill_between(time, values, 0.0, color=GAIN_COLOUR, alpha=0.25, linewidth=0)
        gain.plot(time, values, color=GAIN_COLOUR, linewidth=1.0)
        finite = [v for v in values if v == v]
        lowest = min(finite + [0.0])
        gain.set_ylim(min(lowest * 1.1, -1.0), 0.5)
        how = ("measured through a probe instance" if gain_method == "probe"
               else "estimated as output / input peak")
        largest = max(0.0, -lowest)  # never "-0.0"
        gain.set_title("gain reduction as applied (%s), largest %.1f dB" % (how, largest), fontsize=10, loc="left")
        gain.set_ylabel("gain (dB)")
        gain.grid(True, alpha=0.3)

    axes[-1].set_xlabel("time (s)")
    axes[-1].set_xlim(0.0, time[-1] + time[0] if time else 1.0)
    figure.tight_layout()
    figure.savefig(png, format="png")
    plt.close(figure)


def draw_curve(meta, columns, png):
    threshold = float(meta.get("threshold_db", "nan"))
    figure, axes = plt.subplots(figsize=(8, 6.5), dpi=120)
    figure.suptitle("%s\n%s" % (meta.get("title", ""), meta.get("settings", "")), fontsize=10)
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
    axes.grid(True, alpha=0.3)
    axes.legend(loc="upper left", fontsize="small")
    figure.tight_layout()
    figure.savefig(png, format="png")
    plt.close(figure)


def main(arguments):
    if len(arguments) % 2 != 0 or not arguments:
        sys.exit("usage: plot.py DATA.csv PICTURE.png [DATA.csv PICTURE.png ...]")
    for data_path, png in zip(arguments[0::2], arguments[1::2]):
        meta, columns = read_data(data_path)
        if "time_s" in columns:
            draw_render(meta, columns, png)
        elif "input_db" in columns:
            draw_curve(meta, columns, png)
        else:
            sys.exit("plot.py: %s has neither a time_s nor an input_db column" % data_path)


if __name__ == "__main__":
    main(sys.argv[1:])

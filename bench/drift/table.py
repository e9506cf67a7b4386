#!/usr/bin/env python3
"""Prints drift-cases.csv (written by `drift --csv DIR`) as a Markdown table with both modes of a
case in one row, each cell "whole frames / smooth"."""
import csv
import math
import sys


def number(value, fmt, never=False):
    x = float(value)
    if math.isnan(x) or (never and x < 0):
        return "never" if never else "n/a"
    return fmt % x


def main(path):
    rows = list(csv.DictReader(open(path, newline="")))
    cases = {}
    for r in rows:
        cases.setdefault((r["rate"], r["ppm"], r["block"]), {})[r["mode"]] = r
    print("| rate | output drift (ppm) | block | mean error (ms) | 99.9 % abs error (ms) | "
          "entry from +50 ms (s) | entry from -50 ms (s) | SINAD 1 kHz (dB) | "
          "worst minute 1 kHz (dB) | SINAD 10 kHz (dB) | smooth correction (ppm), changes/h | "
          "whole frames: StabValue, changes/h |")
    print("|---|---|---|---|---|---|---|---|---|---|---|---|")
    for (rate, ppm, block), modes in cases.items():
        if "block" not in modes or "smooth" not in modes:
            continue
        b, s = modes["block"], modes["smooth"]

        def pair(column, fmt, never=False):
            return number(b[column], fmt, never) + " / " + number(s[column], fmt, never)

        drift = float(ppm)
        print("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %+.0f..%+.0f, %.1f | "
              "%.0f..%.0f, %.0f |" % (
                  rate, "0" if drift == 0 else "%+.0f" % drift, block,
                  pair("mean_error_ms", "%+.2f"), pair("p999_ms", "%.2f"),
                  pair("entry_above_s", "%.1f", True), pair("entry_below_s", "%.1f", True),
                  pair("sinad_1k_db", "%.1f"), pair("sinad_1k_worst_minute_db", "%.1f"),
                  pair("sinad_10k_db", "%.1f"),
                  float(s["correction_min"]), float(s["correction_max"]),
                  float(s["changes_per_hour"]),
                  float(b["correction_min"]), float(b["correction_max"]),
                  float(b["changes_per_hour"])))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: table.py DIR/drift-cases.csv")
    main(sys.argv[1])

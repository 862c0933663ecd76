#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The results table of scripts/bench from made-up figures: medians, ratios, verdicts."""
import os
import subprocess
import sys
import tempfile
import unittest

BENCH = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(__file__), "..", "..", "..", "bench")
MiB = 1 << 20


def run_line(**figures):
    return " ".join(f"{k}={v}" for k, v in {"ok": 1, **figures}.items())


class Facts:
    def __init__(self):
        self.lines = []

    def add(self, *fields):
        self.lines.append("\t".join(str(f) for f in fields))

    def run(self, case, program, rep, status=0, **figures):
        self.add("run", case, program, rep, status, run_line(**figures))

    def case(self, name, entries, total, largest, package):
        self.add("entries", name, entries)
        self.add("total-bytes", name, total)
        self.add("largest", name, largest)
        self.add("size", "package-default", name, package)


def passing_facts():
    f = Facts()
    f.add("machine", "mode", "full")
    f.add("machine", "preset", "win64")
    f.add("machine", "nsis-target", "amd64-unicode")
    f.case("product", 55, 64 * MiB, 16 * MiB, int(41 * MiB * 0.985))
    f.case("scale10", 10, MiB // 4, 60000, MiB // 8)
    f.case("scale100", 100, 5 * MiB // 2, 60000, MiB)
    f.case("scale1000", 1000, 40 * MiB, 60000, 20 * MiB)
    f.case("big", 1, 190 * MiB, 190 * MiB, 100 * MiB)
    # Medians: update program 900, NSIS 1100 (0.82x), floor 600 (1.5x exactly).
    for rep, (t, n, fl) in enumerate([(800, 1200, 500), (1000, 1000, 700), (900, 1100, 600)]):
        f.run("product", "tidewell", rep, apply_ms=t, total_ms=t + 3000, shown_ms=400,
              peak_ws=78 * MiB, peak_private=30 * MiB)
        f.run("product", "nsis", rep, apply_ms=n, total_ms=n + 500, peak_ws=23 * MiB)
        f.run("product", "floor", rep, apply_ms=fl, total_ms=fl + 100, peak_ws=50 * MiB)
        # The zlib build: 1000, so libdeflate's 900 is exactly 10% less.
        f.run("product", "tidewell-zlib", rep, apply_ms=t + 100, total_ms=t + 3100,
              peak_ws=78 * MiB)
        f.run("baseline", "idle", rep, total_ms=600, peak_ws=7 * MiB)
        f.run("baseline", "nopackage", rep, total_ms=3000, shown_ms=380, apply_ms=20,
              peak_ws=25 * MiB)
        f.run("baseline", "nsis-window", rep, total_ms=2000, shown_ms=500)
        f.run("baseline", "nsis-empty", rep, total_ms=300)
        f.run("baseline", "empty", rep, total_ms=60)
    # 900 ms for 64 MiB is 14.1 ms/MiB; these stay under 1.5 times that.
    f.run("scale10", "tidewell", 1, apply_ms=5, total_ms=3000, peak_ws=26 * MiB)
    f.run("scale100", "tidewell", 1, apply_ms=52, total_ms=3000, peak_ws=27 * MiB)
    # Each round 1.5 times NSIS per entry, 1.15 times the 100 entries' per entry.
    for rep in range(3):
        f.run("scale1000", "tidewell", rep, apply_ms=600, total_ms=3000, peak_ws=30 * MiB)
        f.run("scale1000", "nsis", rep, apply_ms=400, total_ms=900, peak_ws=23 * MiB)
    f.run("big", "tidewell", 1, apply_ms=3000, total_ms=6000,
          peak_ws=(7 + 100 + 190 + 10) * MiB)
    # The default package 1.5% and --best 2.5% under the NSIS installer, each at its bound.
    f.add("size", "nsis-zlib", "product", 41 * MiB)
    f.add("size", "package-best", "product", int(41 * MiB * 0.975))
    for seconds in (5.0, 7.0, 6.0):
        f.add("build", "tidepack-program-signed", "product", seconds)
        f.add("build", "makensis-zlib", "product", 6.0)
    for rep, total in enumerate((10.0, 30.0, 20.0)):
        f.add("breakdown", "product", rep, "inflate", 55, total)
    return f


def report(facts):
    with tempfile.NamedTemporaryFile("w", suffix=".tsv", delete=False) as file:
        file.write("\n".join(facts.lines) + "\n")
    try:
        done = subprocess.run([sys.executable, os.path.join(BENCH, "report.py"), file.name],
                              capture_output=True, text=True, check=False)
    finally:
        os.unlink(file.name)
    return done.returncode, done.stdout


def verdicts(text):
    """Goal text -> (measured, verdict) from the Goals table."""
    rows = {}
    section = text.split("## Goals", 1)[1].split("\n## ", 1)[0]
    for line in section.splitlines():
        cells = [c.strip() for c in line.strip("|").split("|")]
        if len(cells) == 3 and cells[2] in ("**met**", "**not met**", "n/a"):
            rows[cells[0]] = (cells[1], cells[2])
    return rows


def goal(rows, prefix):
    matches = [v for k, v in rows.items() if k.startswith(prefix)]
    assert len(matches) == 1, (prefix, list(rows))
    return matches[0]


class ReportTest(unittest.TestCase):
    def test_every_goal_met_at_its_boundary(self):
        code, text = report(passing_facts())
        self.assertEqual(0, code, text)
        self.assertIn("| inflate | 55 | 20 ms | 0.364 ms |", text)
        rows = verdicts(text)
        cases = [("Apply time ≤ 0.85", "900 ms vs 1,100 ms; each round's: 0.82× (0.67–1.00"),
                 ("Apply time ≤ 1.5", "900 ms vs 600 ms: 1.50×"),
                 ("Peak memory", None),
                 ("Default package", "40.38 MiB vs 41.00 MiB: 0.98×"),
                 ("With --best", "39.97 MiB vs 41.00 MiB: 0.97×"),
                 ("tidepack program", "6.0 s vs 6.0 s: 1.00×"),
                 ("libdeflate cuts", "900 ms vs 1,000 ms with zlib: 10% less"),
                 ("Time per MiB", None),
                 ("Per entry ≤ 1.5", "1,000: 1.50× (1.50–1.50 over 3 rounds)"),
                 ("No slowdown per entry at 1,000", "0.60 vs 0.52 ms per entry at 100")]
        for prefix, measured in cases:
            with self.subTest(prefix):
                found, verdict = goal(rows, prefix)
                self.assertEqual("**met**", verdict, found)
                if measured:
                    self.assertIn(measured, found)

    def test_each_goal_missed_is_reported_not_met(self):
        cases = [
            # A round of its own: an NSIS run without ours beside it changes nothing.
            ("Apply time ≤ 0.85", lambda f: [f.run("product", p, 9, apply_ms=900, total_ms=1500,
                                                   peak_ws=23 * MiB) for p in ("tidewell", "nsis")]),
            ("Apply time ≤ 1.5", lambda f: f.run("product", "floor", 9, apply_ms=100,
                                                 total_ms=200, peak_ws=50 * MiB)),
            ("Peak memory", lambda f: f.run("big", "tidewell", 2, apply_ms=3000,
                                            total_ms=6000, peak_ws=400 * MiB)),
            ("Default package", lambda f: f.add("size", "package-default", "product",
                                                int(41 * MiB * 0.985) + 1)),
            ("With --best", lambda f: f.add("size", "package-best", "product",
                                            int(41 * MiB * 0.975) + 1)),
            ("tidepack program", lambda f: f.add("build", "tidepack-program-signed", "product",
                                                 6.1)),
            ("libdeflate cuts", lambda f: f.run("product", "tidewell-zlib", 9,
                                                apply_ms=990, total_ms=3990, peak_ws=78 * MiB)),
            ("Time per MiB", lambda f: f.run("scale10", "tidewell", 2, apply_ms=20,
                                             total_ms=3000, peak_ws=26 * MiB)),
            ("Per entry ≤ 1.5", lambda f: [f.run("scale1000", p, first + k, apply_ms=t,
                                                 total_ms=3000, peak_ws=30 * MiB)
                                           for first in [len(f.lines)] for k in (0, 1)
                                           for p, t in (("tidewell", 600), ("nsis", 350))]),
            # Cheaper small entries make the larger case's per entry cost a slowdown.
            ("No slowdown per entry", lambda f: f.run("scale100", "tidewell", 2, apply_ms=30,
                                                      total_ms=3000, peak_ws=26 * MiB)),
        ]
        for prefix, spoil in cases:
            with self.subTest(prefix):
                facts = passing_facts()
                spoil(facts)
                spoil(facts)  # two bad rounds of three move the median
                code, text = report(facts)
                self.assertEqual(0, code, text)
                rows = verdicts(text)
                self.assertEqual("**not met**", goal(rows, prefix)[1], text)
                met = [k for k, v in rows.items() if v[1] == "**met**"]
                self.assertEqual(len(rows) - 1, len(met), rows)

    def test_failed_run_is_listed_and_fails_the_report(self):
        facts = passing_facts()
        facts.run("product", "nsis", 7, status=1, apply_ms=5, files_differ=1)
        code, text = report(facts)
        self.assertEqual(1, code)
        self.assertIn("## Failed runs", text)
        self.assertIn("product nsis #7", text)
        self.assertIn("900 ms vs 1,100 ms", text)  # the failed run is not in the medians

    def test_compare_says_how_far_apart_the_runs_were(self):
        def run_with(product_ours):
            f = Facts()
            f.add("machine", "date", f"run {product_ours}")
            for rep in range(10, 13):
                for program, value in (("tidewell", product_ours), ("nsis", 1000)):
                    f.run("product", program, rep, apply_ms=value, total_ms=3000)
            return f
        for values, verdict in (((800, 850, 940), "±8% (within ±10%)"),
                                ((730, 760, 1140), "±22% (not within ±10%)")):
            with self.subTest(values):
                paths = []
                try:
                    for value in values:
                        with tempfile.NamedTemporaryFile("w", suffix=".tsv", delete=False) as f:
                            f.write("\n".join(run_with(value).lines) + "\n")
                        paths.append(f.name)
                    done = subprocess.run([sys.executable, os.path.join(BENCH, "report.py"),
                                           "--compare", *paths], capture_output=True, text=True,
                                          check=False)
                finally:
                    for path in paths:
                        os.unlink(path)
                self.assertEqual(0, done.returncode, done.stderr)
                apart = done.stdout.splitlines()[-1]
                self.assertIn(verdict, apart.split("|")[2])

    def test_missing_figures_give_no_verdict(self):
        facts = Facts()
        facts.add("machine", "mode", "quick")
        code, text = report(facts)
        self.assertEqual(0, code, text)
        self.assertTrue(all(v[1] == "n/a" for v in verdicts(text).values()), text)


if __name__ == "__main__":
    unittest.main()

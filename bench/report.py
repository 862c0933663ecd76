#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Turns the raw figures of scripts/bench (facts.tsv) into the results table, in Markdown.

Apply times are medians over the alternating rounds. The update program's apply time runs
from the press of Update to the Finish text; NSIS's and the floor's from the appearance of
the first file they install to the end of their process, so that no program's start-up
counts. The goals against NSIS take each round's own ratio (the two ran seconds apart, on the
same machine state) and their median: a machine that grows busier or quieter over the run
moves both programs of a round alike.

    report.py FACTS                 the results table
    report.py --compare FACTS...    the headline figures of several runs, and how far apart
"""
import statistics
import sys
from collections import defaultdict

MiB = 1 << 20


def parse_line(line):
    figures = {}
    for part in line.split():
        if "=" in part:
            key, value = part.split("=", 1)
            try:
                figures[key] = float(value)
            except ValueError:
                figures[key] = value.strip('"')
    return figures


def load(path):
    facts = {"build": defaultdict(list), "size": {}, "case": defaultdict(dict), "machine": {},
             "runs": defaultdict(list), "failed": [], "kinds": {},
             "breakdown": defaultdict(lambda: defaultdict(list))}
    with open(path, encoding="utf-8") as f:
        for raw in f:
            row = raw.rstrip("\n").split("\t")
            kind = row[0]
            if kind == "build":
                facts["build"][(row[1], row[2])].append(float(row[3]))
            elif kind == "size":
                facts["size"][(row[1], row[2])] = int(row[3])
            elif kind in ("total-bytes", "largest", "entries"):
                facts["case"][row[1]][kind] = int(row[2])
            elif kind == "kind":
                facts["kinds"][(row[1], row[2])] = (int(row[3]), int(row[4]))
            elif kind == "breakdown":
                # case, round, step, calls, milliseconds
                facts["breakdown"][row[1]][row[3]].append((int(row[4]), float(row[5])))
            elif kind == "machine":
                facts["machine"][row[1]] = row[2]
            elif kind == "run":
                case, program, rep, status, line = row[1], row[2], row[3], row[4], row[5]
                figures = parse_line(line)
                figures["rep"] = rep
                if status == "0" and figures.get("ok") == 1:
                    facts["runs"][(case, program)].append(figures)
                else:
                    facts["failed"].append(f"{case} {program} #{rep}: {line or 'no output'}")
    return facts


def median(values):
    return statistics.median(values) if values else None


def fig(runs, key):
    return median([r[key] for r in runs if key in r])


def paired(runs, case, program, other="nsis", key="apply_ms"):
    """Each round's `program` over `other` of the same round: (median, lowest, highest, rounds),
    or None when no round has both."""
    mine = {r["rep"]: r[key] for r in runs[(case, program)] if key in r}
    theirs = {r["rep"]: r[key] for r in runs[(case, other)] if key in r}
    ratios = sorted(mine[rep] / theirs[rep] for rep in mine if theirs.get(rep, 0) > 0)
    if not ratios:
        return None
    return median(ratios), ratios[0], ratios[-1], len(ratios)


def spread(value):
    """A paired ratio as "0.73× (0.70–0.81 over 5 rounds)"."""
    if value is None:
        return "n/a"
    mid, low, high, count = value
    return f"{mid:.2f}× ({low:.2f}–{high:.2f} over {count} rounds)"


def ms(value):
    return "n/a" if value is None else f"{value:,.0f} ms"


def ratio(a, b):
    return None if a is None or b is None or b <= 0 else a / b


def rx(value):
    return "n/a" if value is None else f"{value:.2f}×"


def mib(value):
    return "n/a" if value is None else f"{value / MiB:,.2f} MiB"


def per(total, count):
    return "n/a" if total is None else f"{total / count:.2f} ms"


def verdict(ok):
    return "n/a" if ok is None else ("**met**" if ok else "**not met**")


class Apply:
    """Median apply times of one case, with the baselines taken off."""

    def __init__(self, facts, case):
        runs = facts["runs"]
        self.tidewell = fig(runs[(case, "tidewell")], "apply_ms")
        self.tidewell_total = fig(runs[(case, "tidewell")], "total_ms")
        self.shown = fig(runs[(case, "tidewell")], "shown_ms")
        self.peak = fig(runs[(case, "tidewell")], "peak_ws")
        self.private = fig(runs[(case, "tidewell")], "peak_private")
        self.nsis_raw = fig(runs[(case, "nsis")], "total_ms")
        self.floor_raw = fig(runs[(case, "floor")], "total_ms")
        self.nsis = fig(runs[(case, "nsis")], "apply_ms")
        self.floor = fig(runs[(case, "floor")], "apply_ms")
        self.nsis_peak = fig(runs[(case, "nsis")], "peak_ws")
        self.floor_peak = fig(runs[(case, "floor")], "peak_ws")
        self.count = len(runs[(case, "tidewell")])


def main():
    facts = load(sys.argv[1])
    m, size, build, cases, runs = (facts["machine"], facts["size"], facts["build"],
                                   facts["case"], facts["runs"])
    out = []
    w = out.append
    w(f"# Benchmark results ({m.get('mode', '?')} run)\n")
    w("| Machine | |\n|---|---|")
    for key in ("date", "commit", "packager", "nproc", "cpu", "memory", "kernel", "wine", "makensis",
                "compiler", "preset", "nsis-target", "load-before", "load-after"):
        w(f"| {key} | {m.get(key, '?')} |")
    target = m.get("nsis-target", "?")
    w("")
    if m.get("preset") == "win64":
        w(f"This machine runs no 32-bit programs, so the 64-bit build of the update program "
          f"is compared with NSIS's `{target}` installer; where 32-bit Wine runs, the bench "
          f"pairs the 32-bit product with `x86-unicode`.\n")

    base = {
        "nsis_start": fig(runs[("baseline", "nsis-empty")], "total_ms"),
        "nsis_window": fig(runs[("baseline", "nsis-window")], "shown_ms"),
        "empty": fig(runs[("baseline", "empty")], "total_ms"),
        "idle_peak": fig(runs[("baseline", "idle")], "peak_ws"),
        "gui_peak": fig(runs[("baseline", "nopackage")], "peak_ws"),
        "gui_shown": fig(runs[("baseline", "nopackage")], "shown_ms"),
    }
    product = Apply(facts, "product")
    pc = cases.get("product", {})
    goals = []

    # Apply time.
    t_n = ratio(product.tidewell, product.nsis)
    t_f = ratio(product.tidewell, product.floor)
    p_n = paired(runs, "product", "tidewell")
    goals.append(("Apply time ≤ 0.85 × NSIS zlib (product corpus)",
                  f"{ms(product.tidewell)} vs {ms(product.nsis)}; each round's: {spread(p_n)}",
                  None if p_n is None else p_n[0] <= 0.85))
    goals.append(("Apply time ≤ 1.5 × our floor (product corpus)",
                  f"{ms(product.tidewell)} vs {ms(product.floor)}: {rx(t_f)}",
                  None if t_f is None else t_f <= 1.5))

    # The inflater trial: the program inflates with libdeflate, which is worth its leniency
    # (README, "The inflater") only while it cuts the apply by 10% or more against zlib.
    zlib_apply = fig(runs[("product", "tidewell-zlib")], "apply_ms")
    cut = ratio(product.tidewell, zlib_apply)
    goals.append(("libdeflate cuts the product corpus's apply by ≥ 10% against zlib",
                  f"{ms(product.tidewell)} vs {ms(zlib_apply)} with zlib: "
                  + ("n/a" if cut is None else f"{(1 - cut) * 100:.0f}% less"),
                  None if cut is None else cut <= 0.90))

    # Memory.
    mem_rows = []
    mem_ok = None
    for case in ["product"] + sorted((c for c in cases if c.startswith("scale")),
                                     key=lambda c: int(c[5:])) + ["big"]:
        if case not in cases:
            continue
        a = Apply(facts, case)
        package = size.get(("package-default", case))
        largest = cases[case].get("largest")
        if None in (package, largest, base["idle_peak"], a.peak):
            continue
        bound = base["idle_peak"] + package + largest + 16 * MiB
        ok = a.peak <= bound
        if case in ("product", "big"):
            mem_ok = ok if mem_ok is None else mem_ok and ok
        over_gui = None if base["gui_peak"] is None else a.peak - base["gui_peak"]
        mem_rows.append(f"| {case} | {mib(package)} | {mib(largest)} | {mib(a.peak)} | "
                        f"{mib(a.peak - base['idle_peak'])} | {mib(bound)} | "
                        f"{'yes' if ok else 'no'} | {mib(over_gui)} | {mib(a.private)} | "
                        f"{mib(a.nsis_peak)} | {mib(a.floor_peak)} |")
    goals.append(("Peak memory ≤ package + largest entry + 16 MiB over an empty Wine program "
                  "(product and the one large entry)",
                  "see the memory table", mem_ok))

    # Size, and the vendor's step.
    nsis_zlib = size.get(("nsis-zlib", "product"))
    default = size.get(("package-default", "product"))
    best = size.get(("package-best", "product"))
    level9 = size.get(("package-level9", "product"))
    d_r = ratio(default, nsis_zlib)
    b_r = ratio(best, nsis_zlib)
    goals.append(("Default package ≥ 1.5% smaller than the NSIS zlib installer",
                  f"{mib(default)} vs {mib(nsis_zlib)}: {rx(d_r)}",
                  None if d_r is None else d_r <= 0.985))
    goals.append(("With --best, package ≥ 2.5% smaller than the NSIS zlib installer",
                  f"{mib(best)} vs {mib(nsis_zlib)}: {rx(b_r)}",
                  None if b_r is None else b_r <= 0.975))
    program_time = median(build.get(("tidepack-program-signed", "product"), []))
    makensis_time = median(build.get(("makensis-zlib", "product"), []))
    p_r = ratio(program_time, makensis_time)
    goals.append(("tidepack program, manifest to signed Patch.exe, no slower than makensis zlib",
                  "n/a" if p_r is None else
                  f"{program_time:.1f} s vs {makensis_time:.1f} s: {rx(p_r)}",
                  None if p_r is None else p_r <= 1.0))

    # Linear cost.
    scale = sorted((c for c in cases if c.startswith("scale")), key=lambda c: int(c[5:]))
    per_mb_product = ratio(product.tidewell, pc.get("total-bytes", 0) / MiB)
    nsis_per_mb_product = ratio(product.nsis, pc.get("total-bytes", 0) / MiB)
    floor_per_mb_product = ratio(product.floor, pc.get("total-bytes", 0) / MiB)
    scale_rows = []
    linear_ok = None
    per_entry = {}
    for case in scale:
        a = Apply(facts, case)
        c = cases[case]
        if a.tidewell is None:
            continue
        mb = c["total-bytes"] / MiB
        pe = a.tidewell / c["entries"]
        per_entry[c["entries"]] = pe
        pm = a.tidewell / mb
        within = per_mb_product is not None and pm <= 1.5 * per_mb_product
        linear_ok = within if linear_ok is None else linear_ok and within
        scale_rows.append(
            f"| {c['entries']:,} | {mb:,.1f} | {ms(a.tidewell)} | {pe:.2f} ms | "
            f"{pm:.1f} ms | {rx(ratio(pm, per_mb_product))} | "
            f"{ms(a.nsis)} | {per(a.nsis, c['entries'])} | "
            f"{rx(ratio(ratio(a.nsis, mb), nsis_per_mb_product))} | "
            f"{ms(a.floor)} | {per(a.floor, c['entries'])} | "
            f"{rx(ratio(ratio(a.floor, mb), floor_per_mb_product))} | "
            f"{rx(ratio(a.tidewell, a.nsis))} | {rx(ratio(a.tidewell, a.floor))} | "
            f"{mib(a.peak)} |")
    goals.append(("Time per MiB across the scale series within 1.5× of the product corpus's",
                  f"product: {per_mb_product:.1f} ms/MiB; see the scale table"
                  if per_mb_product else "n/a", linear_ok))
    # Per entry against NSIS where the entries, not the bytes, make the time.
    many = [c for c in scale if cases[c]["entries"] >= 1000 and paired(runs, c, "tidewell")]
    goals.append(("Per entry ≤ 1.5 × NSIS zlib, 1,000 entries and more",
                  "; ".join(f"{cases[c]['entries']:,}: {spread(paired(runs, c, 'tidewell'))}"
                            for c in many) or "n/a",
                  all(paired(runs, c, "tidewell")[0] <= 1.5 for c in many) if many else None))
    counts = sorted(per_entry)
    slowdown = None
    if len(counts) >= 2:
        slowdown = per_entry[counts[-1]] / per_entry[counts[-2]]
    goals.append((f"No slowdown per entry at {counts[-1]:,} entries" if counts else
                  "No slowdown per entry",
                  f"{per_entry[counts[-1]]:.2f} vs {per_entry[counts[-2]]:.2f} ms per entry at "
                  f"{counts[-2]:,}: {rx(slowdown)} (met when ≤ 1.25×)" if slowdown else "n/a",
                  None if slowdown is None else slowdown <= 1.25))

    w("## Goals\n")
    w("| Goal | Measured | |\n|---|---|---|")
    for goal, measured, ok in goals:
        w(f"| {goal} | {measured} | {verdict(ok)} |")
    w("")

    w(f"## Apply time, product corpus ({pc.get('entries', '?')} files, "
      f"{mib(pc.get('total-bytes'))}; medians of {product.count} alternating rounds)\n")
    w("| Program | Apply | Whole run | Peak working set |\n|---|---|---|---|")
    w(f"| Update program (press Update → Finish) | {ms(product.tidewell)} | "
      f"{ms(product.tidewell_total)} (start to exit, driven) | {mib(product.peak)} |")
    w(f"| NSIS zlib, silent, into an empty folder | {ms(product.nsis)} | "
      f"{ms(product.nsis_raw)} | {mib(product.nsis_peak)} |")
    w(f"| Floor: inflate and write only | {ms(product.floor)} | {ms(product.floor_raw)} | "
      f"{mib(product.floor_peak)} |")
    w(f"\nRatios: update program / NSIS {rx(t_n)}, update program / floor {rx(t_f)}. "
      f"NSIS's and the floor's apply run from the appearance of their first file to their "
      f"end. For scale: a whole run of an NSIS installer with no files takes "
      f"{ms(base['nsis_start'])}, of an empty program {ms(base['empty'])}.\n")

    w("## Cost as the work grows (scale series: 4–64 KiB files; the big case: one entry)\n")
    w("Per MiB / product's: the case's time per MiB over the same program's time per MiB on "
      "the product corpus.\n")
    w("| Entries | MiB | Apply | Per entry | Per MiB | Per MiB / product's | NSIS | "
      "NSIS per entry | NSIS per MiB / product's | Floor | Floor per entry | "
      "Floor per MiB / product's | / NSIS | / floor | Peak |")
    w("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|")
    w("\n".join(scale_rows))
    big = Apply(facts, "big")
    if "big" in cases and big.tidewell is not None:
        mb = cases["big"]["total-bytes"] / MiB
        w(f"| 1 (big) | {mb:,.1f} | {ms(big.tidewell)} | – | {big.tidewell / mb:.1f} ms | "
          f"{rx(ratio(big.tidewell / mb, per_mb_product))} | {ms(big.nsis)} | – | "
          f"{rx(ratio(ratio(big.nsis, mb), nsis_per_mb_product))} | {ms(big.floor)} | – | "
          f"{rx(ratio(ratio(big.floor, mb), floor_per_mb_product))} | "
          f"{rx(ratio(big.tidewell, big.nsis))} | {rx(ratio(big.tidewell, big.floor))} | "
          f"{mib(big.peak)} |")
    w("")

    # NSIS reads and checks its whole data block before its first file appears, so its apply
    # window leaves that out. On one clock both run from their process's start, less the same
    # program with no files; ours leaves out the dialog's wait for the press of Update.
    clock_rows = []
    for case in ["product"] + scale:
        a = Apply(facts, case)
        if case not in cases or None in (a.tidewell, a.shown, a.nsis_raw, base["gui_shown"],
                                         base["nsis_start"]):
            continue
        ours = a.shown - base["gui_shown"] + a.tidewell
        nsis = a.nsis_raw - base["nsis_start"]
        entries = cases[case]["entries"]
        clock_rows.append(f"| {case} ({entries:,} entries) | {ms(ours)} | {ms(nsis)} | "
                          f"{per(ours, entries)} | {per(nsis, entries)} | "
                          f"{rx(ratio(ours, nsis))} |")
    optional_table(w, "On one clock: from process start, less the same program with no files",
                   "Ours: start-up with the package less start-up without one, plus the apply "
                   "(press of Update to Finish). NSIS: its whole silent run less that of an "
                   "installer with no files, so that reading and checking its data block counts.",
                   ["Case", "Ours", "NSIS", "Ours per entry", "NSIS per entry", "Ours / NSIS"],
                   clock_rows)

    # What the flush of each staged copy before its rename costs: the same package applied by
    # a build without it, in the same rounds.
    flush_rows = []
    for case in ["product"] + scale + ["big"]:
        with_flush = fig(runs[(case, "tidewell")], "apply_ms")
        without = fig(runs[(case, "tidewell-noflush")], "apply_ms")
        if case not in cases or with_flush is None or without is None:
            continue
        entries = cases[case]["entries"]
        flush_rows.append(f"| {case} ({entries:,} {'entry' if entries == 1 else 'entries'}) | {ms(with_flush)} | {ms(without)} | "
                          f"{(with_flush - without) / entries:.2f} ms | "
                          f"{rx(ratio(with_flush, without))} |")
    optional_table(w, "What the flush before each rename costs (medians, same rounds)",
                   "The update program against a build of it that does not flush the staged copy "
                   "before renaming it over the target (`-DTIDEWELL_BENCH_NO_FLUSH=ON`, never "
                   "shipped).",
                   ["Case", "Apply", "Without the flush", "Flush per entry", "Ratio"], flush_rows)

    # How far apart the rounds were, beside what the machine was doing when each began.
    spread_rows = []
    for case in ["product"] + scale:
        mine, theirs = runs[(case, "tidewell")], runs[(case, "nsis")]
        if not mine or not theirs:
            continue
        times = sorted(r["apply_ms"] for r in mine)
        nsis_times = sorted(r["apply_ms"] for r in theirs)
        busy = [r["busy_before"] for r in mine + theirs if "busy_before" in r]
        spread_rows.append(
            f"| {case} | {ms(times[0])} – {ms(times[-1])} | {ms(nsis_times[0])} – "
            f"{ms(nsis_times[-1])} | {spread(paired(runs, case, 'tidewell'))} | "
            f"{f'{max(busy):.0f}%' if busy else 'n/a'} |")
    optional_table(w, "How far apart the rounds were",
                   "Each program's fastest and slowest round, and each round's own ratio. Busy: "
                   "the most of the machine's CPUs that other work took in the half second "
                   "before a run began (the bench waits up to 5 s for under 20%).",
                   ["Case", "Update program", "NSIS", "Update program / NSIS, each round",
                    "Busy before, at most"], spread_rows)

    breakdown_section(facts, w)

    w("## Peak memory (read from outside: the process's peak working set, i.e. the kernel's "
      "high-water mark of its resident set)\n")
    w(f"Empty Wine program (a console program that only waits): {mib(base['idle_peak'])}; "
      f"the update program without a package, driven to Finish (Wine's GUI libraries and "
      f"the X driver loaded): {mib(base['gui_peak'])}. Bound = empty program + package + "
      f"largest entry + 16 MiB. Private is the largest sampled anonymous memory "
      f"(RssAnon).\n")
    w("| Case | Package | Largest entry | Peak | Peak − empty | Bound | Within | "
      "Peak − no-package program | Private (sampled) | NSIS peak | Floor peak |")
    w("|---|---|---|---|---|---|---|---|---|---|---|")
    w("\n".join(mem_rows))
    w("")

    w("## Package size, product corpus\n")
    w("| What | Size | / NSIS zlib |\n|---|---|---|")
    rows = [("Package, tidepack (libdeflate level 12)", default),
            ("Package, tidepack --best", best),
            ("Package, zlib level 9 (the package writer)", level9),
            ("Update program with the default package", size.get(("program", "product"))),
            ("Signed Patch.exe from tidepack program", size.get(("patch-program-signed",
                                                                  "product"))),
            ("Update program without a package", size.get(("program-nopackage", "-"))),
            ("NSIS installer, zlib", nsis_zlib), ("NSIS installer, lzma",
                                                   size.get(("nsis-lzma", "product"))),
            ("NSIS installer with no files", size.get(("nsis-stub", "-")))]
    for name, value in rows:
        w(f"| {name} | {'n/a' if value is None else f'{value:,} bytes ({mib(value)})'} | "
          f"{rx(ratio(value, nsis_zlib))} |")
    w("")

    kind_names = sorted({k for (_, k) in facts["kinds"]})
    if kind_names:
        w("Where the bytes go (product corpus): each kind of file, its size and its streams "
          "in our package.\n")
        w("| Kind | Bytes | zlib level 9 | Default | --best | Default / level 9 |\n"
          "|---|---|---|---|---|---|")
        for k in kind_names:
            size9, out9 = facts["kinds"].get(("level9", k), (0, None))
            _, outd = facts["kinds"].get(("default", k), (0, None))
            _, outb = facts["kinds"].get(("best", k), (0, None))
            w(f"| {k} | {mib(size9) if size9 else '–'} | {mib(out9)} | {mib(outd)} | "
              f"{mib(outb)} | {rx(ratio(outd, out9))} |")
        w("")

    w("## Build time, product corpus (both cores)\n")
    w("| Tool | Time |\n|---|---|")
    for (tool, case), label in [(("tidepack-default", "product"), "tidepack build"),
                                (("tidepack-best", "product"), "tidepack build --best"),
                                (("tidepack-program-signed", "product"),
                                 "tidepack program --sign (manifest → signed Patch.exe)"),
                                (("tidepack-program-command", "product"),
                                 "the same by --sign-command (osslsigncode behind a script)"),
                                (("tidepack-exe-program-command", "product"),
                                 "tidepack.exe under 64-bit Wine, the same by --sign-command"),
                                (("makensis-zlib", "product"), "makensis, zlib"),
                                (("makensis-lzma", "product"), "makensis, lzma")]:
        value = median(build.get((tool, case), []))
        w(f"| {label} | {'n/a' if value is None else f'{value:.1f} s'} |")
    w("")

    w("## Start-up (program start → its window shown)\n")
    w(f"| Update program with the product package | {ms(product.shown)} |\n|---|---|")
    w(f"| Update program without a package | {ms(base['gui_shown'])} |")
    w(f"| NSIS installer with no files (first page) | {ms(base['nsis_window'])} |")
    w(f"\nRatio: {rx(ratio(product.shown, base['nsis_window']))}.\n")

    if facts["failed"]:
        w("## Failed runs\n")
        for line in facts["failed"]:
            w(f"- {line}")
        w("")
    print("\n".join(out))
    return 1 if facts["failed"] else 0


def optional_table(w, title, intro, columns, rows):
    """A section with its table, left out when no case has its figures."""
    if not rows:
        return
    w(f"## {title}\n")
    w(f"{intro}\n")
    w("| " + " | ".join(columns) + " |\n|" + "---|" * len(columns))
    w("\n".join(rows))
    w("")


def breakdown_section(facts, w):
    """The breakdown build's totals per step, medians over its runs, per entry beside NSIS's."""
    cases = [c for c in ("product", "scale1000") if c in facts["breakdown"]]
    if not cases:
        return
    runs = facts["runs"]
    w("## Where the update program's time goes (the breakdown build, medians)\n")
    w("Each step's total over the run, from `-DTIDEWELL_BENCH_BREAKDOWN=ON` (never shipped). "
      "Flush, staged close and rename run on the pool's threads beside the run, so the steps "
      "add up to more than the run's wall time; pool wait is the run's thread waiting for them.\n")
    w("| Step | " + " | ".join(f"{c}: calls | total | per entry" for c in cases) + " |")
    w("|---|" + "---|---|---|" * len(cases))
    steps = list(dict.fromkeys(s for c in cases for s in facts["breakdown"][c]))
    for step in steps:
        cells = []
        for c in cases:
            values = facts["breakdown"][c].get(step, [])
            calls, total = median([v[0] for v in values]), median([v[1] for v in values])
            entries = facts["case"].get(c, {}).get("entries")
            cells.append(f"{'n/a' if calls is None else f'{calls:,.0f}'} | {ms(total)} | "
                         f"{'n/a' if total is None or not entries else f'{total / entries:.3f} ms'}")
        w(f"| {step} | " + " | ".join(cells) + " |")
    for label, program, key in (("Breakdown build, press → Finish", "tidewell-breakdown",
                                 "apply_ms"), ("Update program, press → Finish", "tidewell",
                                               "apply_ms"), ("NSIS zlib, apply", "nsis",
                                                             "apply_ms")):
        cells = []
        for c in cases:
            value = fig(runs[(c, program)], key)
            entries = facts["case"].get(c, {}).get("entries")
            cells.append(f"| {ms(value)} | "
                         f"{'n/a' if value is None or not entries else f'{value / entries:.3f} ms'}")
        w(f"| {label} | " + " | ".join(cells) + " |")
    w("")


def kinds(files_tsv, package_path, label):
    """Facts of one package: for each kind of file, its bytes and their compressed size."""
    import struct
    with open(files_tsv, encoding="utf-8") as f:
        rows = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    with open(package_path, "rb") as f:
        package = f.read()
    totals = defaultdict(lambda: [0, 0])
    for i, row in enumerate(rows):
        record = 2488 + 4368 * i
        _, compressed, size = struct.unpack_from("<III", package, record)
        totals[row[2]][0] += size
        totals[row[2]][1] += compressed
    totals["entry records"] = [0, 2488 + 4368 * len(rows)]
    for kind, (size, compressed) in sorted(totals.items()):
        print(f"kind\t{label}\t{kind}\t{size}\t{compressed}")
    return 0


def compare(paths):
    """The headline figures of several full runs side by side, and how far apart they were."""
    columns = [("product, apply / NSIS", lambda f: paired(f["runs"], "product", "tidewell"))]
    for entries in (1000, 10000):
        columns.append((f"{entries:,} entries, per entry / NSIS",
                        lambda f, c=f"scale{entries}": paired(f["runs"], c, "tidewell")))
    print("| Run | " + " | ".join(title for title, _ in columns) + " |")
    print("|---|" + "---|" * len(columns))
    values = [[] for _ in columns]
    for path in paths:
        facts = load(path)
        m = facts["machine"]
        cells = []
        for k, (_, figure) in enumerate(columns):
            value = figure(facts)
            cells.append(spread(value))
            if value is not None:
                values[k].append(value[0])
        print(f"| {m.get('date', path)}, {m.get('commit', '?')}, load before "
              f"{m.get('load-before', '?')} | " + " | ".join(cells) + " |")
    apart = []
    for v in values:
        if len(v) < 2:
            apart.append("n/a")
            continue
        mid = (max(v) + min(v)) / 2
        within = (max(v) - mid) / mid
        apart.append(f"{min(v):.2f}–{max(v):.2f}×: ±{within * 100:.0f}% "
                     f"({'within' if within <= 0.10 else 'not within'} ±10%)")
    print("| How far apart | " + " | ".join(apart) + " |")
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "--kinds":
        sys.exit(kinds(*sys.argv[2:]))
    if len(sys.argv) >= 3 and sys.argv[1] == "--compare":
        sys.exit(compare(sys.argv[2:]))
    sys.exit(main())

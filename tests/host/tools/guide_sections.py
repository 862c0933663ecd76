#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""guide_sections.py GUIDE TRANSLATION: fails unless both have the same numbered sections at
the same levels, each with as many code blocks and table rows."""
import re
import sys


def sections(path):
    found, fenced, previous = [], False, ""
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        example = line.startswith("    ") and not previous.strip()
        previous = line
        if line.startswith("```"):
            fenced = not fenced
        heading = None if fenced else re.match(r"(#{2,}) (\S+)", line)
        if heading:
            label = re.fullmatch(r"(\d+(?:\.\d+)*)\.?", heading.group(2))
            if not label:
                sys.exit(f"{path}:{number}: a section without a number: {line.strip()}")
            found.append([heading.group(1), label.group(1), 0, 0])
        elif found and ((fenced and line.startswith("```")) or (example and not fenced)):
            found[-1][2] += 1
        elif found and not fenced and line.startswith("|") and "---" not in line:
            found[-1][3] += 1
    return [f"{h} {n} ({b} code blocks, {r} table rows)" for h, n, b, r in found]


guide, translation = sections(sys.argv[1]), sections(sys.argv[2])
for k in range(max(len(guide), len(translation))):
    a, b = (s[k] if k < len(s) else "nothing" for s in (guide, translation))
    if a != b:
        sys.exit(f"{sys.argv[2]} is not in step with {sys.argv[1]}: section {k + 1} is {b} "
                 f"there, {a} here")
print(f"{len(guide)} sections in step")

#!/usr/bin/env python3
"""guide_sections.py GUIDE TRANSLATION

Fails when the translation's sections are not the guide's: the same numbered headings at the
same levels, each with as many code blocks and table rows, so a section added, moved or
extended in one guide and not the other is caught.
"""
import re
import sys


def sections(path):
    found, current, fenced, previous = [], None, False, ""
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        starts_example = line.startswith("    ") and not previous.strip()
        previous = line
        if line.startswith("```"):
            fenced = not fenced
            if fenced and current:
                current[2] += 1
            continue
        if fenced:
            continue
        heading = re.match(r"(#{2,}) (\S+)", line)
        if heading:
            label = re.fullmatch(r"(\d+(?:\.\d+)*)\.?", heading.group(2))
            if not label:
                sys.exit(f"{path}:{number}: a section without a number: {line.strip()}")
            current = [len(heading.group(1)), label.group(1), 0, 0]
            found.append(current)
        elif current and starts_example:
            current[2] += 1
        elif current and line.startswith("|") and not re.match(r"\|[-| ]+\|$", line.strip()):
            current[3] += 1
    return [tuple(s) for s in found]


def describe(section):
    level, number, blocks, rows = section
    return f"{'#' * level} {number} ({blocks} code blocks, {rows} table rows)"


guide, translation = sections(sys.argv[1]), sections(sys.argv[2])
if guide != translation:
    for k in range(max(len(guide), len(translation))):
        a = describe(guide[k]) if k < len(guide) else "nothing"
        b = describe(translation[k]) if k < len(translation) else "nothing"
        if a != b:
            sys.exit(f"{sys.argv[2]} is not in step with {sys.argv[1]}: section {k + 1} is "
                     f"{b} there, {a} here")
print(f"{len(guide)} sections in step")

#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""tidepack's house keeps its shape: only commands/ includes commands/, and no two files of
tools/ reach each other through their includes. A .cpp and the .h of the same stem are one
file here, so a library's source including another's header counts as that library's edge.

usage: include_check.py TOOLS_DIR"""

import re
import sys
from pathlib import Path

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def graph(tools):
    """Each file's node (folder/stem) and the nodes of tools/ it includes, with the lines that
    make each edge, for the message."""
    edges, why, root = {}, {}, tools.resolve()
    for path in sorted(tools.rglob("*")):
        if path.suffix not in (".cpp", ".h"):
            continue
        node = path.relative_to(tools).with_suffix("").as_posix()
        edges.setdefault(node, set())
        for name in INCLUDE.findall(path.read_text(encoding="utf-8", errors="replace")):
            found = [p.resolve() for p in (tools / name, path.parent / name) if p.is_file()]
            if not found or root not in found[0].parents:
                continue  # the program's own headers (src/) and the system's
            target = found[0].relative_to(root).with_suffix("").as_posix()
            if target != node:
                edges[node].add(target)
                why.setdefault((node, target), f"{path.relative_to(tools)} includes {name}")
    return edges, why


def circles(edges):
    """The strongly connected parts of more than one node (Tarjan's algorithm)."""
    index, low, stack, on, found = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on.add(node)
        for target in sorted(edges.get(node, ())):
            if target not in index:
                visit(target)
                low[node] = min(low[node], low[target])
            elif target in on:
                low[node] = min(low[node], index[target])
        if low[node] == index[node]:
            part = []
            while True:
                top = stack.pop()
                on.discard(top)
                part.append(top)
                if top == node:
                    break
            if len(part) > 1:
                found.append(sorted(part))

    sys.setrecursionlimit(10000)
    for node in sorted(edges):
        if node not in index:
            visit(node)
    return found


def faults(tools):
    edges, why = graph(tools)
    found = []
    for (source, target), line in sorted(why.items()):
        if target.startswith("commands/") and not source.startswith("commands/"):
            found.append(f"{line}: only commands/ may include the commands")
    for part in circles(edges):
        found.append("files that include each other: " + "; ".join(
            why[edge] for edge in one_circle(part, edges)))
    return found


def one_circle(part, edges):
    """A shortest way round from the part's first node back to it, as its edges."""
    start, inside = part[0], set(part)
    came = {start: None}
    queue = [start]
    while queue:
        node = queue.pop(0)
        for target in sorted(edges[node] & inside):
            if target == start:
                path = [(node, start)]
                while came[node] is not None:
                    path.append((came[node], node))
                    node = came[node]
                return list(reversed(path))
            if target not in came:
                came[target] = node
                queue.append(target)
    return []


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    tools = Path(sys.argv[1])
    if not (tools / "commands").is_dir():
        sys.exit(f"{tools}: no commands/ folder")
    found = faults(tools)
    for line in found:
        print(line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())

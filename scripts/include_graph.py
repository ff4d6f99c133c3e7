#!/usr/bin/env python3
"""The include graph between the project's folders, checked.

    scripts/include_graph.py [--show]

Reads every #include "folder/..." of the project's C++ files and fails (exit 1, saying where)
when the product code of a folder includes a folder that is not below it in LAYERS, when a
folder with C++ files is in no layer, or when the folders, tests included, include each other
in a cycle. Tests (*_test*.cc and testing/) may reach up, to test a folder with what is built on
it, but never round. --show prints the graph, an arrow a line.
"""

import collections
import os
import re
import subprocess
import sys

# Bottom first. A folder's product code includes only folders of lower layers.
LAYERS = [
    ["text", "test_support", "hash", "win32", "cmdline"],
    ["mime", "html"],
    ["fs", "dbx"],
    ["engine", "gen"],
    ["catalogue", "output", "discovery", "framework"],
    ["rescue", "job"],
    ["cli", "app", "bench"],
    ["fuzz"],
]

INCLUDE = re.compile(r'\s*#\s*include\s+"([^"/]+)/')
TEST = re.compile(r"(_test(_\w+)?\.cc$|/testing/)")


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    files = source_files(root)
    level = {folder: i for i, layer in enumerate(LAYERS) for folder in layer}
    edges = collections.defaultdict(set)  # (from, to) -> files
    problems = []
    for path in files:
        folder = path.split("/")[0]
        if "/" not in path:
            continue
        if folder not in level:
            problems.append(f"{path}: its folder {folder}/ is in no layer of scripts/include_graph.py")
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = INCLUDE.match(line)
                if not m or m.group(1) == folder or m.group(1) not in level:
                    continue
                target = m.group(1)
                edges[(folder, target)].add(path)
                if not TEST.search(path) and level[target] >= level[folder]:
                    problems.append(f"{path}:{number}: {folder}/ includes {target}/, which is "
                                    "not below it")

    graph = collections.defaultdict(set)
    for a, b in edges:
        graph[a].add(b)
    for group in cycles(graph):
        problems.append("these folders include each other, round: " + ", ".join(group))

    if "--show" in sys.argv[1:]:
        for (a, b), paths in sorted(edges.items()):
            tests = sum(1 for p in paths if TEST.search(p))
            print(f"{a} -> {b}: {len(paths) - tests} product files, {tests} test files")
    for problem in problems:
        print(problem, file=sys.stderr)
    if not problems:
        folders = {folder for edge in edges for folder in edge}
        print(f"{len(edges)} arrows between {len(folders)} folders: no cycle, none upward")
    return 1 if problems else 0


def source_files(root):
    """The working tree's C++ files: tracked and new ones git does not ignore; without git, every
    one outside build/."""
    try:
        listed = subprocess.run(["git", "ls-files", "--cached", "--others", "--exclude-standard",
                                 "*.cc", "*.h"], cwd=root, check=True, capture_output=True,
                                text=True).stdout.split()
    except (OSError, subprocess.CalledProcessError):
        listed = []
        for folder, subfolders, names in os.walk(root):
            subfolders[:] = [d for d in subfolders if d not in ("build", ".git")]
            listed += [os.path.relpath(os.path.join(folder, n), root) for n in names
                       if n.endswith((".cc", ".h"))]
    return sorted({p for p in listed if os.path.exists(os.path.join(root, p))})


def cycles(graph):
    """Each group of more than one folder that reach each other (Tarjan's components)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []

    def visit(node):
        index[node] = low[node] = len(index)
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(graph.get(node, ())):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            group = []
            while True:
                member = stack.pop()
                on_stack.discard(member)
                group.append(member)
                if member == node:
                    break
            if len(group) > 1:
                found.append(sorted(group))

    for node in sorted(graph):
        if node not in index:
            visit(node)
    return found


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The program's include graph, checked: no circle and no arrow against the layout's
order. A module is a header and its source together (mods/install/file_replace.h and
.cpp); an arrow runs from a module to each module it includes.

    scripts/check_includes.py [--print]

Rules, on the product folders app/, wizard/ and mods/:
  - no two modules include each other, directly or around a circle;
  - nothing in mods/ includes from wizard/;
  - mods/download/ and mods/record/ never include from mods/install/.
--print also lists every module with its arrows and the deepest chain of includes.
Exit 0 when every rule holds, 1 otherwise, each broken rule on a line of its own.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ("app", "wizard", "mods")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
# (from, to): a module under the first folder must not include one under the second.
FORBIDDEN = (("mods/", "wizard/"), ("mods/download/", "mods/install/"),
             ("mods/record/", "mods/install/"))


def modules():
    """{module: set of modules it includes}, modules named by path less extension."""
    graph = {}
    for folder in FOLDERS:
        for here, _, names in os.walk(os.path.join(ROOT, folder)):
            for name in names:
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(here, name)
                module = os.path.splitext(os.path.relpath(path, ROOT))[0].replace(os.sep, "/")
                with open(path, encoding="utf-8") as source:
                    targets = {os.path.splitext(t)[0] for t in INCLUDE.findall(source.read())
                               if t.startswith(tuple(f + "/" for f in FOLDERS))}
                graph.setdefault(module, set()).update(targets - {module})
    return graph


def circles(graph):
    """Each circle once, as a list of modules that ends where it starts."""
    found, state, stack = [], {}, []

    def visit(module):
        state[module] = "open"
        stack.append(module)
        for target in sorted(graph.get(module, ())):
            if state.get(target) == "open":
                found.append(stack[stack.index(target):] + [target])
            elif target not in state:
                visit(target)
        stack.pop()
        state[module] = "done"

    for module in sorted(graph):
        if module not in state:
            visit(module)
    return found


def deepest_chain(graph):
    longest = {}

    def chain(module):
        if module not in longest:
            longest[module] = [module]
            below = [chain(t) for t in graph.get(module, ()) if t in graph]
            longest[module] = [module] + max(below, key=len, default=[])
        return longest[module]

    return max((chain(m) for m in graph), key=len, default=[])


def main():
    graph = modules()
    broken = []
    for circle in circles(graph):
        broken.append("circle: " + " -> ".join(circle))
    for module, targets in sorted(graph.items()):
        for target in sorted(targets):
            if target not in graph:
                broken.append(f"{module} includes {target}, which is not there")
            for source, forbidden in FORBIDDEN:
                if module.startswith(source) and target.startswith(forbidden):
                    broken.append(f"against the order: {module} -> {target}")
    if "--print" in sys.argv:
        for module, targets in sorted(graph.items()):
            print(f"{module}: {' '.join(sorted(targets))}")
        if not circles(graph):
            chain = deepest_chain(graph)
            print(f"deepest chain ({len(chain)} modules): {' -> '.join(chain)}")
    for line in broken:
        print(line)
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())

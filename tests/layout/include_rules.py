#!/usr/bin/env python3
"""Checks the include rules that the top-level folders' README.md files state.

Each folder with C or C++ sources has a README.md with two lines:

    May include: `core/`, `platform/`.
    Never included by: `platform/`, `bridge/`.

(`(none)` for an empty list). Every `#include "X/..."` in the folder must
name a folder of its "May include" line (a folder may always include
itself), and no folder listed under "Never included by" may include it.
Includes that do not start with a top-level folder of the tree (the build's
generated `murvane/` headers, a file beside the includer) are not rules'
business; `Protocol/...` is the kit's headers (`integration/`).

usage: include_rules.py ROOT          check the tree at ROOT
       include_rules.py --self-test   plant violations in a scratch tree and
                                      require that each one is reported
Exit 0 when every rule holds, 1 with one line per broken rule, 2 on bad use.
"""
import os
import re
import shutil
import sys
import tempfile

SOURCE_SUFFIXES = (".c", ".cpp", ".h", ".h.in")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
FOLDER = re.compile(r"`([a-z][a-z0-9_-]*)/`")
KIT_INCLUDE_ROOTS = {"Protocol": "integration"}


def folders(root):
    return sorted(
        d
        for d in os.listdir(root)
        if os.path.isdir(os.path.join(root, d)) and not d.startswith(".") and d != "build"
    )


def sources(root, folder):
    for here, dirs, files in os.walk(os.path.join(root, folder)):
        dirs[:] = sorted(d for d in dirs if not d.startswith("."))
        for f in sorted(files):
            if f.endswith(SOURCE_SUFFIXES):
                yield os.path.join(here, f)


def read_rules(root, folder, problems):
    """The folder's (may include, never included by) from its README, or None."""
    path = os.path.join(root, folder, "README.md")
    if not os.path.isfile(path):
        problems.append(f"{folder}/README.md: missing (a folder with C or C++ sources states its include rules)")
        return None
    may = never = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("May include:"):
                may = set(FOLDER.findall(line))
            elif line.startswith("Never included by:"):
                never = set(FOLDER.findall(line))
    if may is None or never is None:
        problems.append(f"{folder}/README.md: no 'May include:' or 'Never included by:' line")
        return None
    return may | {folder}, never


def check(root):
    problems = []
    tops = folders(root)
    with_sources = [d for d in tops if next(sources(root, d), None) is not None]
    rules = {d: read_rules(root, d, problems) for d in with_sources}
    for folder in with_sources:
        for path in sources(root, folder):
            rel = os.path.relpath(path, root)
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m or "/" not in m.group(1):
                        continue
                    first = m.group(1).split("/", 1)[0]
                    target = KIT_INCLUDE_ROOTS.get(first, first)
                    if target == folder or target not in tops:
                        continue
                    own = rules.get(folder)
                    if own and target not in own[0]:
                        problems.append(f"{rel}:{number}: includes {m.group(1)}, but {folder}/README.md "
                                        f"does not let {folder}/ include {target}/")
                    theirs = rules.get(target)
                    if theirs and folder in theirs[1]:
                        problems.append(f"{rel}:{number}: includes {m.group(1)}, but {target}/README.md "
                                        f"says {folder}/ never includes it")
    return problems


def self_test():
    """A scratch tree with one broken rule of each kind: each must be reported."""
    scratch = tempfile.mkdtemp(prefix="include-rules-")
    try:
        def write(rel, text):
            os.makedirs(os.path.dirname(os.path.join(scratch, rel)), exist_ok=True)
            with open(os.path.join(scratch, rel), "w", encoding="utf-8") as f:
                f.write(text)

        write("low/README.md", "May include: (none)\nNever included by: (none)\n")
        write("low/low.h", "#pragma once\n")
        write("mid/README.md", "May include: `low/`.\nNever included by: `low/`.\n")
        write("mid/mid.h", '#include "low/low.h"\n')
        write("top/README.md", "May include: `mid/`, `low/`.\nNever included by: `mid/`.\n")
        write("top/top.cpp", '#include "mid/mid.h"\n#include "murvane/version.h"\n#include "top/top.h"\n')
        write("top/top.h", "#pragma once\n")
        if check(scratch):
            print("self-test: a tree that keeps its rules was reported:", *check(scratch), sep="\n  ")
            return 1
        write("low/up.cpp", '#include "mid/mid.h"\n')  # not in low's "May include", and mid says never
        write("lost/lost.cpp", "int lost;\n")  # sources without a README
        write("plain/README.md", "# plain\n")  # a README without the lines
        write("plain/plain.c", "int plain;\n")
        found = check(scratch)
        expected = [
            "low/up.cpp:1: includes mid/mid.h, but low/README.md does not let low/ include mid/",
            "low/up.cpp:1: includes mid/mid.h, but mid/README.md says low/ never includes it",
            "lost/README.md: missing",
            "plain/README.md: no 'May include:'",
        ]
        missed = [e for e in expected if not any(p.startswith(e) for p in found)]
        if missed or len(found) != len(expected):
            print("self-test: expected these reports:", *expected, "got:", *found, sep="\n  ")
            return 1
        print(f"self-test: all {len(expected)} planted violations reported")
        return 0
    finally:
        shutil.rmtree(scratch)


def main(argv):
    if argv == ["--self-test"]:
        return self_test()
    if len(argv) != 1 or not os.path.isdir(argv[0]):
        print("usage: include_rules.py ROOT | --self-test", file=sys.stderr)
        return 2
    problems = check(argv[0])
    for p in problems:
        print(p)
    if problems:
        return 1
    print("include rules: every folder keeps the rules its README states")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

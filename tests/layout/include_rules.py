#!/usr/bin/env python3
"""Checks the include rules that the folders' README.md files state.

Every top-level folder has a README.md. Each one with C or C++ sources
states its rules in two lines:

    May include: `core/`, `platform/`.
    Never included by: `platform/`, `bridge/`.

(`(none)` for an empty list). A nested folder with rules of its own
(`sim/models/`, `tools/common/`) has a README.md with the same two lines;
a nested README.md with sources below it must have them. A file keeps the
rules of the nearest README.md above it: every `#include "X/..."` in it
must name a path under its own rules' folder or under a folder of their
"May include" line, and no file under a folder of the included file's
"Never included by" line may include it (a folder may always include what
is below it). Includes that do not start with a top-level folder of the
tree (the build's generated `murvane/` headers, a file beside the
includer) are not rules' business; `Protocol/...` is the kit's headers
(`integration/`). Folders the tree ignores (the root .gitignore's `/name/`
lines, `build/`) are not read.

usage: include_rules.py ROOT          check the tree at ROOT
       include_rules.py --self-test   plant violations in a scratch tree and
                                      require that each one is reported
Exit 0 when every rule holds, 1 with one line per broken rule, 2 on bad use.
"""
import os
import re
import sys

# The self-tests' shared helpers sit beside this file; their bytecode stays
# out of the checkout.
sys.dont_write_bytecode = True
from self_test_tree import all_reported, quiet, scratch_tree

SOURCE_SUFFIXES = (".c", ".cpp", ".h", ".h.in")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
FOLDER = re.compile(r"`([a-z][a-z0-9_-]*(?:/[a-z0-9_-]+)*)/`")
KIT_INCLUDE_ROOTS = {"Protocol": "integration/MurvanePkg/Include/Protocol"}


def ignored(root):
    """The top-level folders the tree ignores: build/ and the root .gitignore's /name/ lines."""
    names = {"build"}
    path = os.path.join(root, ".gitignore")
    if os.path.isfile(path):
        with open(path, encoding="utf-8") as f:
            names |= {m.group(1) for m in (re.match(r"^/([^/*?\[]+)/\s*$", line) for line in f) if m}
    return names


def folders(root):
    skip = ignored(root)
    return sorted(
        d
        for d in os.listdir(root)
        if os.path.isdir(os.path.join(root, d)) and not d.startswith(".") and d not in skip
    )


def sources(root, folder):
    for here, dirs, files in os.walk(os.path.join(root, folder)):
        dirs[:] = sorted(d for d in dirs if not d.startswith("."))
        for f in sorted(files):
            if f.endswith(SOURCE_SUFFIXES):
                yield os.path.join(here, f)


def under(path, folder):
    """Whether the relative path (a file or a folder) lies in folder."""
    return path == folder or path.startswith(folder + "/")


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
    return may, never


def rule_folders(root, tops, problems):
    """Every folder whose README.md holds its files: the top-level folders
    with sources, and the nested folders with a README.md and sources below."""
    found = []
    for top in tops:
        if next(sources(root, top), None) is None:
            if not os.path.isfile(os.path.join(root, top, "README.md")):
                problems.append(f"{top}/README.md: missing (every top-level folder says what it is)")
            continue
        found.append(top)
        for here, dirs, files in os.walk(os.path.join(root, top)):
            dirs[:] = sorted(d for d in dirs if not d.startswith("."))
            rel = os.path.relpath(here, root).replace(os.sep, "/")
            if rel != top and "README.md" in files and next(sources(root, rel), None) is not None:
                found.append(rel)
    return found


def governing(path, with_rules):
    """The nearest folder above path whose README.md states rules."""
    return max((f for f in with_rules if under(path, f)), key=len, default=None)


def include_target(name):
    """The included file's path from the root of the tree."""
    first, rest = name.split("/", 1)
    return KIT_INCLUDE_ROOTS[first] + "/" + rest if first in KIT_INCLUDE_ROOTS else name


def check_include(rel, number, name, target, rules, problems):
    own = governing(rel, rules)
    theirs = governing(target, rules)
    if own is None or theirs is None or own == theirs:
        return
    if rules[own] and not under(target, own) and not any(under(target, f) for f in rules[own][0]):
        problems.append(f"{rel}:{number}: includes {name}, but {own}/README.md does not let {own}/ include {theirs}/")
    if rules[theirs] and not under(rel, theirs):
        for f in sorted(rules[theirs][1]):
            if under(rel, f):
                problems.append(f"{rel}:{number}: includes {name}, but {theirs}/README.md says {f}/ never includes it")


def check(root):
    problems = []
    tops = folders(root)
    with_rules = rule_folders(root, tops, problems)
    rules = {d: read_rules(root, d, problems) for d in with_rules}
    for folder in [t for t in tops if t in rules]:
        for path in sources(root, folder):
            rel = os.path.relpath(path, root).replace(os.sep, "/")
            with open(path, encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m or "/" not in m.group(1):
                        continue
                    target = include_target(m.group(1))
                    if target.split("/", 1)[0] not in tops:
                        continue
                    check_include(rel, number, m.group(1), target, rules, problems)
    return problems


def self_test():
    """A scratch tree with one broken rule of each kind: each must be reported."""
    with scratch_tree("include-rules-") as (scratch, write):
        write("low/README.md", "May include: (none)\nNever included by: (none)\n")
        write("low/low.h", "#pragma once\n")
        write("mid/README.md", "May include: `low/`.\nNever included by: `low/`.\n")
        write("mid/mid.h", '#include "low/low.h"\n')
        write("top/README.md", "May include: `mid/`, `low/`.\nNever included by: `mid/`.\n")
        write("top/top.cpp", '#include "mid/mid.h"\n#include "murvane/version.h"\n#include "top/top.h"\n')
        write("top/top.h", "#pragma once\n")
        # A nested folder with rules of its own, stricter than its parent's,
        # and a nested README with no sources below it (no rules needed).
        write("top/inner/README.md", "May include: `low/`, `top/`.\nNever included by: `side/`.\n")
        write("top/inner/inner.h", '#include "low/low.h"\n#include "top/top.h"\n')
        write("top/notes/README.md", "# notes\n")
        write("side/README.md", "May include: `top/`.\nNever included by: (none)\n")
        write("side/side.cpp", '#include "top/top.h"\n')
        write("ignored/x.cpp", '#include "mid/mid.h"\n')
        write(".gitignore", "/ignored/\n")
        if not quiet(check(scratch), "a tree that keeps its rules"):
            return 1
        write("low/up.cpp", '#include "mid/mid.h"\n')  # not in low's "May include", and mid says never
        write("lost/lost.cpp", "int lost;\n")  # sources without a README
        write("plain/README.md", "# plain\n")  # a README without the lines
        write("plain/plain.c", "int plain;\n")
        write("bare/notes.txt", "no README\n")  # a top-level folder that does not say what it is
        write("top/inner/up.cpp", '#include "mid/mid.h"\n')  # top may include mid/, top/inner/ may not
        write("side/deep.cpp", '#include "top/inner/inner.h"\n')  # side/ may include top/, inner says never
        write("top/plainsub/README.md", "# plainsub\n")  # a nested README over sources, without the lines
        write("top/plainsub/p.c", "int p;\n")
        found = check(scratch)
        expected = [
            "low/up.cpp:1: includes mid/mid.h, but low/README.md does not let low/ include mid/",
            "low/up.cpp:1: includes mid/mid.h, but mid/README.md says low/ never includes it",
            "lost/README.md: missing",
            "plain/README.md: no 'May include:'",
            "bare/README.md: missing",
            "top/inner/up.cpp:1: includes mid/mid.h, but top/inner/README.md does not let top/inner/ include mid/",
            "side/deep.cpp:1: includes top/inner/inner.h, but top/inner/README.md says side/ never includes it",
            "top/plainsub/README.md: no 'May include:'",
        ]
        return all_reported(expected, found)


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

#!/usr/bin/env python3
"""Checks that murvane-board's path to a real chip passes no simulator code.

The board, the run, the system calls and the command's main (PATH_FILES) may
include the host platform (host/) but nothing under sim/, directly or through
any project header they include. With --libraries, the static libraries on
that path (the host platform's and the board's) must also leave no symbol of
namespace sim undefined: nothing they link asks for simulator code.

usage: board_path.py ROOT [--libraries NM LIB...]   check the tree at ROOT
       board_path.py --self-test                    plant a violation in a
                                                    scratch tree and require
                                                    that it is reported
Exit 0 when the path is clean, 1 with one line per finding, 2 on bad use.
"""
import os
import re
import subprocess
import sys

# The self-tests' shared helpers sit beside this file; their bytecode stays
# out of the checkout.
sys.dont_write_bytecode = True
from self_test_tree import quiet, scratch_tree

PATH_FILES = [
    "tools/murvane-board/board.cpp",
    "tools/murvane-board/board.h",
    "tools/murvane-board/run.cpp",
    "tools/murvane-board/run.h",
    "tools/murvane-board/system.cpp",
    "tools/murvane-board/system.h",
    "tools/murvane-board/main.cpp",
]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
FORBIDDEN = "sim/"


def includes(root, rel):
    with open(os.path.join(root, rel), encoding="utf-8", errors="replace") as f:
        for line in f:
            m = INCLUDE.match(line)
            if m and os.path.isfile(os.path.join(root, m.group(1))):
                yield m.group(1)


def check_includes(root, files):
    """Each sim/ header reached from files, with the chain that reaches it."""
    problems = []
    for start in files:
        if not os.path.isfile(os.path.join(root, start)):
            problems.append(f"{start}: missing (the board's path names it)")
            continue
        seen = {start: [start]}
        queue = [start]
        while queue:
            here = queue.pop(0)
            for inc in includes(root, here):
                if inc in seen:
                    continue
                seen[inc] = seen[here] + [inc]
                if inc.startswith(FORBIDDEN):
                    problems.append(f"{start}: reaches {inc} (" + " -> ".join(seen[inc]) + ")")
                else:
                    queue.append(inc)
    return problems


def check_libraries(nm, libraries):
    problems = []
    for lib in libraries:
        if not os.path.isfile(lib):
            problems.append(f"{lib}: missing")
            continue
        out = subprocess.run([nm, "-C", "-u", lib], capture_output=True, text=True, check=False)
        if out.returncode != 0:
            problems.append(f"{lib}: {nm} failed: {out.stderr.strip()}")
            continue
        wanted = sorted({line.split(" U ", 1)[-1].strip() for line in out.stdout.splitlines()
                         if re.search(r"\bsim::", line)})
        problems += [f"{os.path.basename(lib)}: needs {symbol}" for symbol in wanted]
    return problems


def self_test():
    with scratch_tree("board-path-") as (scratch, write):
        for rel in PATH_FILES:
            write(rel, '#include "host/platform.h"\n')
        write("host/platform.h", '#include "core/regs.h"\n')
        write("core/regs.h", "#pragma once\n")
        write("sim/virtual_platform.h", '#include "host/platform.h"\n')
        if not quiet(check_includes(scratch, PATH_FILES), "a clean path"):
            return 1
        # A header two steps away from run.h pulls in the simulator.
        write("tools/murvane-board/run.h", '#include "tools/common/text.h"\n')
        write("tools/common/text.h", '#include "sim/virtual_platform.h"\n')
        found = check_includes(scratch, PATH_FILES)
        expected = ("tools/murvane-board/run.h: reaches sim/virtual_platform.h (tools/murvane-board/run.h -> "
                    "tools/common/text.h -> sim/virtual_platform.h)")
        if expected not in found:
            print("self-test: expected", expected, "got:", *found, sep="\n  ")
            return 1
        print("self-test: the planted simulator include was reported")
        return 0


def main(argv):
    if argv == ["--self-test"]:
        return self_test()
    if not argv or not os.path.isdir(argv[0]) or (len(argv) > 1 and (argv[1] != "--libraries" or len(argv) < 4)):
        print("usage: board_path.py ROOT [--libraries NM LIB...] | --self-test", file=sys.stderr)
        return 2
    problems = check_includes(argv[0], PATH_FILES)
    if len(argv) > 1:
        problems += check_libraries(argv[2], argv[3:])
    for p in problems:
        print(p)
    if problems:
        return 1
    print(f"board path: {len(PATH_FILES)} files include no simulator code"
          + (f", {len(argv) - 3} libraries need none" if len(argv) > 1 else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

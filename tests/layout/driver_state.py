#!/usr/bin/env python3
"""Checks that the driver's state has one owner and one reset.

Every variable the driver library (core/, families/, platform/) keeps from one
call to the next, read from its objects' symbol tables (objdump -t: objects in
writable sections, .data and .bss, not the relocated constants of
.data.rel.ro), must be
  - defined in core/driver_state.cpp and set again in its reset_driver_state(), or
  - one of the platform layer's own (PLATFORM_OWNED below), reset by the
    function named there, which reset_driver_state() calls.
A variable defined anywhere else, or one the reset does not set, is reported.

usage: driver_state.py ROOT OBJDUMP LIBRARY   check the tree at ROOT and the
                                              driver library built from it
       driver_state.py --self-test            plant both kinds of violation
                                              and require that each is reported
Exit 0 when every variable is owned and reset, 1 with one line per finding,
2 on bad use.
"""
import os
import re
import subprocess
import sys

# The self-tests' shared helpers sit beside this file; their bytecode stays
# out of the checkout.
sys.dont_write_bytecode = True
from self_test_tree import all_reported, quiet, scratch_tree

OWNER = "core/driver_state.cpp"
OWNER_OBJECT = "driver_state.cpp.o"
# The platform layer's variables: both images link the platform layer, the
# bridge without the core, so they stay there; each has a reset of its own.
# The log observer is not the driver's: the host platform sets it to watch
# the log, and a reset between two runs must leave it watching.
PLATFORM_OWNED = {
    ("platform.cpp.o", "murvane::g_support"): ("platform/platform.cpp", "support_teardown"),
    ("stack_guard.cpp.o", "__security_cookie"): ("platform/stack_guard.cpp", "stack_guard_reset"),
    ("log.cpp.o", "murvane::g_log_observer"): None,
}
MEMBER = re.compile(r"^(\S+\.o):\s+file format")
# What a sanitizer build adds beside each variable (ASan's one-definition
# indicators, its and the coverage's own tables): not the driver's.
SANITIZER_PREFIXES = ("__odr_asan", "__asan", "___asan", "__sancov", "__ubsan")
SYMBOL = re.compile(r"^[0-9a-f]+\s.{7}\s(\.(?:data|bss|tdata|tbss)\S*)\s+[0-9a-f]+\s+(.+)$")


def variables(objdump_text):
    """(object, name) of every object in a writable section."""
    found = []
    member = None
    for line in objdump_text.splitlines():
        m = MEMBER.match(line)
        if m:
            member = m.group(1)
            continue
        m = SYMBOL.match(line)
        if m and " O " in line and not m.group(1).startswith(".data.rel.ro"):
            name = m.group(2).strip()
            if not name.startswith(SANITIZER_PREFIXES):
                found.append((member, name))
    return found


def function_body(source, name):
    """The text of function name's body in source, or None."""
    m = re.search(r"\b" + re.escape(name) + r"\s*\([^)]*\)\s*\{", source)
    if not m:
        return None
    depth, i = 1, m.end()
    while i < len(source) and depth:
        depth += {"{": 1, "}": -1}.get(source[i], 0)
        i += 1
    return source[m.end():i - 1]


def read(root, rel):
    with open(os.path.join(root, rel), encoding="utf-8") as f:
        return f.read()


def sets(body, name):
    return body is not None and re.search(r"\b" + re.escape(name) + r"\b", body) is not None


def check(root, found):
    problems = []
    reset = function_body(read(root, OWNER), "reset_driver_state")
    if reset is None:
        return [f"{OWNER}: no reset_driver_state()"]
    for obj, name in found:
        short = name.split("::")[-1]
        if obj == OWNER_OBJECT:
            if not sets(reset, short):
                problems.append(f"{OWNER}: reset_driver_state() does not set {name} back to its load value")
            continue
        if (obj, name) not in PLATFORM_OWNED:
            problems.append(f"{obj}: {name} is a variable of the driver outside {OWNER} "
                            "(define it there, with its load value, and reset it)")
            continue
        owner = PLATFORM_OWNED[(obj, name)]
        if owner is None:
            continue
        path, function = owner
        if not sets(function_body(read(root, path), function), short):
            problems.append(f"{path}: {function}() does not set {name} back to its load value")
        if not sets(reset, function):
            problems.append(f"{OWNER}: reset_driver_state() does not call {function}()")
    return problems


def self_test():
    with scratch_tree("driver-state-") as (scratch, write):
        write(OWNER, "int a = 1;\nint b = 0;\nvoid reset_driver_state() {\n  a = 1;\n  b = 0;\n"
                     "  support_teardown();\n  stack_guard_reset();\n}\n")
        write("platform/platform.cpp", "void support_teardown() { g_support = {}; }\n")
        write("platform/stack_guard.cpp", "void stack_guard_reset() { __security_cookie = 7; }\n")

        def dump(*members):
            lines = []
            for obj, syms in members:
                lines.append(f"{obj}:     file format elf64-x86-64")
                for section, name in syms:
                    lines.append(f"0000000000000000 g     O {section}\t0000000000000008 {name}")
            return "\n".join(lines)

        healthy = [(OWNER_OBJECT, [(".data", "murvane::a"), (".bss", "murvane::b")]),
                   ("platform.cpp.o", [(".bss", "murvane::g_support")]),
                   ("stack_guard.cpp.o", [(".data", "__security_cookie")]),
                   ("log.cpp.o", [(".bss", "murvane::g_log_observer")]),
                   ("zq310x.cpp.o", [(".data.rel.ro", "murvane::zq310x_family")])]
        if not quiet(check(scratch, variables(dump(*healthy))), "a clean driver"):
            return 1
        stale = healthy + [(OWNER_OBJECT, [(".bss", "murvane::c")]),
                           ("identify.cpp.o", [(".bss", "murvane::(anonymous namespace)::tries")])]
        found = check(scratch, variables(dump(*stale)))
        expected = [f"{OWNER}: reset_driver_state() does not set murvane::c",
                    "identify.cpp.o: murvane::(anonymous namespace)::tries is a variable of the driver outside"]
        return all_reported(expected, found)


def main(argv):
    if argv == ["--self-test"]:
        return self_test()
    if len(argv) != 3 or not os.path.isdir(argv[0]) or not os.path.isfile(argv[2]):
        print("usage: driver_state.py ROOT OBJDUMP LIBRARY | --self-test", file=sys.stderr)
        return 2
    out = subprocess.run([argv[1], "-t", "-C", argv[2]], capture_output=True, text=True, check=False)
    if out.returncode != 0:
        print(f"{argv[1]} -t {argv[2]} failed: {out.stderr.strip()}")
        return 1
    found = variables(out.stdout)
    problems = check(argv[0], found)
    if not found:
        problems.append(f"{argv[2]}: no variable found at all (is it the driver library?)")
    for p in problems:
        print(p)
    if problems:
        return 1
    print(f"driver state: {len(found)} variables, each owned and reset")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

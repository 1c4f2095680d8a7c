#!/usr/bin/env python3
"""docs/log.md against the driver's sources.

Every line the driver can print is a string literal in its sources (core/,
families/, platform/, the version line's template, the stack-guard check
linked into the image). Each must have its entry in the guide, a heading
"### `TEXT`" with TEXT the format as the source has it (ends of line taken
off, the version as X.Y.Z); and the guide may list no line the driver
cannot print.

usage: log_guide_test.py SOURCE_DIR
"""

import os
import re
import sys


def strip_comments(text):
    """The source without comments; string and character literals kept."""
    out, i, n = [], 0, len(text)
    while i < n:
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i)
            i = n if j < 0 else j + 2
        elif text[i] in "\"'":
            q, j = text[i], i + 1
            while j < n and text[j] != q:
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


LITERAL = r'"(?:[^"\\\n]|\\.)*"'


def unescape(body):
    return body.replace("\\r", "\r").replace("\\n", "\n").replace('\\"', '"').replace("\\\\", "\\")


def messages_of(text):
    """The message literals of one source file."""
    text = strip_comments(text)
    # Lines that hold no message: includes, compile-time checks, assembly.
    text = re.sub(r"^\s*#\s*(include|error|pragma).*$", "", text, flags=re.M)
    text = re.sub(r"static_assert\s*\((?:[^;])*?\);", "", text, flags=re.S)
    text = re.sub(r"__asm__[^;]*;|asm\s*(volatile\s*)?\([^;]*;", "", text, flags=re.S)
    # A model's detect line: "Murvane: detected " #name ".\n", name a model.
    text = re.sub(r'"([^"]*)"\s*#\s*\w+\s*"([^"]*)"', r'"\1zq%u\2"', text)
    raw = set()
    # Adjacent literals are one string.
    for m in re.finditer(rf"{LITERAL}(?:\s*{LITERAL})*", text):
        parts = re.findall(LITERAL, m.group(0))
        s = unescape("".join(p[1:-1] for p in parts))
        if "\\0" in m.group(0) or not re.search(r"[A-Za-z]", s):
            continue
        if s.startswith("Murvane") or s.endswith("\n") or "%" in s or s.startswith("\r\n"):
            raw.add(s)
    # A piece that starts longer messages without ending a line is how the
    # source checks them (the detect line's "Murvane: detected zq"), not a
    # line of its own.
    return {normal(s) for s in raw
            if s.endswith("\n") or not any(o != s and normal(o).startswith(normal(s)) for o in raw)}


def normal(s):
    s = s.replace("@PROJECT_VERSION@", "X.Y.Z")
    return s.strip("\r\n")


def driver_sources(src):
    files = []
    for top in ("core", "families", "platform"):
        for root, _, names in os.walk(os.path.join(src, top), followlinks=True):
            files += [os.path.join(root, n) for n in names if n.endswith((".cpp", ".h"))]
    files.append(os.path.join(src, "cmake", "version.h.in"))
    # The stack-guard check is linked into the image wherever it lives.
    for root, dirs, names in os.walk(src, followlinks=True):
        dirs[:] = [d for d in dirs if d not in ("build", ".git", "tests", "sim", "tools", "bench", "fuzz")]
        if "stack_check.cpp" in names:
            files.append(os.path.join(root, "stack_check.cpp"))
    return sorted(set(files))


def main(argv):
    if len(argv) != 2:
        print(__doc__.strip().split("\n\n")[-1], file=sys.stderr)
        return 2
    src = argv[1]
    printed = {}
    for f in driver_sources(src):
        for s in messages_of(open(f, encoding="utf-8").read()):
            printed.setdefault(s, os.path.relpath(f, src))
    guide_path = os.path.join(src, "docs", "log.md")
    guide = re.findall(r"^### `(.*)`\s*$", open(guide_path, encoding="utf-8").read(), re.M)
    failures = 0
    seen = set()
    for g in guide:
        if g in seen:
            print(f"FAIL: docs/log.md lists \"{g}\" twice")
            failures += 1
        seen.add(g)
    for s in sorted(set(printed) - seen):
        print(f"FAIL: {printed[s]} prints \"{s}\", which docs/log.md does not explain")
        failures += 1
    for g in sorted(seen - set(printed)):
        print(f"FAIL: docs/log.md lists \"{g}\", which the driver cannot print")
        failures += 1
    if len(printed) < 20:
        print(f"FAIL: only {len(printed)} lines found in the driver's sources: the scan is broken")
        failures += 1
    if failures:
        return 1
    print(f"docs/log.md explains all {len(printed)} lines the driver can print, and no other")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

#!/usr/bin/env python3
"""recipes.py and log_guide_test.py catch what they are there to catch.

A small source tree of documents, each broken one way, must fail the check
or the run, naming the block; a sound one must pass, and its expected output
must be compared for real. The log guide test must fail on a copy of the
guide with one entry missing and on one with an entry the driver cannot
print.

usage: selftest.py SOURCE_DIR WORK_DIR
"""

import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
RECIPES = os.path.join(HERE, "recipes.py")
GUIDE = os.path.join(HERE, "log_guide_test.py")

failures = 0


def check(ok, what):
    global failures
    print(("ok:   " if ok else "FAIL: ") + what)
    if not ok:
        failures += 1


def tree(work, name, doc):
    """A source tree whose docs/try.md is `doc`."""
    root = os.path.join(work, name)
    shutil.rmtree(root, ignore_errors=True)
    os.makedirs(os.path.join(root, "docs"))
    os.makedirs(os.path.join(root, "integration", "bundle"))
    open(os.path.join(root, "README.md"), "w").write("# t\n")
    open(os.path.join(root, "integration", "bundle", "README.md"), "w").write("# b\n")
    open(os.path.join(root, "docs", "try.md"), "w").write(doc)
    return root


def run(*args):
    r = subprocess.run([sys.executable, *args], capture_output=True, text=True)
    return r.returncode, r.stdout + r.stderr


def sound_document(work, build):
    """A sound document passes the check, runs, and its output is compared."""
    sound = ("Make a file, then show it:\n\n<!-- recipe: a -->\n    X=hello\n    echo $X >f.txt\n\n"
             "<!-- recipe: a -->\n    cat f.txt\n    echo done\n\nIt ends:\n\n<!-- recipe: a output -->\n"
             "    hello\n    done\n\nA listing:\n\n<!-- text -->\n    not a command\n")
    root = tree(work, "sound", sound)
    rc, out = run(RECIPES, "check", root)
    check(rc == 0, "a sound document passes the check")
    rc, out = run(RECIPES, "run", root, "a", build, os.path.join(work, "run-a"))
    check(rc == 0 and "the last 2 lines as shown" in out, "its recipe runs and its output compares")
    check(not os.path.exists(os.path.join(root, "f.txt")), "the recipe's file stays in its own folder")


CHECK_REFUSES = [
    ("unmarked", "Run:\n\n    echo hi\n", "without a marker"),
    ("unset variable", "<!-- recipe: a -->\n    echo $P\n", "uses $P"),
    ("later variable", "<!-- recipe: a -->\n    echo $Y\n\n<!-- recipe: a -->\n    Y=1\n", "uses $Y"),
    ("other recipe's variable", "<!-- recipe: a -->\n    P=1\n\n<!-- recipe: b -->\n    echo $P\n", "uses $P"),
    ("qemu without timeout", "<!-- recipe: a -->\n    qemu-system-aarch64 -M virt </dev/null\n", "without timeout"),
    ("qemu on the keyboard", "<!-- recipe: a -->\n    timeout 5 qemu-system-aarch64 -M virt\n",
     "reads the terminal"),
    ("qemu without its output", "<!-- recipe: a -->\n    timeout 5 qemu-system-aarch64 -M virt </dev/null\n",
     "show its last lines"),
    ("build/default in the checkout's folder", "<!-- recipe: a -->\n    cmake --preset default\n",
     "configures build/default"),
    ("run.sh in the checkout's folder", "<!-- recipe: a -->\n    ./scripts/run.sh\n", "configures build/default"),
    ("output first", "<!-- recipe: a output -->\n    x\n", "before any command block"),
]


def broken_documents(work):
    """Each document broken one way fails the check, naming what is wrong."""
    for what, doc, want in CHECK_REFUSES:
        rc, out = run(RECIPES, "check", tree(work, "bad", doc))
        check(rc != 0 and want in out, f"the check refuses: {what}")


def typed_session(work, build):
    """A typed session: each command at the next prompt, the transcript as
    shown. (A stand-in for the Shell: it reads a line up to the carriage
    return a terminal sends.)"""
    shell = ("<!-- recipe: t -->\n    printf 'Shell> '; read -r -d $'\\r' a; echo \"$a\"; printf 'FS0:\\\\> '; "
             "read -r -d $'\\r' b; echo \"$b\"; echo \"ran $b\"\n\n"
             "<!-- recipe: t typed -->\n    Shell> fs0:\n    FS0:\\> load X.efi\n    ran load X.efi\n")
    rc, out = run(RECIPES, "run", tree(work, "typed", shell), "t", build, os.path.join(work, "run-t"))
    check(rc == 0 and "the typed session's 3 lines as shown" in out, "a typed session is typed at its prompts")


RUN_FAILS = [
    ("a missing file", "<!-- recipe: a -->\n    cat nothing.txt\n", "the block failed"),
    ("a missing tool", "<!-- recipe: a -->\n    no-such-tool-here --help\n", "the block failed"),
    ("a variable of the caller", "<!-- recipe: a -->\n    printenv HOME\n", "the block failed"),
    ("other last lines", "<!-- recipe: a -->\n    echo one\n\n<!-- recipe: a output -->\n    two\n",
     "did not end as the document shows"),
]


def failing_runs(work, build):
    """Each recipe that cannot run as written fails its run; a hardware
    block is shown and skipped."""
    for what, doc, want in RUN_FAILS:
        rc, out = run(RECIPES, "run", tree(work, "bad", doc), "a", build, os.path.join(work, "run-bad"))
        check(rc == 1 and want in out, f"the run fails: {what}")
    rc, out = run(RECIPES, "show", tree(work, "hw", "<!-- recipe: a hardware: a board -->\n    flash it\n"), "a")
    check(rc == 77 and "needs hardware: a board" in out, "a hardware block is shown and skipped (77)")


def log_guide(src, work):
    """The log guide test on the guide as it is, with one entry taken out,
    and with one made up."""
    guide_src = os.path.join(work, "guide")
    os.makedirs(os.path.join(guide_src, "docs"))
    for d in os.listdir(src):
        if d not in ("docs", "build", ".git"):
            os.symlink(os.path.join(src, d), os.path.join(guide_src, d))
    text = open(os.path.join(src, "docs", "log.md")).read()
    log_md = os.path.join(guide_src, "docs", "log.md")
    open(log_md, "w").write(text)
    rc, out = run(GUIDE, guide_src)
    check(rc == 0, "the log guide test passes on the guide as it is")
    open(log_md, "w").write(text.replace("### `Murvane: unexpected chipid!`\n", ""))
    rc, out = run(GUIDE, guide_src)
    check(rc == 1 and "Murvane: unexpected chipid!" in out, "a line with no entry fails the log guide test")
    open(log_md, "w").write(text + "\n### `Murvane: chip on fire`\n")
    rc, out = run(GUIDE, guide_src)
    check(rc == 1 and "cannot print" in out, "an entry the driver cannot print fails the log guide test")


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().split("\n\n")[-1], file=sys.stderr)
        return 2
    src, work = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    build = os.path.join(work, "build")
    os.makedirs(build)

    sound_document(work, build)
    broken_documents(work)
    typed_session(work, build)
    failing_runs(work, build)
    log_guide(src, work)

    if failures:
        print(f"{failures} check(s) failed")
        return 1
    print("recipes.py and log_guide_test.py catch what they should")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

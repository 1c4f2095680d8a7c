#!/usr/bin/env python3
"""The documents' command blocks, run as written.

Every indented block of README.md, docs/*.md and integration/bundle/README.md
carries an HTML comment just before it (a reader of the rendered page does
not see it) that says what the block is:

  <!-- recipe: NAME -->                 commands of recipe NAME, run in order
  <!-- recipe: NAME in=bundle -->       ... in the unpacked release bundle
  <!-- recipe: NAME in=source -->       ... in the checkout itself
  <!-- recipe: NAME output -->          the last lines the recipe's block
                                        before it prints ("..." alone on a
                                        line: any lines; "..." in a line:
                                        any text)
  <!-- recipe: NAME typed -->           a UEFI Shell session typed into the block
                                        before it, whose QEMU reads the keyboard:
                                        each "Shell> CMD" / "FS0:\> CMD" line's
                                        CMD is typed at the next prompt (a key
                                        first ends the Shell's countdown)
  <!-- recipe: NAME hardware: WHY -->   needs a board: not run, listed
  <!-- recipe: NAME not run: WHY -->    not run here, and why: listed
  <!-- text -->                         not a command (output, a file's
                                        text, C, a listing)

A recipe's blocks run in one shell (bash -euo pipefail), in a clean folder,
with an empty environment (only a system PATH, and TMPDIR in the test's
folder): by default a folder that looks like the checkout
with its build (every top-level entry of the source tree linked, and
build/default the build under test), so what the recipe writes stays there.

usage: recipes.py list SOURCE_DIR            one "NAME<TAB>run|skip<TAB>CONTEXT<TAB>qemu|-" per recipe
       recipes.py check SOURCE_DIR           the static checks of every document
       recipes.py show SOURCE_DIR NAME       a recipe that is not run: its blocks; exit 77
       recipes.py run SOURCE_DIR NAME BUILD_DIR WORK_DIR [EFI_BUILD_DIR]
"""

import os
import re
import shutil
import subprocess
import sys
import time

DOCS = ["README.md", "integration/bundle/README.md"]
SKIP = 77
SYSTEM_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"

MARK = re.compile(r"^<!--\s*(.*?)\s*-->\s*$")


class Block:
    def __init__(self, doc, line, text, recipe, kind, why, context):
        self.doc, self.line, self.text = doc, line, text
        self.recipe, self.kind, self.why, self.context = recipe, kind, why, context

    def where(self):
        return f"{self.doc}:{self.line}"


def doc_files(src):
    names = list(DOCS)
    names += sorted("docs/" + f for f in os.listdir(os.path.join(src, "docs")) if f.endswith(".md"))
    return names


def parse_marker(text):
    """(recipe, kind, why, context) of a marker comment, or None."""
    if text == "text":
        return (None, "text", "", None)
    m = re.match(r"recipe:\s*([A-Za-z0-9_.-]+)\s*(.*)$", text)
    if not m:
        return None
    name, rest = m.group(1), m.group(2)
    context = None
    c = re.match(r"in=(\w+)\s*(.*)$", rest)
    if c:
        context, rest = c.group(1), c.group(2)
    if rest == "":
        return (name, "run", "", context)
    if rest in ("output", "typed"):
        return (name, rest, "", context)
    for kind in ("hardware", "not run"):
        if rest.startswith(kind + ":"):
            return (name, "hardware" if kind == "hardware" else "skip", rest[len(kind) + 1:].strip(), context)
    return None


def blocks_of(src, doc):
    """Every indented block of a document, with its marker; errors."""
    lines = open(os.path.join(src, doc), encoding="utf-8").read().split("\n")
    blocks, errors = [], []
    pending = None  # (marker, line)
    prev_blank = True
    i = 0
    in_list = False
    while i < len(lines):
        line = lines[i]
        m = MARK.match(line)
        if m:
            parsed = parse_marker(m.group(1))
            if parsed is None:
                if m.group(1).startswith("recipe") or m.group(1) == "text":
                    errors.append(f"{doc}:{i + 1}: a marker it cannot read: {line}")
                i += 1
                continue
            if pending:
                errors.append(f"{doc}:{pending[1]}: a marker with no block after it")
            pending = (parsed, i + 1)
            # An HTML block ends at its line: an indented block may follow at once.
            prev_blank = True
            in_list = False
            i += 1
            continue
        if line.startswith("    ") and prev_blank and not in_list:
            start = i
            body = []
            while i < len(lines) and (lines[i].startswith("    ") or
                                      (lines[i].strip() == "" and i + 1 < len(lines) and
                                       lines[i + 1].startswith("    "))):
                body.append(lines[i][4:])
                i += 1
            if pending is None:
                errors.append(f"{doc}:{start + 1}: an indented block without a marker "
                              "(<!-- recipe: NAME ... --> or <!-- text -->)")
            else:
                name, kind, why, context = pending[0]
                blocks.append(Block(doc, start + 1, "\n".join(body) + "\n", name, kind, why, context))
            pending = None
            prev_blank = False
            continue
        if pending and line.strip() != "":
            errors.append(f"{doc}:{pending[1]}: a marker not followed by an indented block")
            pending = None
        # A list item's continuation lines are indented text, not code.
        if re.match(r"^\s*([-*+]|\d+\.)\s", line):
            in_list = True
        elif line.strip() == "":
            pass
        elif not line.startswith(" "):
            in_list = False
        prev_blank = line.strip() == ""
        i += 1
    if pending:
        errors.append(f"{doc}:{pending[1]}: a marker with no block after it")
    return blocks, errors


def all_recipes(src):
    """{name: [blocks]} in document order, and errors."""
    recipes, errors = {}, []
    for doc in doc_files(src):
        blocks, errs = blocks_of(src, doc)
        errors += errs
        for b in blocks:
            if b.kind == "text":
                continue
            key = b.recipe
            if key in recipes and recipes[key][0].doc != b.doc:
                errors.append(f"{b.where()}: recipe {key} is also in {recipes[key][0].doc}: one document each")
                continue
            recipes.setdefault(key, []).append(b)
    return recipes, errors


def status(blocks):
    kinds = {b.kind for b in blocks if b.kind not in ("output", "typed")}
    if kinds & {"hardware", "skip"}:
        return "skip"
    return "run"


def context_of(blocks):
    found = {b.context for b in blocks if b.context}
    return found.pop() if len(found) == 1 else ("checkout" if not found else None)


# ---- static checks -------------------------------------------------------

SPECIAL = {"PWD", "OLDPWD", "RANDOM", "LINENO", "SECONDS", "BASH", "UID", "EUID", "PPID"}


def strip_single_quoted(text):
    return re.sub(r"'[^']*'", "''", text)


def defined_names(text):
    names = set()
    for m in re.finditer(r"(?:^|[;&|({]\s*|\bexport\s+|\blocal\s+)([A-Za-z_][A-Za-z0-9_]*)=", text, re.M):
        names.add(m.group(1))
    for m in re.finditer(r"\bfor\s+([A-Za-z_][A-Za-z0-9_]*)\s+in\b", text):
        names.add(m.group(1))
    for m in re.finditer(r"\bread\b([^;\n|&]*)", text):  # its options' words are no names
        names.update(w for w in m.group(1).split() if re.fullmatch(r"[A-Za-z_][A-Za-z0-9_]*", w))
    return names


def used_names(text):
    text = strip_single_quoted(text)
    return {m.group(1) or m.group(2) for m in re.finditer(r"\$(?:\{([A-Za-z_][A-Za-z0-9_]*)|([A-Za-z_][A-Za-z0-9_]*))",
                                                           text)}


def commands(text):
    """The block's commands, continuation lines joined, comments dropped."""
    out, cur = [], ""
    for line in text.split("\n"):
        cur += line
        if cur.endswith("\\"):
            cur = cur[:-1]
            continue
        out.append(cur)
        cur = ""
    if cur:
        out.append(cur)
    return out


def check_recipe(name, blocks):
    errors = []
    ctx = context_of(blocks)
    if ctx is None:
        errors.append(f"{blocks[0].where()}: recipe {name} names more than one in=CONTEXT")
    elif ctx not in ("checkout", "bundle", "source"):
        errors.append(f"{blocks[0].where()}: recipe {name}: unknown context in={ctx}")
    defined = set(SPECIAL)
    last_command = None
    q_with_timeout = False
    for i, b in enumerate(blocks):
        typed_next = i + 1 < len(blocks) and blocks[i + 1].kind == "typed"
        if b.kind == "typed":
            if last_command is None or last_command.kind != "run" or blocks[i - 1] is not last_command:
                errors.append(f"{b.where()}: recipe {name}: a typed session must follow the command block it types into")
            elif not typed_commands(b.text):
                errors.append(f"{b.where()}: recipe {name}: a typed session with no prompt line")
            continue
        if b.kind == "output":
            if last_command is None:
                errors.append(f"{b.where()}: recipe {name}: expected output before any command block")
            elif last_command.kind != "run":
                errors.append(f"{b.where()}: recipe {name}: expected output of a block that is not run")
            continue
        last_command = b
        here = defined_names(b.text)
        for var in sorted(used_names(b.text) - defined - here):
            errors.append(f"{b.where()}: recipe {name} uses ${var}, which no earlier block of the recipe sets")
        defined |= here
        if re.search(r'^Q="timeout [0-9]+ qemu-system-aarch64 ', b.text, re.M):
            q_with_timeout = True
        if b.kind != "run":
            continue
        for c in commands(b.text):
            c = c.split(" #")[0] if not c.lstrip().startswith("#") else ""
            boots = "qemu-system-aarch64" in c and not c.lstrip().startswith("Q=")
            boots_q = re.match(r"^\s*\$Q\b", c) is not None
            if boots or boots_q:
                if boots and "timeout " not in c:
                    errors.append(f"{b.where()}: a QEMU command without timeout: {c.strip()}")
                if boots_q and not q_with_timeout:
                    errors.append(f"{b.where()}: $Q boots QEMU, but Q carries no timeout")
                if "</dev/null" not in c and not typed_next:
                    errors.append(f"{b.where()}: a QEMU command that reads the terminal: {c.strip()}")
            # The folder's build/default is the build under test: nothing may
            # configure or rebuild it there (other build folders are the recipe's own).
            if ctx == "checkout" and (re.search(r"\bcmake\b.*(--preset[ =]default\b|-B\s*\S*build/default\b)", c) or
                                      re.search(r"(^|[\s;&(])\S*scripts/run\.sh\b", c)):
                errors.append(f"{b.where()}: recipe {name} configures build/default in the checkout's folder, where "
                              "it is the build under test: mark it in=source or not run")
    if status(blocks) == "run" and blocks[-1].kind == "run" and re.search(r"qemu-system-aarch64|^\s*\$Q\b",
                                                                           blocks[-1].text, re.M):
        errors.append(f"{blocks[-1].where()}: recipe {name} ends in a QEMU boot: show its last lines "
                      "(<!-- recipe: NAME output -->)")
    return errors


def check_all(src):
    recipes, errors = all_recipes(src)
    for name, blocks in recipes.items():
        errors += check_recipe(name, blocks)
    return recipes, errors


# ---- running -------------------------------------------------------------

# A prompt, as clean() leaves it (the blank after ">" is followed by colour codes).
PROMPT = re.compile(r"(?:Shell|[A-Za-z0-9]+:\\)>")


def typed_commands(text):
    """What a Shell transcript types: the text after each prompt."""
    return [m.group(1) for m in (re.match(r"^(?:Shell|[A-Za-z0-9]+:\\)> (.*)$", line) for line in text.split("\n"))
            if m]


def type_into(proc, out_path, commands, deadline_s):
    """Types each command at the next fresh prompt in out_path (a key first
    for the Shell's countdown); False when a prompt does not come in time."""
    pending = list(commands)
    pos = 0
    countdown_done = False
    last = time.monotonic()
    while pending and proc.poll() is None:
        if time.monotonic() - last > deadline_s:
            return False
        try:
            text = "\n".join(clean(open(out_path, errors="replace").read()))
        except OSError:
            text = ""
        if not countdown_done and "Press ESC in" in text:
            proc.stdin.write(b"\r")
            proc.stdin.flush()
            countdown_done = True
        m = PROMPT.search(text, pos)
        if m:
            pos = m.end()
            proc.stdin.write(pending.pop(0).encode() + b"\r")
            proc.stdin.flush()
            last = time.monotonic()
        time.sleep(0.2)
    return not pending

def clean(text):
    text = re.sub(r"\x1b\[[0-9;?]*[a-zA-Z]", "", text)
    text = re.sub(r"\x1b[()][0-9A-Za-z]", "", text)
    return [line.rstrip() for line in text.replace("\r", "").split("\n")]


def line_matches(want, got):
    if "..." not in want:
        return want == got
    pattern = ".*".join(re.escape(p) for p in want.split("..."))
    return re.fullmatch(pattern, got) is not None


def tail_matches(want, got):
    """want (with "..." lines) against the end of got; blank lines do not
    count (firmware consoles differ in how they end lines)."""
    want = [w for w in want if w.strip() != ""]
    got = [g for g in got if g.strip() != ""]
    while want and want[-1] == "":
        want = want[:-1]
    while got and got[-1] == "":
        got = got[:-1]

    def match(wi, gi):  # want[:wi] ends got[:gi] exactly
        if wi == 0:
            return True
        w = want[wi - 1]
        if w == "...":
            return any(match(wi - 1, k) for k in range(gi, -1, -1))
        return gi > 0 and line_matches(w, got[gi - 1]) and match(wi - 1, gi - 1)

    return match(len(want), len(got))


def untracked(src):
    try:
        out = subprocess.run(["git", "-C", src, "ls-files", "--others", "--exclude-standard"],
                             capture_output=True, text=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return None
    return set(out.split())


def make_folder(src, build, work, context, efi):
    folder = os.path.join(work, "folder")
    if context == "source":
        return src
    if context == "bundle":
        out = os.path.join(work, "release")
        r = subprocess.run([os.path.join(src, "scripts/release.sh"), "--build", efi, "--out", out],
                           capture_output=True, text=True)
        if r.returncode != 0:
            sys.stdout.write(r.stderr)
            raise RuntimeError("scripts/release.sh failed")
        tarball = r.stdout.strip().split("\n")[-1]
        os.makedirs(folder)
        shutil.copy(tarball, folder)
        subprocess.run(["tar", "-xzf", os.path.basename(tarball)], cwd=folder, check=True)
        os.remove(os.path.join(folder, os.path.basename(tarball)))
        return os.path.join(folder, os.path.basename(tarball)[:-len(".tar.gz")])
    os.makedirs(os.path.join(folder, "build"))
    for entry in sorted(os.listdir(src)):
        if entry in ("build", ".git"):
            continue
        os.symlink(os.path.join(src, entry), os.path.join(folder, entry))
    os.symlink(build, os.path.join(folder, "build", "default"))
    return folder


def checked_blocks(src, name):
    """The recipe's blocks, or None after a FAIL line: it must exist and
    pass the checks every recipe passes."""
    recipes, errors = check_all(src)
    if name not in recipes:
        print(f"FAIL: no recipe {name}")
        return None
    blocks = recipes[name]
    mine = [e for e in errors if f"recipe {name} " in e or any(e.startswith(b.where()) for b in blocks)]
    if mine:
        print("\n".join("FAIL: " + e for e in mine))
        return None
    return blocks


def bundle_blocks(folder, name, blocks):
    """The recipe as the unpacked bundle's README holds it (release.sh
    filled in its version: the one its reader has), or None after a FAIL
    line when it is not the source's."""
    unpacked, errs = blocks_of(folder, "README.md")
    unpacked = [b for b in unpacked if b.recipe == name]
    if errs or [b.kind for b in unpacked] != [b.kind for b in blocks]:
        print("FAIL: the bundle's README does not hold this recipe as the source's does")
        return None
    return unpacked


def write_script(blocks, folder, work):
    """recipe.sh in work: each block that runs, in folder, its output in
    blockN.out and its start marked in the progress file. Returns the
    script's path and the blocks that run."""
    script = ["set -euo pipefail", f"cd '{folder}'"]
    runs = [b for b in blocks if b.kind == "run"]
    for n, b in enumerate(runs):
        script += [f"echo '@@ block {n}' >>'{work}/progress'", "{", b.text.rstrip("\n"), f"}} >'{work}/block{n}.out' 2>&1"]
    script_path = os.path.join(work, "recipe.sh")
    with open(script_path, "w", encoding="utf-8") as f:
        f.write("\n".join(script) + "\n")
    open(os.path.join(work, "progress"), "w").close()
    return script_path, runs


def typed_sessions(blocks):
    """{N: commands}: a block that runs followed by a typed session gets it
    at its prompts."""
    typed = {}
    n = -1
    for b in blocks:
        if b.kind == "run":
            n += 1
        elif b.kind == "typed":
            typed[n] = typed_commands(b.text)
    return typed


def execute(script_path, work, typed):
    """Runs the script, typing each session into its block. Returns its exit
    status and the block whose prompt did not come in time (or None)."""
    progress = os.path.join(work, "progress")
    # Nothing of the caller's environment but a system PATH, as a fresh
    # login has it (without PATH exported, cmake cannot find its own files),
    # and TMPDIR: the scratch folders the recipes make with mktemp stay in
    # the test's own folder instead of piling up in /tmp.
    os.makedirs(os.path.join(work, "tmp"))
    proc = subprocess.Popen(["env", "-i", "PATH=" + SYSTEM_PATH, "TMPDIR=" + os.path.join(work, "tmp"), "bash",
                             script_path], stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT, start_new_session=True)
    typing_failed = None
    for n in sorted(typed):
        while proc.poll() is None and f"@@ block {n}\n" not in open(progress).read():
            time.sleep(0.2)
        if proc.poll() is not None:
            break
        if not type_into(proc, os.path.join(work, f"block{n}.out"), typed[n], 60):
            typing_failed = n
            os.killpg(proc.pid, 15)
            break
    proc.stdin.close()
    proc.wait()
    return proc.returncode, typing_failed


def block_output(work, n):
    return open(os.path.join(work, f"block{n}.out"), errors="replace").read()


def report_failed_block(runs, work, returncode):
    """The block the script stopped in, as written, and its last lines."""
    reached = open(os.path.join(work, "progress")).read().split("\n")
    done = len([l for l in reached if l.startswith("@@ block")])
    b = runs[done - 1] if done else runs[0]
    out = block_output(work, done - 1) if done else ""
    print(f"FAIL: {b.where()}: the block failed (exit status {returncode}), as written:")
    print("    " + b.text.rstrip("\n").replace("\n", "\n    "))
    print("  its output, last lines:")
    for line in clean(out)[-20:]:
        print("    " + line)


def check_typed(b, out):
    """A typed session as the document shows it, line by line in order."""
    got = [g for g in clean(out) if g]
    want = [w.rstrip() for w in b.text.rstrip("\n").split("\n")]
    k = 0
    for g in got:
        if k < len(want) and line_matches(want[k], g):
            k += 1
    if k == len(want):
        print(f"ok:   {b.where()}: the typed session's {len(want)} lines as shown")
        return True
    print(f"FAIL: {b.where()}: the typed session did not show \"{want[k]}\" where the document does")
    return False


def check_output(b, out):
    """The last lines of the block before, as the document shows them."""
    got = clean(out)
    want = b.text.rstrip("\n").split("\n")
    if tail_matches(want, got):
        print(f"ok:   {b.where()}: the last {len(want)} lines as shown")
        return True
    print(f"FAIL: {b.where()}: the block before it did not end as the document shows. Shown:")
    print("    " + "\n    ".join(want))
    print("  printed, last lines:")
    print("    " + "\n    ".join(got[-max(len(want) + 5, 15):]))
    return False


def check_shown(blocks, work):
    """Each typed session and expected output against the block before it;
    returns how many do not hold."""
    failures = 0
    n = -1
    for b in blocks:
        if b.kind == "run":
            n += 1
        elif b.kind == "typed" and not check_typed(b, block_output(work, n)):
            failures += 1
        elif b.kind == "output" and not check_output(b, block_output(work, n)):
            failures += 1
    return failures


def run_recipe(src, name, build, work, efi):
    """Runs the recipe as written, in the folder its context names, and
    checks what it shows: 0, 1, or SKIP."""
    blocks = checked_blocks(src, name)
    if blocks is None:
        return 1
    context = context_of(blocks)
    if context == "source" and os.path.realpath(build) != os.path.realpath(os.path.join(src, "build/default")):
        print(f"recipe {name} runs in the checkout and builds build/default; this build is {build}: not run here")
        return SKIP
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    folder = make_folder(src, build, work, context, efi)
    if context == "bundle":
        blocks = bundle_blocks(folder, name, blocks)
        if blocks is None:
            return 1
    before = untracked(src)

    script_path, runs = write_script(blocks, folder, work)
    returncode, typing_failed = execute(script_path, work, typed_sessions(blocks))

    failures = 0
    if typing_failed is not None:
        print(f"FAIL: {runs[typing_failed].where()}: no Shell prompt came for the next typed command within 60 s")
    if returncode != 0:
        report_failed_block(runs, work, returncode)
        failures += 1
    else:
        print(f"ok:   {len(runs)} block(s) ran, from {blocks[0].where()}")
        failures += check_shown(blocks, work)
    after = untracked(src)
    if before is not None and after is not None and after - before:
        failures += 1
        print("FAIL: the recipe left files in the source tree: " + " ".join(sorted(after - before)))
    if failures:
        print(f"recipe {name}: {failures} check(s) failed (the run: {work})")
        return 1
    print(f"recipe {name}: runs as written")
    return 0


def main(argv):
    if len(argv) < 3 or argv[1] not in ("list", "check", "show", "run"):
        print(__doc__.strip().split("\n\n")[-1], file=sys.stderr)
        return 2
    cmd, src = argv[1], os.path.abspath(argv[2])
    if cmd == "list":
        recipes, _ = all_recipes(src)
        for name, blocks in recipes.items():
            boots = any(re.search(r"qemu-system-aarch64|qemu_test\.sh|^\s*\$Q\b", b.text, re.M) for b in blocks)
            print(f"{name}\t{status(blocks)}\t{context_of(blocks) or 'checkout'}\t{'qemu' if boots else '-'}")
        return 0
    if cmd == "check":
        recipes, errors = check_all(src)
        for e in errors:
            print("FAIL: " + e)
        counts = {"run": 0, "skip": 0}
        for blocks in recipes.values():
            counts[status(blocks)] += 1
        print(f"{len(recipes)} recipes: {counts['run']} run, {counts['skip']} not run "
              f"({sum(1 for b in recipes.values() if any(x.kind == 'hardware' for x in b))} need hardware)")
        return 1 if errors else 0
    if cmd == "show":
        if len(argv) != 4:
            return main([argv[0]])
        recipes, _ = all_recipes(src)
        blocks = recipes.get(argv[3])
        if not blocks:
            print(f"recipes.py: no recipe {argv[3]}", file=sys.stderr)
            return 2
        for b in blocks:
            if b.kind in ("hardware", "skip"):
                label = "needs hardware" if b.kind == "hardware" else "not run"
                print(f"{b.where()}: {label}: {b.why}")
                print("    " + b.text.rstrip("\n").replace("\n", "\n    "))
        return SKIP
    if len(argv) not in (6, 7):
        return main([argv[0]])
    return run_recipe(src, argv[3], os.path.abspath(argv[4]), os.path.abspath(argv[5]),
                      os.path.abspath(argv[6]) if len(argv) == 7 else "")


if __name__ == "__main__":
    sys.exit(main(sys.argv))

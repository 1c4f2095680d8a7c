#!/usr/bin/env python3
"""check.py (testbench/linux/) catches what it is there to catch.

A rig boot's output folder is made here without a boot: the cases' standard
output and error, exit codes and jsonl traces (a dry run of murvane-board
where the tool runs a chip), and QEMU's trace of its I2C and GPIO models
cut by the marker writes. The sound folder must pass every check; each
folder broken one way (a register value, a transfer missing or extra, a
second reset pulse or one at the wrong polarity, a refusal that touched the
board, an absent chip blamed on the reset line) must fail the check that
owns that claim, naming what departed.

usage: check_selftest.py CHECK_PY WORK_DIR --dry-run MURVANE_BOARD --power-on HELPER --sim MURVANE_SIM
"""

import json
import os
import re
import shutil
import subprocess
import sys

ADDRESS = 0x5A
MARKER = 0x50
ABSENT = 0x5B
LINE = 17
BIT = 1 << LINE
MODEL = "zq3301"  # a model whose every read a register file answers as the chip does
BANK = "/soc/bus@30000000/gpio@30200000"

failures = 0


def check(ok, what):
    global failures
    print(("ok:   " if ok else "FAIL: ") + what)
    if not ok:
        failures += 1


def events(text):
    return [json.loads(line) for line in text.splitlines() if line.strip()]


def jsonl(evs):
    return "".join(json.dumps(e, separators=(",", ":")) + "\n" for e in evs)


def dry_run(tool, chip, work):
    """murvane-board's dry run: standard output, error, exit code, trace."""
    trace = os.path.join(work, f"dry-{chip}.jsonl")
    r = subprocess.run([tool, "--dry-run", "--chip", chip, "--yes", "--trace", trace], capture_output=True, text=True)
    return {"stdout": r.stdout, "stderr": r.stderr, "exit": f"{r.returncode}\n", "trace.jsonl": open(trace).read()}


# QEMU's trace lines, as its I2C and GPIO models print them.
def start(addr, kind="start"):
    return f"i2c_event {kind}(addr:0x{addr:02x})"


def send(addr, byte):
    return f"i2c_send send(addr:0x{addr:02x}) data:0x{byte:02x}"


def recv(addr, byte):
    return f"i2c_recv recv(addr:0x{addr:02x}) data:0x{byte:02x}"


def finish(addr):
    return f"i2c_event finish(addr:0x{addr:02x})"


def gpio(reg, value):
    return f"imx_gpio_write {BANK}:[{reg}] <- 0x{value:08x}"


def bus_lines(addr, kind, reg, value):
    """One register transfer: a write of register and value, or the
    register written and one byte read after a repeated start (which QEMU
    shows as a finish and a start)."""
    if kind == "write":
        return [start(addr), send(addr, reg), send(addr, value), finish(addr)]
    return [start(addr), send(addr, reg), finish(addr), start(addr, "start_recv"), recv(addr, value),
            finish(addr)]


def transfers_of(trace_text):
    return [(e["ev"][4:], e["reg"], e["value"]) for e in events(trace_text)
            if e["ev"] in ("i2c_read", "i2c_write") and e["status"] == 0]


def pulse(levels):
    """The reset line made an output and driven through levels (1: high)."""
    out = [gpio("DR", BIT if levels[0] else 0), gpio("GDIR", BIT)]
    return out + [gpio("DR", BIT if level else 0) for level in levels[1:]]


def marker(value):
    return [start(MARKER), send(MARKER, 0), send(MARKER, value), finish(MARKER)]


class Folder:
    """A rig boot's output folder: cases (name -> files) and each case's
    QEMU window (trace lines between its markers)."""

    def __init__(self):
        self.cases = {}
        self.windows = {}

    def add(self, name, files, window):
        self.cases[name] = dict(files)
        self.windows[name] = list(window)

    def write(self, out):
        shutil.rmtree(out, ignore_errors=True)
        os.makedirs(os.path.join(out, "cases"))
        trace = [start(ADDRESS), send(ADDRESS, 0), send(ADDRESS, 0x05), finish(ADDRESS)]  # the preload, unmarked
        listing = []
        for index, name in enumerate(self.cases, start=1):
            listing.append({"name": name, "args": [], "model": None, "index": index})
            d = os.path.join(out, "cases", name)
            os.makedirs(d)
            for file, text in self.cases[name].items():
                with open(os.path.join(d, file), "w") as f:
                    f.write(text)
            trace += marker(index) + self.windows[name] + marker(index + 128)
        with open(os.path.join(out, "cases.json"), "w") as f:
            json.dump(listing, f)
        with open(os.path.join(out, "qemu-trace.log"), "w") as f:
            f.write("".join(line + "\n" for line in trace))


def sound_folder(tool, work):
    """Every case as a sound boot would leave it."""
    folder = Folder()
    run = dry_run(tool, MODEL, work)
    window = pulse([1, 0, 1])
    for kind, reg, value in transfers_of(run["trace.jsonl"]):
        window += bus_lines(ADDRESS, kind, reg, value)
    folder.add(f"family-{MODEL}", run, window)
    low = pulse([0, 1, 0])
    folder.add(f"active-low-{MODEL}", run, low + window[len(low):])
    held = {"stdout": "", "stderr": "murvane-board: --gpio-line 17: line 17 of /dev/gpiochip0 is busy (used by sysfs)\n",
            "exit": "2\n", "pre.txt": " gpio-17  (                    |sysfs               ) in  hi \n"}
    folder.add("refuse-held-line", held, [])
    absent = dry_run(tool, "absent", work)
    for file in ("stdout", "stderr"):
        absent[file] = absent[file].replace("ENXIO", "ETIMEDOUT").replace(f"0x{ADDRESS:02X}", f"0x{ABSENT:02X}")
    evs = events(absent["trace.jsonl"])
    for e in evs:
        if e["ev"] in ("i2c_read", "i2c_write"):
            e["status"] = 110
    absent["trace.jsonl"] = jsonl(evs)
    absent_window = pulse([1, 0, 1, 0, 1])  # two passes of the identification, each with its pulse
    for e in evs:
        if e["ev"] in ("i2c_read", "i2c_write"):
            absent_window += [start(ABSENT), finish(ABSENT)]
    folder.add("absent-chip", absent, absent_window)
    return folder


def transfer_spans(window):
    """(first, last + 1) line of each transfer to the chip in a window."""
    spans = []
    i = 0
    while i < len(window):
        if window[i] == start(ADDRESS):
            n = 6 if i + 3 < len(window) and window[i + 3] == start(ADDRESS, "start_recv") else 4
            spans.append((i, i + n))
            i += n
        else:
            i += 1
    return spans


def run_check(check_py, *args):
    r = subprocess.run([sys.executable, check_py, *args], capture_output=True, text=True)
    return r.returncode, (r.stdout + r.stderr).strip()


def main(argv):
    if len(argv) != 9 or argv[3:9:2] != ["--dry-run", "--power-on", "--sim"]:
        print(__doc__.strip().split("\n\n")[-1], file=sys.stderr)
        return 2
    check_py, work = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    tool, power_on, sim = argv[4], argv[6], argv[8]
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    family = f"family-{MODEL}"

    def claims(out):
        """Each check with the folder's cases, as the rig's tests call it."""
        return {
            "family": ["family", out, MODEL, "--dry-run", tool, "--power-on", power_on, "--sim", sim],
            "bus-witness": ["bus-witness", out, family, f"active-low-{MODEL}"],
            "reset-pulse": ["reset-pulse", out, "--active-high", family],
            "reset-pulse active-low": ["reset-pulse", out, "--active-low", f"active-low-{MODEL}"],
            "refusal": ["refusal", out, "refuse-held-line", "line 17 .*busy", r"gpio-17 +\( *\|sysfs"],
            "absent": ["absent", out, "absent-chip"],
        }

    sound = sound_folder(tool, work)
    out = os.path.join(work, "sound")
    sound.write(out)
    for name, args in claims(out).items():
        rc, text = run_check(check_py, *args)
        check(rc == 0 and not text.startswith("FAIL"), f"the sound folder passes {name}: {text.splitlines()[0]}")

    def broken(name, change, claim, pattern):
        """A copy of the sound folder changed one way must fail `claim`
        with a message matching `pattern`."""
        copy = Folder()
        for case in sound.cases:
            copy.add(case, sound.cases[case], sound.windows[case])
        change(copy)
        path = os.path.join(work, re.sub(r"[^a-z0-9]+", "-", name.lower()).strip("-"))
        copy.write(path)
        rc, text = run_check(check_py, *claims(path)[claim])
        ok = rc == 1 and text.startswith("FAIL: ") and re.search(pattern, text) is not None
        check(ok, f"{name}: {claim} fails: {text[:300]}")

    window = sound.windows[family]
    spans = transfer_spans(window)
    trace = events(sound.cases[family]["trace.jsonl"])
    writes = [i for i, e in enumerate(trace) if e["ev"] == "i2c_write"]
    reads = [i for i, e in enumerate(trace) if e["ev"] == "i2c_read"]
    check(len(spans) == len(writes) + len(reads) and len(reads) > 2, "the sound folder's bus has every transfer")

    # One register value differs: on QEMU's bus, in the run's trace (a
    # written value, a value read).
    k = len(spans) // 2
    first, last = spans[k]

    def other_value(f):
        w = f.windows[family]
        line = w[last - 2]
        value = int(line[-2:], 16)
        w[last - 2] = line[:-2] + f"{value ^ 0x01:02x}"

    broken("one value on the bus", other_value, "bus-witness",
           rf"{family}: transfer {k}: QEMU's bus saw \(90, '(read|write)', \d+, \d+\), the run's trace says")

    def trace_edit(index, **fields):
        def edit(f):
            evs = events(f.cases[family]["trace.jsonl"])
            evs[index].update(fields)
            f.cases[family]["trace.jsonl"] = jsonl(evs)
        return edit

    # A write whose register is not read after it, so that the trace parts
    # from the dry run's there and nowhere before.
    w = next(i for i in writes[len(writes) // 2:]
             if not any(e["ev"] == "i2c_read" and e["reg"] == trace[i]["reg"] for e in trace[i:]))
    broken("one written value in the trace", trace_edit(w, value=trace[w]["value"] ^ 0x10), "family",
           rf"departs from the dry run's at event {w} with something other than a register read")
    r = reads[-1]
    broken("one value read in the trace", trace_edit(r, value=trace[r]["value"] ^ 0x10), "family",
           rf"event {r}: register 0x{trace[r]['reg']:02X} read 0x{trace[r]['value'] ^ 0x10:02X}, but the register "
           rf"file held 0x{trace[r]['value']:02X}")

    # One transfer missing or extra.
    def drop_transfer(f):
        del f.windows[family][first:last]

    def extra_transfer(f):
        f.windows[family][last:last] = f.windows[family][first:last]

    def extra_at_end(f):
        f.windows[family] += bus_lines(ADDRESS, "write", 0x09, 0x01)

    broken("a transfer missing on the bus", drop_transfer, "bus-witness", rf"{family}: transfer {k}: QEMU's bus saw")
    broken("a transfer extra on the bus", extra_transfer, "bus-witness", rf"{family}: transfer {k + 1}: QEMU's bus saw")
    broken("a transfer extra at the end of the bus", extra_at_end, "bus-witness",
           rf"{family}: transfer {len(spans)}: QEMU's bus saw \(90, 'write', 9, 1\), the run's trace says nothing")

    def drop_event(f):
        evs = events(f.cases[family]["trace.jsonl"])
        del evs[w]
        f.cases[family]["trace.jsonl"] = jsonl(evs)

    broken("a transfer missing in the trace", drop_event, "family", rf"departs from the dry run's at event {w}")
    broken("a transfer missing in the trace, not on the bus", drop_event, "bus-witness",
           rf"{family}: transfer \d+: QEMU's bus saw .*, the run's trace says")

    # A second reset pulse, a pulse at the wrong polarity, another line touched.
    def second_pulse(f):
        f.windows[family] += [gpio("DR", 0), gpio("DR", BIT)]

    def inverted(f):
        f.windows[family][:4] = pulse([0, 1, 0])

    def other_line(f):
        f.windows[family].append(gpio("DR", BIT | 1 << 3))

    broken("a second reset pulse", second_pulse, "reset-pulse",
           rf"{family}: line {LINE} was driven \[1, 0, 1, 0, 1\], not one pulse \[1, 0, 1\]")
    broken("a pulse at the wrong polarity", inverted, "reset-pulse",
           rf"{family}: line {LINE} was driven \[0, 1, 0\], not one pulse \[1, 0, 1\]")
    def not_inverted(f):
        f.windows[f"active-low-{MODEL}"][:4] = pulse([1, 0, 1])

    broken("an active-low pulse at the wrong polarity", not_inverted, "reset-pulse active-low",
           rf"active-low-{MODEL}: line {LINE} was driven \[1, 0, 1\], not one pulse \[0, 1, 0\]")
    broken("another line touched", other_line, "reset-pulse", r"changes lines other than 17")

    # A refusal that still sent a transfer or touched the line, or did not refuse alike.
    def refusal_edit(window=None, **files):
        def edit(f):
            if window is not None:
                f.windows["refuse-held-line"] = window
            f.cases["refuse-held-line"].update(files)
        return edit

    broken("a refusal that sent a transfer", refusal_edit(bus_lines(ADDRESS, "read", 0x00, 0x05)), "refusal",
           r"refuse-held-line: refused, yet the board was touched: \[\(90, 'read', 0, 5\)\]")
    broken("a refusal that touched the line", refusal_edit(pulse([1])), "refusal",
           r"refuse-held-line: refused, yet the board was touched: \[\('" + re.escape(BANK) + r"', 'DR', 131072\)")
    broken("a refusal with exit 1", refusal_edit(exit="1\n"), "refusal", r"exit 1 with 1 lines on standard error")
    broken("a refusal in two lines", refusal_edit(stderr="murvane-board: busy\nmurvane-board: try again\n"),
           "refusal", r"exit 2 with 2 lines on standard error")
    broken("a refusal for another reason", refusal_edit(stderr="murvane-board: no line 32 on /dev/gpiochip0\n"),
           "refusal", r"does not say /line 17 \.\*busy/")
    broken("a refusal whose reason was not there", refusal_edit(**{"pre.txt": ""}), "refusal",
           r"before the run the guest did not see")

    # An absent chip blamed on the reset line, or not said to be absent.
    def absent_edit(last_line=None, status=None, code=None):
        def edit(f):
            case = f.cases["absent-chip"]
            if last_line is not None:
                case["stderr"] = last_line + "\n"
            if status is not None:
                evs = events(case["trace.jsonl"])
                for e in evs:
                    if e["ev"] in ("i2c_read", "i2c_write"):
                        e["status"] = status
                        break
                case["trace.jsonl"] = jsonl(evs)
            if code is not None:
                case["exit"] = code
        return edit

    held_line = ("murvane-board: bring-up not complete: nothing answered at 0x5B on /dev/i2c-2: all 2 transfers "
                 "failed (ETIMEDOUT); is the reset line held low?")
    broken("an absent chip blamed on a held reset line", absent_edit(held_line), "absent",
           r"absent-chip: the last line on standard error blames the reset line: .*reset line held low")
    broken("an absent chip blamed on the GPIO", absent_edit(held_line.replace("reset line", "GPIO line")), "absent",
           r"blames the reset line")
    broken("an absent chip not said so", absent_edit("murvane-board: bring-up not complete: EIO"), "absent",
           r"do not say nothing answered")
    broken("an absent chip with another errno", absent_edit(status=6), "absent", r"failed with \[6, 110\], not ETIMEDOUT")
    broken("an absent chip with exit 0", absent_edit(code="0\n"), "absent", r"absent-chip: exit 0, not 1")

    # A family run whose trace equals the dry run's but that did not say complete.
    broken("a run that equals the dry run but exits 1", lambda f: f.cases[family].update(exit="1\n"), "family",
           r"the trace equals the dry run's but the run exits 1")
    # A case the boot did not run.
    def without_case(f):
        del f.cases[family]
        del f.windows[family]

    broken("a case missing", without_case, "bus-witness", rf"no results for case {family}")

    print(f"FAILED: {failures} of the checks above" if failures else "PASSED")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))

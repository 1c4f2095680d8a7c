#!/usr/bin/env python3
"""Checks one thing about a rig boot's results (rig.py's OUT folder). Prints
what it checked and exits 0, or names the first thing that is wrong and
exits 1.

usage: check.py family OUT MODEL --dry-run MURVANE_BOARD --power-on HELPER --sim MURVANE_SIM
       check.py bus-witness OUT CASE...
       check.py reset-pulse OUT --active-low|--active-high CASE...
       check.py refusal OUT CASE WORDS [BEFORE]
       check.py absent OUT CASE
       check.py package OUT CASE DEB VERSION
       check.py calls OUT MODEL --dry-run MURVANE_BOARD --power-on HELPER --sim MURVANE_SIM
"""

import hashlib
import io
import json
import os
import re
import subprocess
import sys
import tarfile
import tempfile

ADDRESS = 0x5A
MARKER = 0x50
LINE = 17


def fail(message):
    print(f"FAIL: {message}")
    sys.exit(1)


def case_dir(out, case):
    d = os.path.join(out, "cases", case)
    if not os.path.isdir(d):
        fail(f"no results for case {case} in {out}/cases: did the rig boot run it? (see {out}/console.log)")
    return d


def read(d, name):
    path = os.path.join(d, name)
    return open(path).read() if os.path.exists(path) else ""


def events(path):
    return [json.loads(line) for line in open(path) if line.strip()]


def strip_times(evs):
    return [{k: v for k, v in e.items() if k != "t_us"} for e in evs]


def case_index(out, case):
    for c in json.load(open(os.path.join(out, "cases.json"))):
        if c["name"] == case:
            return c["index"]
    fail(f"{case} is not one of the boot's cases")


def qemu_window(out, case):
    """QEMU's trace lines between the case's two markers (a write of its index
    to the marker chip before the run, index + 128 after)."""
    index = case_index(out, case)
    lines = open(os.path.join(out, "qemu-trace.log")).read().splitlines()
    marks = []
    for i in range(len(lines) - 2):
        if (lines[i].endswith(f"start(addr:0x{MARKER:02x})") and
                lines[i + 1].endswith(f"send(addr:0x{MARKER:02x}) data:0x00")):
            m = re.search(r"data:0x([0-9a-f]+)$", lines[i + 2])
            if m:
                marks.append((int(m.group(1), 16), i))
    begin = [i for v, i in marks if v == index]
    end = [i for v, i in marks if v == index + 128]
    if len(begin) != 1 or len(end) != 1:
        fail(f"QEMU's trace has {len(begin)} begin and {len(end)} end markers for {case}, not one each")
    window = lines[begin[0] + 4:end[0]]
    return window


def bus_transfers(window):
    """Register transfers on the bus as QEMU's I2C model saw them: a start
    (address, then bytes sent or received) up to its finish. QEMU reports a
    repeated start as a finish and a start, so a register read is a write of
    the register byte followed by a read of one byte."""
    segments = []
    current = None
    for line in window:
        m = re.search(r"i2c_event (start|start_async|start_recv|start_send)\(addr:0x([0-9a-f]+)\)", line)
        if m:
            current = {"addr": int(m.group(2), 16), "sent": [], "received": []}
            segments.append(current)
            continue
        m = re.search(r"i2c_(send|recv) (?:send|recv)\(addr:0x([0-9a-f]+)\) data:0x([0-9a-f]+)", line)
        if m and current is not None:
            current["sent" if m.group(1) == "send" else "received"].append(int(m.group(3), 16))
    transfers = []
    i = 0
    while i < len(segments):
        s = segments[i]
        if len(s["sent"]) == 2 and not s["received"]:
            transfers.append((s["addr"], "write", s["sent"][0], s["sent"][1]))
            i += 1
        elif (len(s["sent"]) == 1 and not s["received"] and i + 1 < len(segments) and
              segments[i + 1]["addr"] == s["addr"] and len(segments[i + 1]["received"]) == 1 and
              not segments[i + 1]["sent"]):
            transfers.append((s["addr"], "read", s["sent"][0], segments[i + 1]["received"][0]))
            i += 2
        else:
            transfers.append((s["addr"], "other", tuple(s["sent"]), tuple(s["received"])))
            i += 1
    return transfers


def tool_transfers(evs):
    out = []
    for e in evs:
        if e["ev"] in ("i2c_read", "i2c_write") and e["status"] == 0:
            out.append((ADDRESS, "read" if e["ev"] == "i2c_read" else "write", e["reg"], e["value"]))
    return out


def verdict_line(stdout):
    lines = [line for line in stdout.splitlines() if line.startswith("bring-up")]
    return lines[-1] if lines else ""


def parting(a, b):
    """The first event at which two traces differ (the shorter one's end
    when one begins the other)."""
    return next(i for i in range(min(len(a), len(b)) + 1) if i >= len(a) or i >= len(b) or a[i] != b[i])


def sim_on_answers(label, model, sim_tool, rig, calls=()):
    """murvane-sim's trace (t_us aside) of the driver on model, its chip's
    every read scripted with what the rig's register file answered, and the
    same calls after the bring-up."""
    reads = {}
    for e in rig:
        if e["ev"] == "i2c_read" and e["status"] == 0:
            reads.setdefault(f"0x{e['reg']:02X}", []).append(e["value"])
    with tempfile.TemporaryDirectory() as tmp:
        scenario = os.path.join(tmp, "answers.json")
        with open(scenario, "w") as f:
            json.dump({"chip": model, "reads": reads}, f)
        sim_path = os.path.join(tmp, "sim.jsonl")
        sim_run = subprocess.run([sim_tool, scenario, "--trace", sim_path, "--quiet", *calls],
                                 capture_output=True, text=True)
        if sim_run.returncode != 0:
            fail(f"{label}: murvane-sim on the register file's answers exits {sim_run.returncode}: {sim_run.stderr.strip()}")
        return strip_times(events(sim_path))


def check_family(out, model, dry_tool, power_on, sim_tool):
    d = case_dir(out, f"family-{model}")
    rc = int(read(d, "exit") or -1)
    rig = events(os.path.join(d, "trace.jsonl"))
    with tempfile.TemporaryDirectory() as tmp:
        dry_path = os.path.join(tmp, "dry.jsonl")
        dry_run = subprocess.run([dry_tool, "--dry-run", "--chip", model, "--yes", "--quiet", "--trace", dry_path],
                                 capture_output=True, text=True)
        dry = events(dry_path)
    if dry_run.returncode != 0:
        fail(f"the dry run of {model} exits {dry_run.returncode}: {dry_run.stderr.strip()}")
    verdict = verdict_line(read(d, "stdout"))
    a, b = strip_times(rig), strip_times(dry)
    if a == b:
        if rc != 0 or "bring-up      complete" not in verdict:
            fail(f"{model}: the trace equals the dry run's but the run exits {rc} with \"{verdict}\"")
        print(f"{model}: exit 0, {len(rig)} events, the trace equals the dry run's (t_us aside); \"{verdict}\"")
        return
    # Where the two part, the register file must have answered what it held:
    # the chip model's power-on values, then whatever the run wrote. A chip
    # measures and clears bits by itself; a register file does not.
    first = parting(a, b)
    held_reads(model, power_on, rig)
    if first >= len(a) or first >= len(b) or a[first]["ev"] != "i2c_read" or b[first]["ev"] != "i2c_read":
        fail(f"{model}: the trace departs from the dry run's at event {first} with something other than a "
             f"register read: rig {a[first] if first < len(a) else 'end'}, dry run {b[first] if first < len(b) else 'end'}")
    # The driver given the same answers on the simulator must do the same:
    # murvane-sim, its chip's every read scripted with what the register
    # file answered.
    sim = sim_on_answers(model, model, sim_tool, rig)
    if sim != a:
        j = parting(a, sim)
        fail(f"{model}: the run and murvane-sim on the same answers part at event {j}: "
             f"rig {a[j] if j < len(a) else 'end'}, murvane-sim {sim[j] if j < len(sim) else 'end'}")
    if rc != 1 or "not complete" not in verdict:
        fail(f"{model}: the register file answered differently from the chip, yet the run exits {rc} with \"{verdict}\"")
    last_err = read(d, "stderr").strip().splitlines()[-1:] or [""]
    if "not complete" not in last_err[0]:
        fail(f"{model}: the last line on standard error is \"{last_err[0]}\", not why the bring-up is not complete")
    print(f"{model}: exit 1, {len(rig)} events. The trace equals the dry run's up to event {first}, a read of register "
          f"0x{a[first]['reg']:02X} that the chip answers by itself (the chip model 0x{b[first]['value']:02X}: a "
          f"measurement, or a bit the chip clears) and a register file with what it last held (0x{a[first]['value']:02X}): "
          f"a register file never measures nor clears a bit by itself. Every read answered what the register file held; the whole trace equals murvane-sim's with "
          f"the chip scripted to those answers; \"{verdict}\"")
    print(f"{model}: the transfers are checked against QEMU's bus trace (rig*_bus_witness)")


def check_bus_witness(out, cases):
    for case in cases:
        d = case_dir(out, case)
        seen = bus_transfers(qemu_window(out, case))
        driven = tool_transfers(events(os.path.join(d, "trace.jsonl")))
        if not driven:
            fail(f"{case}: the run's trace has no register transfer")
        for i in range(max(len(seen), len(driven))):
            s = seen[i] if i < len(seen) else "nothing"
            t = driven[i] if i < len(driven) else "nothing"
            if s != t:
                fail(f"{case}: transfer {i}: QEMU's bus saw {s}, the run's trace says {t}")
        print(f"{case}: QEMU's I2C model saw the same {len(seen)} register transfers in the same order "
              "(address, direction, register, value)")


def gpio_writes(window):
    out = []
    for line in window:
        m = re.search(r"imx_gpio_write (\S+):\[(DR|GDIR)\] <- 0x([0-9a-f]+)", line)
        if m:
            out.append((m.group(1), m.group(2), int(m.group(3), 16)))
    return out


def check_reset_pulse(out, case, active_low):
    writes = gpio_writes(qemu_window(out, case))
    bit = 1 << LINE
    banks = sorted({w[0] for w in writes})
    if len(banks) != 1:
        fail(f"{case}: GPIO writes to {banks or 'no bank'}, not to the reset line's one bank")
    state = {"DR": None, "GDIR": None}
    levels = []
    for _, reg, value in writes:
        if state[reg] is not None and (state[reg] ^ value) & ~bit:
            fail(f"{case}: a write of {reg} changes lines other than {LINE}: 0x{state[reg]:08x} -> 0x{value:08x}")
        state[reg] = value
        if state["GDIR"] is not None and state["GDIR"] & bit and state["DR"] is not None:
            level = 1 if state["DR"] & bit else 0
            if not levels or levels[-1] != level:
                levels.append(level)
    asserted = 1 if active_low else 0
    released = 1 - asserted
    if levels != [released, asserted, released]:
        fail(f"{case}: line {LINE} was driven {levels}, not one pulse {[released, asserted, released]}")
    print(f"{case}: QEMU's GPIO model saw line {LINE} driven {released}, then exactly one pulse to {asserted}, "
          f"then {released} ({'--gpio-active-low' if active_low else 'active high'})")


def check_refusal(out, case, words, before):
    d = case_dir(out, case)
    # What the guest set up before the run shows the reason was there.
    if before and not re.search(before, read(d, "pre.txt")):
        fail(f"{case}: before the run the guest did not see /{before}/: {read(d, 'pre.txt').strip()[:300]}")
    rc = int(read(d, "exit") or -1)
    err = read(d, "stderr").splitlines()
    if rc != 2 or len(err) != 1:
        fail(f"{case}: exit {rc} with {len(err)} lines on standard error, not exit 2 with one line: {err}")
    if not re.search(words, err[0]):
        fail(f"{case}: \"{err[0]}\" does not say /{words}/")
    window = qemu_window(out, case)
    touched = [t for t in bus_transfers(window) if t[0] == ADDRESS] + gpio_writes(window)
    if touched:
        fail(f"{case}: refused, yet the board was touched: {touched[:3]}")
    print(f"{case}: exit 2, \"{err[0]}\"; QEMU saw no transfer to 0x{ADDRESS:02X} and no GPIO write")


def check_absent(out, case):
    d = case_dir(out, case)
    rc = int(read(d, "exit") or -1)
    err = read(d, "stderr").strip().splitlines()
    verdict = verdict_line(read(d, "stdout"))
    if rc != 1:
        fail(f"{case}: exit {rc}, not 1")
    if not err or "nothing answered" not in err[-1] or "nothing answered" not in verdict:
        fail(f"{case}: the last line on standard error {err[-1:]} and the verdict \"{verdict}\" do not say nothing answered")
    if re.search(r"reset|gpio", err[-1], re.IGNORECASE):
        fail(f"{case}: the last line on standard error blames the reset line: \"{err[-1]}\"")
    statuses = {e["status"] for e in events(os.path.join(d, "trace.jsonl")) if e["ev"] in ("i2c_read", "i2c_write")}
    if statuses != {110}:
        fail(f"{case}: the transfers failed with {sorted(statuses)}, not ETIMEDOUT (110) as QEMU's i.MX I2C model gives")
    print(f"{case}: exit 1, every transfer ETIMEDOUT (110); \"{err[-1]}\"")


def held_reads(model, power_on, rig, f0=None):
    """Fails unless every read of the trace answered what the register file
    held: its preload (the model's power-on values, with f0 the period of
    that measured frequency), then whatever the run wrote."""
    helper = [power_on, model] + (["--f0", str(f0)] if f0 else [])
    held = [int(line.split()[1], 16)
            for line in subprocess.run(helper, check=True, capture_output=True, text=True).stdout.splitlines()]
    for i, e in enumerate(rig):
        if e["ev"] == "i2c_write" and e["status"] == 0:
            held[e["reg"]] = e["value"]
        elif e["ev"] == "i2c_read" and e["status"] == 0 and e["value"] != held[e["reg"]]:
            fail(f"{model}: event {i}: register 0x{e['reg']:02X} read 0x{e['value']:02X}, "
                 f"but the register file held 0x{held[e['reg']]:02X}")


def f0_line_expected(evs):
    """The f0 line the tool owes for the get_f0 of the trace, from what the
    driver logged between its call and its return."""
    inside, logged = False, []
    for e in evs:
        if e["ev"] == "call" and e["fn"] == "slot:get_f0":
            inside = True
        elif e["ev"] == "return" and e["fn"] == "slot:get_f0":
            break
        elif inside and e["ev"] == "log":
            logged.append(e["text"])
    for text in logged:
        m = re.match(r"Murvane: lra[_ ]f0=(\d+)\n", text)
        if m:
            f0 = int(m.group(1))
            return f"f0            {f0 // 10}.{f0 % 10} Hz, measured (the driver's lra_f0: {f0}, in 0.1 Hz)", logged
        if text.startswith("Murvane: lra_f0 is error, f0_reg=0"):
            return "f0            not measured: the measurement gave no period (the driver's zero-period path", logged
    return "f0            not measured: the measurement did not finish (the driver's time-out path)", logged


def check_calls(out, model, dry_tool, power_on, sim_tool):
    """--call get_f0 --call stop after the bring-up, on the register file. A
    register file never measures: its period registers were preloaded with
    what a chip that measured the case's f0 reports, and answer that. So the
    run is held against murvane-sim given the same answers and the same
    calls, and the f0 line against what the driver logged."""
    case = f"calls-{model}"
    d = case_dir(out, case)
    f0 = next(c.get("f0") for c in json.load(open(os.path.join(out, "cases.json"))) if c["name"] == case)
    calls = ["--call", "get_f0", "--call", "stop"]
    rc = int(read(d, "exit") or -1)
    rig = events(os.path.join(d, "trace.jsonl"))
    called = [e["fn"] for e in rig if e["ev"] in ("call", "return")]
    if called != ["entry", "entry", "slot:get_f0", "slot:get_f0", "slot:stop", "slot:stop"]:
        fail(f"{case}: the trace's calls and returns are {called}, not the entry's, get_f0's and stop's")
    held_reads(model, power_on, rig, f0)
    sim = sim_on_answers(case, model, sim_tool, rig, calls)
    with tempfile.TemporaryDirectory() as tmp:
        dry_path = os.path.join(tmp, "dry.jsonl")
        subprocess.run([dry_tool, "--dry-run", "--chip", model, "--yes", "--quiet", "--trace", dry_path] + calls,
                       capture_output=True, text=True)
        dry = strip_times(events(dry_path))
    a = strip_times(rig)
    if sim != a:
        j = parting(a, sim)
        fail(f"{case}: the run and murvane-sim on the same answers and calls part at event {j}: "
             f"rig {a[j] if j < len(a) else 'end'}, murvane-sim {sim[j] if j < len(sim) else 'end'}")
    want, logged = f0_line_expected(rig)
    stdout = read(d, "stdout")
    got = [line for line in stdout.splitlines() if line.startswith("f0 ")]
    if len(got) != 1 or not got[0].startswith(want):
        fail(f"{case}: the f0 line is {got}; the driver logged {logged} during get_f0, which makes it \"{want}...\"")
    measured = "measured (" in want
    complete = "bring-up      complete" in verdict_line(stdout)
    if rc != (0 if measured and complete else 1):
        fail(f"{case}: exit {rc} with the f0 line \"{got[0]}\" and the verdict \"{verdict_line(stdout)}\"")
    period = [e for e in rig if e["ev"] == "i2c_read" and e["status"] == 0]
    # The period registers are those the f0 preload changes; their reads in
    # get_f0, in the trace and on QEMU's bus, are the bytes the f0 came from.
    def preload(extra):
        return subprocess.run([power_on, model] + extra, check=True, capture_output=True, text=True).stdout.splitlines()
    period_regs = {int(a.split()[0], 16) for a, b in zip(preload([]), preload(["--f0", str(f0)] if f0 else []))
                   if a != b}
    begin = next(i for i, e in enumerate(rig) if e["ev"] == "call" and e["fn"] == "slot:get_f0")
    end = next(i for i, e in enumerate(rig) if e["ev"] == "return" and e["fn"] == "slot:get_f0")
    period_reads = [(e["reg"], e["value"]) for e in rig[begin:end] if e["ev"] == "i2c_read" and e["reg"] in period_regs]
    on_bus = [(t[2], t[3]) for t in bus_transfers(qemu_window(out, case)) if t[1] == "read" and t[2] in period_regs]
    if f0 and (len(period_reads) != 2 or on_bus[-2:] != period_reads):
        fail(f"{case}: get_f0's reads of the period registers {sorted(period_regs)} are {period_reads} in the trace "
             f"and {on_bus} on QEMU's bus")
    if f0:
        print(f"{case}: get_f0 read the period " + ", ".join(f"0x{r:02X} = 0x{v:02X}" for r, v in period_reads) +
              ", and QEMU's I2C model saw those two reads answered so")
    first = next((i for i in range(min(len(a), len(dry))) if a[i] != dry[i]), None)
    where = ("equals the dry run's" if a == dry else
             f"departs from the dry run's (the chip model) at event {first}, "
             f"{'a register read: ' + hex(a[first]['reg']) if first is not None and a[first]['ev'] == 'i2c_read' else a[first] if first is not None else 'its end'}")
    if f0 and not measured:
        fail(f"{case}: the register file held the period of a {f0 / 10:.1f} Hz measurement, yet \"{got[0]}\"")
    print(f"{case}: exit {rc}; \"{got[0]}\"")
    print(f"{case}: the driver logged {[t.strip() for t in logged]} during get_f0; the register file never "
          f"measures: its period registers held what a chip that measured {f0 / 10:.1f} Hz reports, so the trace ({len(rig)} events, {len(period)} reads, each what the "
          f"register file held) {where}, and equals murvane-sim's with the chip scripted to the same answers and "
          f"the same calls; QEMU's bus trace witnesses the transfers (rig*_bus_witness)")


def check_package(out, case, deb, version):
    """The packaged tool ran in the guest, not the build tree's: the file the
    case ran is the one in the package, and --version says the release's."""
    d = case_dir(out, case)
    tool = next(c["tool"] for c in json.load(open(os.path.join(out, "cases.json"))) if c["name"] == case)
    field = subprocess.run(["dpkg-deb", "-f", deb, "Version"], capture_output=True, text=True, check=True).stdout.strip()
    if field != version:
        fail(f"{deb}: Version {field}, not the release's {version}")
    packed = subprocess.run(["dpkg-deb", "--fsys-tarfile", deb], capture_output=True, check=True).stdout
    with tarfile.open(fileobj=io.BytesIO(packed)) as tar:
        binary = tar.extractfile("./usr/bin/murvane-board").read()
    want = hashlib.sha256(binary).hexdigest()
    seen = read(d, "pre.txt").split()
    if seen[:2] != [want, tool]:
        fail(f"{case}: the guest's {tool} is not the package's /usr/bin/murvane-board (sha256 {want[:16]}...): "
             f"sha256sum said {' '.join(seen)[:120]}")
    rc = int(read(d, "exit") or -1)
    said = read(d, "stdout").strip()
    if rc != 0 or said != f"murvane-board v{version}" or read(d, "stderr"):
        fail(f"{case}: {tool} --version exits {rc} and says \"{said}\" (standard error "
             f"\"{read(d, 'stderr').strip()}\"), not murvane-board v{version}")
    print(f"{case}: {tool}, the file {os.path.basename(deb)} installs (sha256 {want[:16]}...), "
          f"ran in the guest: \"{said}\", exit 0")


def main():
    if len(sys.argv) < 3:
        fail(__doc__)
    what, out, rest = sys.argv[1], sys.argv[2], sys.argv[3:]
    if what == "family" and len(rest) == 7 and rest[1:7:2] == ["--dry-run", "--power-on", "--sim"]:
        check_family(out, rest[0], rest[2], rest[4], rest[6])
    elif what == "bus-witness" and rest:
        check_bus_witness(out, rest)
    elif what == "reset-pulse" and len(rest) >= 2 and rest[0] in ("--active-low", "--active-high"):
        for case in rest[1:]:
            check_reset_pulse(out, case, rest[0] == "--active-low")
    elif what == "refusal" and len(rest) in (2, 3):
        check_refusal(out, rest[0], rest[1], rest[2] if len(rest) == 3 else "")
    elif what == "absent" and len(rest) == 1:
        check_absent(out, rest[0])
    elif what == "calls" and len(rest) == 7 and rest[1:7:2] == ["--dry-run", "--power-on", "--sim"]:
        check_calls(out, rest[0], rest[2], rest[4], rest[6])
    elif what == "package" and len(rest) == 3:
        check_package(out, rest[0], rest[1], rest[2])
    else:
        fail(__doc__)


if __name__ == "__main__":
    main()

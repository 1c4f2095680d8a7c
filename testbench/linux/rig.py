#!/usr/bin/env python3
"""Boots one of Debian's Arm kernels under QEMU with murvane-board in an
initramfs, installed from its Debian package (dpkg -x into the root file
system), runs a list of cases on it in one boot, and leaves what each run
gave (standard output and error, exit code, jsonl trace) in OUT/cases/NAME/,
with the console in OUT/console.log and QEMU's own trace of its I2C and GPIO
models in OUT/qemu-trace.log. The checks are check.py's.

usage: rig.py --arch arm64|armhf --cache DIR --package DEB [--package DEB ...]
              --power-on MURVANE_POWER_ON --models M1,M2,... --out DIR
              [--active-low-model M] [--calls-models M1,M2,...] [--timeout S]

The first package (the rig's own architecture) is unpacked into / and its
/usr/bin/murvane-board runs every case; any other (the 32-bit package on
the 64-bit kernel, as on a board with a 64-bit kernel and a 32-bit system)
into /pkg/ARCH/, where its --version runs too. Each --calls-models model
also runs with --call get_f0 --call stop after its bring-up (case
calls-MODEL).
"""

import argparse
import base64
import gzip
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tarfile
import time

# What each rig boots: QEMU machine, kernel flavour, device tree, console,
# the QEMU bus of the chip and Linux's number for it, the reset line, and
# the modules to load (with their dependencies first).
RIGS = {
    "arm64": {
        "qemu": "qemu-system-aarch64",
        "machine": ["-M", "imx8mp-evk", "-m", "1G"],
        "dtb": "freescale/imx8mp-evk.dtb",
        "console": "ttymxc1,115200",
        "serial": ["-serial", "null", "-serial", "stdio"],
        "qemu_bus": "i2c-bus.2",
        "bus": 2,
        "gpiochip": 0,
        "line": 17,
        "lines": 32,
        "modules": ["i2c-imx", "i2c-dev", "at24"],
    },
    "armhf": {
        "qemu": "qemu-system-arm",
        "machine": ["-M", "mcimx7d-sabre", "-m", "1G"],
        "dtb": "imx7d-sdb.dtb",
        "console": "ttymxc0,115200",
        "serial": ["-serial", "stdio"],
        "qemu_bus": "i2c-bus.2",
        "bus": 2,
        "gpiochip": 0,
        "line": 17,
        "lines": 32,
        "modules": ["gpio-mxc", "i2c-imx", "i2c-dev", "at24"],
    },
}

ADDRESS = 0x5A  # the chip: a 256-byte at24c, one address byte: a register file
MARKER = 0x50  # a second at24c whose writes cut QEMU's trace into cases
ABSENT = 0x5B  # nothing there

INIT = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mount -t debugfs debugfs /sys/kernel/debug
echo "@@rig booted $(cut -d' ' -f1 /proc/uptime)"
for m in $(cat /modules.list); do
  insmod "/modules/$m" || echo "@@rig insmod $m failed"
done
n=0
while [ ! -e /dev/i2c-$BUS ] || [ ! -e /dev/gpiochip$GPIOCHIP ]; do
  n=$((n + 1))
  if [ $n -gt 200 ]; then
    echo "@@rig devices missing: $(ls /dev)"
    poweroff -f
  fi
  sleep 0.05
done
echo "@@rig devices $(cut -d' ' -f1 /proc/uptime)"
mkdir -p /out
# One case: the register file preloaded, the commands before it, a marker,
# the tool (a packaged murvane-board), a marker, the commands after it.
mark() { i2cset -y $BUS $MARKER 0x00 "$1"; }
case_run() {
  name=$1 index=$2 tool=$3
  shift 3
  mkdir -p "/out/$name"
  cd "/out/$name"
  [ -f "/preload/$name" ] && i2ctransfer -y $BUS $(cat "/preload/$name")
  [ -f "/pre/$name" ] && sh "/pre/$name" >pre.txt 2>&1
  mark $index
  "$tool" "$@" >stdout 2>stderr
  echo $? >exit
  mark $((index + 128))
  [ -f "/post/$name" ] && sh "/post/$name" >post.txt 2>&1
  echo "@@case $name exit $(cat exit) $(cut -d' ' -f1 /proc/uptime)"
  cd /
}
. /cases.sh
echo "@@results-begin"
tar -C /out -czf - . | base64
echo "@@results-end"
poweroff -f
"""


def module_files(root, names):
    """The modules' files, each after those it depends on (read from the
    modules' own depends= fields: the package ships no modules.dep)."""
    (release,) = os.listdir(os.path.join(root, "lib", "modules"))
    base = os.path.join(root, "lib", "modules", release, "kernel")
    index = {}
    for folder, _, files in os.walk(base):
        for f in files:
            if f.endswith(".ko"):
                index[f[:-3].replace("-", "_")] = os.path.join(folder, f)

    def depends(path):
        with open(path, "rb") as fh:
            for field in fh.read().split(b"\0"):
                if field.startswith(b"depends="):
                    return [d for d in field[8:].decode().split(",") if d]
        return []

    order = []

    def visit(name):
        key = name.replace("-", "_")
        if key not in index:
            raise SystemExit(f"rig.py: no module {name} in {base}")
        if index[key] in order:
            return
        for d in depends(index[key]):
            visit(d)
        order.append(index[key])

    for n in names:
        visit(n)
    return order


def power_on(helper, model):
    """The register file's preload: the model's power-on values (model a
    name), or with the period of a measured f0 (model a (name, f0) pair)."""
    name, f0 = model if isinstance(model, tuple) else (model, None)
    out = subprocess.run([helper, name] + (["--f0", str(f0)] if f0 else []), check=True, capture_output=True,
                         text=True).stdout
    values = [line.split()[1] for line in out.splitlines()]
    if len(values) != 256:
        raise SystemExit(f"rig.py: {helper} {model} gave {len(values)} registers, not 256")
    return values


TOOL = "/usr/bin/murvane-board"


def tool_of(arch, own_arch):
    """Where the guest finds the murvane-board a package of arch installed."""
    return TOOL if arch == own_arch else f"/pkg/{arch}{TOOL}"


CALLS = ["--call", "get_f0", "--call", "stop"]
# A register file never measures: for the calls cases the f0 detector's
# period registers are preloaded with what the chip model reports once it
# has measured an actuator at this frequency (0.1 Hz), not the 170.0 Hz the
# families' records expect, so that the f0 printed can only come from them.
CALLS_F0 = 1650


def cases(rig, models, active_low_model, package_archs, own_arch, calls_models):
    """(name, tool arguments, register-file model or None, commands before,
    commands after[, tool]). The packaged tools' --version first, the
    commands before it showing which file ran."""
    bus, chip, line = rig["bus"], rig["gpiochip"], rig["line"]
    base = ["--yes", "--bus", str(bus), "--gpio-chip", str(chip), "--gpio-line", str(line)]
    run = base + ["--address", f"0x{ADDRESS:02X}", "--trace", "trace.jsonl"]
    out = [(f"package-{a}", ["--version"], None, f"sha256sum {tool_of(a, own_arch)}\n", None, tool_of(a, own_arch))
           for a in package_archs]
    out += [(f"family-{m}", run, m, None, None) for m in models]
    out += [(f"calls-{m}", run + CALLS, (m, CALLS_F0), None, None) for m in calls_models]
    if active_low_model:
        out.append((f"active-low-{active_low_model}", run + ["--gpio-active-low"], active_low_model, None, None))
        dev = f"/sys/bus/i2c/devices/i2c-{bus}"
        bound = f"/sys/bus/i2c/devices/{bus}-{ADDRESS:04x}/driver"
        out.append(("refuse-bound-driver", run, active_low_model,
                    f"echo 24c02 0x{ADDRESS:02x} > {dev}/new_device\nls -l {bound}\n",
                    f"echo 0x{ADDRESS:02x} > {dev}/delete_device\n"))
        # The line's number in the legacy sysfs numbering: its chip's base.
        out.append(("refuse-held-line", run, None,
                    f"for c in /sys/class/gpio/gpiochip*; do [ -e $c/device/gpiochip{chip} ] && "
                    f"echo $(( $(cat $c/base) + {line} )) > /sys/class/gpio/export && "
                    f"echo $(( $(cat $c/base) + {line} )) > /tmp/held; done\n"
                    "cat /sys/kernel/debug/gpio\n",
                    "echo $(cat /tmp/held) > /sys/class/gpio/unexport\n"))
        beyond = list(run)
        beyond[beyond.index("--gpio-line") + 1] = str(rig["lines"])
        out.append(("refuse-line-beyond-chip", beyond, None, None, None))
        not_i2c = list(run)
        not_i2c[not_i2c.index("--bus") + 1] = f"/dev/gpiochip{chip}"
        out.append(("refuse-not-i2c-dev", not_i2c, None, None, None))
        absent = base + ["--address", f"0x{ABSENT:02X}", "--trace", "trace.jsonl"]
        out.append(("absent-chip", absent, None, None, None))
    return out


def build_initramfs(args, rig, work, case_list):
    root = os.path.join(work, "root")
    shutil.rmtree(root, ignore_errors=True)
    guest = os.path.join(args.cache, args.arch)
    for d in ["bin", "proc", "sys", "dev", "tmp", "modules", "preload", "pre", "post"]:
        os.makedirs(os.path.join(root, d))
    shutil.copy(os.path.join(guest, "bin", "busybox"), os.path.join(root, "bin", "busybox"))
    # The packages, unpacked as dpkg would install them (dpkg -x).
    for arch, deb in args.packages:
        into = root if arch == args.arch else os.path.join(root, "pkg", arch)
        os.makedirs(into, exist_ok=True)
        subprocess.run(["dpkg-deb", "-x", deb, into], check=True)
    names = []
    for path in module_files(guest, rig["modules"]):
        shutil.copy(path, os.path.join(root, "modules", os.path.basename(path)))
        names.append(os.path.basename(path))
    with open(os.path.join(root, "modules.list"), "w") as f:
        f.write("\n".join(names) + "\n")
    settings = f"BUS={rig['bus']}\nGPIOCHIP={rig['gpiochip']}\nMARKER=0x{MARKER:02X}\n"
    with open(os.path.join(root, "init"), "w") as f:
        f.write(INIT.replace("export PATH=/bin\n", "export PATH=/bin\n" + settings))
    os.chmod(os.path.join(root, "init"), 0o755)
    with open(os.path.join(root, "cases.sh"), "w") as f:
        for index, (name, tool_args, model, pre, post, *tool) in enumerate(case_list, start=1):
            if model:
                values = power_on(args.power_on, model)
                with open(os.path.join(root, "preload", name), "w") as p:
                    p.write(f"w257@0x{ADDRESS:02X} 0x00 " + " ".join(values) + "\n")
            if pre:
                with open(os.path.join(root, "pre", name), "w") as p:
                    p.write(pre)
            if post:
                with open(os.path.join(root, "post", name), "w") as p:
                    p.write(post)
            f.write(f"case_run {name} {index} {(tool or [TOOL])[0]} " + " ".join(tool_args) + "\n")
    image = os.path.join(work, "initramfs.cpio.gz")
    listing = subprocess.run(["find", "."], cwd=root, check=True, capture_output=True).stdout
    archive = subprocess.run(["cpio", "--quiet", "-o", "-H", "newc", "-R", "0:0"], cwd=root, input=listing,
                             check=True, capture_output=True).stdout
    with open(image, "wb") as f:
        f.write(gzip.compress(archive, 6))
    return image


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--arch", required=True, choices=sorted(RIGS))
    p.add_argument("--cache", required=True)
    p.add_argument("--package", action="append", required=True, dest="debs")
    p.add_argument("--power-on", required=True)
    p.add_argument("--models", required=True)
    p.add_argument("--active-low-model", default="")
    p.add_argument("--calls-models", default="")
    p.add_argument("--out", required=True)
    p.add_argument("--timeout", type=int, default=240)
    args = p.parse_args()
    rig = RIGS[args.arch]
    guest = os.path.join(args.cache, args.arch)
    qemu = os.path.join(args.cache, "qemu", "usr", "bin", rig["qemu"])
    for need in [qemu, os.path.join(guest, "bin", "busybox"), args.power_on] + args.debs:
        if not os.path.exists(need):
            sys.exit(f"rig.py: {need} is missing (scripts/deps.sh fetches the rig's kernels and QEMU)")
    args.packages = [(subprocess.run(["dpkg-deb", "-f", deb, "Architecture"], check=True, capture_output=True,
                                     text=True).stdout.strip(), deb) for deb in args.debs]
    if args.packages[0][0] != args.arch or len({a for a, _ in args.packages}) != len(args.packages):
        sys.exit(f"rig.py: the first package must be the rig's ({args.arch}), the others of other architectures: "
                 f"{[a for a, _ in args.packages]}")
    (release,) = os.listdir(os.path.join(guest, "lib", "modules"))
    kernel = os.path.join(guest, "boot", f"vmlinuz-{release}")
    dtb = os.path.join(guest, "usr", "lib", f"linux-image-{release}", rig["dtb"])

    shutil.rmtree(args.out, ignore_errors=True)
    os.makedirs(args.out)
    case_list = cases(rig, args.models.split(","), args.active_low_model, [a for a, _ in args.packages], args.arch,
                      [m for m in args.calls_models.split(",") if m])
    with open(os.path.join(args.out, "cases.json"), "w") as f:
        json.dump([{"name": c[0], "args": c[1], "model": c[2][0] if isinstance(c[2], tuple) else c[2],
                    "f0": c[2][1] if isinstance(c[2], tuple) else None, "index": i, "tool": (c[5:] or [TOOL])[0]}
                   for i, c in enumerate(case_list, start=1)], f, indent=1)
    image = build_initramfs(args, rig, args.out, case_list)

    trace = os.path.join(args.out, "qemu-trace.log")
    command = (["timeout", str(args.timeout), qemu] + rig["machine"] +
               ["-display", "none", "-monitor", "none", "-nic", "none"] + rig["serial"] +
               ["-kernel", kernel, "-dtb", dtb, "-initrd", image,
                "-append", f"console={rig['console']} rdinit=/init quiet loglevel=1",
                "-device", f"at24c-eeprom,bus={rig['qemu_bus']},address=0x{ADDRESS:02x},rom-size=256",
                "-device", f"at24c-eeprom,bus={rig['qemu_bus']},address=0x{MARKER:02x},rom-size=256",
                "-trace", "i2c_*", "-trace", "imx_gpio_write", "-D", trace])
    with open(os.path.join(args.out, "command.txt"), "w") as f:
        f.write(" ".join(command) + "\n")
    started = time.monotonic()
    with open(os.devnull, "rb") as no_input:
        done = subprocess.run(command, stdin=no_input, capture_output=True)
    seconds = time.monotonic() - started
    console = done.stdout.decode(errors="replace").replace("\r", "")
    with open(os.path.join(args.out, "console.log"), "w") as f:
        f.write(console)
    print(f"rig.py: {args.arch} boot and {len(case_list)} runs in {seconds:.1f} s (QEMU exit {done.returncode})")
    for line in console.splitlines():
        if line.startswith("@@rig") or line.startswith("@@case"):
            print("  " + line)
    if "@@results-end" not in console:
        sys.stderr.write(done.stderr.decode(errors="replace")[-2000:])
        sys.exit(f"rig.py: the guest did not finish (QEMU exit {done.returncode}); see {args.out}/console.log")
    blob = console.split("@@results-begin\n", 1)[1].split("@@results-end", 1)[0]
    # Only whole lines of base64: a kernel message cannot pass for one.
    data = base64.b64decode("".join(line for line in blob.splitlines() if re.fullmatch(r"[A-Za-z0-9+/=]+", line)))
    with tarfile.open(fileobj=io.BytesIO(data), mode="r:gz") as tar:
        tar.extractall(os.path.join(args.out, "cases"))


if __name__ == "__main__":
    main()

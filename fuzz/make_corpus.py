#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_driver into fuzz/corpus/.

The harness reads its input with FuzzedDataProvider: the model, the platform
options and the calls from the end of the input (integers taken byte by byte
from the back), the bus script from the front. A seed is therefore the bus
script followed by the call bytes in reverse order of consumption.
"""
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def read_models():
    """(model, family) per MODEL line of core/family_list.h, in its order:
    the harness numbers the models as that list does (sim::model_infos)."""
    with open(os.path.join(HERE, "..", "core", "family_list.h")) as f:
        models = re.findall(r"^  MODEL\(([a-z0-9]+), 0x[0-9A-Fa-f]+, ([a-z0-9]+)\)", f.read(), re.MULTILINE)
    if not models:
        sys.exit("make_corpus: no MODEL lines in core/family_list.h")
    return models


MODEL_FAMILIES = read_models()
MODELS = [model for model, _ in MODEL_FAMILIES]
# Each family's first model, which stands for the family.
FIRST_OF_FAMILY = [model for i, (model, family) in enumerate(MODEL_FAMILIES)
                   if family not in (f for _, f in MODEL_FAMILIES[:i])]
NO_CHIP = len(MODELS)
SLOTS = ["get_f0", "offset_calibration", "set_go", "stop", "write_ram", "set_ram_base", "chip_init", "set_gain",
         "set_play_mode", "write_trim_lra", "set_sequence", "set_sequence_loop", "set_ram_access", "qualify_check"]
ARITY = {"set_go": 1, "set_gain": 1, "set_play_mode": 1, "write_trim_lra": 1, "set_ram_access": 1,
         "set_sequence": 2, "set_sequence_loop": 2}

# Option byte: bits 0-1 I2C (0 present, 2 absent, 3 open fails), bits 2-3 pin
# control (0 present, 2 absent, 3 configure fails), bits 4-5 install (0 success,
# 2 invalid parameter, 3 a warning), bit 6 firmware RNG present.
HEALTHY = 0x40


def seed(model, calls, script=b"", options=HEALTHY):
    tail = [model, options, len(calls) - 1]
    for call in calls:
        name, args = (call, []) if isinstance(call, str) else (call[0], list(call[1:]))
        if name == "entry":
            tail.append(0)
        elif name == "start":
            tail.append(1)
        else:
            slot = SLOTS.index(name)
            tail.append(2 + slot)
            assert len(args) == ARITY.get(name, 0), name
            for a in args:
                if name == "write_trim_lra":
                    tail.extend(((a + 2**31) & 0xFFFFFFFF).to_bytes(4, "big"))
                else:
                    tail.append(a & 0xFF)
    return bytes(script) + bytes(reversed(tail))


def m(name):
    return MODELS.index(name)


BOOT = ["entry", "start", "get_f0", "offset_calibration"]
EVERY_SLOT = ["entry", "get_f0", "offset_calibration", ("set_go", 1), "stop", "write_ram", "set_ram_base",
              "chip_init", ("set_gain", 0x80), ("set_play_mode", 4), ("write_trim_lra", 1), ("set_sequence", 0, 1),
              ("set_sequence_loop", 1, 4), ("set_ram_access", 1), "qualify_check"]


def seeds():
    out = {}
    for model in FIRST_OF_FAMILY:
        out[f"healthy-{model}"] = seed(m(model), BOOT)
    out["every-slot-zq3102"] = seed(m("zq3102"), EVERY_SLOT)
    out["every-slot-zq3503"] = seed(m("zq3503"), EVERY_SLOT)
    # 100 transfers through, then the chip is gone.
    out["vanish-zq3402"] = seed(m("zq3402"), BOOT, bytes([0xF0, 100, 0xFF]))
    # Every tenth transfer fails, with varying statuses.
    out["sprinkled-failures-zq3302"] = seed(m("zq3302"), BOOT, bytes(sum(([0xF0, 9, 0xC0 + i] for i in range(32)), [])))
    # Reads answer garbage.
    out["garbage-zq3502"] = seed(m("zq3502"), BOOT, bytes([0xF0, 12]) + bytes(sum(([0x80 + i, (i * 37 + 11) & 0xFF] for i in range(64)), [])))
    # A state register stuck at busy: every standby poll runs out.
    out["stuck-busy-zq3601"] = seed(m("zq3601"), ["entry", "get_f0", "stop"], bytes([0xE0, 0x3F, 0x01]))
    out["stuck-busy-zq3203"] = seed(m("zq3203"), ["entry", "get_f0", ("set_play_mode", 0)], bytes([0xE0, 0x3F, 0x01]))
    out["never-idle-zq3101"] = seed(m("zq3101"), ["entry", "get_f0", "offset_calibration"],
                                    bytes([0xE0, 0x46, 0x09, 0xE0, 0x5F, 0x01]))
    out["no-chip"] = seed(NO_CHIP, ["entry", "start"])
    out["no-i2c"] = seed(m("zq3301"), ["entry", "start"], options=0x02)
    out["i2c-open-fails"] = seed(m("zq3301"), ["entry"], options=0x03)
    out["no-pin-control"] = seed(m("zq3401"), ["entry"], options=0x08)
    out["install-refused"] = seed(m("zq3401"), ["entry", "start"], options=0x20)
    out["unknown-id-zq3602"] = seed(m("zq3602"), ["entry"], bytes([0xE0, 0x58, 0x99]))
    return out


def main():
    corpus = os.path.join(HERE, "corpus")
    os.makedirs(corpus, exist_ok=True)
    for name, data in seeds().items():
        with open(os.path.join(corpus, name), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/env python3
"""The JSON topics as another program reads them: `mosquitto_sub -v` lines
("topic payload") on standard input, each payload parsed by Python's json
module, which refuses what a strict reader would (a duplicate key, a
number no JSON has).  Prints one line per message, "leaf key=value ...",
the values the test compares with the emulator's; exits 1 on the first
payload that is not what docs/bridge.md shows."""
import json
import sys


def unique_keys(pairs):
    keys = [k for k, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError("duplicate key in " + repr(keys))
    return dict(pairs)


def no_constant(name):
    raise ValueError("not JSON: " + name)


def check_bits(d):
    bits = d["bits"]
    if len(bits) != 32 or any(b not in (0, 1) or isinstance(b, bool) for b in bits):
        raise ValueError("bits are not 32 numbers 0 or 1")
    if sum(b << n for n, b in enumerate(bits)) != d["value"]:
        raise ValueError("bits do not make the value")


def describe(leaf, d):
    if leaf == "online":
        return "online=" + str(d).lower()
    if leaf == "inputs":
        check_bits(d)
        return "inputs value=%d" % d["value"]
    if leaf == "status":
        flags = " ".join("%s=%s" % (k, str(d[k]).lower()) for k in ("FN", "PRF", "PWR", "RST", "ERR24"))
        return "status value=%d %s" % (d["value"], flags)
    if leaf == "counters":
        if len(d["counters"]) != 4:
            raise ValueError("not four counters")
        return "counters pulses=" + ",".join(str(c["pulses"]) for c in d["counters"])
    if leaf == "identification":
        return "identification text=%s address=%d" % (d["text"], d["address"])
    raise ValueError("unexpected topic " + leaf)


def main():
    for line in sys.stdin:
        topic, _, payload = line.rstrip("\n").partition(" ")
        try:
            d = json.loads(payload, object_pairs_hook=unique_keys, parse_constant=no_constant)
            if isinstance(d, dict) and not d.get("time", "T").count("T"):
                raise ValueError("time is not ISO 8601")
            print(describe(topic.rsplit("/", 1)[-1], d))
        except (ValueError, KeyError, TypeError) as e:
            print("refused %s: %s (%s)" % (topic, e, payload))
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())

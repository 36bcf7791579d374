#!/usr/bin/env python3
"""Prints the benchmark ratios the performance targets are stated in, from Google Benchmark JSON."""
import json
import sys


def medians(paths):
    times = {}
    for path in paths:
        with open(path) as f:
            report = json.load(f)
        for b in report["benchmarks"]:
            if b.get("aggregate_name") == "median":
                times[b["run_name"]] = b["cpu_time"]
    return times


def main(paths):
    t = medians(paths)
    mib = 1 << 20
    rows = []

    def ratio(label, ours, other, target, better_when_below=True):
        if ours not in t or other not in t:
            return
        value = t[ours] / t[other]
        met = value <= target if better_when_below else value >= target
        rows.append((label, "%.2f" % value, target, "met" if met else "MISSED"))

    ratio("decode printBle 1 MiB / memcpy 1 MiB", "BM_DecodePrintBle/%d" % mib,
          "BM_Memcpy/%d" % mib, 2.0)
    ratio("plug-in path to send, 1 MiB / memcpy 1 MiB", "BM_PluginPrintToSend/%d" % mib,
          "BM_Memcpy/%d" % mib, 3.0)
    for what in ["DecodeSmallCall", "EncodeSmallCall", "DecodeDeviceList", "EncodeDeviceList"]:
        ratio("%s / msgpack-c tree" % what, "BM_" + what, "BM_MsgpackTree" + what, 1.0)
        ratio("%s / msgpack-c structs" % what, "BM_" + what, "BM_MsgpackStruct" + what, 1.0)
    for size in [2 << 10, 64 << 10, mib]:
        for what in ["DecodePrintBle", "EncodePrintBle"]:
            ratio("%s %d / msgpack-c tree" % (what, size), "BM_%s/%d" % (what, size),
                  "BM_MsgpackTree%s/%d" % (what, size), 1.0)
    small, large = "BM_DecodeAscendingMap/1024", "BM_DecodeAscendingMap/65536"
    if small in t and large in t:
        # 64x the entries; linear decoding stays near 64.
        value = t[large] / t[small]
        rows.append(("ascending map 65536 / 1024 entries", "%.1f" % value, "~64 (linear)",
                     "met" if value <= 64 * 1.5 else "MISSED"))

    print("| ratio | measured | target | |")
    print("| --- | --- | --- | --- |")
    for label, value, target, verdict in rows:
        print("| %s | %s | %s | %s |" % (label, value, target, verdict))
    print()
    print("Median CPU time per operation (ns):")
    for name in sorted(t):
        print("  %-45s %12.1f" % (name, t[name]))


if __name__ == "__main__":
    main(sys.argv[1:])

#!/usr/bin/env python3
"""Prints the benchmark figures of one run beside their baselines, with the
ratios and the goals they are held to.

    summarize.py RESULTS_DIR [--markdown FILE]

RESULTS_DIR holds the JSON files tools/run-benchmarks.sh writes: codec.json,
read.json, rpc.json, latency.json, rate.json, soak*.json, fleet.json (Google
Benchmark output) and python.json (python_bench.py).
"""
import argparse
import glob
import json
import os
import sys


def load(path):
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


class Results:
    def __init__(self, folder):
        self.times = {}     # run name -> median real time in ns
        self.counters = {}  # run name -> counters
        self.errors = {}    # run name -> why it could not run
        self.context = None
        for path in sorted(glob.glob(os.path.join(folder, "*.json"))):
            data = load(path)
            if not data or "benchmarks" not in data:
                continue
            self.context = self.context or data.get("context")
            for b in data["benchmarks"]:
                name = b.get("run_name", b["name"]).split("/iterations:")[0]
                if b.get("error_occurred"):
                    self.errors[name] = b.get("error_message", "error")
                    continue
                scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
                if b.get("run_type") == "aggregate":
                    # Repeated micro-benchmarks: the median of the calling
                    # thread's CPU time, which a preemption does not inflate.
                    if b.get("aggregate_name") == "median":
                        self.times[name] = b["cpu_time"] * scale
                    continue
                self.times.setdefault(name, b["real_time"] * scale)
                self.counters[name] = b
        self.python = load(os.path.join(folder, "python.json"))

    def t(self, name):
        return self.times.get(name)

    def c(self, name, key):
        b = self.counters.get(name)
        return None if b is None else b.get(key)


def fmt(v, unit):
    if v is None:
        return "n/a"
    if unit == "ns":
        return "%.0f ns" % v if v >= 100 else "%.1f ns" % v
    if unit == "us":
        return "%.1f µs" % v if v >= 10 else "%.2f µs" % v
    if unit == "hz":
        return "%.0f Hz" % v
    if unit == "pct":
        return "%.2f %%" % v
    if unit == "kib":
        return "%.0f KiB" % v
    if unit == "n":
        return "%.0f" % v
    return "%g" % v


def ratio(a, b):
    if a is None or b is None or b == 0:
        return None
    return a / b


def verdict(ok):
    return "" if ok is None else ("met" if ok else "MISSED")


def rows(r):
    out = []  # (figure, profile, tarn, baseline name, baseline, ratio text, goal, verdict)

    def add(figure, profile, value, unit, base_name, base, goal="", ok=None, ratio_text=None):
        rt = ratio_text
        if rt is None:
            q = ratio(value, base)
            rt = "n/a" if q is None else "%.2f×" % q
        out.append((figure, profile, fmt(value, unit), base_name, fmt(base, unit), rt, goal, verdict(ok)))

    for p in ("dual", "single"):
        for s in ("basic", "extra"):
            dp = r.t("decode_publish/%s/%s" % (p, s))
            cp = r.t("copy_payload/%s/%s" % (p, s))
            mc = r.t("memcpy/%s/%s" % (p, s))
            q = ratio(dp, cp)
            goal, ok = ("≤ 10× copy", None if q is None else q <= 10) if (p, s) == ("dual", "basic") else ("", None)
            add("1. decode+publish, %s sample" % s, p, dp, "ns", "copy of payload bytes", cp, goal, ok)
            add("1. decode+publish, %s sample" % s, p, dp, "ns", "memcpy of the bytes", mc)
            lt, lr = r.t("local_put_tarn/%s/%s" % (p, s)), r.t("local_put_raw_copy/%s/%s" % (p, s))
            add("1. local put, library's subscriber, %s" % s, p, lt, "ns", "local put, raw copying subscriber", lr,
                ratio_text=None if lt is None or lr is None else "%.2f× (%+.0f ns)" % (lt / lr, lt - lr))
    for p in ("dual", "single"):
        st, ac = r.t("states/%s" % p), r.t("actions/%s" % p)
        goal, ok = ("< 2 µs", None if st is None else st < 2000) if p == "dual" else ("", None)
        add("2. states() C++", p, st, "ns", "raw latest basic bytes", r.t("raw_latest_basic/%s" % p), goal, ok)
        add("2. actions() C++", p, ac, "ns", "raw latest extra bytes", r.t("raw_latest_extra/%s" % p))
        add("2. states() C++", p, st, "ns", "estop_released()", r.t("estop_released/%s" % p))
    py = (r.python or {}).get("profiles", {})
    if r.python and r.python.get("skipped"):
        out.append(("2. Python", "-", "skipped", r.python["skipped"], "", "", "", ""))
    for p in ("dual", "single"):
        f = py.get(p)
        if not f:
            continue
        st = f["states"]
        goal, ok = ("< 20 µs", st < 20) if p == "dual" else ("", None)
        add("2. states() Python", p, st, "us", "estop_released() Python", f["estop_released"], goal, ok)
        cpp = r.t("states/%s" % p)
        add("2. states() Python", p, st, "us", "states() C++", None if cpp is None else cpp / 1e3)
        cpp = r.t("actions/%s" % p)
        add("2. actions() Python", p, f["actions"], "us", "actions() C++", None if cpp is None else cpp / 1e3)
        add("2. states() + .q Python", p, f["states_and_q"], "us", "states() Python", st)
    for p in ("dual", "single"):
        n = "latency/%s" % p
        t50, r50 = r.c(n, "tarn_p50_us"), r.c(n, "raw_p50_us")
        t99, r99 = r.c(n, "tarn_p99_us"), r.c(n, "raw_p99_us")
        d = None if t50 is None or r50 is None else t50 - r50
        pd = r.c(n, "paired_diff_p50_us")
        add("3. put → states(), median", p, t50, "us", "raw subscriber", r50, "≤ raw + 5 µs",
            None if d is None else d <= 5,
            None if d is None else "%+.1f µs (per sample: %+.1f µs)" % (d, pd if pd is not None else float("nan")))
        q = ratio(t99, r99)
        add("3. put → states(), p99", p, t99, "us", "raw subscriber", r99, "≤ 1.2× raw", None if q is None else q <= 1.2)
    for p in ("dual", "single"):
        n = "plan_info_round_trip/%s" % p
        t50, r50 = r.c(n, "tarn_p50_us"), r.c(n, "raw_p50_us")
        q = ratio(t50, r50)
        add("4. plan_info() round trip, median", p, t50, "us", "raw get", r50, "≤ 1.1× raw",
            None if q is None else q <= 1.1)
        add("4. plan_info() round trip, p99", p, r.c(n, "tarn_p99_us"), "us", "raw get", r.c(n, "raw_p99_us"))
    for p in ("dual", "single"):
        n = "max_rate/%s" % p
        tm, rm = r.c(n, "tarn_max_hz"), r.c(n, "raw_max_hz")
        add("5. max basic rate, no loss in 2 of 3 trials", p, tm, "hz", "raw counting subscriber", rm, "≥ 10 kHz",
            None if tm is None else tm >= 10000)
        add("5. max basic rate, no loss in 1 of 3 trials", p, r.c(n, "tarn_max_once_hz"), "hz",
            "raw counting subscriber", r.c(n, "raw_max_once_hz"))
    soaks = {}
    for p in ("dual", "single"):
        n = "soak/%s" % p
        if r.c(n, "tarn_cpu_pct") is None:
            continue
        soaks[p] = r.c(n, "seconds")
        q = ratio(r.c(n, "tarn_cpu_pct"), r.c(n, "raw_cpu_pct"))
        wq = r.c(n, "ratio_cpu_window_median")
        add("5. CPU per 1 kHz stream pair", p, r.c(n, "tarn_cpu_pct"), "pct", "raw counting subscriber",
            r.c(n, "raw_cpu_pct"), "≤ 1.2× raw", None if q is None else q <= 1.2,
            None if q is None else "%.2f× (windows: %.2f×)" % (q, wq or float("nan")))
        sent = r.c(n, "sent")
        add("5. basic samples received in the soak", p, r.c(n, "tarn_received"), "n", "raw counting subscriber",
            r.c(n, "raw_received"), ratio_text="of %.0f sent" % sent if sent else "n/a")
        add("6. RSS at rest", p, r.c(n, "tarn_rss_rest_kib"), "kib", "raw subscriber process",
            r.c(n, "raw_rss_rest_kib"))
        secs = r.c(n, "seconds") or 0
        add("6. RSS after %.0f s at 1 kHz" % secs, p, r.c(n, "tarn_rss_end_kib"), "kib", "raw subscriber process",
            r.c(n, "raw_rss_end_kib"))
        g, rg = r.c(n, "tarn_rss_growth_kib"), r.c(n, "raw_rss_growth_kib")
        # A page or two of allocator slack is not growth.
        add("6. RSS growth after warm-up", p, g, "kib", "raw subscriber process", rg, "none (≤ 64 KiB)",
            None if g is None else g <= 64, "%+.0f KiB" % (g - rg) if g is not None and rg is not None else "n/a")
    for name, why in sorted(r.errors.items()):
        if name.startswith("fleet/"):
            out.append(("7. fleet, %s robots" % name.rsplit("/", 1)[1], "dual", "did not run", why, "", "", "", ""))
    sizes = fleet_sizes(r)
    for n in sizes:
        f = "fleet/dual/%d" % n
        tc, rc = r.c(f, "tarn_cpu_pct_per_robot"), r.c(f, "raw_cpu_pct_per_robot")
        q, wq = ratio(tc, rc), r.c(f, "ratio_cpu_window_median")
        add("7. fleet CPU per robot, %d robot%s" % (n, "s" if n > 1 else ""), "dual", tc, "pct",
            "raw counting subscribers", rc, "≤ 1.2× raw", None if q is None else q <= 1.2,
            None if q is None else "%.2f× (windows: %.2f×)" % (q, wq if wq is not None else float("nan")))
        lost = [r.c(f, k) for k in ("tarn_lost_basic", "tarn_lost_extra", "raw_lost_basic", "raw_lost_extra")]
        sent = (r.c(f, "sent_basic"), r.c(f, "sent_extra"))
        if None in lost or None in sent:
            continue
        out.append(("7. fleet samples lost (basic + extra), %d robot%s" % (n, "s" if n > 1 else ""), "dual",
                    "%.0f + %.0f" % tuple(lost[:2]), "raw counting subscribers", "%.0f + %.0f" % tuple(lost[2:]),
                    "of %.0f + %.0f sent" % sent, "none", verdict(lost[0] + lost[1] == 0)))
    if len(sizes) > 1:
        lo, hi = "fleet/dual/%d" % sizes[0], "fleet/dual/%d" % sizes[-1]
        tg = ratio(r.c(hi, "tarn_cpu_pct_per_robot"), r.c(lo, "tarn_cpu_pct_per_robot"))
        rg = ratio(r.c(hi, "raw_cpu_pct_per_robot"), r.c(lo, "raw_cpu_pct_per_robot"))
        figure = "7. fleet CPU per robot, %d against %d robot%s" % (sizes[-1], sizes[0], "s" if sizes[0] > 1 else "")
        out.append((figure, "dual", "n/a" if tg is None else "%.2f×" % tg, "raw counting subscribers",
                    "n/a" if rg is None else "%.2f×" % rg, "n/a" if tg is None or rg is None else "%.2f×" % (tg / rg),
                    "flat (≤ 1.2×)", verdict(None if tg is None else tg <= 1.2)))
    return out


def fleet_sizes(r):
    return sorted(int(name.rsplit("/", 1)[1]) for name in r.counters if name.startswith("fleet/dual/"))


def fleet_context(r):
    """What else had the machine during each fleet window: what limits the
    figures when the goal is missed."""
    out = []
    for n in fleet_sizes(r):
        f = "fleet/dual/%d" % n

        def c(key, form):
            v = r.c(f, key)
            return "n/a" if v is None else form % v

        # Where the machine's figure comes from /proc/stat's sampled ticks,
        # it can be less than our own processes used; then what others used
        # is unknown.
        others = r.c(f, "others_cpu_pct")
        out.append(("%d" % n, c("machine_busy_pct", "%.0f %%") + c("machine_cores", " of %.0f cores"),
                    c("machine_steal_pct", "%.1f %%"), c("cpu_pressure_pct", "%.1f %%"), c("tarn_cpu_pct", "%.1f %%"),
                    c("raw_cpu_pct", "%.1f %%"), c("robots_cpu_pct", "%.1f %%"),
                    "n/a" if others is None else ("%.1f %%" % others if others >= 0 else "(under-counted)"),
                    c("robot_late_ticks", "%.0f") + c("sent_basic", " of %.0f"), c("robot_max_late_ms", "%.2f ms"),
                    c("tarn_wait_ms_per_s", "%.1f") + c("raw_wait_ms_per_s", " / %.1f")
                    + c("robots_wait_ms_per_s", " / %.1f"), c("robots_fifo", "%.0f") + c("robots", " of %.0f")))
    return out


FLEET_HEAD = ("robots", "machine busy", "steal", "CPU pressure", "client process", "raw process", "robots' CPU",
              "others", "late ticks", "latest tick", "waiting for a core, ms/s (client / raw / robots)",
              "robots SCHED_FIFO")


TABLE_HEAD = ("figure", "profile", "TARN", "baseline", "baseline value", "ratio", "goal", "verdict")


def table(out, markdown, head=TABLE_HEAD):
    if markdown:
        lines = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
        lines += ["| " + " | ".join(row) + " |" for row in out]
        return "\n".join(lines)
    widths = [max(len(str(x[i])) for x in [head] + out) for i in range(len(head))]
    lines = ["  ".join(str(x[i]).ljust(widths[i]) for i in range(len(head))).rstrip() for x in [head] + out]
    lines.insert(1, "-" * len(lines[0]))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("results")
    parser.add_argument("--markdown")
    args = parser.parse_args()
    r = Results(args.results)
    out = rows(r)
    print(table(out, markdown=False))
    context = fleet_context(r)
    note = ("\nFleet windows: CPU in percent of one core (client and raw processes over all their robots), "
            "late ticks more than 1 ms behind schedule, summed over the robots; CPU pressure: share of the time "
            "some task on the machine waited for a core; waiting: time the processes' threads were runnable but "
            "had no core, per second")
    if context:
        print(note)
        print(table(context, markdown=False, head=FLEET_HEAD))
    if args.markdown:
        with open(args.markdown, "w") as f:
            f.write(table(out, markdown=True) + "\n")
            if context:
                f.write(note + "\n\n" + table(context, markdown=True, head=FLEET_HEAD) + "\n")
    missed = [row for row in out if row[-1] == "MISSED"]
    print("\n%d goals met, %d missed" % (sum(row[-1] == "met" for row in out), len(missed)))
    return 0


if __name__ == "__main__":
    sys.exit(main())

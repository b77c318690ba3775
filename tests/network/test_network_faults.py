"""When the network between the client and its router fails, the client tells, never hangs, and recovers.

Each scenario runs tarn_net_probe on the client's side and breaks something
at a known moment (CLOCK_MONOTONIC, which the probe's lines share); the
figures are printed as "[ figure   ]" lines (pytest -s shows them).
"""

import re
import time

from conftest import CLIENT_SIDE, LONG, figure

STALE_LIMIT = 0.1          # the probe's --stale-ms 100
DEADLINES = {"plan_info": 2.0, "connected": 1.0}
SLACK = 0.25               # scheduling on a busy 2-core machine
RECOVERY_BOUND = 20.0      # Zenoh's reconnection backs off to 4 s between tries


def wait_connected(probe, timeout=30):
    probe.lines.wait_for('"ev": "connected"', timeout)
    time.sleep(1.0)  # a second of normal traffic first


def first(events, after, pred):
    return next((e for e in events if e["t"] >= after and pred(e)), None)


def requests(events):
    return [e for e in events if e.get("ev") == "request"]


def check_deadlines(events):
    """Every request ended within its deadline; returns the longest, in seconds, per call."""
    longest = {}
    for r in requests(events):
        took = r["t"] - r["start"]
        assert took <= DEADLINES[r["call"]] + SLACK, r
        longest[r["call"]] = max(longest.get(r["call"], 0.0), took)
    return longest


def recovery(events, since):
    """Seconds from `since` to the first new sample and to the first answered request started after it."""
    live = first(events, since, lambda e: e.get("ev") == "freshness" and e["state"] == "live")
    answered = first(events, since, lambda e: e.get("ev") == "request" and e["ok"] and e["start"] >= since)
    assert live is not None and answered is not None, "no recovery after %.3f" % since
    return live["t"] - since, answered["t"] - since


def finish(probe, timeout=60):
    assert probe.wait(timeout) == 0, probe.lines.lines[-20:]
    return probe.lines.json()


def test_router_killed_and_restarted(routed):
    rounds, down = (3, 5.0) if LONG else (1, 1.0)
    probe = routed.probe("--connect", CLIENT_SIDE, "--seconds", str(rounds * (down + 12) + 2))
    wait_connected(probe)
    restarts = []
    for _ in range(rounds):
        killed = routed.kill_router()
        time.sleep(down)
        started = routed.start_router()
        restarts.append((killed, started))
        time.sleep(10.0)  # room to recover before the next round
    events = finish(probe)
    longest = check_deadlines(events)
    for i, (killed, started) in enumerate(restarts):
        stale = first(events, killed, lambda e: e.get("ev") == "freshness" and e["state"] == "stale")
        samples, answers = recovery(events, started)
        figure("router restart %d (down %.1f s): stale after %.3f s; after the restart, samples again in %.2f s, "
               "requests answered in %.2f s" % (i + 1, started - killed, stale["t"] - killed, samples, answers))
        assert stale["t"] - killed <= STALE_LIMIT + SLACK
        assert samples <= RECOVERY_BOUND and answers <= RECOVERY_BOUND
    figure("longest request: plan_info %.3f s, connected %.3f s" % (longest["plan_info"], longest["connected"]))


def test_link_silently_dead_then_back(routed):
    outages = (3.0, 15.0) if LONG else (5.0,)  # the longer one outlasts Zenoh's 10 s lease
    probe = routed.probe("--connect", CLIENT_SIDE, "--seconds", str(sum(outages) + len(outages) * 22 + 2))
    wait_connected(probe)
    windows = []
    for outage in outages:
        down = time.monotonic()
        routed.client_link.down()
        time.sleep(outage)
        routed.client_link.up()
        up = time.monotonic()
        windows.append((down, up))
        time.sleep(20.0)
    events = finish(probe)
    longest = check_deadlines(events)
    probes_in_outages = []
    for down, up in windows:
        stale = first(events, down, lambda e: e.get("ev") == "freshness" and e["state"] == "stale")
        during = [r for r in requests(events) if r["start"] >= down + 0.05 and r["t"] <= up]
        samples, answers = recovery(events, up)
        figure("link dead for %.1f s: stale after %.3f s (limit %.1f s); %d requests in the outage, none answered, "
               "each ended by its deadline; back up: samples again in %.2f s, requests answered in %.2f s"
               % (up - down, stale["t"] - down, STALE_LIMIT, len(during), samples, answers))
        assert stale["t"] - down <= STALE_LIMIT + SLACK
        assert during and not any(r["ok"] for r in during)
        probes_in_outages += [r for r in during if r["call"] == "connected"]
        assert samples <= RECOVERY_BOUND and answers <= RECOVERY_BOUND
    # connected() answers false while the link is dead (a short outage may only fit a plan_info)
    if sum(up - down for down, up in windows) >= 5:
        assert probes_in_outages
    figure("connected() during the outages: %d calls, all false" % len(probes_in_outages))
    figure("longest request: plan_info %.3f s, connected %.3f s" % (longest["plan_info"], longest["connected"]))


def test_slow_link_is_seen_and_a_recording_is_never_called_complete(routed, tmp_path):
    rate = "2mbit"  # a 1 kHz dual-arm stream pair needs about 16 Mbit/s
    routed.client_link.shape(rate)
    window = 8.0 if LONG else 4.0
    probe = routed.probe("--connect", CLIENT_SIDE, "--seconds", str(window))
    events = finish(probe, timeout=90)
    counts = [e for e in events if e.get("ev") == "count"]
    (t0, n0), (t1, n1) = (counts[len(counts) // 3]["t"], counts[len(counts) // 3]["received"]), \
        (counts[-1]["t"], counts[-1]["received"])
    received_rate = (n1 - n0) / (t1 - t0)
    ages = sorted(e["age"] for e in counts[len(counts) // 3:] if e["age"] is not None)
    answered = [r for r in requests(events) if r["ok"]]
    figure("link shaped to %s: basic samples arrive at %.0f Hz of 1000 Hz sent (%.0f %% dropped), latest sample "
           "%.0f ms old at the median, %.0f ms at worst; %d of %d requests answered"
           % (rate, received_rate, 100.0 * (1 - received_rate / 1000.0), 1000 * ages[len(ages) // 2],
              1000 * ages[-1], len(answered), len(requests(events))))
    assert received_rate < 900
    check_deadlines(events)

    out = tmp_path / "slow.csv"
    done = routed.tarn("record", routed.serial, "--connect", CLIENT_SIDE, "--duration", str(window / 2),
                       "--out", out, "--quiet", timeout=120)
    figure("tarn record over the shaped link: exit %d; %s" % (done.returncode, " / ".join(
        line.strip() for line in done.stdout.splitlines() if "missing" in line)))
    assert done.returncode == 1, done.stdout + done.stderr
    missing = [int(m) for m in re.findall(r"(\d+) missing", done.stdout)]
    assert missing and max(missing) > 0, done.stdout

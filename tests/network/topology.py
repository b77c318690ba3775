"""Routed test topologies: hosts in network namespaces of their own, joined by veth pairs.

    with Topology() as net:
        robot, router, client = net.host("robot"), net.host("router"), net.host("client")
        net.link(robot, router, 1)     # 198.18.1.2 (robot) -- 198.18.1.1 (router)
        net.link(client, router, 2)    # 198.18.2.2 (client) -- 198.18.2.1 (router)
        proc = client.spawn([...])

Each host is a network namespace held open by a sleeping process; every
process started in it runs under nsenter. Nothing routes between the links
(a new namespace does not forward), so only a program in the middle, such as
a Zenoh router, joins the hosts. Addresses come from 198.18.0.0/15 only.

Everything a topology starts gets SIGKILL when the test process dies
(PR_SET_PDEATHSIG), and is stopped and reaped when the topology closes,
whatever the test did: the namespaces go with their last process. It must
run inside tools/isolated, which gives it a namespace of its own to make
links in.
"""

import ctypes
import os
import signal
import subprocess
import time

_PR_SET_PDEATHSIG = 1
_libc = ctypes.CDLL(None, use_errno=True)


def _die_with_parent():
    # in the child between fork and exec: SIGKILL when the test process goes
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def require_isolation():
    if os.environ.get("TARN_ISOLATED") != "1":
        raise RuntimeError("routed tests make network namespaces; run them inside tools/isolated")


class Host:
    def __init__(self, topology, name):
        self.topology = topology
        self.name = name
        self.holder = subprocess.Popen(["unshare", "--net", "--", "sleep", "3600"], stdin=subprocess.DEVNULL,
                                       preexec_fn=_die_with_parent)
        self.netns = "/proc/%d/ns/net" % self.holder.pid
        own = os.readlink("/proc/self/ns/net")
        deadline = time.monotonic() + 5.0
        while os.readlink(self.netns) == own:
            if time.monotonic() > deadline or self.holder.poll() is not None:
                raise RuntimeError("cannot make a network namespace for %s" % name)
            time.sleep(0.005)
        self.ip("link", "set", "lo", "up")

    def command(self, argv):
        return ["nsenter", "--net=" + self.netns, "--"] + [str(a) for a in argv]

    def run(self, argv, check=True, timeout=60, **kwargs):
        """Runs a command in this host to its end; returns the CompletedProcess."""
        kwargs.setdefault("capture_output", True)
        kwargs.setdefault("text", True)
        done = subprocess.run(self.command(argv), timeout=timeout, preexec_fn=_die_with_parent,
                              stdin=subprocess.DEVNULL, **kwargs)
        if check and done.returncode != 0:
            raise RuntimeError("%s: %s failed (%d): %s" % (self.name, " ".join(map(str, argv)), done.returncode,
                                                            (done.stderr or "").strip()))
        return done

    def spawn(self, argv, **kwargs):
        """Starts a command in this host; the topology stops it when it closes."""
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        proc = subprocess.Popen(self.command(argv), preexec_fn=_die_with_parent, **kwargs)
        self.topology.processes.append(proc)
        return proc

    def ip(self, *args):
        return self.run(["ip"] + list(args))

    def tc(self, *args):
        return self.run(["tc"] + list(args))


class Link:
    def __init__(self, a, b, subnet, index):
        # a is .2, b is .1 of 198.18.SUBNET.0/24
        self.a, self.b = a, b
        self.a_dev, self.b_dev = "tn%da" % index, "tn%db" % index
        self.a_addr, self.b_addr = "198.18.%d.2" % subnet, "198.18.%d.1" % subnet
        subprocess.run(["ip", "link", "add", self.a_dev, "type", "veth", "peer", "name", self.b_dev], check=True)
        subprocess.run(["ip", "link", "set", self.a_dev, "netns", str(a.holder.pid)], check=True)
        subprocess.run(["ip", "link", "set", self.b_dev, "netns", str(b.holder.pid)], check=True)
        a.ip("addr", "add", self.a_addr + "/24", "dev", self.a_dev)
        b.ip("addr", "add", self.b_addr + "/24", "dev", self.b_dev)
        self.up()

    def up(self):
        self.a.ip("link", "set", self.a_dev, "up")
        self.b.ip("link", "set", self.b_dev, "up")

    def down(self):
        """The link goes silently dead: no packet passes either way, no end is told."""
        self.b.ip("link", "set", self.b_dev, "down")

    def shape(self, rate, burst="16kb", latency="50ms"):
        """Limits what the b end sends towards a (a token bucket: `rate` such as "4mbit")."""
        self.b.tc("qdisc", "replace", "dev", self.b_dev, "root", "tbf", "rate", rate, "burst", burst,
                  "latency", latency)

    def unshape(self):
        self.b.tc("qdisc", "del", "dev", self.b_dev, "root")


class Topology:
    def __init__(self):
        require_isolation()
        self.hosts = []
        self.links = []
        self.processes = []
        self._subnets = set()

    def host(self, name):
        h = Host(self, name)
        self.hosts.append(h)
        return h

    def link(self, a, b, subnet):
        if not 1 <= subnet <= 254 or subnet in self._subnets:
            raise ValueError("subnet 198.18.%d.0/24 is not free" % subnet)
        self._subnets.add(subnet)
        link = Link(a, b, subnet, len(self.links))
        self.links.append(link)
        return link

    def close(self):
        for proc in self.processes:
            stop(proc)
        for h in self.hosts:
            stop(h.holder, sig=signal.SIGKILL)
        self.processes, self.hosts = [], []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def stop(proc, sig=signal.SIGTERM, timeout=5.0):
    """Signals a process, kills it after `timeout`, reaps it; returns its exit status."""
    if proc.poll() is None:
        try:
            proc.send_signal(sig)
            proc.wait(timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    return proc.returncode

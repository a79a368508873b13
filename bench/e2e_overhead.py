#!/usr/bin/python3
"""Server overhead of the module, end to end: one httpd with mod_dav_svn on
loopback serves the same repository under three locations,

    /plain  no authentication, no authorization
    /basic  mod_auth_basic with a password file, no authorization
    /zeb    this module, configured as the example configuration shows,

and the real svn client works against each in turn (the order rotates every
round). Prints

  - server CPU per checkout of a 2,000-file tree: the CPU time that httpd's
    children's threads spent (nanoseconds, from /proc/PID/task/TID/schedstat),
    as the median over the rounds, and its ratio to /plain;
  - wall time of a server-side copy and delete of a 10,101-node tree, each
    with a role whose permissions let the walk skip the tree and with one
    whose wildcard makes it visit every node, and their ratios to /plain.

Ratios are taken within each round, and their medians reported, with the
ratio of the totals over all rounds. The load
average is printed before and after, since other work on the machine skews
the figures.

    bench/e2e_overhead.py [--rounds N] [--module build/module/mod_authnz_zeb.so]
"""

import argparse
import base64
import contextlib
import hashlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "testing"))

from brimstack_fixture import BrimstackServer  # noqa: E402
from harness.httpd import MODULES_DIR, Httpd, Location  # noqa: E402
from harness.memcached import Memcached  # noqa: E402
from harness.processes import hand_to_unprivileged  # noqa: E402
from harness.repositories import write_properties  # noqa: E402

SECRET = "bench-secret"
PASSWORD = "benchpw"
# A developer: reads everything, commits on trunk except a hidden and a
# read-only area. "walker" adds a wildcard that may revoke anywhere, so no
# subtree can be skipped.
DEV_PBPS = ["view:/", "commit:/trunk", "view:/trunk/docs", "none:/trunk/secret",
            "commit:/branches"]
USERS = {
    "dev": {"password": PASSWORD,
            "repositories": {"repo": [{"id": "201", "pbps": DEV_PBPS}]}},
    "walker": {"password": PASSWORD,
               "repositories": {"repo": [{"id": "202", "pbps": DEV_PBPS + ["none:/**/*.key"]}]}},
}
LOCATIONS = ["plain", "basic", "zeb"]
DEFAULT_MODULE = os.path.join(ROOT, "build/module/mod_authnz_zeb.so")


def dump_node(out, path, kind, text=None):
    out.append("Node-path: %s\nNode-kind: %s\nNode-action: add\n" % (path, kind))
    props = "PROPS-END\n"
    if text is None:
        out.append("Prop-content-length: %d\nContent-length: %d\n\n%s\n\n"
                   % (len(props), len(props), props))
    else:
        out.append("Prop-content-length: %d\nText-content-length: %d\nContent-length: %d\n\n%s%s\n\n"
                   % (len(props), len(text), len(props) + len(text), props, text))


def make_repository(parent):
    """repo with /trunk/co (40 directories of 50 files) to check out and
    /trunk/big (100 directories of 100 files: 10,101 nodes) to copy."""
    repo = os.path.join(parent, "repo")
    os.makedirs(parent)
    subprocess.run(["svnadmin", "create", repo], check=True)
    out = ["SVN-fs-dump-format-version: 2\n\n",
           "Revision-number: 1\nProp-content-length: 10\nContent-length: 10\n\nPROPS-END\n\n"]
    for path in ["trunk", "trunk/co", "trunk/big", "trunk/docs", "branches"]:
        dump_node(out, path, "dir")
    for d in range(40):
        dump_node(out, "trunk/co/d%02d" % d, "dir")
        for f in range(50):
            dump_node(out, "trunk/co/d%02d/f%02d.c" % (d, f), "file", "int f%d_%d;\n" % (d, f))
    for d in range(100):
        dump_node(out, "trunk/big/d%03d" % d, "dir")
        for f in range(100):
            dump_node(out, "trunk/big/d%03d/f%03d.txt" % (d, f), "file", "%d %d\n" % (d, f))
    subprocess.run(["svnadmin", "load", "-q", repo], input="".join(out).encode(), check=True)
    return parent


def children_cpu_seconds(parent_pid):
    """CPU time of parent_pid's children, summed over their threads in
    nanoseconds (the scheduler's per-thread run time). mpm_event keeps its
    threads for the server's life, so no thread's time is lost between two
    readings."""
    total = 0
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                # After the command: state, ppid, ...
                if int(f.read().rsplit(")", 1)[1].split()[1]) != parent_pid:
                    continue
            for task in os.listdir("/proc/%s/task" % entry):
                with open("/proc/%s/task/%s/schedstat" % (entry, task)) as f:
                    total += int(f.read().split()[0])
        except OSError:
            continue
    return total / 1e9


class Bench:
    def __init__(self, workdir, module):
        self.workdir = workdir
        os.environ["ZEB_MODULE"] = module
        self.repos_dir = make_repository(os.path.join(workdir, "repos"))
        self.config_dir = os.path.join(workdir, "svn-config")
        self.serial = 0

    def locations(self, properties, memcache):
        user_file = os.path.join(self.workdir, "passwords")
        with open(user_file, "w") as f:
            digest = base64.b64encode(hashlib.sha1(PASSWORD.encode()).digest()).decode()
            f.writelines("%s:{SHA}%s\n" % (user, digest) for user in USERS)
        dav = ["DAV svn", "SVNParentPath %s" % self.repos_dir]
        basic = dav + ["AuthType Basic", 'AuthName "Subversion"', "Require valid-user",
                       "AuthBasicProvider file", "AuthUserFile %s" % user_file,
                       # Not this module's location: silence its per-request warning.
                       "LogLevel warn authnz_zeb:error"]
        return [
            Location("/plain", bare=True, directives=dav),
            Location("/basic", bare=True, directives=basic),
            Location("/zeb", properties_file=properties, memcache_server=memcache),
        ]

    def svn(self, *args, user="dev"):
        command = ["svn", "--non-interactive", "--no-auth-cache", "--config-dir", self.config_dir,
                   "--username", user, "--password", PASSWORD] + list(args)
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)

    def url(self, location, path):
        return "http://127.0.0.1:%d/%s/repo%s" % (self.httpd.port, location, path)

    def checkout_cpu(self, location):
        target = os.path.join(self.workdir, "wc-%s" % location)
        shutil.rmtree(target, ignore_errors=True)
        before = children_cpu_seconds(self.httpd.process.pid)
        self.svn("checkout", "-q", self.url(location, "/trunk/co"), target)
        return children_cpu_seconds(self.httpd.process.pid) - before

    def copy_delete_wall(self, location, user):
        self.serial += 1
        copy = "/trunk/copy-%s-%d" % (location, self.serial)
        start = time.monotonic()
        self.svn("copy", "-q", "-m", "copy", self.url(location, "/trunk/big"),
                 self.url(location, copy), user=user)
        copied = time.monotonic()
        self.svn("delete", "-q", "-m", "delete", self.url(location, copy), user=user)
        return copied - start, time.monotonic() - copied


def median_ratio(samples, location):
    return statistics.median(s[location] / s["plain"] for s in samples)


def total_ratio(samples, location):
    return sum(s[location] for s in samples) / sum(s["plain"] for s in samples)


def report(title, samples, unit, scale):
    print(title)
    for location in LOCATIONS:
        values = [s[location] for s in samples]
        print("  %-6s median %8.1f %s   ratio to plain: median %.3f, of totals %.3f"
              % (location, statistics.median(values) * scale, unit,
                 median_ratio(samples, location), total_ratio(samples, location)))


@contextlib.contextmanager
def started_bench(module):
    """memcached, the stand-in server and httpd serving the three locations,
    all in a temporary directory; yields the Bench."""
    workdir = tempfile.mkdtemp(prefix="zeb-e2e-bench-")
    os.chmod(workdir, 0o755)
    memcached = Memcached().start()
    config = {"shared_secret": SECRET, "external_system_id": "bench", "users": USERS}
    try:
        with BrimstackServer(config) as server:
            bench = Bench(workdir, os.path.abspath(module))
            base = os.path.join(workdir, "base")
            os.makedirs(base)
            write_properties(os.path.join(base, ".scm.properties"), {"external_system_id": "b"})
            properties = write_properties(os.path.join(workdir, "brimstack.properties"), {
                "dwmain.integration.listener_host": "127.0.0.1",
                "dwmain.integration.listener_port": str(server.port),
                "dwmain.integration.listener_ssl": "false",
                "dwmain.integration.security.shared_secret": SECRET,
                "subversion.repository_base": base,
            })
            # The harness logs the module at debug level; a deployment does
            # not. /basic needs the password-file provider.
            extra = "LogLevel warn\n"
            if "authn_file" not in Httpd(workdir, [], "").config_text(0):
                extra += "LoadModule authn_file_module %s/mod_authn_file.so\n" % MODULES_DIR
            bench.httpd = Httpd(workdir, bench.locations(properties, memcached.address),
                                bench.repos_dir, extra_config=extra)
            hand_to_unprivileged(workdir)
            bench.httpd.start()
            try:
                yield bench
            finally:
                bench.httpd.stop()
    finally:
        memcached.stop()
        shutil.rmtree(workdir, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--module", default=DEFAULT_MODULE)
    args = parser.parse_args()
    with started_bench(args.module) as bench:
        run(bench, args.rounds)


def run(bench, rounds):
    print("load average before: %.2f %.2f %.2f" % os.getloadavg())
    for location in LOCATIONS:  # warm caches and connections' first requests
        bench.checkout_cpu(location)
    checkouts, copies, deletes, walked_copies, walked_deletes = [], [], [], [], []
    for i in range(rounds):
        order = LOCATIONS[i % 3:] + LOCATIONS[:i % 3]
        checkouts.append({loc: bench.checkout_cpu(loc) for loc in order})
        pruned = {loc: bench.copy_delete_wall(loc, "dev") for loc in order}
        walked = {loc: bench.copy_delete_wall(loc, "walker") for loc in order}
        copies.append({loc: pruned[loc][0] for loc in order})
        deletes.append({loc: pruned[loc][1] for loc in order})
        walked_copies.append({loc: walked[loc][0] for loc in order})
        walked_deletes.append({loc: walked[loc][1] for loc in order})
    print("rounds: %d" % rounds)
    report("server CPU per checkout of 2,000 files (httpd children)", checkouts, "ms", 1e3)
    report("COPY of a 10,101-node tree, wall (walk can skip the tree)", copies, "ms", 1e3)
    report("DELETE of a 10,101-node tree, wall (walk can skip the tree)", deletes, "ms", 1e3)
    report("COPY of a 10,101-node tree, wall (wildcard: every node judged)", walked_copies, "ms",
           1e3)
    report("DELETE of a 10,101-node tree, wall (wildcard: every node judged)", walked_deletes, "ms",
           1e3)
    print("load average after: %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()

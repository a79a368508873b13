#!/usr/bin/python3
"""Where the server's CPU per checkout goes: with the set-up of
e2e_overhead.py, records httpd's children with perf while the svn client
checks out the 2,000-file tree from each location in turn (rotating the
order), and prints per shared object the samples of each location and their
difference to /plain.

    bench/e2e_profile.py [--checkouts N] [--frequency HZ] [--module PATH]

Needs root and perf (Debian's linux-perf package). Sampling runs at the
given frequency on every child; the load average is printed, since other
work on the machine adds samples of its own to the kernel's share.
"""

import argparse
import collections
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_overhead import DEFAULT_MODULE, LOCATIONS, started_bench  # noqa: E402


def children(pid):
    found = subprocess.run(["pgrep", "-P", str(pid)], capture_output=True, text=True)
    return found.stdout.split()


def samples_per_object(data):
    """{shared object: samples} from a perf data file."""
    report = subprocess.run(["perf", "report", "-i", data, "--stdio", "--sort", "dso", "-F",
                             "sample,dso", "-g", "none"],
                            capture_output=True, text=True, check=True)
    counts = collections.Counter()
    for line in report.stdout.splitlines():
        fields = line.split()
        if len(fields) == 2 and fields[0].isdigit():
            counts[fields[1]] += int(fields[0])
    return counts


def profile_checkout(bench, location, frequency, data):
    """perf samples of httpd's children over one checkout, and the
    children's CPU seconds."""
    recorder = subprocess.Popen(["perf", "record", "-q", "-F", str(frequency), "-o", data,
                                 "-p", ",".join(children(bench.httpd.process.pid))],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)  # perf attaches to every thread before the checkout starts
    cpu = bench.checkout_cpu(location)
    recorder.send_signal(signal.SIGINT)
    recorder.wait()
    return samples_per_object(data), cpu


def print_table(counts, cpu):
    objects = sorted(set().union(*counts.values()),
                     key=lambda o: -max(counts[loc][o] for loc in LOCATIONS))
    print("%-28s" % "samples" + "".join("%10s" % loc for loc in LOCATIONS) +
          "".join("%12s" % ("%s-plain" % loc) for loc in LOCATIONS[1:]))
    for name in ["total"] + objects:
        row = {loc: sum(counts[loc].values()) if name == "total" else counts[loc][name]
               for loc in LOCATIONS}
        if name != "total" and max(row.values()) < 5:
            continue
        print("%-28s" % name[:28] + "".join("%10d" % row[loc] for loc in LOCATIONS) +
              "".join("%+12d" % (row[loc] - row["plain"]) for loc in LOCATIONS[1:]))
    print("CPU ms per checkout" + " " * 9 +
          "".join("%10.1f" % (cpu[loc] * 1e3) for loc in LOCATIONS))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--checkouts", type=int, default=10)
    parser.add_argument("--frequency", type=int, default=2000)
    parser.add_argument("--module", default=DEFAULT_MODULE)
    args = parser.parse_args()
    if shutil.which("perf") is None:
        sys.exit("e2e_profile: perf is not installed (apt-get install linux-perf)")

    print("load average before: %.2f %.2f %.2f" % os.getloadavg())
    out = tempfile.mkdtemp(prefix="zeb-e2e-profile-")
    counts = {loc: collections.Counter() for loc in LOCATIONS}
    cpu = dict.fromkeys(LOCATIONS, 0.0)
    try:
        with started_bench(args.module) as bench:
            for location in LOCATIONS:  # caches and connections' first requests
                bench.checkout_cpu(location)
            # The order rotates, so that no location always follows another.
            for i in range(args.checkouts):
                for location in LOCATIONS[i % 3:] + LOCATIONS[:i % 3]:
                    samples, seconds = profile_checkout(bench, location, args.frequency,
                                                        os.path.join(out, "data.perf"))
                    counts[location] += samples
                    cpu[location] += seconds / args.checkouts
    finally:
        shutil.rmtree(out, ignore_errors=True)
    print("%d checkouts per location, %d Hz" % (args.checkouts, args.frequency))
    print_table(counts, cpu)
    print("load average after: %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()

"""Runs test files of the suite and reads their outcomes."""

import collections
import re
import subprocess

# A test's result line: "PASS:  basic_tests.py 3: description".
_RESULT = re.compile(r"^(PASS|FAIL|XFAIL|XPASS|SKIP):\s+(\S+)\s+(\d+):\s?(.*)$")
# How the result labels are counted.
KIND = {"PASS": "passed", "FAIL": "failed", "XPASS": "failed", "XFAIL": "xfail",
        "SKIP": "skipped"}
KINDS = ["passed", "failed", "xfail", "skipped"]


class FileRun:
    """Outcomes of one test file: {number: (label, description)}, the wall
    time in seconds and the process's exit status."""

    def __init__(self, name, outcomes, seconds, status, output):
        self.name = name
        self.outcomes = outcomes
        self.seconds = seconds
        self.status = status
        self.output = output

    def counts(self):
        counted = collections.Counter(KIND[label] for label, _ in self.outcomes.values())
        return [counted[k] for k in KINDS]


def parse(output):
    outcomes = {}
    for line in output.splitlines():
        m = _RESULT.match(line.strip())
        if m:
            outcomes[int(m.group(3))] = (m.group(1), m.group(4))
    return outcomes


def test_command(script, url, parallel, numbers=()):
    """The command line that runs script (a path in the suite) against url."""
    command = ["/usr/bin/python3", script, "--url=" + url, "--bin=/usr/bin",
               "--http-library=serf", "--httpd-version=" + httpd_version()]
    if parallel > 1:
        command.append("--parallel-instances=%d" % parallel)
    return command + [str(n) for n in numbers]


_VERSION = []


def httpd_version():
    if not _VERSION:
        out = subprocess.run(["/usr/sbin/apache2", "-v"], capture_output=True, text=True).stdout
        m = re.search(r"Apache/(\d+\.\d+\.\d+)", out)
        _VERSION.append(m.group(1) if m else "2.4.0")
    return _VERSION[0]

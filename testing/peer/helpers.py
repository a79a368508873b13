"""The helper programs some of the suite's tests call, built from the
suite's sources against the installed libsvn, and the tree the suite
expects them in."""

import os
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))
INCLUDE = os.path.join(HERE, "include")

# (source below subversion/tests, directory below the tree's subversion/tests)
PROGRAMS = [
    ("cmdline/atomic-ra-revprop-change.c", "cmdline"),
    ("cmdline/entries-dump.c", "cmdline"),
    ("cmdline/lock-helper.c", "cmdline"),
    ("libsvn_wc/wc-incomplete-tester.c", "libsvn_wc"),
    ("libsvn_wc/wc-lock-tester.c", "libsvn_wc"),
]
LIBRARIES = ["libsvn_client", "libsvn_wc", "libsvn_ra", "libsvn_repos", "libsvn_fs",
             "libsvn_subr"]


def build(tests_dir, out_dir):
    """Compiles the programs into out_dir (tests_dir: the suite's
    subversion/tests); returns {program name: path}."""
    # The sources include libsvn_wc's private headers as "../../libsvn_wc/...";
    # an include directory two levels below ours finds our declarations.
    anchor = os.path.join(out_dir, "include", "a", "b")
    os.makedirs(anchor, exist_ok=True)
    link = os.path.join(out_dir, "include", "libsvn_wc")
    if not os.path.lexists(link):
        os.symlink(os.path.join(INCLUDE, "libsvn_wc"), link)
    flags = subprocess.run(["pkg-config", "--cflags", "--libs"] + LIBRARIES, check=True,
                           capture_output=True, text=True).stdout.split()
    built = {}
    for source, _ in PROGRAMS:
        name = os.path.splitext(os.path.basename(source))[0]
        target = os.path.join(out_dir, name)
        result = subprocess.run(["cc", "-O1", "-w", "-o", target, os.path.join(tests_dir, source),
                                 "-I" + anchor, "-I" + INCLUDE] + flags,
                                capture_output=True, text=True)
        if result.returncode != 0:
            raise RuntimeError("cannot build %s:\n%s" % (name, result.stderr))
        built[name] = target
    return built


def lay_out(root, built):
    """The tree the suite runs in: it finds the programs relative to its
    working directory, root/subversion/tests/cmdline, which it returns."""
    tests = os.path.join(root, "subversion", "tests")
    for source, subdir in PROGRAMS:
        name = os.path.splitext(os.path.basename(source))[0]
        os.makedirs(os.path.join(tests, subdir), exist_ok=True)
        os.symlink(built[name], os.path.join(tests, subdir, name))
    return os.path.join(tests, "cmdline")


def python_dir(out_dir, python="/usr/bin/python3"):
    """A directory holding `python`, which the suite's editor script needs."""
    path = os.path.join(out_dir, "python-bin")
    os.makedirs(path, exist_ok=True)
    if not os.path.lexists(os.path.join(path, "python")):
        os.symlink(python, os.path.join(path, "python"))
    return path

"""Subversion repositories and properties files for the tests."""

import os
import subprocess


def make_repositories(parent, names):
    os.makedirs(parent, exist_ok=True)
    for name in names:
        subprocess.run(["svnadmin", "create", os.path.join(parent, name)], check=True)
    return parent


def write_properties(path, properties=None, text=None):
    """A properties file from a dict (name=value lines) or from raw text."""
    if text is None:
        text = "".join("%s=%s\n" % (k, v) for k, v in properties.items())
    with open(path, "w", newline="") as f:
        f.write(text)
    return path

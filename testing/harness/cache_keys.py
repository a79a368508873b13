"""The memcached keys of the module's entries, for tests that read or plant
them. zebauthz derives them with the module's own code (`zebauthz key`), so
their format lives in one place; the tool is $ZEBAUTHZ, else the one in
build/."""

import functools
import os
import subprocess

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def _tool():
    path = os.environ.get("ZEBAUTHZ") or os.path.join(ROOT, "build", "tools", "zebauthz",
                                                      "zebauthz")
    if not os.path.isfile(path):
        raise RuntimeError("no zebauthz at %s (build it or set ZEBAUTHZ)" % path)
    return path


@functools.lru_cache(maxsize=None)
def _key(*args, password=None):
    result = subprocess.run([_tool(), "key"] + list(args), capture_output=True, text=True,
                            input=None if password is None else password + "\n", timeout=30)
    if result.returncode != 0:
        raise RuntimeError("zebauthz key %s: %s" % (" ".join(args), result.stderr))
    return result.stdout.strip()


def is_valid_user_key(endpoint, system_id, repository, user, secret, password):
    return _key("valid-user", "--endpoint", endpoint, "--system-id", system_id, "--repository",
                repository, "--user", user, "--secret", secret, "--password-file", "/dev/stdin",
                password=password)


def role_paths_key(endpoint, system_id, repository, user):
    return _key("role-paths", "--endpoint", endpoint, "--system-id", system_id, "--repository",
                repository, "--user", user)


def external_system_id_key(endpoint):
    return _key("system-id", "--endpoint", endpoint)


def stored_key(user_key):
    """The key of any user key, such as one of a format the module no longer
    uses."""
    return _key("--user-key", user_key)

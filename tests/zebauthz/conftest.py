import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "testing"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e_authz"))

pytest_plugins = ["harness.fixtures"]

import pytest  # noqa: E402


class Tool:
    """Runs the zebauthz binary under test."""

    def __init__(self, path):
        self.path = path

    def run(self, *args, stdin=None):
        return subprocess.run([self.path] + list(args), input=stdin, capture_output=True,
                              text=True, timeout=60)

    def json(self, *args, stdin=None, status=None):
        result = self.run(args[0], "--json", *args[1:], stdin=stdin)
        if status is not None:
            assert result.returncode == status, (args, result.stdout, result.stderr)
        return json.loads(result.stdout)


@pytest.fixture(scope="session")
def tool():
    return Tool(os.environ["ZEBAUTHZ"])


def roles_json(*roles):
    """stdin for --roles -: roles as (id, [pbps])."""
    return json.dumps([{"id": role_id, "pbps": pbps} for role_id, pbps in roles])


@pytest.fixture
def site(zeb, tmp_path):
    """The authorization suite's deployment: its users and populated repo1."""
    from authz_site import Site

    return Site(zeb, tmp_path)

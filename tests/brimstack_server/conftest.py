import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "testing"))

from brimstack_fixture import BrimstackServer  # noqa: E402

SECRET = "test-secret"

CONFIG = {
    "shared_secret": SECRET,
    "external_system_id": "exsy1001",
    "users": {
        "alice": {
            "password": "wonder land",
            "repositories": {
                "repo1": [
                    {"id": "101", "pbps": ["view:/", "commit:/trunk"]},
                    None,
                    {"pbps": ["view:/tags/<&>"]},
                    {"id": "103"},
                ],
                "empty": [],
            },
        },
        "bob": {"password": "", "repositories": {"repo1": [{"id": "7", "pbps": ["view:/b"]}]}},
        "dana": {"password": "d", "repositories": {"repo1": [], "*": [{"pbps": ["commit:/"]}]}},
    },
}


@pytest.fixture(scope="module")
def server():
    with BrimstackServer(CONFIG) as running:
        yield running


@pytest.fixture
def fresh(server):
    """The module's server with counters, log, behaviours and config reset."""
    server.reset()
    server.set_config(CONFIG)
    return server

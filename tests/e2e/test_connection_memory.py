"""A long keep-alive connection does not grow with changes of user: what a
change replaces (role store, processed permissions, compiled wildcards,
fetched values) is freed."""

import os

import pytest

from harness.fixtures import server_config
from test_authentication import _children_resident_bytes

# Enough wildcard permissions that each change of user compiles a few
# patterns, as a real role set does.
WILDCARDS = ["view:/", "commit:/trunk/**/*.c", "commit:/branches/*/src/**", "none:/**/*.key",
             "commit:/tags/release-*/notes.txt"]
USERS = {name: {"password": name + "pw", "repositories": {"repo1": [
    {"id": name + "-role", "pbps": WILDCARDS}]}} for name in ("ann", "ben")}

REQUESTS = int(os.environ.get("ZEB_MEMORY_REQUESTS", "10000"))
LIMIT = 2 * 1024 * 1024


@pytest.mark.parametrize("first, second", [
    (("ann", "annpw", 200), ("ben", "benpw", 200)),
    (("ann", "annpw", 200), ("ann", "wrong", 401)),
], ids=["two users", "right and wrong password"])
def test_alternating_credentials_on_one_connection_keep_memory_flat(zeb, first, second):
    zeb.brimstack.set_config(server_config(users=USERS))
    zeb.start()
    client = zeb.client()

    def run(count):
        for i in range(count):
            user, password, status = (first, second)[i % 2]
            assert client.request("/svn/repo1/", user, password).status == status

    run(200)
    before = _children_resident_bytes(zeb.httpd.process.pid)
    run(REQUESTS)
    grown = _children_resident_bytes(zeb.httpd.process.pid) - before
    print("grew by %d KiB over %d requests" % (grown // 1024, REQUESTS))
    assert grown < LIMIT, "httpd's children grew by %d KiB" % (grown // 1024)

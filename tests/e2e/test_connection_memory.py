"""A long keep-alive connection does not grow with changes of user: what a
change replaces (role store, processed permissions, compiled wildcards,
fetched values) is freed. An idle connection keeps no service runtime and no
memcached client."""

import os
import resource

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


# A user whose one role holds 5 PBPs, as a typical developer's does.
FIVE_PBPS = {"dev": {"password": "devpw", "repositories": {"repo1": [
    {"id": "dev-role", "pbps": WILDCARDS}]}}}
# Enough that what a process makes once (clients, arenas) counts for little.
HELD = int(os.environ.get("ZEB_MEMORY_HELD", "400"))


def _cost_of_held_connections(zeb, path, user=None, password=None):
    """Resident bytes per keep-alive connection held after one request. The
    connections stay open until the test ends: memory they gave back would
    be taken again by the next ones, unseen."""
    before = _children_resident_bytes(zeb.httpd.process.pid)
    for _ in range(HELD):
        assert zeb.client().request(path, user, password).status == 200
    return (_children_resident_bytes(zeb.httpd.process.pid) - before) // HELD


@pytest.mark.parametrize("deployment", ["zeb", "zeb_tls"], ids=["http", "https"])
def test_held_connections_cost_little_once_answers_are_cached(request, deployment):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < 2 * HELD + 100:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, 2 * HELD + 100), hard))
    zeb = request.getfixturevalue(deployment)
    zeb.brimstack.set_config(server_config(users=FIVE_PBPS))
    # Room in the two children for every held connection; the same
    # repositories without the module tell httpd's own share.
    zeb.start(extra_config="AsyncRequestWorkerFactor 64\n<Location /plain>\n  DAV svn\n"
              "  SVNParentPath %s\n  Require all granted\n</Location>\n" % zeb.repos_dir)
    # Fills memcached, so that the held connections take everything from it.
    for path, user in [("/plain/repo1/", None), ("/svn/repo1/", "dev")] * 2:
        warm = zeb.client()
        assert warm.request(path, user, "devpw").status == 200
        warm.close()
    plain = _cost_of_held_connections(zeb, "/plain/repo1/")
    with_module = _cost_of_held_connections(zeb, "/svn/repo1/", "dev", "devpw")
    print("%s: %d KiB per held connection, %d KiB without the module"
          % (deployment, with_module // 1024, plain // 1024))
    assert zeb.brimstack.counters().get("isValidUser", 0) == 1
    assert with_module - plain < 64 * 1024, "the module's share is %d KiB per connection" % (
        (with_module - plain) // 1024)

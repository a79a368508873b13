"""A long keep-alive connection does not grow with changes of user: what a
change replaces (role store, processed permissions, compiled wildcards,
fetched values) is freed. An idle connection keeps no service runtime and no
memcached client. Connections of one user share the processed roles that
their httpd process holds."""

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


# A large role: two thirds absolute PBPs, one third wildcard ones, in short
# paths so that memcached (1 MB items) keeps the value.
LARGE_ROLE = ["view:/"] + [
    "%s:/p%02d/m%d/f%d.c" % (("view", "commit", "none")[i % 3], i % 40, i % 10, i)
    for i in range(13333)] + [
    "%s:/p%02d/b%d/*/**/*.c" % (("commit", "none")[i % 2], i % 40, i) for i in range(6666)]
SMALL_ROLE = ["view:/", "commit:/trunk", "none:/trunk/secret", "view:/p01/**", "none:/**/*.key"]
WARM_UP = 48
CONNECTIONS = 6


def _growth_by_connections(zeb, user):
    """What CONNECTIONS new keep-alive connections of user add to httpd's
    children, once every worker thread has served the user."""
    pid = zeb.httpd.process.pid
    for _ in range(WARM_UP):
        client = zeb.client()
        assert client.request("/svn/repo1/", user, user + "pw").status == 200
        client.close()
    before = _children_resident_bytes(pid)
    clients = [zeb.client() for _ in range(CONNECTIONS)]
    for client in clients:
        assert client.request("/svn/repo1/", user, user + "pw").status == 200
    grown = _children_resident_bytes(pid) - before
    for client in clients:
        client.close()
    return grown


def test_connections_of_one_user_share_the_processed_roles_of_their_process(zeb):
    zeb.brimstack.set_config(server_config(users={
        user: {"password": user + "pw", "repositories": {"repo1": [{"id": user, "pbps": pbps}]}}
        for user, pbps in (("carl", LARGE_ROLE), ("dora", SMALL_ROLE))}))
    # Freed request memory goes back to the C library rather than stay with
    # each worker thread, which would hide what a connection keeps.
    # The service composes the large answer slowly on a busy machine.
    zeb.start(properties=zeb.default_properties(**{"svn.authnz.timeout": "60"}),
              extra_config="MaxMemFree 64")
    small = _growth_by_connections(zeb, "dora")
    large = _growth_by_connections(zeb, "carl")
    print("%d keep-alive connections grew httpd's children by %d KiB with %d PBPs, "
          "by %d KiB with %d" % (CONNECTIONS, large // 1024, len(LARGE_ROLE), small // 1024,
                                 len(SMALL_ROLE)))
    # Processed, the large role takes megabytes: a copy per connection would
    # show.
    assert large - small < CONNECTIONS * 512 * 1024, "%d KiB more" % ((large - small) // 1024)

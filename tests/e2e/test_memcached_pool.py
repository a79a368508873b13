"""Several memcached servers shared by consistent hashing: each holds a share
of the entries, losing one costs service calls for its share only, and it
takes its share back when it returns."""

import time

import pytest

from harness.fixtures import server_config
from harness.memcached import Memcached

USERS = {"user%02d" % i: {"password": "pw%02d" % i,
                          "repositories": {"repo1": [{"id": str(200 + i), "pbps": ["view:/"]}]}}
         for i in range(24)}


@pytest.fixture
def three_servers():
    servers = [Memcached().start() for _ in range(3)]
    yield servers
    for server in servers:
        server.stop()


def users_asked(brimstack):
    """Users named in the service calls received since the last reset."""
    return {text for request in brimstack.requests() for _, text in request["params"]
            if text in USERS}


def request_each_user(zeb):
    for user, record in sorted(USERS.items()):
        response = zeb.client().request("/svn/repo1/", user, record["password"])
        assert response.status == 200, (user, response.status)


def test_pool_loses_only_the_share_of_a_lost_server(zeb, three_servers):
    zeb.brimstack.set_config(server_config(users=USERS))
    a, b, c = three_servers
    pool = "%s,%s %s retry=1" % (a.address, b.address, c.address)
    zeb.start(locations=[zeb.location(memcache_server=pool)])

    # Which user's entries went where, one user at a time.
    holder = {}
    known = set()
    for user, record in sorted(USERS.items()):
        assert zeb.client().request("/svn/repo1/", user, record["password"]).status == 200
        for index, server in enumerate(three_servers):
            for key in server.keys() - known:
                holder[key] = (user, index)
                known.add(key)
    assert {index for _, index in holder.values()} == {0, 1, 2}, "keys spread over all three"
    users_on_b = {user for user, index in holder.values() if index == 1}

    b.stop()
    zeb.brimstack.reset()
    request_each_user(zeb)
    asked = users_asked(zeb.brimstack)
    print("service asked for %d of %d users after losing one of three servers (%d lived on it)"
          % (len(asked), len(USERS), len(users_on_b)))
    assert asked == users_on_b

    b.start(same_port=True)
    zeb.brimstack.reset()
    time.sleep(1.3)  # past the retry period
    request_each_user(zeb)
    assert users_asked(zeb.brimstack) == users_on_b
    assert b.keys(), "the returned server is used again"

"""The status page: its figures move exactly with what happened, summed over
every child, as the stand-in service and memcached count it themselves; a
graceful restart keeps them, a full one starts them from zero."""

import time

import pytest
from prometheus_client.parser import text_string_to_metric_families

from harness.fixtures import Client
from harness.httpd import Location
from harness.memcached import Memcached

OPERATIONS = ["isValidUser", "getRolePathsList", "getRolePaths", "getBrandingExternalSystemId"]
# A request on a new connection meets memcached four times: the credentials
# and the roles, each read, then stored (the system id comes from a file).
# The connection's set-up also asks for a client, which meets the server
# unless the process has one waiting.
CACHE_OPERATIONS_PER_NEW_CONNECTION = 4


def status_location(path="/status"):
    return Location(path, bare=True, directives=["SetHandler authnz-zeb-status"])


def scrape(port, path="/status"):
    """{(name, sorted labels): value} of the Prometheus page, parsed by the
    reference parser."""
    client = Client(port)
    try:
        response = client.request(path + "?format=prometheus")
        assert response.status == 200, response.body
        assert response.getheader("Content-Type") == "text/plain; version=0.0.4; charset=utf-8"
        text = response.body.decode()
    finally:
        client.close()
    return {(s.name, tuple(sorted(s.labels.items()))): s.value
            for family in text_string_to_metric_families(text) for s in family.samples}


def figure(figures, name, **labels):
    return figures[(name, tuple(sorted(labels.items())))]


def once(port, path, user, password, method="GET"):
    """One request on a connection of its own."""
    client = Client(port)
    try:
        return client.request(path, user, password, method=method).status
    finally:
        client.close()


def wait_for(condition, timeout=10):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, "timed out"
        time.sleep(0.05)


@pytest.fixture
def own_memcached():
    server = Memcached().start()
    yield server
    server.stop()


@pytest.mark.parametrize("mpm, processes", [("prefork", 3), ("event", 2)])
def test_figures_equal_what_the_service_and_memcached_counted(zeb, own_memcached, mpm, processes):
    zeb.start(mpm=mpm, locations=[
        zeb.location(memcache_server=own_memcached.address + " retry=1"), status_location()])
    port = zeb.httpd.port
    statuses = []

    # Three connections at once: under prefork, one in each child.
    a, b, c = zeb.client(), zeb.client(), zeb.client()
    for client, user, password, method, path in [
            (a, "alice", "wonderland", "GET", "/svn/repo1/"),  # service answers
            (a, "alice", "wonderland", "GET", "/svn/repo1/"),  # the connection answers
            (a, "alice", "wonderland", "GET", "/svn/repo1/"),
            (b, "bob", "builder", "GET", "/svn/repo1/"),
            (b, "bob", "wrong", "GET", "/svn/repo1/"),  # refused by the service
            (b, "bob", "builder", "GET", "/svn/repo1/"),  # memcached answers
            (c, "bob", "builder", "DELETE", "/svn/repo1/gone"),  # walked, refused
    ]:
        statuses.append(client.request(path, user, password, method=method).status)
    assert statuses == [200, 200, 200, 200, 401, 200, 403]
    # Under prefork the page needs a child of its own; a and b keep theirs.
    c.close()
    wait_for(lambda: figure(scrape(port), "authnz_zeb_connection_contexts") == 2)
    assert figure(scrape(port), "authnz_zeb_connection_context_bytes") > 0
    a.close()
    b.close()

    # The service fails twice, then answers again.
    zeb.brimstack.misbehave("isValidUser", "fault", faultstring="down", times=2)
    statuses += [once(port, "/svn/repo1/", "guest", "visitor") for _ in range(3)]
    assert statuses[-3:] == [500, 500, 200]  # through AuthBasicProvider zeb

    # memcached is down for a while, then back empty.
    before_outage = own_memcached.stats()
    own_memcached.stop()
    down_requests = 3
    statuses += [once(port, "/svn/repo1/", "alice", "wonderland") for _ in range(down_requests)]
    own_memcached.start(same_port=True)
    time.sleep(1.2)  # the retry period
    statuses.append(once(port, "/svn/repo1/", "alice", "wonderland"))
    after_outage = own_memcached.stats()

    wait_for(lambda: figure(scrape(port), "authnz_zeb_connection_contexts") == 0)
    got = scrape(port)
    called = zeb.brimstack.counters()
    for op in OPERATIONS:
        assert (figure(got, "authnz_zeb_service_calls_total", operation=op, outcome="answered")
                + figure(got, "authnz_zeb_service_calls_total", operation=op, outcome="failed")
                == called[op]), op
        assert (figure(got, "authnz_zeb_service_call_seconds_count", operation=op)
                == called[op]), op
    assert figure(got, "authnz_zeb_service_calls_total", operation="isValidUser",
                  outcome="failed") == 2

    server = own_memcached.address
    for result, stat in [("hit", "get_hits"), ("miss", "get_misses")]:
        assert (figure(got, "authnz_zeb_memcached_operations_total", server=server, result=result)
                == int(before_outage[stat]) + int(after_outage[stat])), result
    errors = figure(got, "authnz_zeb_memcached_operations_total", server=server, result="error")
    skipped = figure(got, "authnz_zeb_memcached_operations_total", server=server,
                     result="skipped")
    assert errors >= 1 and skipped >= 1
    assert (down_requests * CACHE_OPERATIONS_PER_NEW_CONNECTION <= errors + skipped
            <= down_requests * (CACHE_OPERATIONS_PER_NEW_CONNECTION + 1))

    expected = {
        ("authnz_zeb_credentials_total", "connection", "accepted"): 2,
        ("authnz_zeb_credentials_total", "memcached", "accepted"): 2,
        ("authnz_zeb_credentials_total", "memcached", "refused"): 0,
        ("authnz_zeb_credentials_total", "service", "accepted"): 7,
        ("authnz_zeb_credentials_total", "service", "refused"): 1,
    }
    for (name, source, result), value in expected.items():
        assert figure(got, name, source=source, result=result) == value, (source, result)
    role_loads = {"connection": 2, "memcached": 2,
                  "service": called["getRolePathsList"]}
    for source, value in role_loads.items():
        assert figure(got, "authnz_zeb_role_loads_total", source=source) == value, source
        assert figure(got, "authnz_zeb_role_load_seconds_count", source=source) == value, source
    assert figure(got, "authnz_zeb_decisions_total", result="granted") == statuses.count(200)
    assert figure(got, "authnz_zeb_decisions_total", result="refused") == statuses.count(403)
    assert figure(got, "authnz_zeb_recursive_walks_total") == 1
    assert figure(got, "authnz_zeb_recursive_walk_nodes_total") >= 1
    assert figure(got, "authnz_zeb_processes") == processes


def test_graceful_restart_keeps_the_figures_a_full_one_zeroes_them(zeb):
    zeb.start(locations=[zeb.location(), status_location()])
    assert once(zeb.httpd.port, "/svn/repo1/", "alice", "wonderland") == 200
    before = scrape(zeb.httpd.port)
    granted = ("authnz_zeb_decisions_total", (("result", "granted"),))
    assert before[granted] == 1

    zeb.httpd.restart(graceful=True)
    kept = scrape(zeb.httpd.port)
    assert kept[granted] == 1
    assert (kept[("authnz_zeb_start_time_seconds", ())]
            == before[("authnz_zeb_start_time_seconds", ())])

    zeb.httpd.restart(graceful=False)
    assert scrape(zeb.httpd.port)[granted] == 0


@pytest.mark.parametrize("method, query, status, content_type", [
    ("GET", "", 200, "text/html; charset=utf-8"),
    ("GET", "?auto", 200, "text/plain; charset=utf-8"),
    ("HEAD", "?format=prometheus", 200, "text/plain; version=0.0.4; charset=utf-8"),
    ("GET", "?format=json", 400, None),
    ("GET", "?auto&refresh=5", 400, None),
    ("POST", "", 405, None),
    ("PUT", "?auto", 405, None),
])
def test_the_handler_answers_get_and_head_with_known_arguments(zeb, method, query, status,
                                                               content_type):
    zeb.start(locations=[zeb.location(), status_location()])
    client = zeb.client()
    response = client.request("/status" + query, method=method)
    assert response.status == status
    if content_type is not None:
        assert response.getheader("Content-Type") == content_type
        assert (response.body == b"") == (method == "HEAD")
    if status == 405:
        allowed = {m.strip() for m in response.getheader("Allow").split(",")}
        assert {"GET", "HEAD"} <= allowed and "POST" not in allowed and "PUT" not in allowed


def test_the_page_names_memcached_servers_as_keys_and_in_server_status(zeb):
    zeb.start(load_order=("authnz_zeb", "status"), locations=[
        zeb.location(), status_location(),
        Location("/server-status", bare=True, directives=["SetHandler server-status"])])
    assert once(zeb.httpd.port, "/svn/repo1/", "alice", "wonderland") == 200
    client = zeb.client()
    lines = dict(line.split(": ", 1)
                 for line in client.request("/status?auto").body.decode().splitlines())
    assert lines["DecisionsGranted"] == "1"
    assert lines["ServiceCallsIsValidUserAnswered"] == "1"
    assert lines["MemcachedOperations%sMiss" % zeb.memcached.address] == "2"
    html = client.request("/status").body.decode()
    assert "<td>%s</td>" % zeb.memcached.address in html
    assert "AuthnzZEBDecisionsGranted: 1" in client.request("/server-status?auto").body.decode()
    assert "mod_authnz_zeb" in client.request("/server-status").body.decode()

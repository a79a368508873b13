"""The connection context: properties file, endpoint, request key, external
system id, and what happens when its set-up fails."""

import os
import time

import pytest

from harness.fixtures import (EXTERNAL_SYSTEM_ID, SCM_PROPERTIES_ID, SHARED_SECRET, USERS,
                              server_config)


def system_ids(server):
    return [dict(c["params"])["systemIdString"] for c in server.requests()
            if c["operation"] == "isValidUser"]


def messages(zeb, mark):
    return [m for _, m in zeb.httpd.messages_since(mark)]


def test_external_system_id_from_scm_properties(zeb):
    zeb.start()
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 200
    assert system_ids(zeb.brimstack) == [SCM_PROPERTIES_ID]
    assert zeb.brimstack.counters().get("getBrandingExternalSystemId", 0) == 0


def test_external_system_id_from_service_then_memcached(zeb):
    zeb.start(properties=zeb.default_properties(**{
        "subversion_branding.repository_uri": "/SVN"}))
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 200
    assert zeb.brimstack.counters()["getBrandingExternalSystemId"] == 1
    assert zeb.memcached.get(zeb.external_system_id_key()) == EXTERNAL_SYSTEM_ID.encode()
    (branding,) = [c for c in zeb.brimstack.requests()
                   if c["operation"] == "getBrandingExternalSystemId"]
    assert branding["soap_action"].strip('"') == "alice:ScmListener"

    mark = zeb.httpd.mark()
    assert zeb.client().request("/svn/repo1/", "bob", "builder").status == 200
    assert zeb.brimstack.counters()["getBrandingExternalSystemId"] == 1
    assert ("Fetched getBrandingEternalSystemId() API response from memcached: [%s]"
            % EXTERNAL_SYSTEM_ID) in messages(zeb, mark)
    assert system_ids(zeb.brimstack) == [EXTERNAL_SYSTEM_ID, EXTERNAL_SYSTEM_ID]


def test_external_system_id_from_memcached_alone(zeb):
    zeb.memcached.set(zeb.external_system_id_key(), b"cached-id")
    zeb.start(properties=zeb.default_properties(**{
        "subversion_branding.repository_uri": "/svn"}))
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 200
    assert zeb.brimstack.counters().get("getBrandingExternalSystemId", 0) == 0
    assert system_ids(zeb.brimstack) == ["cached-id"]


@pytest.mark.parametrize("provider, status", [(True, 500), (False, 503)],
                         ids=["AuthBasicProvider-zeb", "check_user"])
def test_branding_service_failure_fails_the_request(zeb, provider, status):
    zeb.start(properties=zeb.default_properties(**{
        "subversion_branding.repository_uri": "/svn"}), load_auth_basic=provider)
    zeb.brimstack.misbehave("getBrandingExternalSystemId", "fault", faultstring="no branding")
    response = zeb.client().request("/svn/repo1/", "alice", "wonderland")
    assert (response.status, response.getheader("WWW-Authenticate")) == (status, None)
    assert any(level == "error" and m.startswith("getBrandingEternalSystemId() API FAILED: ")
               for level, m in zeb.httpd.module_lines())
    assert zeb.memcached.get(zeb.external_system_id_key()) is None


def test_properties_file_parsing(zeb):
    text = (
        "# dwmain.integration.listener_port=1\n"
        "  dwmain.integration.listener_host  =  127.0.0.1 \r\n"
        "dwmain.integration.listener_port=%d\r\n"
        "dwmain.integration.listener_port\n"
        "dwmain.integration.security.shared_secret = %s\n"
        "svn.authnz.timeout=1\n"
        "svn.authnz.timeout=7\n"
        "svn.authnz.use_role_paths_api=\n"
        "subversion.repository_base=%s\n"
        "dwmain.integration.listener_ssl=ON"
    ) % (zeb.brimstack.port, SHARED_SECRET, zeb.repository_base)
    zeb.start(properties_text=text)
    response = zeb.client().request("/svn/repo1/", "alice", "wonderland")
    assert response.status == 200, zeb.httpd.log()
    seen = [m for _, m in zeb.httpd.module_lines()]
    assert ("Generated ScmListener URL: http://127.0.0.1:%d/qv-soap/services/ScmListener"
            % zeb.brimstack.port) in seen
    assert "SOAP timeout set to 7 seconds" in seen


@pytest.mark.parametrize("timeout, logged", [
    (None, "SOAP timeout set to 60 seconds (default)"),
    ("0", "SOAP timeout set to 0 seconds"),
    ("soon", "SOAP timeout set to 0 seconds"),
])
def test_timeout_property(zeb, timeout, logged):
    zeb.start(properties=zeb.default_properties(**{"svn.authnz.timeout": timeout}))
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 200
    assert logged in [m for _, m in zeb.httpd.module_lines()]


def test_empty_properties_file_fails_set_up(zeb):
    zeb.start(properties_text="")
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 500
    seen = zeb.httpd.module_lines()
    assert ("debug", "SOAP timeout set to 60 seconds (default)") in seen
    assert ("debug", "Generated ScmListener URL: "
            "http://localhost:8080/qv-soap/services/ScmListener") in seen
    assert any(level == "error" and m.startswith("No subversion.repository_base in ")
               for level, m in seen)


def test_failed_set_up_is_retried_on_the_same_connection(zeb):
    zeb.start()
    os.rename(zeb.properties_file, zeb.properties_file + ".away")
    client = zeb.client()
    for _ in range(2):
        mark = zeb.httpd.mark()
        assert client.request("/svn/repo1/", "alice", "wonderland").status == 500
        assert ("error", "Failed to open file %s." % zeb.properties_file) in \
            zeb.httpd.messages_since(mark)
    os.rename(zeb.properties_file + ".away", zeb.properties_file)
    response = client.request("/svn/repo1/", "alice", "wonderland")
    assert response.status == 200
    assert response.getheader("ZebUserName") == "alice"


def test_properties_file_that_cannot_be_read_fails(zeb):
    zeb.start(locations=[zeb.location(properties_file=zeb.repository_base)])
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 500
    assert ("error", "Failed to read file %s." % zeb.repository_base) in zeb.httpd.module_lines()



def narrowed_users(pbps):
    users = dict(USERS)
    users["bob"] = {"password": "builder", "repositories": {"repo1": [{"id": "103",
                                                                      "pbps": pbps}]}}
    return users


def test_revocation_reaches_an_open_connection_within_the_time_to_live(zeb):
    ttl = 2
    zeb.start(locations=[zeb.location(memcache_ttl=str(ttl))])
    client = zeb.client()
    assert client.request("/svn/repo1/", "bob", "builder").status == 200
    socket = client.connection.sock
    zeb.brimstack.set_config(server_config(users=narrowed_users(["none:/"])))
    zeb.memcached.flush()
    changed = time.monotonic()
    assert zeb.client().request("/svn/repo1/", "bob", "builder").status == 403
    statuses = []
    while time.monotonic() - changed < ttl + 1 and 403 not in statuses:
        statuses.append(client.request("/svn/repo1/", "bob", "builder").status)
        time.sleep(0.1)
    assert client.connection.sock is socket, "httpd closed the connection"
    assert statuses[-1] == 403 and set(statuses) <= {200, 403}, statuses


def test_unchanged_connection_keeps_working_across_time_to_lives(zeb):
    ttl, periods = 1, 3
    zeb.start(locations=[zeb.location(memcache_ttl=str(ttl))])
    client = zeb.client()
    traffic = zeb.memcached.traffic()
    start = time.monotonic()
    while time.monotonic() - start < ttl * periods:
        assert client.request("/svn/repo1/", "bob", "builder").status == 200
        time.sleep(0.05)
    # The first fill and one refill per time-to-live: a read and, after a
    # miss, a store of each of the two entries.
    refills = periods + 1
    calls = zeb.brimstack.counters()
    assert 2 <= calls["isValidUser"] <= refills and calls["getRolePathsList"] <= refills, calls
    assert zeb.memcached.traffic() - traffic <= 4 * refills

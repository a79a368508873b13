"""memcached entries shared by two Locations of different services never
answer for the other service, nor for another repository."""

import os

import pytest

from brimstack_fixture import BrimstackServer
from harness import cache_keys
from harness.fixtures import EXTERNAL_SYSTEM_ID, server_config
from harness.repositories import write_properties

# Service B knows alice by another password and gives bob other roles.
USERS_B = {"alice": {"password": "tenant-b", "repositories": {"repo1": [{"id": "1",
                                                                         "pbps": ["view:/"]}]}},
           "bob": {"password": "builder", "repositories": {"repo1": [{"id": "2",
                                                                      "pbps": ["commit:/"]}]}}}
SYSTEM_ID_B = "tenant-b-id"


def calls(server, operation):
    return server.counters().get(operation, 0)


@pytest.mark.parametrize("branding, steps, expected_calls", [
    # An acceptance by service A is no answer for service B.
    (False, [("/svn", "alice", "wonderland", "repo1", 200),
             ("/tenantB", "alice", "wonderland", "repo1", 401),
             ("/tenantB", "alice", "tenant-b", "repo1", 200)],
     {"B": {"isValidUser": 2}}),
    # Nor are A's roles B's.
    (False, [("/svn", "bob", "builder", "repo1", 200), ("/tenantB", "bob", "builder", "repo1", 200)],
     {"A": {"isValidUser": 1}, "B": {"isValidUser": 1, "getRolePathsList": 1}}),
    # The service answers per repository: a refusal for repo2 does not lock
    # bob out of repo1, an acceptance for repo1 does not let him into repo2.
    (False, [("/svn", "bob", "builder", "repo2", 401), ("/svn", "bob", "builder", "repo1", 200),
             ("/svn", "bob", "builder", "repo2", 401)],
     {"A": {"isValidUser": 2}}),
    # Each service's external system id stays its own.
    (True, [("/tenantB", "bob", "builder", "repo1", 200),
            ("/svn", "alice", "wonderland", "repo1", 200)],
     {"A": {"getBrandingExternalSystemId": 1}, "B": {"getBrandingExternalSystemId": 1}}),
], ids=["credentials", "role paths", "repositories", "external system id"])
def test_entries_stay_with_their_service_and_repository(zeb, branding, steps, expected_calls):
    with BrimstackServer(server_config(users=USERS_B, external_system_id=SYSTEM_ID_B)) as service_b:
        properties_b = os.path.join(zeb.workdir, "tenant-b.properties")
        extra_a, extra_b = {}, {}
        if branding:
            extra_a = {"subversion_branding.repository_uri": "/svn"}
            extra_b = {"subversion_branding.repository_uri": "/tenantB"}
        write_properties(properties_b, zeb.default_properties(**dict(
            extra_b, **{"dwmain.integration.listener_port": str(service_b.port)})))
        zeb.start(properties=zeb.default_properties(**extra_a),
                  locations=[zeb.location("/svn"),
                             zeb.location("/tenantB", properties_file=properties_b)])
        for location, user, password, repo, status in steps:
            # A new connection each time: only memcached links the requests.
            response = zeb.client().request("%s/%s/" % (location, repo), user, password)
            assert response.status == status, (location, user, repo)
        services = {"A": zeb.brimstack, "B": service_b}
        for name, expected in expected_calls.items():
            for operation, count in expected.items():
                assert calls(services[name], operation) == count, (name, operation)
        if branding:
            ids = {dict(c["params"])["systemIdString"] for c in zeb.brimstack.requests()
                   if c["operation"] == "isValidUser"}
            assert ids == {EXTERNAL_SYSTEM_ID}


def test_password_is_stored_only_as_a_keyed_digest(zeb):
    zeb.start()
    assert zeb.client().request("/svn/repo1/", "bob", "builder").status == 200
    assert zeb.memcached.get(cache_keys.stored_key("bob:builder:isvaliduser")) is None
    assert zeb.memcached.get(zeb.is_valid_user_key("bob", "builder")) == b"\0\0\0\0"

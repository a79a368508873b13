"""The name whose password was checked is the name a request runs as, and
every request is authorized as its own user and repository."""

import os
import subprocess

import pytest

from brimstack_fixture import BrimstackServer
from harness.fixtures import server_config
from harness.repositories import write_properties

LUA_SETS_BOB = """\
function set_user(r)
    r.user = "bob"
    return apache2.DECLINED
end
"""


def _earlier_module_sets_bob(zeb):
    script = os.path.join(zeb.workdir, "set_user.lua")
    with open(script, "w") as f:
        f.write(LUA_SETS_BOB)
    location = zeb.location(directives=["LuaHookCheckUserID %s set_user" % script])
    location.basic_auth = False
    return dict(locations=[location], load_auth_basic=False,
                extra_config="LoadModule lua_module /usr/lib/apache2/modules/mod_lua.so\n")


def _no_earlier_module(zeb):
    return dict(locations=[zeb.location(directives=["SVNAutoversioning on"])],
                load_auth_basic=False)


def _validated_users(zeb):
    return [dict(c["params"])["username"] for c in zeb.brimstack.requests()
            if c["operation"] == "isValidUser"]


@pytest.mark.parametrize("setup, user, password, status", [
    (_no_earlier_module, "alice", "wonderland", 200),
    # The guest account's password under another name proves nothing.
    (_no_earlier_module, "alice", "visitor", 401),
    (_earlier_module_sets_bob, "bob", "builder", 200),
    # An earlier module's name and the credentials' name must agree.
    (_earlier_module_sets_bob, "alice", "wonderland", 401),
])
def test_request_runs_as_the_user_whose_password_was_checked(zeb, setup, user, password, status):
    zeb.start(**setup(zeb))
    response = zeb.client().request("/svn/repo1/", user, password)
    assert response.status == status, zeb.httpd.log()[-3000:]
    assert response.getheader("ZebUserName") == (user if status == 200 else None)
    assert set(_validated_users(zeb)) <= {user}


def test_commit_carries_the_validated_user_as_author(zeb):
    zeb.start(**_no_earlier_module(zeb))
    client = zeb.client()
    created = client.request("/svn/repo1/new.txt", "alice", "wonderland", method="PUT")
    assert created.status == 201, zeb.httpd.log()[-3000:]
    author = subprocess.run(["svnlook", "author", os.path.join(zeb.repos_dir, "repo1")],
                            capture_output=True, text=True, check=True).stdout.strip()
    assert author == "alice"
    assert client.request("/svn/repo1/other.txt", "alice", "visitor", method="PUT").status == 401


def test_each_location_is_served_with_its_own_service(zeb):
    # Service B knows alice by another password; no memcached, so that only
    # the connection could carry an answer from one service to the other.
    users_b = {"alice": {"password": "tenant-b", "repositories": {
        "repo1": [{"id": "9", "pbps": ["view:/"]}]}}}
    with BrimstackServer(server_config(users=users_b)) as service_b:
        properties_b = os.path.join(zeb.workdir, "tenant-b.properties")
        write_properties(properties_b, zeb.default_properties(**{
            "dwmain.integration.listener_port": str(service_b.port)}))
        zeb.start(locations=[zeb.location("/svn", memcache_server=None),
                             zeb.location("/tenantB", properties_file=properties_b,
                                          memcache_server=None)])
        client = zeb.client()
        steps = [("/svn", "wonderland", 200), ("/tenantB", "wonderland", 401),
                 ("/tenantB", "tenant-b", 200), ("/svn", "wonderland", 200),
                 ("/tenantB", "tenant-b", 200)]
        for location, password, status in steps:
            response = client.request(location + "/repo1/", "alice", password)
            assert response.status == status, (location, password)
        # Each context keeps its own connection cache.
        assert _validated_users(zeb) == ["alice"]
        assert service_b.counters().get("isValidUser", 0) == 2

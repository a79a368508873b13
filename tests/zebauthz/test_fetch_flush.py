"""fetch and flush against the stand-in server, a real memcached and the
module itself: the tool asks as the module asks, reads what it cached under
its keys and drops exactly those entries."""

import pytest

from harness.fixtures import USERS, server_config


def service_args(zeb, user, *more):
    return ("--properties", zeb.properties_file, "--user", user, "--repository", "repo1") + more


def password_file(tmp_path, user, password=None):
    path = tmp_path / ("%s.pw" % user)
    path.write_text((password or USERS[user]["password"]) + "\n")
    return str(path)


def test_fetch_asks_like_the_module_and_reads_what_it_cached(tool, zeb, tmp_path):
    zeb.start()
    alice_pw = password_file(tmp_path, "alice")
    fetched = tool.json("fetch", *service_args(zeb, "alice", "--password-file", alice_pw),
                        status=0)
    assert fetched["roles"] == [{"id": "101", "pbps": ["commit:/"]}]
    assert fetched["accepted"] is True
    assert fetched["source"].startswith("getRolePathsList at http://127.0.0.1:")
    # The module's system id and action reached the server.
    request = zeb.brimstack.requests()[-1]
    assert dict(request["params"])["systemId"] == "scm-file-id"
    assert request["soap_action"].strip('"') == "alice:ScmListener"

    via_cache = ("fetch", "--via-cache", "--memcache", zeb.memcached.address)
    missing = tool.run(*via_cache, *service_args(zeb, "alice"))
    assert missing.returncode == 5, missing.stderr

    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 200
    cached = tool.json(*via_cache, *service_args(zeb, "alice", "--password-file", alice_pw,
                                                 "--explain", "commit", "/trunk"), status=0)
    assert (cached["roles"], cached["accepted"]) == (fetched["roles"], True)
    assert cached["decisions"][0]["granted"] is True


@pytest.mark.parametrize("properties, list_supported, operation, list_calls", [
    ({}, False, "getRolePaths", 1),
    ({"svn.authnz.use_role_paths_api": "true"}, True, "getRolePaths", 0),
])
def test_fetch_chooses_the_operation_like_the_module(tool, zeb, properties, list_supported,
                                                     operation, list_calls):
    zeb.start(properties=zeb.default_properties(**properties))
    zeb.brimstack.set_config(server_config(role_paths_list_supported=list_supported))
    fetched = tool.json("fetch", *service_args(zeb, "bob"), status=0)
    assert fetched["source"].split()[0] == operation
    # getRolePaths names no roles; the module calls them "NONE".
    assert fetched["roles"] == [{"id": "NONE", "pbps": ["view:/"]}]
    assert zeb.brimstack.counters()["getRolePathsList"] == list_calls


def test_fetch_reports_service_failures_and_refused_passwords(tool, zeb, tmp_path):
    zeb.start()
    refused = tool.run("fetch", *service_args(
        zeb, "alice", "--password-file", password_file(tmp_path, "alice", "guess")))
    assert refused.returncode == 4 and "refuses the password" in refused.stderr
    zeb.brimstack.misbehave("*", "fault", faultstring="down for maintenance")
    failed = tool.run("fetch", *service_args(zeb, "alice"))
    assert failed.returncode == 4 and "down for maintenance" in failed.stderr


def test_flush_makes_the_next_connection_ask_again(tool, zeb, tmp_path):
    zeb.start()
    held = {user: zeb.client() for user in ("alice", "bob")}
    for user, client in held.items():
        assert client.request("/svn/repo1/", user, USERS[user]["password"]).status == 200
    alice_keys = [zeb.role_paths_key("alice"), zeb.is_valid_user_key("alice", "wonderland")]
    assert all(zeb.memcached.get(key) is not None for key in alice_keys)

    # alice loses her role at the service; until the flush, memcached
    # still answers for her.
    revoked = dict(USERS, alice=dict(USERS["alice"], repositories={
        "repo1": [{"id": "101", "pbps": ["none:/"]}]}))
    zeb.brimstack.set_config(server_config(users=revoked))
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 200

    flushed = tool.json("flush", "--memcache", zeb.memcached.address,
                        *service_args(zeb, "alice", "--password-file",
                                      password_file(tmp_path, "alice")), status=0)
    assert [(d["entry"], d["removed"]) for d in flushed["dropped"]] == [
        ("role paths", True), ("acceptance", True)]
    assert [zeb.memcached.get(key) for key in alice_keys] == [None, None]
    assert zeb.memcached.get(zeb.role_paths_key("bob")) is not None

    zeb.brimstack.reset()
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 403
    assert zeb.client().request("/svn/repo1/", "bob", "builder").status == 200
    counters = zeb.brimstack.counters()
    assert (counters["isValidUser"], counters["getRolePathsList"]) == (1, 1)
    # What flush leaves: a connection that already holds the roles.
    assert held["alice"].request("/svn/repo1/", "alice", "wonderland").status == 200


def test_flush_says_which_servers_it_could_not_reach(tool, zeb):
    zeb.start()
    assert zeb.client().request("/svn/repo1/", "bob", "builder").status == 200
    result = tool.run("flush", "--json", "--memcache", zeb.memcached.address + ",127.0.0.1:1",
                      *service_args(zeb, "bob"))
    assert result.returncode == 5, result.stderr
    assert "127.0.0.1:1" in result.stderr
    assert zeb.memcached.get(zeb.role_paths_key("bob")) is None

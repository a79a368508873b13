"""Role paths: retrieval from the service, the value shared through
memcached, and the choice and fallback between the two operations."""

import pytest

from authz_site import BULKY_PBPS, LONG_ROLE_ID, password, record

FETCHED = "Fetched getRolePaths()/getRolePathsList() API response from memcached"


def test_second_connection_takes_role_paths_from_memcached(site):
    site.start()
    assert site.request("reader", "/trunk/README").status == 200
    assert site.calls("getRolePathsList") == 1

    mark = site.mark()
    assert site.request("reader", "/trunk/README").status == 200
    assert FETCHED in site.messages(mark)
    assert site.calls("getRolePathsList") == 1
    assert site.calls("getRolePaths") == 0


@pytest.mark.parametrize("user, stored", [
    ("reader", record("301", ["view:/"])),
    ("dev", record("201", ["view:/", "commit:/trunk", "view:/trunk/docs", "view:/trunk/src/lib",
                           "none:/trunk/secret", "commit:/branches",
                           "view:/branches/rel/main.c"])),
    # No role: an empty value, so the service is not asked again.
    ("norole", b""),
    # A role the record cannot hold is used but never stored.
    ("mover", None),
    ("longid", None),
])
def test_answer_is_stored_only_when_it_can_be_read_back_whole(site, user, stored):
    site.start()
    site.request(user, "/trunk/README")
    assert site.zeb.memcached.get(site.zeb.role_paths_key(user)) == stored


def test_unstorable_answer_still_decides_the_connection(site):
    site.start()
    client = site.zeb.client()
    for path, status in [("/trunk/README", 200), ("/trunk/secret/key.txt", 403)]:
        assert client.request("/svn/repo1" + path, "longid", "longidpw").status == status
    assert ("Checking against role '%s'" % LONG_ROLE_ID) in \
        [m for _, m in site.zeb.httpd.module_lines()]
    assert "Unable to stash getRolePathsList() API response in memcached" in \
        [m for _, m in site.zeb.httpd.module_lines()]


# Some 100 KB of answer, however the service writes it, is read whole: the
# last PBP still hides, and the whole role is stored.
@pytest.mark.parametrize("delivery", ["whole", "chunked", "http10"])
def test_large_answer_is_read_whole_however_delivered(site, delivery):
    site.start()
    site.zeb.brimstack.misbehave("*", "deliver", delivery=delivery)
    client = site.zeb.client()
    for path, status in [("/trunk/README", 200), ("/trunk/secret/key.txt", 403)]:
        assert client.request("/svn/repo1" + path, "bulky", "bulkypw").status == status
    assert (site.calls("getRolePathsList"), site.calls("getRolePaths")) == (1, 0)
    assert site.zeb.memcached.get(site.zeb.role_paths_key("bulky")) == record("501", BULKY_PBPS)


@pytest.mark.parametrize("value", [
    b"garbage",
    record("301", ["view:/"])[:-3],
    # A count that runs past the end of the value.
    record("301", ["view:/"])[:40] + (5).to_bytes(8, "little") + b"view:/\0" + b"\0" * 8,
])
def test_malformed_stored_value_is_replaced_by_the_service_answer(site, value):
    site.start()
    site.zeb.memcached.set(site.zeb.role_paths_key("reader"), value)
    assert site.request("reader", "/trunk/README").status == 200
    assert site.calls("getRolePathsList") == 1
    assert site.zeb.memcached.get(site.zeb.role_paths_key("reader")) == record("301", ["view:/"])


def test_role_paths_list_failure_falls_back_to_role_paths(site):
    site.start()
    site.zeb.brimstack.misbehave("getRolePathsList", "fault", faultstring="no such operation")
    mark = site.mark()
    assert site.request("dev", "/trunk/README").status == 200
    seen = site.zeb.httpd.messages_since(mark)
    assert any(level == "error" and m.startswith("getRolePathsList() API FAILED: ")
               and "no such operation" in m for level, m in seen)
    assert ("debug", "Stashed getRolePaths() API response in memcached") in seen
    assert site.calls("getRolePaths") == 1
    # The strings of all roles, filed under one role.
    stored = site.zeb.memcached.get(site.zeb.role_paths_key("dev"))
    assert stored.startswith(b"NONE\0")
    assert site.request("dev", "/trunk/secret/key.txt").status == 403


@pytest.mark.parametrize("role_paths_fails, status", [(False, 200), (True, 503)])
def test_use_role_paths_api_asks_only_get_role_paths(site, role_paths_fails, status):
    site.start(properties=site.zeb.default_properties(**{"svn.authnz.use_role_paths_api": "on"}))
    if role_paths_fails:
        site.zeb.brimstack.misbehave("getRolePaths", "fault", faultstring="down")
    response = site.request("reader", "/trunk/README")
    assert response.status == status
    assert response.getheader("Retry-After") == ("30" if role_paths_fails else None)
    assert response.getheader("WWW-Authenticate") is None
    assert site.calls("getRolePathsList") == 0
    assert site.calls("getRolePaths") == 1
    stored = site.zeb.memcached.get(site.zeb.role_paths_key("reader"))
    assert stored == (None if role_paths_fails else record("NONE", ["view:/"]))


def test_failed_retrieval_is_retried_on_the_same_connection(site):
    site.start()
    site.zeb.brimstack.misbehave("getRolePathsList", "fault", faultstring="down")
    site.zeb.brimstack.misbehave("getRolePaths", "fault", faultstring="down", times=1)
    client = site.zeb.client()
    assert client.request("/svn/repo1/trunk/README", "reader", "readerpw").status == 503
    assert client.request("/svn/repo1/trunk/README", "reader", "readerpw").status == 200
    assert site.calls("getRolePaths") == 2


@pytest.mark.parametrize("user, stored, repository, read, write", [
    ("unusable", None, "repo1", 403, 403),
    # An empty getRolePaths answer: one role without PBPs.
    ("outsider", None, "repo2", 403, 403),
    ("reader", record("NONE", []), "repo1", 403, 403),
    # A stored role without PBPs beside a usable one adds nothing.
    ("reader", record("301", ["view:/"]) + b"\0" * 56, "repo1", 200, 403),
    ("partly", None, "repo1", 200, 403),
], ids=["unusable-strings", "empty-answer", "stored-empty-role", "stored-empty-role-beside-another",
        "partly-usable"])
def test_role_without_usable_pbps_grants_nothing(site, user, stored, repository, read, write):
    site.start(properties=site.zeb.default_properties(
        **{"svn.authnz.use_role_paths_api": "on" if repository == "repo2" else None}))
    if stored is not None:
        site.zeb.memcached.set(site.zeb.role_paths_key(user), stored)
    base = "/svn/%s/trunk" % repository
    client = site.zeb.client()
    assert client.request(base, user, password(user), method="OPTIONS").status == read
    listed = client.request(base, user, password(user), method="PROPFIND",
                            headers={"Depth": "0"}).status
    assert listed == (207 if read == 200 else 403)
    assert client.request(base + "/x", user, password(user), method="PROPPATCH").status == write


def test_each_unusable_string_is_named_once_per_load(site):
    site.start()
    mark = site.mark()
    assert site.request("partly", "/trunk/README").status == 200
    seen = site.zeb.httpd.messages_since(mark)
    warned = [m for level, m in seen if level == "warn" and "unusable PBP" in m]
    assert warned == [
        "Role '403' holds an unusable PBP 'none:/trunk/secret/**x' (pattern cannot be translated)",
        "Role '403' holds an unusable PBP 'read:/trunk/src' (unknown action)"]


# dev's roles sent with every array's items positioned last first: read in
# part, they lose the "none:" PBP that hides the file.
@pytest.mark.parametrize("bent, status", [
    (["getRolePathsList"], 403),
    (["getRolePathsList", "getRolePaths"], 503),
])
def test_arrays_not_read_whole_are_never_used(site, bent, status):
    site.start()
    for operation in bent:
        site.zeb.brimstack.misbehave(operation, "positions_descending")
    assert site.request("dev", "/trunk/secret/key.txt").status == status
    stored = site.zeb.memcached.get(site.zeb.role_paths_key("dev"))
    assert (stored is None) == (status == 503)
    assert stored is None or stored.startswith(b"NONE\0")


def test_unreachable_service_is_not_asked_again_for_role_paths(site):
    # Asking getRolePaths after getRolePathsList timed out would only make
    # the client wait a second time-out.
    site.start(properties=site.zeb.default_properties(**{"svn.authnz.timeout": "1"}))
    site.zeb.brimstack.misbehave("getRolePathsList", "slow", seconds=3)
    mark = site.mark()
    response = site.request("reader", "/trunk/README")
    assert (response.status, response.getheader("Retry-After")) == (503, "30")
    failures = [m for level, m in site.zeb.httpd.messages_since(mark) if level == "error"]
    assert len(failures) == 1 and failures[0].startswith("getRolePathsList() API FAILED: ")
    assert site.calls("getRolePaths") == 0
    assert site.zeb.memcached.get(site.zeb.role_paths_key("reader")) is None

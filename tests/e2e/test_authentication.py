"""Authentication of Basic credentials through the connection cache,
memcached and the stand-in server's isValidUser, on keep-alive connections."""

import os
import time

import pytest

from harness.fixtures import SHARED_SECRET
from harness.processes import free_port


def calls(server, operation="isValidUser"):
    return server.counters().get(operation, 0)


def messages(zeb, mark):
    return [m for _, m in zeb.httpd.messages_since(mark)]


def test_repeated_credentials_are_answered_by_the_connection(zeb):
    zeb.start()
    client = zeb.client()
    first = client.request("/svn/repo1/", "alice", "wonderland")
    assert first.status == 200, zeb.httpd.log()
    assert first.getheader("ZebUserName") == "alice"
    assert calls(zeb.brimstack) == 1

    mark = zeb.httpd.mark()
    traffic = zeb.memcached.traffic()
    for _ in range(3):
        again = client.request("/svn/repo1/", "alice", "wonderland")
        assert again.status == 200
        assert again.getheader("ZebUserName") == "alice"
    assert calls(zeb.brimstack) == 1
    assert zeb.memcached.traffic() == traffic
    assert messages(zeb, mark).count("User 'alice' authentication OK (per cache)") == 3


def test_changed_password_or_repository_resets_the_connection_cache(zeb):
    zeb.start()
    client = zeb.client()
    assert client.request("/svn/repo1/", "alice", "wonderland").status == 200

    cases = [
        (("repo1", "wrong"), 401, "Request password differs from cached password"),
        (("repo1", "wonderland"), 200, None),
        (("repo2", "wonderland"), 200, "Request repository differs from cached repository"),
    ]
    for (repo, password), status, difference in cases:
        mark = zeb.httpd.mark()
        response = client.request("/svn/%s/" % repo, "alice", password)
        assert response.status == status
        seen = messages(zeb, mark)
        if difference is not None:
            assert difference in seen
            assert "Resetting connection cache authentication and authorization data" in seen
        assert "User 'alice' authentication OK (per cache)" not in seen
    # The wrong password and the other repository were new to memcached.
    assert calls(zeb.brimstack) == 3


def test_refusal_is_cached_in_memcached(zeb):
    zeb.start()
    refused = zeb.client().request("/svn/repo1/", "alice", "wrong")
    assert refused.status == 401
    assert refused.getheader("WWW-Authenticate", "").startswith("Basic")
    assert zeb.memcached.get(zeb.is_valid_user_key("alice", "wrong")) == b"\x01\x00\x00\x00"
    assert calls(zeb.brimstack) == 1

    mark = zeb.httpd.mark()
    again = zeb.client().request("/svn/repo1/", "alice", "wrong")
    assert again.status == 401
    seen = messages(zeb, mark)
    assert "Fetched isValidUser() API response from memcached: [1 = invalid]" in seen
    assert "User 'alice' refused by the service for repository 'repo1' (answer 1)" in seen
    assert calls(zeb.brimstack) == 1

    # The right password has a key of its own.
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 200
    assert calls(zeb.brimstack) == 2


def test_acceptance_from_memcached_on_another_connection(zeb):
    zeb.start()
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 200
    assert calls(zeb.brimstack) == 1

    mark = zeb.httpd.mark()
    other = zeb.client().request("/svn/repo1/", "alice", "wonderland")
    assert other.status == 200
    assert other.getheader("ZebUserName") == "alice"
    assert "Fetched isValidUser() API response from memcached: [0 = valid]" in messages(zeb, mark)
    assert calls(zeb.brimstack) == 1


def test_short_memcached_value_is_a_miss(zeb):
    zeb.start()
    zeb.memcached.set(zeb.is_valid_user_key("alice", "wonderland"), b"\x00\x00")
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 200
    assert calls(zeb.brimstack) == 1
    assert zeb.memcached.get(zeb.is_valid_user_key("alice", "wonderland")) == b"\x00\x00\x00\x00"


def test_user_not_set_by_another_module_is_the_credentials_user(zeb):
    zeb.start(load_auth_basic=False)
    response = zeb.client().request("/svn/repo1/", "guest", "visitor")
    assert response.status == 200, zeb.httpd.log()
    assert response.getheader("ZebUserName") == "guest"
    (call,) = [c for c in zeb.brimstack.requests() if c["operation"] == "isValidUser"]
    params = dict(call["params"])
    assert params["username"] == "guest"
    assert params["password"] == "visitor"
    assert params["repositoryDir"] == "repo1"
    assert call["soap_action"].strip('"') == "guest:ScmListener"


def test_request_without_credentials_gets_httpd_challenge(zeb):
    zeb.start()
    mark = zeb.httpd.mark()
    response = zeb.client().request("/svn/repo1/")
    assert response.status == 401
    assert response.getheader("WWW-Authenticate", "").startswith("Basic")
    assert not [m for m in messages(zeb, mark) if "authentication" in m]
    assert calls(zeb.brimstack) == 0


def test_location_without_properties_file_declines(zeb):
    zeb.start(locations=[zeb.location("/svn", properties_file=None)])
    mark = zeb.httpd.mark()
    zeb.client().request("/svn/repo1/", "alice", "wonderland")
    assert ("warn", "Unable to handle request due to missing ZEB properties file") in \
        zeb.httpd.messages_since(mark)
    assert calls(zeb.brimstack) == 0


def test_later_section_without_properties_file_turns_the_module_off(zeb):
    zeb.start(locations=[zeb.location("/svn"),
                         zeb.location("/svn/repo2", properties_file=None, bare=True)])
    client = zeb.client()
    assert client.request("/svn/repo1/", "alice", "wonderland").getheader("ZebUserName") == "alice"
    mark = zeb.httpd.mark()
    response = client.request("/svn/repo2/", "alice", "wonderland")
    assert response.getheader("ZebUserName") is None
    assert "Unable to handle request due to missing ZEB properties file" in messages(zeb, mark)


SECRET = "dwmain.integration.security.shared_secret"

# Anything but an answer from isValidUser: name, properties, misbehaviour.
SERVICE_FAILURES = [
    ("connection refused", {"dwmain.integration.listener_port": "closed"}, None),
    ("time-out", {"svn.authnz.timeout": "1"}, ("slow", {"seconds": 3})),
    ("SOAP fault", {}, ("fault", {"faultstring": "directory\ndown"})),
    ("wrong shared secret", {SECRET: "not-the-secret"}, None),
    ("HTTP error", {}, ("raw", {"status": 502, "body": "<html>\nbad gateway\n</html>",
                                "content_type": "text/html"})),
    ("malformed reply", {}, ("malformed", {})),
    ("reply without its value", {}, ("no_return", {})),
]


@pytest.mark.parametrize("provider", [True, False], ids=["AuthBasicProvider-zeb", "check_user"])
@pytest.mark.parametrize("props, behaviour", [c[1:] for c in SERVICE_FAILURES],
                         ids=[c[0] for c in SERVICE_FAILURES])
def test_failing_service_is_a_server_failure_not_a_wrong_password(zeb, provider, props,
                                                                  behaviour):
    props = {k: str(free_port()) if v == "closed" else v for k, v in props.items()}
    zeb.start(properties=zeb.default_properties(**props), load_auth_basic=provider)
    if behaviour:
        zeb.brimstack.misbehave("isValidUser", behaviour[0], **behaviour[1])
    mark = zeb.httpd.mark()
    response = zeb.client().request("/svn/repo1/", "alice", "wonderland")
    # mod_auth_basic answers every error of a provider with 500; the
    # module's own hook says when to try again.
    assert response.status == (500 if provider else 503)
    assert response.getheader("Retry-After") == (None if provider else "30")
    assert response.getheader("WWW-Authenticate") is None
    seen = zeb.httpd.messages_since(mark)
    port = props.get("dwmain.integration.listener_port", zeb.brimstack.port)
    endpoint = "http://127.0.0.1:%s/qv-soap/services/ScmListener" % port
    (failure,) = [m for level, m in seen if level == "error"]
    assert failure.startswith("isValidUser() API FAILED: %s: " % endpoint) and "\\n" not in failure
    assert not [m for level, m in seen if level == "warn"]
    assert "Password Mismatch" not in zeb.httpd.log()
    assert zeb.memcached.get(zeb.is_valid_user_key(
        "alice", "wonderland", secret=props.get(SECRET, SHARED_SECRET))) is None


def test_unreachable_memcached_leaves_the_service_in_charge(zeb):
    address = "127.0.0.1:%d" % free_port()
    zeb.start(locations=[zeb.location(memcache_server=address)])
    client = zeb.client()
    assert client.request("/svn/repo1/", "alice", "wonderland").status == 200
    assert ("warn", "Failed connecting to memcached server at '%s'" % address) in \
        zeb.httpd.module_lines()
    assert "Unable to stash isValidUser() API response in memcached" in \
        [m for _, m in zeb.httpd.module_lines()]
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 200
    assert calls(zeb.brimstack) == 2


def test_memcached_entries_expire_after_the_configured_ttl(zeb):
    zeb.start(locations=[zeb.location(memcache_ttl="1")])
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 200
    assert zeb.memcached.get(zeb.is_valid_user_key("alice", "wonderland")) is not None
    time.sleep(2.1)
    assert zeb.memcached.get(zeb.is_valid_user_key("alice", "wonderland")) is None
    assert zeb.client().request("/svn/repo1/", "alice", "wonderland").status == 200
    assert calls(zeb.brimstack) == 2



def _children_resident_bytes(parent_pid):
    total = 0
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                parent = int(f.read().rsplit(")", 1)[1].split()[1])
            if parent == parent_pid:
                with open("/proc/%s/statm" % entry) as f:
                    total += int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
        except (OSError, ValueError, IndexError):
            continue
    return total


def test_service_calls_on_one_connection_do_not_grow_its_memory(zeb):
    # Every new password is a memcached miss and a call of the service on
    # the connection's one SOAP runtime; what a call allocates must be
    # released with it, not kept until the connection ends.
    zeb.start()
    client = zeb.client()
    for i in range(100):
        client.request("/svn/repo1/", "alice", "warm-up-%d" % i)
    before = _children_resident_bytes(zeb.httpd.process.pid)
    for i in range(6000):
        assert client.request("/svn/repo1/", "alice", "guess-%d" % i).status == 401
    grown = _children_resident_bytes(zeb.httpd.process.pid) - before
    assert grown < 384 * 1024, "httpd's children grew by %d KiB" % (grown // 1024)


@pytest.mark.parametrize("provider", [True, False], ids=["AuthBasicProvider-zeb", "check_user"])
def test_provider_and_hook_judge_credentials_alike(zeb, provider):
    # Without mod_auth_basic the module's own check_user hook is reached.
    zeb.start(load_auth_basic=provider)
    client = zeb.client()
    cases = [
        ("wonderland", 200, ("debug", "User 'alice' authentication OK")),
        ("wrong", 401,
         ("warn", "User 'alice' refused by the service for repository 'repo1' (answer 1)")),
        ("wonderland", 200, ("debug", "User 'alice' authentication OK")),
        ("wonderland", 200, ("debug", "User 'alice' authentication OK (per cache)")),
    ]
    for password, status, line in cases:
        mark = zeb.httpd.mark()
        response = client.request("/svn/repo1/", "alice", password)
        assert response.status == status
        assert line in zeb.httpd.messages_since(mark)
        if status == 200:
            assert response.getheader("ZebUserName") == "alice"
        elif provider:
            # httpd writes the noted challenge through mod_auth_basic, which
            # the hook's set-up does not load.
            assert response.getheader("WWW-Authenticate") == 'Basic realm="Subversion"'
    assert calls(zeb.brimstack) == 2

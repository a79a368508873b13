import http.client
import os
import signal
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

import pytest
from conftest import CONFIG, SECRET

from brimstack_fixture import SERVER_SCRIPT, BrimstackServer
from brimstack_key import make_request_key
from soap_client import call, parse_response, post, request_body

ALICE_ROLES = [
    {"repoPathAndPerm": ["view:/", "commit:/trunk"], "repoRoleId": "101"},
    None,
    {"repoPathAndPerm": ["view:/tags/<&>"]},
    {"repoRoleId": "103"},
]


def key(secret=SECRET, **kw):
    return make_request_key(secret, **kw)


def valid_user_params(user, password, repo, k=None):
    return [("requestKey", k or key()), ("username", user), ("password", password),
            ("systemIdString", "exsy1001"), ("repositoryDir", repo)]


def role_params(user, repo):
    return [("requestKey", key()), ("username", user), ("systemId", "exsy1001"),
            ("repositoryName", repo)]


@pytest.mark.parametrize("operation, params, expected", [
    ("isValidUser", valid_user_params("alice", "wonder land", "repo1"), 0),
    ("isValidUser", valid_user_params("alice", "wonder land", "empty"), 0),
    ("isValidUser", valid_user_params("alice", "wonderland", "repo1"), 1),
    ("isValidUser", valid_user_params("carol", "wonder land", "repo1"), 1),
    ("isValidUser", valid_user_params("alice", "wonder land", "repo2"), 2),
    ("isValidUser", valid_user_params("bob", "", "repo1"), 0),
    ("getBrandingExternalSystemId", [("requestKey", key())], "exsy1001"),
    ("getRolePathsList", role_params("alice", "repo1"), ALICE_ROLES),
    ("getRolePathsList", role_params("alice", "empty"), []),
    ("getRolePathsList", role_params("carol", "repo1"), []),
    ("getRolePaths", role_params("alice", "repo1"),
     ["view:/", "commit:/trunk", "view:/tags/<&>"]),
    ("getRolePaths", role_params("bob", "nowhere"), []),
    # "*" answers for every repository without an entry of its own.
    ("isValidUser", valid_user_params("dana", "d", "made-by-a-test"), 0),
    ("getRolePaths", role_params("dana", "made-by-a-test"), ["commit:/"]),
    ("getRolePaths", role_params("dana", "repo1"), []),
])
def test_operations_answer_from_configuration(fresh, operation, params, expected):
    status, body = call(fresh, operation, params)
    assert status == 200
    assert parse_response(body) == expected


def test_absent_external_system_id_is_nil(fresh):
    fresh.set_config({**CONFIG, "external_system_id": None})
    status, body = call(fresh, "getBrandingExternalSystemId", [("requestKey", key())])
    assert (status, parse_response(body)) == (200, None)


def test_role_paths_list_can_be_unsupported(fresh):
    fresh.set_config({**CONFIG, "role_paths_list_supported": False})
    status, body = call(fresh, "getRolePathsList", role_params("alice", "repo1"))
    assert status == 500
    assert parse_response(body)[0] == "fault"
    status, body = call(fresh, "getRolePaths", role_params("alice", "repo1"))
    assert status == 200 and len(parse_response(body)) == 3


def test_utf8_strings_round_trip(fresh):
    name = "j\u00fcrgen"
    roles = [{"pbps": ["view:/\u00e9t\u00e9"]}]
    fresh.set_config({"shared_secret": SECRET, "users": {
        name: {"password": "\u00e4\u00df", "repositories": {"r": roles}}}})
    status, body = call(fresh, "isValidUser", valid_user_params(name, "\u00e4\u00df", "r"))
    assert parse_response(body) == 0
    status, body = call(fresh, "getRolePaths", role_params(name, "r"))
    assert parse_response(body) == ["view:/\u00e9t\u00e9"]


@pytest.mark.parametrize("request_key, config_extra", [
    (make_request_key("other secret"), {}),
    (make_request_key(SECRET)[:-4] + "AAA=", {}),         # digest altered
    (make_request_key(SECRET)[:20], {}),                   # truncated token
    ("not base64 at all!", {}),
    (None, {}),                                            # parameter left out
    (make_request_key(SECRET, when=time.time() + 3600), {}),
    (make_request_key(SECRET, when=time.time() - 120), {"key_max_age": 60}),
])
def test_request_keys_that_do_not_verify_get_a_fault(fresh, request_key, config_extra):
    fresh.set_config({**CONFIG, **config_extra})
    status, body = call(fresh, "getBrandingExternalSystemId", [("requestKey", request_key)])
    assert status == 500
    fault, code, text = parse_response(body)
    assert code == "SOAP-ENV:Client" and "Invalid request key" in text
    assert fresh.counters()["getBrandingExternalSystemId"] == 1


def test_old_keys_verify_unless_an_age_limit_is_set(fresh):
    old = make_request_key(SECRET, when=time.time() - 86400 * 30)
    status, body = call(fresh, "getBrandingExternalSystemId", [("requestKey", old)])
    assert (status, parse_response(body)) == (200, "exsy1001")


def test_counters_and_request_log(fresh):
    call(fresh, "isValidUser", valid_user_params("alice", "wonder land", "repo1"))
    call(fresh, "getRolePaths", role_params("alice", "repo1"))
    call(fresh, "getRolePaths", role_params("alice", "repo1"))
    assert fresh.counters() == {"isValidUser": 1, "getBrandingExternalSystemId": 0,
                                "getRolePathsList": 0, "getRolePaths": 2}
    first = fresh.requests()[0]
    assert first["operation"] == "isValidUser"
    assert first["soap_action"] == '"alice:ScmListener"'
    assert [name for name, _ in first["params"]] == [
        "requestKey", "username", "password", "systemIdString", "repositoryDir"]
    fresh.reset()
    assert set(fresh.counters().values()) == {0} and fresh.requests() == []


def test_behaviour_limited_by_times_then_reset(fresh):
    fresh.misbehave("isValidUser", "fault", faultstring="down for now", times=2)
    fresh.misbehave("getRolePaths", "fault")
    params = valid_user_params("alice", "wonder land", "repo1")
    outcomes = [call(fresh, "isValidUser", params)[0] for _ in range(3)]
    assert outcomes == [500, 500, 200]
    fresh.reset()
    assert call(fresh, "getRolePaths", role_params("alice", "repo1"))[0] == 200


def test_behaviour_for_every_operation(fresh):
    fresh.misbehave("*", "raw", status=503, body="busy")
    for operation in ("isValidUser", "getBrandingExternalSystemId", "getRolePaths"):
        assert call(fresh, operation, [("requestKey", key())]) == (503, b"busy")


@pytest.mark.parametrize("command, payload", [
    ("behaviour", {"operation": "isValidUser", "kind": "explode"}),
    ("behaviour", {"operation": "nosuchOp", "kind": "fault"}),
    ("behaviour", {"operation": "isValidUser", "kind": "multiref"}),   # not an array
    ("behaviour", {"operation": "isValidUser", "kind": "fault", "times": 0}),
    ("behaviour", {"operation": "isValidUser", "kind": "deliver", "delivery": "drip"}),
    ("behaviour", {"operation": "isValidUser", "kind": "deliver", "delivery": "pieces",
                   "piece": 0}),
    ("config", {"users": {"x": {"repositories": {}}}}),               # no password
    ("config", {"users": {"x": {"password": "p", "repositories": {"r": [{"pbps": "view:/"}]}}}}),
    ("config", {"shared_secret": 5}),
    ("config", {"surprise": True}),
])
def test_control_refuses_bad_requests(fresh, command, payload):
    with pytest.raises(ValueError):
        fresh._control("POST", command, payload)


def test_control_refuses_unparsable_json(fresh):
    status, body = post(fresh, b"{not json", path="/control/config")
    assert status == 400
    # The running configuration is untouched.
    assert parse_response(call(fresh, "getBrandingExternalSystemId",
                               [("requestKey", key())])[1]) == "exsy1001"


def test_unknown_paths_and_bodies(fresh):
    assert post(fresh, b"", path="/elsewhere")[0] == 404
    status, body = post(fresh, b"<not-soap")
    assert status == 500 and parse_response(body)[1] == "SOAP-ENV:Client"
    status, body = call(fresh, "getUserList", [("requestKey", key())])
    assert status == 500 and "No such operation" in parse_response(body)[2]


WELL_FORMED_KINDS = ["array_anytype", "array_int", "size_larger", "size_smaller", "positions",
                     "position_outside", "positions_descending",
                     "multiref", "nil_items", "role_id_first", "renamed", "extra_children",
                     "nil_return", "no_return"]


@pytest.mark.parametrize("operation", ["getRolePathsList", "getRolePaths"])
@pytest.mark.parametrize("kind", WELL_FORMED_KINDS)
def test_encoding_variants_stay_well_formed(fresh, operation, kind):
    fresh.misbehave(operation, kind)
    status, body = call(fresh, operation, role_params("alice", "repo1"))
    assert status == 200
    ET.fromstring(body)


@pytest.mark.parametrize("operation, kind, expected", [
    ("getRolePathsList", "multiref", ALICE_ROLES),
    ("getRolePathsList", "role_id_first", ALICE_ROLES),
    ("getRolePaths", "multiref", ["view:/", "commit:/trunk", "view:/tags/<&>"]),
    ("getRolePaths", "nil_items", ["view:/", None, "commit:/trunk", "view:/tags/<&>"]),
    ("getBrandingExternalSystemId", "renamed", "exsy1001"),
    ("getBrandingExternalSystemId", "nil_return", None),
])
def test_encoding_variants_carry_the_same_data(fresh, operation, kind, expected):
    fresh.misbehave(operation, kind)
    params = [("requestKey", key())] if operation == "getBrandingExternalSystemId" \
        else role_params("alice", "repo1")
    status, body = call(fresh, operation, params)
    assert parse_response(body) == expected


def test_declared_sizes_and_positions(fresh):
    def returned_array(kind):
        fresh.misbehave("getRolePaths", kind)
        body = call(fresh, "getRolePaths", role_params("alice", "repo1"))[1]
        return ET.fromstring(body).find(".//getRolePathsReturn")

    enc = "{http://schemas.xmlsoap.org/soap/encoding/}"
    assert returned_array("size_larger").get(enc + "arrayType") == "xsd:string[4]"
    assert returned_array("size_smaller").get(enc + "arrayType") == "xsd:string[2]"
    assert returned_array("array_anytype").get(enc + "arrayType") == "xsd:anyType[3]"
    items = returned_array("positions")
    assert items.get(enc + "arrayType") == "xsd:string[4]"
    assert [(i.get(enc + "position"), i.text) for i in items] == [
        ("[0]", "view:/"), ("[2]", "commit:/trunk"), ("[3]", "view:/tags/<&>")]
    items = returned_array("position_outside")
    assert [i.get(enc + "position") for i in items] == ["[0]", "[1]", "[3]"]
    items = returned_array("positions_descending")
    assert [(i.get(enc + "position"), i.text) for i in items] == [
        ("[2]", "view:/tags/<&>"), ("[1]", "commit:/trunk"), ("[0]", "view:/")]


@pytest.mark.parametrize("kind, params, status, expected", [
    ("deliver", {}, 200, ["view:/", "commit:/trunk", "view:/tags/<&>"]),
    ("fault", {"faultstring": "down"}, 500, ("fault", "SOAP-ENV:Server", "down")),
])
@pytest.mark.parametrize("delivery, version, framing", [
    ("apart", 11, "Content-Length"),
    ("whole", 11, "Content-Length"),
    ("pieces", 11, "Content-Length"),
    ("chunked", 11, "Transfer-Encoding"),
    ("http10", 10, None),
])
def test_deliveries_carry_the_same_reply(fresh, kind, params, status, expected, delivery,
                                         version, framing):
    fresh.misbehave("getRolePaths", kind, delivery=delivery, piece=7, **params)
    connection = http.client.HTTPConnection("127.0.0.1", fresh.port, timeout=10)
    try:
        connection.request("POST", "/qv-soap/services/ScmListener",
                           request_body("getRolePaths", role_params("alice", "repo1")))
        response = connection.getresponse()
        body = response.read()
    finally:
        connection.close()
    assert (response.status, response.version, parse_response(body)) == (status, version, expected)
    assert [name for name in ("Content-Length", "Transfer-Encoding")
            if response.getheader(name)] == ([framing] if framing else [])


def test_malformed_reply_is_not_xml(fresh):
    fresh.misbehave("isValidUser", "malformed")
    status, body = call(fresh, "isValidUser", valid_user_params("alice", "wonder land", "repo1"))
    with pytest.raises(ET.ParseError):
        ET.fromstring(body)


def test_close_and_slow_replies(fresh):
    fresh.misbehave("getRolePaths", "close")
    with pytest.raises((http.client.RemoteDisconnected, ConnectionError)):
        call(fresh, "getRolePaths", role_params("alice", "repo1"))
    fresh.misbehave("getRolePaths", "slow", seconds=0.5)
    started = time.monotonic()
    status, body = call(fresh, "getRolePaths", role_params("alice", "repo1"))
    assert time.monotonic() - started >= 0.5 and status == 200
    assert fresh.counters()["getRolePaths"] == 2


def test_http_error_without_body(fresh):
    fresh.misbehave("isValidUser", "raw", status=500)
    assert call(fresh, "isValidUser", [("requestKey", key())]) == (500, b"")


def test_tls_serves_the_same_service():
    with BrimstackServer(CONFIG, tls=True) as server:
        assert server.url.startswith("https://127.0.0.1:")
        status, body = call(server, "getRolePathsList", role_params("alice", "repo1"))
        assert (status, parse_response(body)) == (200, ALICE_ROLES)
        assert server.counters()["getRolePathsList"] == 1
        assert server.stop() == 0


def test_sigterm_stops_cleanly_and_port_file_is_whole(tmp_path):
    config = tmp_path / "config.json"
    config.write_text('{"shared_secret": "x"}')
    port_file = tmp_path / "port"
    process = subprocess.Popen([sys.executable, SERVER_SCRIPT, "--config", str(config),
                                "--port-file", str(port_file)])
    try:
        deadline = time.monotonic() + 20
        while not port_file.exists() and time.monotonic() < deadline:
            time.sleep(0.02)
        port = int(port_file.read_text())
        assert 0 < port < 65536
        assert sorted(os.listdir(tmp_path)) == ["config.json", "port"]
        process.send_signal(signal.SIGTERM)
        assert process.wait(timeout=10) == 0
    finally:
        if process.poll() is None:
            process.kill()


def test_behaviours_given_at_start():
    behaviours = [{"operation": "isValidUser", "kind": "raw", "status": 503, "times": 1}]
    with BrimstackServer(CONFIG, behaviours=behaviours) as server:
        params = valid_user_params("alice", "wonder land", "repo1")
        assert [call(server, "isValidUser", params)[0] for _ in range(2)] == [503, 200]
    with pytest.raises(RuntimeError):
        BrimstackServer(CONFIG, behaviours=[{"operation": "isValidUser", "kind": "?"}]).start()

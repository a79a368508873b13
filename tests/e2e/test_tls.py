"""The module reaching the stand-in server over HTTPS from many connections
of a threaded httpd at once, connections opening and closing meanwhile."""

import threading

from harness.fixtures import USERS

ROUNDS = 4
CONNECTIONS = 8


def test_https_service_from_concurrent_connections(zeb_tls):
    zeb_tls.start()
    users = [u for u in USERS if u != "guest"]
    failures = []

    def work(index):
        user = users[index % len(users)]
        password = USERS[user]["password"]
        try:
            for _ in range(ROUNDS):
                # A fresh connection each round: its context sets up and
                # cleans up TLS thread support while others use it.
                client = zeb_tls.client()
                for _ in range(3):
                    response = client.request("/svn/repo1/", user, password)
                    if response.status != 200 or response.getheader("ZebUserName") != user:
                        failures.append((user, response.status))
                client.close()
        except Exception as e:  # noqa: BLE001 - reported below
            failures.append((user, repr(e)))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(CONNECTIONS)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []
    assert 1 <= zeb_tls.brimstack.counters()["isValidUser"] <= CONNECTIONS * ROUNDS
    lines = zeb_tls.httpd.module_lines()
    assert not [m for level, m in lines if level == "error"]
    assert ("debug", "Generated ScmListener URL: https://127.0.0.1:%d/qv-soap/services/ScmListener"
            % zeb_tls.brimstack.port) in lines


def test_wrong_password_over_https(zeb_tls):
    zeb_tls.start()
    assert zeb_tls.client().request("/svn/repo1/", "alice", "wrong").status == 401
    assert zeb_tls.memcached.get(zeb_tls.is_valid_user_key("alice", "wrong")) == b"\x01\x00\x00\x00"

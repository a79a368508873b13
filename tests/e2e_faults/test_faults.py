"""Faults that strike while several threads make requests: memcached stopped,
restarted or frozen, the service refusing, hanging or answering nonsense,
the properties file going away, strange values under the module's keys.
While the fault lasts every request gets the status the fault calls for,
nothing is granted that should not be, and once it ends the requests get
their usual answers again."""

import os
import signal
import socket
import threading
import time

import pytest

from harness.fixtures import SCM_PROPERTIES_ID, SHARED_SECRET, USERS, Client, server_config
from harness import cache_keys
from harness.memcached import Memcached

TIME_OUT = 1  # svn.authnz.timeout for these tests
THREADS = 4
SETTLE = 0.8  # for requests in flight when a fault starts or ends
FAULT_SECONDS = 3.0
RECOVERY_SECONDS = 2.0

DEV = {"password": "devpw",
       "repositories": {"repo1": [{"id": "201", "pbps": ["view:/", "none:/hidden"]}]}}
PLANTED_ROLE = (b"999".ljust(40, b"\0") + (1).to_bytes(8, "little") + b"commit:/\0" + b"\0" * 8)

# What a thread asks, and the status when nothing is wrong: alice may read,
# dev may read but not /hidden (404 would mean granted), a wrong password
# is refused.
KINDS = {
    "alice": ("alice", "wonderland", "/svn/repo1/", 200),
    "dev": ("dev", "devpw", "/svn/repo1/", 200),
    "hidden": ("dev", "devpw", "/svn/repo1/hidden", 403),
    "wrong": ("alice", None, "/svn/repo1/", 401),
}
REFUSALS = {401, 403, 500, 503}


class Relay:
    """A TCP relay in front of the service that can refuse connections."""

    def __init__(self, target_port):
        self.target_port = target_port
        self.port = None
        self.listener = None
        self.open_connections = []
        self.accept()

    def accept(self):
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", self.port or 0))
        self.port = self.listener.getsockname()[1]
        self.listener.listen(64)
        threading.Thread(target=self._serve, args=(self.listener,), daemon=True).start()

    def refuse(self):
        """Closes the port and every relayed connection."""
        # shutdown wakes the accepting thread, which would otherwise hold
        # the port open.
        self.listener.shutdown(socket.SHUT_RDWR)
        self.listener.close()
        for c in self.open_connections:
            c.close()
        self.open_connections = []

    def _serve(self, listener):
        while True:
            try:
                client = listener.accept()[0]
            except OSError:
                return
            server = socket.create_connection(("127.0.0.1", self.target_port))
            self.open_connections += [client, server]
            for a, b in ((client, server), (server, client)):
                threading.Thread(target=self._pipe, args=(a, b), daemon=True).start()

    @staticmethod
    def _pipe(source, sink):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                sink.sendall(data)
        except OSError:
            pass
        for s in (source, sink):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


class Fault:
    """What a row does to the deployment to start and to end its fault."""

    def __init__(self, start, end=lambda t: None, flush=False, seconds=FAULT_SECONDS):
        self.start, self.end, self.flush, self.seconds = start, end, flush, seconds


def misbehaving(operation, kind, lasting=FAULT_SECONDS, **params):
    def start(t):
        t.zeb.brimstack.misbehave(operation, kind, **params)

    def end(t):
        t.zeb.brimstack.reset()
    return Fault(start, end, flush=True, seconds=lasting)


def properties_file(change):
    def start(t):
        t.saved = open(t.zeb.properties_file).read()
        change(t.zeb.properties_file)

    def end(t):
        with open(t.zeb.properties_file, "w") as f:
            f.write(t.saved)
        os.chmod(t.zeb.properties_file, 0o644)
    return Fault(start, end)


def empty(path):
    open(path, "w").close()


def planted(values):
    """values(test) -> {user key: value}, planted under the module's keys."""
    def start(t):
        for key, value in values(t).items():
            t.memcached.set(key, value)
    return Fault(start, lambda t: t.memcached.flush())


def foreign(t):
    return {t.is_valid_user_key("alice", "wonderland"): b"\x00\x00\x00\x00foreign",
            t.role_paths_key("dev"): b"not a role record at all",
            t.role_paths_key("alice"): PLANTED_ROLE[:30]}


def truncated(t):
    return {t.is_valid_user_key("dev", "devpw"): b"\x00\x00",
            t.role_paths_key("dev"): PLANTED_ROLE[:-3]}


def elsewhere(t):
    """Well-formed values that grant everything, under keys another
    service, another repository or a guessed secret would use."""
    other = "http://127.0.0.1:1/qv-soap/services/ScmListener"
    keys = [cache_keys.role_paths_key(other, SCM_PROPERTIES_ID, "repo1", "dev"),
            t.role_paths_key("dev", repository="repo2")]
    values = {k: PLANTED_ROLE for k in keys}
    for password in t.wrong_passwords:
        values[t.is_valid_user_key("alice", password, secret="guessed")] = b"\x00\x00\x00\x00"
        values[cache_keys.is_valid_user_key(other, SCM_PROPERTIES_ID, "repo1", "alice",
                                            SHARED_SECRET, password)] = b"\x00\x00\x00\x00"
    return values


def restart_memcached(t):
    t.memcached.stop()
    t.memcached.start(same_port=True)


# A keep-alive connection that asks again as the same user is answered from
# what the connection holds: dev's second request (hidden) is refused by
# the role store it loaded before the fault. Whatever keeps the service
# from answering, no credentials are refused: mod_auth_basic answers the
# provider's error with 500, the module a failed role load with 503.
SERVICE_DOWN = {"alice": {500}, "dev": {500}, "hidden": {500, 403}, "wrong": {500}}
ROLES_DOWN = {"alice": {503}, "dev": {503}, "hidden": {503, 403}, "wrong": {401}}
# alice's one PBP makes arrays of one item, whole in any order.
REORDERED_ROLES_DOWN = dict(ROLES_DOWN, alice={200})
# New connections read the properties file; open ones keep what they read.
NEW_CONNECTIONS_500 = {kind: {KINDS[kind][3], 500} for kind in KINDS}

# name, fault, statuses while it lasts (None: the usual ones)
CASES = [
    ("memcached stopped", Fault(lambda t: t.memcached.stop(), lambda t: t.memcached.start(same_port=True)),
     None),
    ("memcached restarted empty", Fault(restart_memcached), None),
    ("memcached frozen", Fault(lambda t: t.memcached.process.send_signal(signal.SIGSTOP),
                               lambda t: t.memcached.process.send_signal(signal.SIGCONT)), None),
    ("service refuses connections", Fault(lambda t: t.relay.refuse(), lambda t: t.relay.accept(),
                                          flush=True), SERVICE_DOWN),
    ("service hangs past the time-out", misbehaving("*", "slow", seconds=TIME_OUT + 1.5,
                                                     lasting=6 * TIME_OUT),
     SERVICE_DOWN),
    ("SOAP faults", misbehaving("*", "fault", faultstring="down"), SERVICE_DOWN),
    ("HTTP errors", misbehaving("*", "raw", status=503, body="<html>busy</html>",
                                content_type="text/html"), SERVICE_DOWN),
    ("malformed XML", misbehaving("*", "malformed"), SERVICE_DOWN),
    ("truncated XML", misbehaving("*", "raw", body='<?xml version="1.0"?><SOAP-ENV:Envelope '
                                  'xmlns:SOAP-ENV="http://schemas.xmlsoap.org/soap/envelope/">'
                                  '<SOAP-ENV:Body><ns:isValidUserResponse'), SERVICE_DOWN),
    ("role arrays out of order", Fault(lambda t: [t.zeb.brimstack.misbehave(
        op, "positions_descending") for op in ("getRolePathsList", "getRolePaths")],
        lambda t: t.zeb.brimstack.reset(), flush=True), REORDERED_ROLES_DOWN),
    ("role arrays short", Fault(lambda t: [t.zeb.brimstack.misbehave(op, "size_larger", by=2)
                                           for op in ("getRolePathsList", "getRolePaths")],
                                lambda t: t.zeb.brimstack.reset(), flush=True),
     ROLES_DOWN),
    ("properties file removed", properties_file(os.unlink), NEW_CONNECTIONS_500),
    ("properties file emptied", properties_file(empty), NEW_CONNECTIONS_500),
    ("properties file unreadable", properties_file(lambda p: os.chmod(p, 0)), NEW_CONNECTIONS_500),
    ("foreign values under the keys", planted(foreign), None),
    ("truncated values under the keys", planted(truncated), None),
    ("granting values under others' keys", planted(elsewhere), None),
]


class FaultRun:
    """The deployment, its own memcached and a relay to the service, and
    the threads that keep requests in flight."""

    def __init__(self, zeb):
        self.zeb = zeb
        self.memcached = Memcached().start()
        self.relay = Relay(zeb.brimstack.port)
        self.wrong_passwords = ["wrong-%d" % i for i in range(3)]
        self.phase = "before"
        self.results = []  # (phase at start, phase at end, kind, status)
        self.stopping = threading.Event()

    def start(self):
        zeb = self.zeb
        zeb.brimstack.set_config(server_config(users=dict(USERS, dev=DEV)))
        zeb.start(properties=zeb.default_properties(**{
            "dwmain.integration.listener_port": str(self.relay.port),
            "svn.authnz.timeout": str(TIME_OUT)}),
            locations=[zeb.location(memcache_server=self.memcached.address)])

    @property
    def endpoint(self):
        return "http://127.0.0.1:%d/qv-soap/services/ScmListener" % self.relay.port

    def is_valid_user_key(self, user, password, repository="repo1", secret=None):
        return cache_keys.is_valid_user_key(self.endpoint, SCM_PROPERTIES_ID, repository, user,
                                            secret or SHARED_SECRET, password)

    def role_paths_key(self, user, repository="repo1"):
        return cache_keys.role_paths_key(self.endpoint, SCM_PROPERTIES_ID, repository, user)

    def work(self, index):
        """Even threads open a connection for every request, odd ones keep
        one and change user on it."""
        client = None
        for n in range(1 << 30):
            if self.stopping.is_set():
                break
            kind = list(KINDS)[(n + index) % len(KINDS)]
            user, password, path, _ = KINDS[kind]
            password = password or self.wrong_passwords[n % len(self.wrong_passwords)]
            if client is None or index % 2 == 0:
                client = Client(self.zeb.httpd.port, timeout=TIME_OUT + 20)
            phase = self.phase
            try:
                status = client.request(path, user, password).status
            except (OSError, ValueError) as e:
                status = repr(e)
                client = None
            self.results.append((phase, self.phase, kind, status))
            if index % 2 == 0 and client is not None:
                client.close()

    def go(self, fault):
        threads = [threading.Thread(target=self.work, args=(i,)) for i in range(THREADS)]
        for t in threads:
            t.start()
        try:
            time.sleep(SETTLE)
            self.phase = "starting"
            fault.start(self)
            time.sleep(SETTLE)
            if fault.flush:
                # What was cached before the fault would answer for the service.
                self.memcached.flush()
            self.phase = "fault"
            time.sleep(fault.seconds)
            self.phase = "ending"
            fault.end(self)
            time.sleep(RECOVERY_SECONDS)
            self.phase = "after"
            time.sleep(RECOVERY_SECONDS)
        finally:
            self.stopping.set()
            for t in threads:
                t.join()

    def stop(self):
        if self.memcached.process is not None:
            self.memcached.process.send_signal(signal.SIGCONT)
        self.memcached.stop()
        self.relay.refuse()


@pytest.fixture
def fault_run(zeb):
    run = FaultRun(zeb)
    yield run
    run.stop()


@pytest.mark.parametrize("fault, during", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_fault_under_concurrent_requests(fault_run, fault, during):
    fault_run.start()
    fault_run.go(fault)
    usual = {kind: {expected} for kind, (_, _, _, expected) in KINDS.items()}
    granted_wrongly = [r for r in fault_run.results
                       if r[2] in ("hidden", "wrong") and r[3] not in REFUSALS]
    assert granted_wrongly == []
    inside = [r for r in fault_run.results if r[0] == r[1] == "fault"]
    assert [r for r in inside if r[3] not in (during or usual)[r[2]]] == []
    assert {r[2] for r in inside} == set(KINDS), "every kind of request was made during the fault"
    if during is not None:
        assert [r for r in inside if r[3] not in usual[r[2]]], "the fault was felt"
    after = [r for r in fault_run.results if r[0] == "after"]
    assert after and [r for r in after if r[3] not in usual[r[2]]] == []
    assert "exit signal" not in fault_run.zeb.httpd.log()

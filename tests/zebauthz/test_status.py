"""zebauthz status against a real httpd serving the status page at STATUS_PATH
and checked against an independent reader of the same page."""

import base64
import collections
import hashlib
import os
import socket
import subprocess
import time

import pytest
from prometheus_client.parser import text_string_to_metric_families

from brimstack_fixture import BrimstackServer
from harness.fixtures import USERS, server_config
from harness.httpd import MODULES_DIR
from harness.processes import free_port

# The module's handler serves HANDLER_PATH, which the tests read; SAMPLE_PATH
# serves a static page of the same form.
HANDLER_PATH = "/zeb-status"
SAMPLE_PATH = "/zeb-status-sample"
STATUS_PATH = HANDLER_PATH
ADMIN = ("admin", "watch-it")
OPERATIONS = ["isValidUser", "getRolePathsList", "getRolePaths", "getBrandingExternalSystemId"]


def module_page(dead_server):
    """A page of the handler's form (every family, HELP and TYPE) from a day
    with failures and a memcached server that went away."""
    families = collections.defaultdict(list)

    def add(family, value, suffix="", **labels):
        text = ",".join('%s="%s"' % item for item in labels.items())
        families[family].append("authnz_zeb_%s%s{%s} %s" % (family, suffix, text, value))

    def observe(family, observations, bounds, **labels):
        for bound in bounds + ["+Inf"]:
            add(family, sum(o <= float(bound) for o in observations), "_bucket", **labels,
                le=bound)
        add(family, sum(observations), "_sum", **labels)
        add(family, len(observations), "_count", **labels)

    for op, (answered, failed) in zip(OPERATIONS, [(40, 2), (12, 1), (0, 0), (3, 0)]):
        add("service_calls_total", answered, operation=op, outcome="answered")
        add("service_calls_total", failed, operation=op, outcome="failed")
        observe("service_call_seconds", [0.004] * answered + [3.0] * failed,
                "0.005 0.01 0.025 0.05 0.1 0.25 0.5 1 2.5 5 10".split(), operation=op)
    for source, accepted, refused, loads in [("connection", 300, 1, 280), ("memcached", 25, 0, 20),
                                             ("service", 38, 2, 12)]:
        add("credentials_total", accepted, source=source, result="accepted")
        add("credentials_total", refused, source=source, result="refused")
        add("role_loads_total", loads, source=source)
        observe("role_load_seconds", [0.0004] * loads,
                "0.001 0.0025 0.005 0.01 0.025 0.05 0.1 0.25 0.5 1".split(), source=source)
    for server, counts in [("127.0.0.1:11211", (30, 12, 0, 0)), (dead_server, (0, 0, 1, 7))]:
        for result, n in zip(["hit", "miss", "error", "skipped"], counts):
            add("memcached_operations_total", n, server=server, result=result)
    add("decisions_total", 1200, result="granted")
    add("decisions_total", 9, result="refused")
    for family, value in [("recursive_walks_total", 4), ("recursive_walk_nodes_total", 53),
                          ("connection_contexts", 3), ("connection_context_bytes", 24576),
                          ("processes", 2), ("start_time_seconds", 1765256400)]:
        add(family, value)
    lines = []
    for family, samples in families.items():
        kind = ("counter" if family.endswith("_total") else
                "histogram" if family.endswith("_seconds") and family != "start_time_seconds"
                else "gauge")
        lines += ['# HELP authnz_zeb_%s What "%s" counts.' % (family, family),
                  "# TYPE authnz_zeb_%s %s" % (family, kind)] + samples
    return "\n".join(lines) + "\n"


class StatusSite:
    def __init__(self, zeb, tool, directory):
        self.zeb = zeb
        self.tool = tool
        self.password_file = os.path.join(directory, "admin.pw")
        with open(self.password_file, "w") as f:
            f.write(ADMIN[1] + "\n")
        self.wrong_password_file = os.path.join(directory, "wrong.pw")
        with open(self.wrong_password_file, "w") as f:
            f.write("guess\n")

    def url(self, path=STATUS_PATH):
        return "http://127.0.0.1:%d%s" % (self.zeb.httpd.port, path)

    def run(self, *args, path=STATUS_PATH, credentials=True):
        auth = ("--user", ADMIN[0], "--password-file", self.password_file) if credentials else ()
        return self.tool.run("status", self.url(path), *auth, *args)

    def page(self):
        """The page as Prometheus's own reader sees it: {(name, labels): value}."""
        import urllib.request
        request = urllib.request.Request(self.url() + "?format=prometheus", headers={
            "Authorization": "Basic " + base64.b64encode(":".join(ADMIN).encode()).decode()})
        with urllib.request.urlopen(request, timeout=10) as response:
            text = response.read().decode()
        return {(s.name, tuple(sorted(s.labels.items()))): s.value
                for family in text_string_to_metric_families(text) for s in family.samples}


@pytest.fixture
def status(zeb, tool, tmp_path):
    """The deployment, two memcached servers of which one never answers, and
    the status pages for admin only."""
    dead_server = "127.0.0.1:%d" % free_port()
    # httpd's children read them: in the deployment's directory.
    static = os.path.join(zeb.workdir, "static")
    os.mkdir(static)
    for name, text in [("metrics", module_page(dead_server)), ("other", "up 1\n"),
                       ("users", "%s:{SHA}%s\n" % (ADMIN[0], base64.b64encode(
                           hashlib.sha1(ADMIN[1].encode()).digest()).decode()))]:
        with open(os.path.join(static, name), "w") as f:
            f.write(text)
    extra = """
LoadModule alias_module {modules}/mod_alias.so
LoadModule authn_file_module {modules}/mod_authn_file.so
Alias {sample} {static}/metrics
Alias /other {static}/other
Redirect /moved {status}
<Directory {static}>
  AllowOverride None
  Require all granted
</Directory>
<Location {handler}>
  SetHandler authnz-zeb-status
</Location>
""".format(modules=MODULES_DIR, sample=SAMPLE_PATH, status=STATUS_PATH, handler=HANDLER_PATH,
           static=static) + "".join("""
<Location {path}>
  AuthType Basic
  AuthName status
  AuthBasicProvider file
  AuthUserFile {static}/users
  Require user {admin}
</Location>
""".format(path=path, static=static, admin=ADMIN[0]) for path in (HANDLER_PATH, SAMPLE_PATH))
    zeb.start(locations=[zeb.location(memcache_server="%s %s" % (zeb.memcached.address,
                                                                 dead_server))],
              extra_config=extra)
    # What the handler's page counts: new connections, wrong passwords, keys
    # on both memcached servers, a failing service call.
    for user in ["alice", "bob", "guest"] * 3:
        zeb.client().request("/svn/repo1/", user, USERS[user]["password"])
        zeb.client().request("/svn/repo1/", user, "wrong")
    zeb.brimstack.misbehave("isValidUser", "fault", times=1)
    zeb.client().request("/svn/repo1/", "guest", "unseen")
    return StatusSite(zeb, tool, str(tmp_path))


def test_status_prints_the_page_and_checks_its_limits(status):
    page = status.page()
    calls = {op: {outcome: page[("authnz_zeb_service_calls_total",
                                 (("operation", op), ("outcome", outcome)))]
                  for outcome in ("answered", "failed")} for op in OPERATIONS}
    failed = sum(c["failed"] for c in calls.values())
    ratio = failed / sum(c["answered"] + c["failed"] for c in calls.values())
    skipped = {dict(labels)["server"] for (name, labels), value in page.items()
               if name == "authnz_zeb_memcached_operations_total"
               and dict(labels)["result"] == "skipped" and value > 0}
    # The sequence made failures and skipped a server: both limits can be crossed.
    assert failed > 0 and len(skipped) == 1

    limits = [("--max-failure-ratio", repr(ratio), "--max-skipped", "1", 0),
              ("--max-failure-ratio", repr(ratio * 0.999), "--max-skipped", "1", 1),
              ("--max-failure-ratio", repr(ratio), "--max-skipped", "0", 1),
              ("--max-failure-ratio=1", "--max-skipped=1", 0)]
    for *args, expected in limits:
        result = status.run("--json", *args)
        assert result.returncode == expected, (args, result.stdout, result.stderr)
    report = status.tool.json("status", status.url(), "--user", ADMIN[0], "--password-file",
                              status.password_file, status=1)
    assert {op["operation"]: {"answered": op["answered"], "failed": op["failed"]}
            for op in report["service"]["operations"]} == calls
    assert report["service"]["failure_ratio"] == pytest.approx(ratio)
    assert [s["server"] for s in report["memcached"] if s["skipped"]] == list(skipped)
    assert {(c["source"], result): c[result] for c in report["credentials"]
            for result in ("accepted", "refused")} == {
        (dict(labels)["source"], dict(labels)["result"]): value
        for (name, labels), value in page.items() if name == "authnz_zeb_credentials_total"}
    assert report["decisions"] == {
        result: page[("authnz_zeb_decisions_total", (("result", result),))]
        for result in ("granted", "refused")}
    assert report["problems"] and not report["healthy"]

    text = status.run("--max-failure-ratio", "1")
    assert text.returncode == 1, text.stderr
    lines = text.stdout.splitlines()
    for op in OPERATIONS:
        assert any(line.split()[:3] == [op, "%d" % calls[op]["answered"],
                                        "%d" % calls[op]["failed"]] for line in lines), op
    assert lines[-1] == "UNHEALTHY: 1 memcached server(s) skipped, more than 0"


@pytest.mark.parametrize("args, path, credentials, status_code, message", [
    ((), STATUS_PATH, False, 4, "refuses to answer without credentials (HTTP 401)"),
    (("--user", "admin", "--password-file", "WRONG"), STATUS_PATH, False, 4,
     "refuses the credentials of admin (HTTP 401)"),
    ((), "/moved", True, 4, "answers HTTP 302 to http://127.0.0.1:"),
    ((), "/nowhere", True, 4, "answers HTTP 404"),
    ((), "/other", True, 4, "not the module's status page"),
    (("--max-failure-ratio", "1.5"), STATUS_PATH, True, 2, "a ratio from 0 to 1"),
    (("--max-skipped", "-1"), STATUS_PATH, True, 2, "a count from 0"),
    (("--user", "admin"), STATUS_PATH, False, 2, "--user and --password-file go together"),
    ((), "/zeb status", True, 2, "blank"),
    ((), "/zeb-status\r\nX-Injected: 1", True, 2, "control character"),
])
def test_status_fails_unless_it_reads_the_modules_page(status, args, path, credentials,
                                                       status_code, message):
    args = tuple(status.wrong_password_file if a == "WRONG" else a for a in args)
    result = status.run(*args, path=path, credentials=credentials)
    assert (result.returncode, result.stdout) == (status_code, ""), result.stderr
    assert message in result.stderr


def test_status_needs_a_server_that_answers(tool):
    result = tool.run("status", "http://127.0.0.1:%d/zeb-status" % free_port())
    assert result.returncode == 4 and "Connection refused" in result.stderr
    # A server that takes the connection and never answers.
    with socket.socket() as silent:
        silent.bind(("127.0.0.1", 0))
        silent.listen()
        started = time.monotonic()
        result = tool.run("status", "http://127.0.0.1:%d/zeb-status" % silent.getsockname()[1])
        assert result.returncode == 4, result.stderr
        assert 9 < time.monotonic() - started < 20


@pytest.mark.parametrize("names, trusted, message", [
    ("DNS:localhost,IP:127.0.0.1", False, "certificate verify failed"),
    ("DNS:localhost,IP:127.0.0.1", True, "answers HTTP 404"),
    ("DNS:elsewhere.example", True, "certificate verify failed"),
])
def test_status_over_https_checks_the_certificate(tool, tmp_path, names, trusted, message):
    key, cert = str(tmp_path / "key.pem"), str(tmp_path / "cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "1", "-subj", "/CN=status", "-addext", "subjectAltName=" + names],
                   check=True, capture_output=True)
    # The stand-in server answers 404 to a GET of anything but its controls:
    # reaching that answer means the handshake passed.
    with BrimstackServer(server_config(), tls=True, cert=cert, key=key) as server:
        ca = ("--ca-file", cert) if trusted else ()
        result = tool.run("status", server.base_url + STATUS_PATH, *ca)
    assert result.returncode == 4 and message in result.stderr, result.stderr


@pytest.mark.parametrize("command, path", [
    (("check", "config"), "docs/status-prometheus.yml"),
    (("test", "rules"), "tests/zebauthz/status_alerts_test.yml"),
])
def test_example_prometheus_files(command, path):
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    result = subprocess.run(["promtool", *command, os.path.join(root, path)],
                            capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr

"""Verification of the ScmListener service's certificate: with a CA named in
the properties, a service whose certificate does not verify never receives
a call, so no password reaches it."""

import os
import shutil
import subprocess
import tempfile

import pytest
from brimstack_fixture import BrimstackServer
from harness.fixtures import Deployment, server_config

CAFILE = "dwmain.integration.listener_ssl_cafile"
CAPATH = "dwmain.integration.listener_ssl_capath"
VERIFY_HOST = "dwmain.integration.listener_ssl_verify_host"
UNVERIFIED_WARNING = ("The ScmListener service's certificate is not verified: set %s or %s to the "
                      "CA that signed it" % (CAFILE, CAPATH))


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


NEW_KEY = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]


class Pki:
    """A throw-away CA and server certificates, readable by httpd's user."""

    def __init__(self, directory):
        self.dir = directory
        self.ca_key, self.cafile = self.path("ca.key"), self.path("ca.pem")
        openssl("req", "-x509", *NEW_KEY, "-keyout", self.ca_key, "-out", self.cafile,
                "-days", "2", "-subj", "/CN=Throw-away test CA")
        self.capath = self.path("hashed")
        os.mkdir(self.capath)
        shutil.copy(self.cafile, self.capath)
        openssl("rehash", self.capath)

    def path(self, name):
        return os.path.join(self.dir, name)

    def server_pair(self, name, alt_names, signed=True):
        key, cert = self.path(name + ".key"), self.path(name + ".pem")
        subject = ["-subj", "/CN=127.0.0.1"]
        if not signed:
            openssl("req", "-x509", *NEW_KEY, "-keyout", key, "-out", cert, "-days", "2",
                    *subject, "-addext", "subjectAltName=" + alt_names)
            return cert, key
        request, extensions = self.path(name + ".csr"), self.path(name + ".ext")
        with open(extensions, "w") as f:
            f.write("subjectAltName=%s\n" % alt_names)
        openssl("req", "-new", *NEW_KEY, "-keyout", key, "-out", request, *subject)
        openssl("x509", "-req", "-in", request, "-CA", self.cafile, "-CAkey", self.ca_key,
                "-set_serial", str(abs(hash(name)) + 1), "-days", "2", "-out", cert,
                "-extfile", extensions)
        return cert, key


@pytest.fixture(scope="module")
def pki():
    directory = tempfile.mkdtemp(prefix="zeb-pki-")
    os.chmod(directory, 0o755)
    yield Pki(directory)
    shutil.rmtree(directory, ignore_errors=True)


CONNECTIONS = 3

# The service listens on 127.0.0.1, the host the properties name.
CASES = [
    # name, certificate's alternative names, signed by the CA, properties, accepted, reason
    ("signed by the CA for the host", "IP:127.0.0.1", True, {CAFILE: "ca"}, True, None),
    ("CA found in a hashed directory", "IP:127.0.0.1", True, {CAPATH: "ca"}, True, None),
    ("self-signed", "IP:127.0.0.1", False, {CAFILE: "ca"}, False, "self-signed certificate"),
    ("signed for another host", "DNS:elsewhere.example", True, {CAFILE: "ca"}, False,
     "IP address mismatch"),
    # The SOAP engine's own host check reads '-' as any character.
    ("name that matches only as a pattern", "DNS:127-0-0-1", True, {CAFILE: "ca"}, False,
     "IP address mismatch"),
    ("another host with the host check off", "DNS:elsewhere.example", True,
     {CAFILE: "ca", VERIFY_HOST: "false"}, True, None),
    ("self-signed without a CA, as before", "IP:127.0.0.1", False, {}, True, None),
]


@pytest.mark.parametrize("name, alt_names, signed, props, accepted, reason", CASES,
                         ids=[c[0] for c in CASES])
def test_service_certificate(workdir, memcached, pki, name, alt_names, signed, props, accepted,
                             reason):
    cert, key = pki.server_pair(name.replace(" ", "-"), alt_names, signed)
    properties = {k: pki.cafile if v == "ca" and k == CAFILE else
                  pki.capath if v == "ca" else v for k, v in props.items()}
    memcached.flush()
    with BrimstackServer(server_config(), tls=True, cert=cert, key=key) as server:
        zeb = Deployment(workdir, memcached, server)
        try:
            zeb.start(properties=zeb.default_properties(**properties))
            # Several connections: the warning comes once per httpd child.
            statuses = {zeb.client().request("/svn/repo1/", "alice", "wonderland").status
                        for _ in range(CONNECTIONS)}
            lines = zeb.httpd.module_lines()
        finally:
            zeb.stop()
        calls = server.counters().get("isValidUser", 0)

    warnings = [m for level, m in lines if m == UNVERIFIED_WARNING]
    if accepted:
        assert (statuses, calls) == ({200}, 1)
    else:
        # Failed before any call: the service never saw the password, and
        # the password was not called wrong.
        assert (statuses, calls) == ({500}, 0)
        failures = [m for level, m in lines if level == "error"]
        assert len(failures) == CONNECTIONS
        named = "CA file '%s'" % pki.cafile
        assert all(m.startswith("isValidUser() API FAILED: ") and reason in m and named in m
                   for m in failures)
    # Each httpd child warns once, and only when no CA is named.
    assert (1 <= len(warnings) <= 2) if not props else not warnings

"""Locations guarded inside virtual hosts: only the virtual host that
configures them asks for credentials, and each asks its own service."""

import os
import ssl
import subprocess

from brimstack_fixture import BrimstackServer
from harness.fixtures import Client, server_config
from harness.httpd import MODULES_DIR
from harness.processes import free_port
from harness.repositories import write_properties


def tls_pair(workdir):
    cert, key = os.path.join(workdir, "site.pem"), os.path.join(workdir, "site.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=127.0.0.1"], check=True, capture_output=True)
    return cert, key


def test_https_virtual_host_guarded_while_plain_port_serves_no_repository(zeb):
    cert, key = tls_pair(zeb.workdir)
    port = free_port()
    section = zeb.location().render(zeb.repos_dir)
    zeb.start(locations=[], extra_config="""
LoadModule ssl_module {modules}/mod_ssl.so
Listen 127.0.0.1:{port} https
<VirtualHost 127.0.0.1:{port}>
SSLEngine on
SSLCertificateFile {cert}
SSLCertificateKeyFile {key}
{section}
</VirtualHost>
""".format(modules=MODULES_DIR, port=port, cert=cert, key=key, section=section))
    secure = Client(port, tls=ssl._create_unverified_context())
    granted = secure.request("/svn/repo1/", "alice", "wonderland")
    assert (granted.status, granted.getheader("ZebUserName")) == (200, "alice")
    assert secure.request("/svn/repo1/", "alice", "wrong").status == 401
    asked = zeb.brimstack.counters()["isValidUser"]

    plain = zeb.client().request("/svn/repo1/", "alice", "wonderland")
    # Nothing serves the repository there, and the password went nowhere.
    assert plain.status == 404
    assert zeb.brimstack.counters()["isValidUser"] == asked
    secure.close()


CAROL = {"carol": {"password": "c4rol", "repositories": {"repo1": [{"id": "501",
                                                                     "pbps": ["commit:/"]}]}}}


def test_name_based_virtual_hosts_ask_their_own_services(zeb):
    with BrimstackServer(server_config(users=CAROL, shared_secret="other-secret")) as other:
        other_props = os.path.join(zeb.workdir, "other.properties")
        write_properties(other_props, zeb.default_properties(**{
            "dwmain.integration.listener_port": str(other.port),
            "dwmain.integration.security.shared_secret": "other-secret"}))
        hosts = [("a.test", zeb.location()),
                 ("b.test", zeb.location(properties_file=other_props))]
        zeb.start(locations=[], extra_config="".join(
            "<VirtualHost *>\nServerName %s\n%s\n</VirtualHost>\n"
            % (name, location.render(zeb.repos_dir)) for name, location in hosts))
        client = zeb.client()
        cases = [("a.test", "alice", "wonderland", 200), ("b.test", "carol", "c4rol", 200),
                 ("a.test", "carol", "c4rol", 401), ("b.test", "alice", "wonderland", 401),
                 ("a.test", "alice", "wonderland", 200)]
        for host, user, password, status in cases:
            # One connection for all: each virtual host keeps its own context.
            response = client.request("/svn/repo1/", user, password, headers={"Host": host})
            assert response.status == status, (host, user)
        assert other.counters()["isValidUser"] >= 1

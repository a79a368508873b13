"""The module in a copy of Debian's /etc/apache2 tree, enabled and configured
the way an administrator does it: a2enmod, then the shipped example site
copied to sites-available and enabled with a2ensite."""

import os
import subprocess

from harness.debian_tree import DebianTree, set_directives
from harness.processes import free_port, hand_to_unprivileged
from harness.repositories import write_properties


def enabled_tree(workdir, without_dav=False):
    """The system's tree with the module's files added and a2enmod run;
    without_dav: dav and what depends on it switched off first."""
    tree = DebianTree(workdir)
    if without_dav:
        tree.run("a2dismod", "-q", "-f", "dav")
    tree.add_module_files()
    result = tree.run("a2enmod", "authnz_zeb")
    assert result.returncode == 0, result.stdout + result.stderr
    return tree


def test_a2enmod_enables_the_module_after_dav_svn(workdir):
    tree = enabled_tree(workdir, without_dav=True)
    assert {"dav", "dav_svn", "authnz_zeb"} <= set(tree.enabled_modules())
    # mods-enabled/*.load are read in name order, and authnz_zeb sorts
    # before dav_svn: the .load itself must bring mod_dav_svn in first.
    result = tree.config_test()
    assert result.returncode == 0, result.stdout + result.stderr


def test_example_site_guards_checkout_and_commit(zeb):
    write_properties(zeb.properties_file, zeb.default_properties())
    with open(os.path.join(os.path.dirname(__file__), "..", "..", "packaging", "apache2",
                           "authnz-zeb-site.conf")) as f:
        example = f.read()
    cert, key = os.path.join(zeb.workdir, "site.pem"), os.path.join(zeb.workdir, "site.key")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=127.0.0.1"], check=True, capture_output=True)
    port = free_port()
    site = set_directives(example, {
        "<VirtualHost": "127.0.0.1:%d>" % port,
        "SSLCertificateFile": cert,
        "SSLCertificateKeyFile": key,
        "SVNParentPath": zeb.repos_dir,
        "AuthnzZEBPropertiesFile": zeb.properties_file,
        "AuthnzZEBMemcacheServer": zeb.memcached.address,
    })
    tree = enabled_tree(os.path.join(zeb.workdir, "debian"))
    with open(tree.path("sites-available", "svn.conf"), "w") as f:
        f.write(site)
    for command in (("a2enmod", "ssl"), ("a2ensite", "svn")):
        result = tree.run(*command)
        assert result.returncode == 0, result.stdout + result.stderr
    hand_to_unprivileged(zeb.workdir)
    tree.start(port)
    try:
        url = "https://127.0.0.1:%d/svn/repo1" % tree.port
        wc = os.path.join(zeb.workdir, "wc")

        def svn(*args):
            return subprocess.run(["svn", "--non-interactive", "--no-auth-cache",
                                   "--trust-server-cert-failures=unknown-ca", "--config-dir",
                                   os.path.join(zeb.workdir, "svn-config"), "--username", "bob",
                                   "--password", "builder", *args],
                                  capture_output=True, text=True, timeout=120)

        checkout = svn("checkout", url, wc)
        assert checkout.returncode == 0, checkout.stderr + tree.log()
        with open(os.path.join(wc, "new.txt"), "w") as f:
            f.write("bob may only read\n")
        assert svn("add", os.path.join(wc, "new.txt")).returncode == 0
        commit = svn("commit", "-m", "refused", wc)
        assert commit.returncode != 0
        assert "forbidden" in commit.stderr.lower(), commit.stderr
        # mod_auth_basic asked the module's provider, which asked the service.
        assert "bob" in [dict(c["params"])["username"] for c in zeb.brimstack.requests()
                         if c["operation"] == "isValidUser"]
    finally:
        tree.stop()

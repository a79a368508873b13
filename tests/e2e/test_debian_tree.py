"""The module in a copy of Debian's /etc/apache2 tree, enabled and configured
the way an administrator does it: a2enmod, then the shipped example with its
section uncommented."""

import os
import subprocess

from harness.debian_tree import DebianTree, uncomment_example
from harness.processes import hand_to_unprivileged
from harness.repositories import write_properties


def enabled_tree(workdir, conf_text=None, without_dav=False):
    """The system's tree with the module's files added and a2enmod run;
    without_dav: dav and what depends on it switched off first."""
    tree = DebianTree(workdir)
    if without_dav:
        tree.run("a2dismod", "-q", "-f", "dav")
    tree.add_module_files(conf_text)
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


def test_uncommented_example_guards_checkout_and_commit(zeb):
    write_properties(zeb.properties_file, zeb.default_properties())
    with open(os.path.join(os.path.dirname(__file__), "..", "..", "packaging", "apache2",
                           "authnz_zeb.conf")) as f:
        example = f.read()
    conf = uncomment_example(example, {
        "SVNParentPath": zeb.repos_dir,
        "AuthnzZEBPropertiesFile": zeb.properties_file,
        "AuthnzZEBMemcacheServer": zeb.memcached.address,
    })
    tree = enabled_tree(os.path.join(zeb.workdir, "debian"), conf)
    hand_to_unprivileged(zeb.workdir)
    tree.start()
    try:
        url = "http://127.0.0.1:%d/svn/repo1" % tree.port
        wc = os.path.join(zeb.workdir, "wc")

        def svn(*args):
            return subprocess.run(["svn", "--non-interactive", "--no-auth-cache", "--config-dir",
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

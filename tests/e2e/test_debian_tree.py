"""The module in a copy of Debian's /etc/apache2 tree, enabled the way an
administrator does it."""

from harness.debian_tree import DebianTree


def test_a2enmod_enables_the_module_after_dav_svn(workdir):
    tree = DebianTree(workdir)
    for module in ("dav", "dav_svn", "authnz_zeb"):
        if module in tree.enabled_modules():
            tree.run("a2dismod", "-q", "-f", module)
    tree.add_module_files()
    result = tree.run("a2enmod", "authnz_zeb")
    assert result.returncode == 0, result.stdout + result.stderr
    assert {"dav", "dav_svn", "authnz_zeb"} <= set(tree.enabled_modules())
    # mods-enabled/*.load are read in name order, and authnz_zeb sorts
    # before dav_svn: the .load itself must bring mod_dav_svn in first.
    result = tree.config_test()
    assert result.returncode == 0, result.stdout + result.stderr

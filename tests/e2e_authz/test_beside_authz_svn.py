"""One httpd serving a Location guarded by this module beside one guarded by
Subversion's own path-authz module (or by httpd alone): each answers exactly
as when served without the other, whichever module loads first."""

import base64
import hashlib
import os

import pytest

# Each Location with the modules it needs beside the base set; the others
# check passwords against a file.
ZEB = ("/svn", ["authnz_zeb"])
AUTHZ_SVN = ("/other", ["authn_file", "authz_svn"])
# No path-authz module: mod_dav_svn asks httpd with GET subrequests.
PLAIN = ("/plain", ["authn_file"])


def _write(site, name, text):
    # Inside the workdir, which httpd's unprivileged children may read.
    path = os.path.join(site.zeb.workdir, name)
    with open(path, "w") as f:
        f.write(text)
    return path


def _locations(site, path):
    if path == "/svn":
        return [site.zeb.location(path)]
    users = _write(site, "users", "dev:{SHA}%s\n" % base64.b64encode(
        hashlib.sha1(b"devpw").digest()).decode())
    directives = ["AuthBasicProvider file", "AuthUserFile %s" % users]
    if path == "/other":
        authz = _write(site, "authz", "[/]\ndev = r\n[/trunk/secret]\ndev =\n")
        directives.append("AuthzSVNAccessFile %s" % authz)
    locations = [site.zeb.location(path, properties_file=None, memcache_server=None,
                                   basic_auth=False, directives=directives)]
    if path == "/plain":
        # httpd alone hides the file, under its public and its versioned URIs.
        locations.append(site.zeb.location(
            '~ "^/plain/repo1/(!svn/ver/[0-9]+/)?trunk/secret"', properties_file=None,
            memcache_server=None, bare=True, directives=["Require user nobody"]))
    return locations


def _answers(site, path):
    """What dev sees there: a listing, a log and a hidden file."""
    base = "http://127.0.0.1:%d%s/repo1" % (site.zeb.httpd.port, path)
    found = []
    for command in (["ls", "-R", base + "/trunk"], ["log", "-v", base + "/trunk"],
                    ["cat", base + "/trunk/secret/key.txt"]):
        result = site.svn("dev", *command)
        found.append((command[0], result.returncode, result.stdout))
    return found


def _serve(site, served, load_order):
    if site.zeb.httpd is not None:
        site.zeb.httpd.stop()
    locations = [l for path, _ in served for l in _locations(site, path)]
    site.zeb.start(locations=locations, load_order=load_order)
    return {path: _answers(site, path) for path, _ in served}


@pytest.mark.parametrize("other", [AUTHZ_SVN, PLAIN], ids=["authz_svn", "no-provider"])
def test_each_location_answers_as_when_served_alone(site, other):
    alone = {}
    for path, modules in (ZEB, other):
        alone.update(_serve(site, [(path, modules)], modules))
    # The hidden file stays hidden and the rest is listed, in each alone.
    for path, answers in alone.items():
        (_, ls_rc, listing), (_, log_rc, log), (_, cat_rc, _) = answers
        assert ls_rc == 0 and log_rc == 0 and cat_rc != 0, (path, answers)
        assert "src/main.c" in listing and "secret" not in listing + log, (path, answers)

    for order in (ZEB[1] + other[1], other[1] + ZEB[1]):
        together = _serve(site, [ZEB, other], order)
        assert together == alone, order
        # Where it is not configured, the module declines quietly.
        assert not [m for level, m in site.zeb.httpd.module_lines()
                    if level != "debug" and "missing ZEB properties file" in m]

"""Every request on a keep-alive connection is authorized as its own user and
repository, whoever authenticated it: this module, or mod_auth_basic with a
password file (users this module never sees)."""

import base64
import hashlib
import http.client
import os

import pytest

from authz_site import ALL_USERS, password
from harness.fixtures import server_config

PROPFIND_BODY = '<?xml version="1.0"?><propfind xmlns="DAV:"><prop><resourcetype/></prop></propfind>'

# dev may not read /trunk/secret; admin and reader may.
SEES_SECRET = {"dev": False, "admin": True, "reader": True}


class Connection:
    def __init__(self, port):
        self.http = http.client.HTTPConnection("127.0.0.1", port, timeout=60)

    def request(self, user, method, path, headers=None, body=None, secret=None):
        credentials = "%s:%s" % (user, secret or password(user))
        token = base64.b64encode(credentials.encode()).decode()
        self.http.request(method, path, body=body,
                          headers=dict(headers or {}, Authorization="Basic " + token))
        response = self.http.getresponse()
        response.body = response.read()
        return response

    def reads_secret(self, user):
        """(auth_checker's answer, bypass provider's answer) about /trunk/secret."""
        read = self.request(user, "GET", "/svn/repo1/trunk/secret/key.txt").status
        listing = self.request(user, "PROPFIND", "/svn/repo1/trunk/", headers={"Depth": "1"},
                               body=PROPFIND_BODY)
        assert listing.status == 207, listing.status
        return read == 200, b"/svn/repo1/trunk/secret/" in listing.body


def start_with_password_file(site, file_users):
    """file_users are known to a password file, which mod_auth_basic asks
    before this module's provider."""
    path = os.path.join(site.zeb.workdir, "passwords")
    with open(path, "w") as f:
        for user in file_users:
            digest = base64.b64encode(hashlib.sha1(password(user).encode()).digest()).decode()
            f.write("%s:{SHA}%s\n" % (user, digest))
    location = site.zeb.location(directives=["AuthBasicProvider file zeb",
                                             "AuthUserFile %s" % path, "SVNAutoversioning on"])
    location.basic_auth = False
    site.zeb.start(locations=[location], extra_config=(
        "LoadModule authn_file_module /usr/lib/apache2/modules/mod_authn_file.so\n"))
    return Connection(site.zeb.httpd.port)


@pytest.mark.parametrize("sequence", [
    ["dev", "reader"],            # this module, then another module
    ["reader", "dev"],            # another module, then this module
    ["dev", "admin", "dev"],      # two users of this module
    ["admin", "reader", "dev", "reader"],
])
def test_each_request_is_decided_with_its_own_users_roles(site, sequence):
    connection = start_with_password_file(site, ["reader"])
    mark = site.mark()
    for user in sequence:
        expected = SEES_SECRET[user]
        assert connection.reads_secret(user) == (expected, expected), (sequence, user)
    assert "Preparing to authorize via subrequest" in site.messages(mark)


def test_repository_change_loads_that_repositorys_roles(site):
    split = {"password": "splitpw", "repositories": {
        "repo1": [{"id": "1", "pbps": ["commit:/"]}], "repo2": [{"id": "2", "pbps": ["view:/"]}]}}
    site.zeb.brimstack.set_config(server_config(users=dict(ALL_USERS, split=split)))
    connection = start_with_password_file(site, ["reader"])
    for i, (repo, status) in enumerate([("repo1", 201), ("repo2", 403), ("repo1", 201)]):
        put = connection.request("split", "PUT", "/svn/%s/new-%d.txt" % (repo, i), body=b"x",
                                 secret="splitpw")
        assert put.status == status, (repo, put.status)

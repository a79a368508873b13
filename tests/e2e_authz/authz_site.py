"""Users with roles in repo1, the tree they work on, and the real svn client
run against the harness's httpd."""

import base64
import http.client
import os
import subprocess

from harness.fixtures import USERS, server_config

TREE = {
    "trunk/README": "read me\n",
    "trunk/src/main.c": "int main(void) { return 0; }\n",
    "trunk/src/lib/util.c": "int util;\n",
    "trunk/docs/guide.txt": "the guide\n",
    "trunk/tools/build.sh": "make\n",
    "trunk/tools/ci/run.sh": "make check\n",
    "trunk/secret/key.txt": "the key\n",
    "branches/.keep": "",
    "tags/.keep": "",
}

LONG_ROLE_ID = "r" * 45
# One role large enough that its answer takes several of the client's reads,
# with the PBP that hides the secret directory last.
BULKY_PBPS = ["view:/"] + ["view:/trunk/area-%04d/sub" % i for i in range(1498)] + \
    ["none:/trunk/secret"]


def _user(password, *roles):
    return {"password": password, "repositories": {"repo1": list(roles)}}


AUTHZ_USERS = {
    "admin": _user("adminpw", {"id": "1", "pbps": ["commit:/"]}),
    # Commit on trunk except the documentation and a library (view) and a
    # hidden directory; commit on branches except one file of one branch.
    "dev": _user("devpw", {"id": "201", "pbps": [
        "view:/", "commit:/trunk", "view:/trunk/docs", "view:/trunk/src/lib", "none:/trunk/secret",
        "commit:/branches", "view:/branches/rel/main.c"]}),
    # Commit only where a second role, one without an id, says so.
    "mover": _user("moverpw", {"id": "202", "pbps": ["view:/"]},
                   {"pbps": ["view:/", "commit:/branches"]}),
    "reader": _user("readerpw", {"id": "301", "pbps": ["view:/"]}),
    "norole": _user("norolepw"),
    # Roles whose strings hold nothing usable, beside one that has something.
    "unusable": _user("unusablepw", {"id": "401", "pbps": ["view /trunk", "none:secret"]},
                      {"id": "402", "pbps": []}),
    # Known in repo2 without any role there.
    "outsider": {"password": "outsiderpw", "repositories": {"repo2": []}},
    "partly": _user("partlypw", {"id": "403", "pbps": [
        "view:/", "none:/trunk/secret/**x", "read:/trunk/src"]}),
    "longid": _user("longidpw", {"id": LONG_ROLE_ID, "pbps": ["view:/", "none:/trunk/secret"]}),
    "bulky": _user("bulkypw", {"id": "501", "pbps": BULKY_PBPS}),
}

ALL_USERS = dict(USERS, **AUTHZ_USERS)


def password(user):
    return ALL_USERS[user]["password"]


def record(role_id, pbps):
    """One stored role-paths record."""
    strings = b"".join(p.encode() + b"\0" for p in pbps)
    return (role_id.encode().ljust(40, b"\0") + len(pbps).to_bytes(8, "little", signed=True)
            + strings + b"\0" * 8)


class Site:
    def __init__(self, zeb, tmp_path):
        self.zeb = zeb
        self.tmp = str(tmp_path)
        self.config_dir = os.path.join(self.tmp, "svn-config")
        zeb.brimstack.set_config(server_config(users=ALL_USERS))
        self._populate()

    def _populate(self):
        source = os.path.join(self.tmp, "import")
        for path, text in TREE.items():
            full = os.path.join(source, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(text)
        repo = os.path.join(self.zeb.repos_dir, "repo1")
        subprocess.run(["svn", "import", "-q", "--config-dir", self.config_dir, "-m", "tree",
                        source, "file://" + repo], check=True, capture_output=True)

    def start(self, v2=True, **kwargs):
        directives = [] if v2 else ["SVNAdvertiseV2Protocol Off"]
        self.zeb.start(locations=[self.zeb.location(directives=directives)], **kwargs)
        return self

    @property
    def url(self):
        return "http://127.0.0.1:%d/svn/repo1" % self.zeb.httpd.port

    def svn(self, user, *args):
        """Runs svn as user; returns the completed process."""
        command = ["svn", "--non-interactive", "--no-auth-cache", "--config-dir",
                   self.config_dir, "--username", user, "--password", password(user)]
        return subprocess.run(command + list(args), capture_output=True, text=True, timeout=120)

    def svn_ok(self, user, *args):
        result = self.svn(user, *args)
        assert result.returncode == 0, (args, result.stderr, self.zeb.httpd.log()[-4000:])
        return result.stdout

    def checkout(self, user, path="trunk", name=None):
        wc = os.path.join(self.tmp, name or "wc-%s" % user)
        self.svn_ok(user, "checkout", "-q", "%s/%s" % (self.url, path), wc)
        return wc

    def request(self, user, path, method="GET", headers=None):
        """One raw request on a new connection."""
        return self.zeb.client().request("/svn/repo1" + path, user, password(user), method=method,
                                         headers=headers)

    def send(self, user, path, method, headers=None, body=None):
        """One raw request with a body, on a new connection."""
        connection = http.client.HTTPConnection("127.0.0.1", self.zeb.httpd.port, timeout=60)
        token = base64.b64encode(("%s:%s" % (user, password(user))).encode()).decode()
        try:
            connection.request(method, "/svn/repo1" + path, body=body,
                               headers=dict(headers or {}, Authorization="Basic " + token))
            response = connection.getresponse()
            response.body = response.read()
            return response
        finally:
            connection.close()

    def mark(self):
        return self.zeb.httpd.mark()

    def messages(self, mark):
        return [m for _, m in self.zeb.httpd.messages_since(mark)]

    def calls(self, operation):
        return self.zeb.brimstack.counters().get(operation, 0)

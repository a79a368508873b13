"""The target of the attack matrix: one httpd with mod_dav_svn and the module
over repo1 and repo2, four Locations of two services that share one
memcached, and a second port on which httpd merges no slashes and decodes
encoded ones.

    /svn    HTTP v2                          service A
    /svn1   SVNAdvertiseV2Protocol Off       service A
    /svnav  SVNAutoversioning on             service A
    /svnb   HTTP v2                          service B, its own properties file

Every attack is sent as dev or reader, who must be refused, and as admin,
who must get what mod_dav_svn gives without the module in the way."""

import base64
import http.client
import os
import re
import subprocess
import tempfile

from brimstack_fixture import BrimstackServer
from harness.fixtures import Deployment, server_config
from harness.processes import free_port
from harness.repositories import write_properties

LOCATIONS = {"svn": [], "svn1": ["SVNAdvertiseV2Protocol Off"],
             "svnav": ["SVNAutoversioning on"], "svnb": []}
SERVICE_A = ("svn", "svn1", "svnav")

ROLES = {
    "dev": ["view:/", "commit:/trunk", "view:/trunk/docs", "none:/trunk/secret", "none:/**/*.key"],
    # Hidden from reader by a wildcard alone: nothing absolute lies at or
    # below /trunk/secret, so every screen of reader's requests must reckon
    # with wildcard revokes.
    "reader": ["view:/", "none:/**/secret"],
    "admin": ["commit:/"],
}
# Service B has the same users under other passwords; there reader maintains
# everything.
ROLES_B = dict(ROLES, reader=["commit:/"])

SECRET = b"SECRET-MARKER"          # content of every hidden file
SECRET_LOG = "SECRET-LOG-MESSAGE"  # log message of the revisions that touch only hidden paths
SECRET_PROP = "SECRET-PROP-VALUE"  # a property of the hidden directory
SECRET_LOCK = "SECRET-LOCK-COMMENT"
SECRET_MERGE = "/branches/SECRET-MERGE-SOURCE"
PUBLIC_MERGE = "/branches/PUBLIC-MERGE-SOURCE"

TREE = {
    "trunk/README": b"read me\n",
    "trunk/src/main.c": b"int main(void) { return 0; }\n",
    "trunk/src/id.key": SECRET + b" id\n",
    "trunk/docs/guide.txt": b"the guide\n",
    "trunk/secret/key.txt": SECRET + b" key\n",
    "trunk/secret/key.txt;v=1": SECRET + b" parameter\n",
    "trunk/secret/inner/deep.txt": SECRET + b" deep\n",
    "trunk/secret/gone.txt": SECRET + b" gone\n",
    "branches/.keep": b"",
    "tags/.keep": b"",
}
# Sources that the moves of the write table may take away, one per move.
TREE.update({"trunk/scratch/m%d.txt" % i: b"movable\n" for i in range(1, 13)})

# What the repositories hold, in both repo1 and repo2:
#   r1  the tree
#   r2  /trunk/secret/key.txt changed (log SECRET_LOG)
#   r3  /trunk/secret/gone.txt deleted (log SECRET_LOG)
#   r4  /trunk/secret/key.txt@2 copied to the readable /trunk/src/copy.txt
#   r5  /trunk/src/copy.txt changed to a public text
# and admin holds a lock on /trunk/secret/key.txt.
HEAD = 5


def password(user, location="svn"):
    return user + ("pw-b" if location == "svnb" else "pw")


def _users(roles, suffix):
    return {user: {"password": user + suffix,
                   "repositories": {"repo1": [{"id": user, "pbps": pbps}],
                                    "repo2": [{"id": user, "pbps": pbps}]}}
            for user, pbps in roles.items()}


def revealed(body):
    """The body with the text deltas that reports carry decoded, so that a
    file's content can be looked for."""
    decoded = [base64.b64decode(b"".join(m.split()), validate=False)
               for m in re.findall(rb"<S:txdelta[^>]*>([^<]*)</S:txdelta>", body)]
    decoded += [base64.b64decode(b"".join(m.split()), validate=False)
                for m in re.findall(rb'<S:set-prop[^>]*encoding="base64"[^>]*>([^<]*)<', body)]
    return body + b"\n".join(decoded)


class Response:
    def __init__(self, status, headers, body):
        self.status = status
        self.headers = headers
        self.body = body

    def header(self, name):
        return self.headers.get(name.lower())

    def __repr__(self):
        return "<%d %r>" % (self.status, self.body[:300])


class Connection:
    """One keep-alive connection; every request carries its own
    Authorization header (or none, or a raw one)."""

    def __init__(self, port):
        self.port = port
        self.http = http.client.HTTPConnection("127.0.0.1", port, timeout=60)

    def send(self, method, uri, user=None, secret=None, headers=None, body=None,
             authorization=None):
        all_headers = dict(headers or {})
        if authorization is not None:
            all_headers["Authorization"] = authorization
        elif user is not None:
            token = base64.b64encode(("%s:%s" % (user, secret)).encode()).decode()
            all_headers["Authorization"] = "Basic " + token
        if body is not None and isinstance(body, str):
            body = body.encode()
        # Request lines are sent as given: no normalization on the way.
        self.http.putrequest(method, uri, skip_host=False, skip_accept_encoding=True)
        for name, value in all_headers.items():
            self.http.putheader(name, value)
        if body is not None:
            self.http.putheader("Content-Length", str(len(body)))
        self.http.endheaders(body)
        response = self.http.getresponse()
        result = Response(response.status, {k.lower(): v for k, v in response.getheaders()},
                          response.read())
        if response.will_close:
            self.http.close()
        return result

    def close(self):
        self.http.close()


class Target:
    def __init__(self, memcached, brimstack):
        self.memcached = memcached
        self.brimstack = brimstack
        self.workdir = tempfile.mkdtemp(prefix="zeb-attack-")
        os.chmod(self.workdir, 0o755)
        self.service_b = None
        self.deployment = None
        self.raw_port = None

    # -- set-up --------------------------------------------------------------

    def start(self):
        self.memcached.flush()
        self.brimstack.reset()
        self.brimstack.set_config(server_config(users=_users(ROLES, "pw")))
        self.service_b = BrimstackServer(server_config(users=_users(ROLES_B, "pw-b")))
        self.service_b.start()
        self.deployment = Deployment(self.workdir, self.memcached, self.brimstack)
        for repo in ("repo1", "repo2"):
            self._populate(os.path.join(self.deployment.repos_dir, repo))
        properties_b = os.path.join(self.workdir, "service-b.properties")
        write_properties(properties_b, self.deployment.default_properties(**{
            "dwmain.integration.listener_port": str(self.service_b.port)}))
        locations = [self.deployment.location(
            "/" + name, directives=directives,
            **({"properties_file": properties_b} if name == "svnb" else {}))
            for name, directives in LOCATIONS.items()]
        self.raw_port = free_port()
        raw_host = ("Listen 127.0.0.1:{port}\n<VirtualHost 127.0.0.1:{port}>\n"
                    "  MergeSlashes Off\n  AllowEncodedSlashes On\n</VirtualHost>\n"
                    ).format(port=self.raw_port)
        self.deployment.start(locations=locations, extra_config=raw_host)
        return self

    def _populate(self, repo):
        url = "file://" + repo
        source = tempfile.mkdtemp(dir=self.workdir)
        for path, text in TREE.items():
            full = os.path.join(source, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(text)

        def mucc(*args):
            subprocess.run(["svnmucc", "-U", url, "--username", "admin"] + list(args),
                           check=True, capture_output=True)

        subprocess.run(["svn", "import", "-q", "--username", "admin", "-m", "tree", source, url],
                       check=True, capture_output=True)
        changed = os.path.join(source, "changed")
        with open(changed, "wb") as f:
            f.write(SECRET + b" key, second text\n")
        mucc("-m", SECRET_LOG, "put", changed, "trunk/secret/key.txt",
             "propset", "secretprop", SECRET_PROP, "trunk/secret",
             "propset", "svn:mergeinfo", SECRET_MERGE + ":1", "trunk/secret",
             "propset", "svn:mergeinfo", PUBLIC_MERGE + ":1", "trunk/docs")
        mucc("-m", SECRET_LOG, "rm", "trunk/secret/gone.txt")
        mucc("-m", "a copy", "cp", "2", "trunk/secret/key.txt", "trunk/src/copy.txt")
        public = os.path.join(source, "public")
        with open(public, "wb") as f:
            f.write(b"public now\n")
        mucc("-m", "public text", "put", public, "trunk/src/copy.txt")
        subprocess.run(["svn", "lock", "-q", "--username", "admin", "-m", SECRET_LOCK,
                        url + "/trunk/secret/key.txt"], check=True, capture_output=True)

    def stop(self):
        if self.deployment is not None:
            self.deployment.stop()
        if self.service_b is not None:
            self.service_b.stop()
        if not os.environ.get("ZEB_E2E_KEEP"):
            subprocess.run(["rm", "-rf", self.workdir], check=False)

    # -- requests ------------------------------------------------------------

    @property
    def port(self):
        return self.deployment.httpd.port

    def connect(self, raw=False):
        return Connection(self.raw_port if raw else self.port)

    def send(self, user, method, uri, headers=None, body=None, raw=False, location=None):
        """One request on a new connection as user (None: no credentials),
        with the password of uri's Location."""
        location = location or uri.split("/")[1]
        connection = self.connect(raw)
        try:
            return connection.send(method, uri, user, password(user, location) if user else None,
                                   headers, body)
        finally:
            connection.close()

    def url(self, location="svn", repo="repo1"):
        return "http://127.0.0.1:%d/%s/%s" % (self.port, location, repo)

    def svn(self, user, *args, location="svn"):
        command = ["svn", "--non-interactive", "--no-auth-cache", "--config-dir",
                   os.path.join(self.workdir, "svn-config"), "--username", user,
                   "--password", password(user, location)]
        return subprocess.run(command + list(args), capture_output=True, text=True, timeout=120)

    def mark(self):
        return self.deployment.httpd.mark()

    def messages(self, mark):
        return [m for _, m in self.deployment.httpd.messages_since(mark)]

    def log_tail(self):
        return self.deployment.httpd.log()[-3000:]

    def children_crashed(self, mark):
        """Whether httpd reported a child that died of a signal since mark."""
        return "exit signal" in self.deployment.httpd.log()[mark:]

"""pytest fixtures of the end-to-end harness (use as a pytest plugin)."""

import base64
import http.client
import os
import shutil
import sys
import tempfile

import pytest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from brimstack_fixture import BrimstackServer  # noqa: E402

from . import cache_keys  # noqa: E402
from .httpd import Httpd, Location  # noqa: E402
from .memcached import Memcached  # noqa: E402
from .repositories import make_repositories, write_properties  # noqa: E402

SHARED_SECRET = "s3cret=with=equals"
EXTERNAL_SYSTEM_ID = "exsy1001"
SCM_PROPERTIES_ID = "scm-file-id"
USERS = {
    "alice": {"password": "wonderland",
              "repositories": {"repo1": [{"id": "101", "pbps": ["commit:/"]}],
                               "repo2": [{"id": "102", "pbps": ["view:/"]}]}},
    "bob": {"password": "builder", "repositories": {"repo1": [{"id": "103", "pbps": ["view:/"]}]}},
    "guest": {"password": "visitor", "repositories": {"repo1": [{"id": "104", "pbps": ["view:/"]}]}},
}
REPOSITORIES = ["repo1", "repo2"]


def server_config(**changes):
    config = {"shared_secret": SHARED_SECRET, "external_system_id": EXTERNAL_SYSTEM_ID,
              "users": USERS}
    config.update(changes)
    return config


class Client:
    """One keep-alive HTTP connection to httpd; HTTPS when given an SSL context."""

    def __init__(self, port, timeout=30, tls=None):
        if tls is None:
            self.connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
        else:
            self.connection = http.client.HTTPSConnection("127.0.0.1", port, timeout=timeout,
                                                          context=tls)

    def request(self, path, user=None, password=None, method="GET", headers=None):
        all_headers = dict(headers or {})
        if user is not None:
            token = base64.b64encode(("%s:%s" % (user, password)).encode()).decode()
            all_headers["Authorization"] = "Basic " + token
        self.connection.request(method, path, headers=all_headers)
        response = self.connection.getresponse()
        response.body = response.read()
        return response

    def close(self):
        self.connection.close()


class Deployment:
    """httpd with the module in front of the repositories, in a temporary
    directory, wired to the session's memcached and stand-in server."""

    def __init__(self, workdir, memcached, brimstack, repos_dir=None):
        """repos_dir: serve this repositories directory instead of one with
        the test repositories."""
        self.workdir = workdir
        self.memcached = memcached
        self.brimstack = brimstack
        self.repos_dir = repos_dir or make_repositories(os.path.join(workdir, "repos"),
                                                        REPOSITORIES)
        self.repository_base = os.path.join(workdir, "base")
        os.makedirs(self.repository_base)
        write_properties(os.path.join(self.repository_base, ".scm.properties"),
                         {"external_system_id": SCM_PROPERTIES_ID})
        self.properties_file = os.path.join(workdir, "brimstack.properties")
        self.httpd = None
        self.clients = []

    def default_properties(self, **changes):
        props = {
            "dwmain.integration.listener_host": "127.0.0.1",
            "dwmain.integration.listener_port": str(self.brimstack.port),
            "dwmain.integration.listener_ssl": "true" if self.brimstack.tls else "false",
            "dwmain.integration.security.shared_secret": SHARED_SECRET,
            "svn.authnz.timeout": "5",
            "subversion.repository_base": self.repository_base,
        }
        props.update(changes)
        return {k: v for k, v in props.items() if v is not None}

    @property
    def endpoint(self):
        """The ScmListener endpoint the default properties name."""
        return self.brimstack.url

    def is_valid_user_key(self, user, password, repository="repo1",
                          system_id=SCM_PROPERTIES_ID, secret=SHARED_SECRET):
        return cache_keys.is_valid_user_key(self.endpoint, system_id, repository, user, secret,
                                            password)

    def role_paths_key(self, user, repository="repo1", system_id=SCM_PROPERTIES_ID):
        return cache_keys.role_paths_key(self.endpoint, system_id, repository, user)

    def external_system_id_key(self):
        return cache_keys.external_system_id_key(self.endpoint)

    def location(self, path="/svn", **kwargs):
        kwargs.setdefault("properties_file", self.properties_file)
        kwargs.setdefault("memcache_server", self.memcached.address)
        return Location(path, **kwargs)

    def start(self, properties=None, properties_text=None, locations=None, load_auth_basic=True,
              extra_config="", load_order=("authnz_zeb",), mpm="event"):
        if properties_text is not None:
            write_properties(self.properties_file, text=properties_text)
        else:
            write_properties(self.properties_file,
                             properties if properties is not None else self.default_properties())
        if locations is None:
            locations = [self.location()]
        if not load_auth_basic:
            for location in locations:
                location.basic_auth = False
        self.httpd = Httpd(self.workdir, locations, self.repos_dir, extra_config=extra_config,
                           load_auth_basic=load_auth_basic, load_order=load_order, mpm=mpm)
        self.httpd.start()
        return self

    def client(self):
        c = Client(self.httpd.port)
        self.clients.append(c)
        return c

    def stop(self):
        for c in self.clients:
            c.close()
        if self.httpd is not None:
            self.httpd.stop()


@pytest.fixture(scope="session")
def memcached():
    server = Memcached().start()
    yield server
    server.stop()


@pytest.fixture(scope="session")
def brimstack():
    with BrimstackServer(server_config()) as server:
        yield server


@pytest.fixture(scope="session")
def brimstack_tls():
    with BrimstackServer(server_config(), tls=True) as server:
        yield server


@pytest.fixture
def workdir():
    path = tempfile.mkdtemp(prefix="zeb-e2e-")
    os.chmod(path, 0o755)
    yield path
    # ZEB_E2E_KEEP=1 leaves configuration, logs and repositories for a look.
    if not os.environ.get("ZEB_E2E_KEEP"):
        shutil.rmtree(path, ignore_errors=True)


def _deployment(workdir, memcached, server):
    memcached.flush()
    server.reset()
    server.set_config(server_config())
    deployment = Deployment(workdir, memcached, server)
    yield deployment
    deployment.stop()


@pytest.fixture
def zeb(workdir, memcached, brimstack):
    """A Deployment over the plain-HTTP stand-in server; call .start()."""
    yield from _deployment(workdir, memcached, brimstack)


@pytest.fixture
def zeb_tls(workdir, memcached, brimstack_tls):
    """A Deployment over the HTTPS stand-in server; call .start()."""
    yield from _deployment(workdir, memcached, brimstack_tls)

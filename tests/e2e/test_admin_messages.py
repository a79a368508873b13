"""Messages an administrator can act on: each names what is wrong or who was
refused what, at a level that shows without debug logging."""

import os
import re

import pytest

from harness.processes import free_port

SECRET = "dwmain.integration.security.shared_secret"
BASE = "subversion.repository_base"


def unreadable(zeb):
    zeb.start()
    os.chmod(zeb.properties_file, 0)


def without(name):
    def start(zeb):
        zeb.start(properties=zeb.default_properties(**{name: None}))
    return start


def closed_port(zeb):
    zeb.start(properties=zeb.default_properties(**{
        "dwmain.integration.listener_port": str(free_port())}))


# name, set-up, request (user, password, method, path), status,
# (level, pattern) that one of the module's lines must match; {props}, {url}
# and {port} stand for the properties file, the endpoint and the service's port.
CASES = [
    ("properties file unreadable", unreadable, ("alice", "wonderland", "GET", "/svn/repo1/"), 500,
     ("error", r"\(13\)Permission denied: (\[client [^]]*\] )?Failed to open file {props}\.")),
    ("no shared secret", without(SECRET), ("alice", "wonderland", "GET", "/svn/repo1/"), 401,
     ("warn", r"No %s in {props}: using the built-in default secret" % re.escape(SECRET))),
    ("no repository base", without(BASE), ("alice", "wonderland", "GET", "/svn/repo1/"), 500,
     ("error", r"No %s in {props}: cannot read the external system id from its "
               r"\.scm\.properties" % re.escape(BASE))),
    ("failed call names its endpoint", closed_port, ("alice", "wonderland", "GET", "/svn/repo1/"),
     401, ("error", r"isValidUser\(\) API FAILED: {url}: ")),
    ("refused credentials", None, ("alice", "wrong", "GET", "/svn/repo1/trunk"), 401,
     ("warn", r"Refused user 'alice': GET in repository 'repo1', path '/trunk'")),
    ("refused action", None, ("bob", "builder", "PUT", "/svn/repo1/new.txt"), 403,
     ("warn", r"Refused user 'bob': PUT in repository 'repo1', path '/new.txt'")),
    ("request key shown in part", None, ("alice", "wonderland", "GET", "/svn/repo1/"), 200,
     # httpd writes the ellipsis's UTF-8 bytes escaped.
     ("debug", r"Generated SCM Request Key: [A-Za-z0-9+/]{{4}}\\xe2\\x80\\xa6$")),
]


@pytest.mark.parametrize("name, set_up, call, status, line", CASES, ids=[c[0] for c in CASES])
def test_message(zeb, name, set_up, call, status, line):
    (set_up or (lambda z: z.start()))(zeb)
    user, password, method, path = call
    response = zeb.client().request(path, user, password, method=method)
    assert response.status == status

    level, pattern = line
    # The properties file as written, so its port is the one the call tried.
    port = re.search(r"listener_port=(\d+)", open(zeb.properties_file).read()) \
        if os.access(zeb.properties_file, os.R_OK) else None
    url = "http://127.0.0.1:%s/qv-soap/services/ScmListener" % (port.group(1) if port else "")
    expected = re.compile(pattern.format(props=re.escape(zeb.properties_file), url=re.escape(url)))
    # The errno text precedes the message, so match whole log lines.
    lines = [l for l in zeb.httpd.log().splitlines() if "[authnz_zeb:%s]" % level in l]
    assert any(expected.search(l) for l in lines), "\n".join(lines)

"""Messages an administrator can act on: each names what is wrong or who was
refused what, at a level that shows without debug logging."""

import os
import re
import time

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
    ("no shared secret", without(SECRET), ("alice", "wonderland", "GET", "/svn/repo1/"), 500,
     ("warn", r"No %s in {props}: using the built-in default secret" % re.escape(SECRET))),
    ("no repository base", without(BASE), ("alice", "wonderland", "GET", "/svn/repo1/"), 500,
     ("error", r"No %s in {props}: cannot read the external system id from its "
               r"\.scm\.properties" % re.escape(BASE))),
    ("failed call names its endpoint", closed_port, ("alice", "wonderland", "GET", "/svn/repo1/"),
     500, ("error", r"isValidUser\(\) API FAILED: {url}: cannot connect: Connection refused")),
    ("refused credentials", None, ("alice", "wrong", "GET", "/svn/repo1/trunk"), 401,
     ("warn", r"\[client 127\.0\.0\.1:\d+\] User 'alice' refused by the service for repository "
              r"'repo1' \(answer 1\)$")),
    ("refused action", None, ("bob", "builder", "PUT", "/svn/repo1/new.txt"), 403,
     ("warn", r"Refused user 'bob': commit \(PUT\) in repository 'repo1', path '/new.txt'$")),
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


ACCESS_FORMAT = ("%>s %{ZEB_USER}e %{ZEB_CREDENTIALS_FROM}e %{ZEB_REFUSED_ACTION}e "
                 "%{ZEB_REFUSED_REPOSITORY}e %{ZEB_REFUSED_PATH}e")


def test_access_log_shows_user_source_and_refused_check(zeb):
    access_log = os.path.join(zeb.workdir, "access.log")
    zeb.start(extra_config='LogFormat "%s" zeb\nCustomLog %s zeb\n' % (ACCESS_FORMAT, access_log))
    kept = zeb.client()
    rows = [
        (kept, "alice", "wonderland", "GET", "/svn/repo1/", "200 alice service - - -"),
        (kept, "alice", "wonderland", "GET", "/svn/repo1/", "200 alice connection - - -"),
        (None, "alice", "wonderland", "GET", "/svn/repo1/", "200 alice memcached - - -"),
        (None, "bob", "builder", "PUT", "/svn/repo1/new.txt",
         "403 bob service commit repo1 /new.txt"),
        (None, "alice", "wrong", "GET", "/svn/repo1/", "401 - service - - -"),
    ]
    for client, user, password, method, path, _ in rows:
        (client or zeb.client()).request(path, user, password, method=method)
    for _ in range(50):  # written once each response has gone out
        if os.path.exists(access_log) and len(open(access_log).readlines()) == len(rows):
            break
        time.sleep(0.1)
    assert open(access_log).read().splitlines() == [row[-1] for row in rows]

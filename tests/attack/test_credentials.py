"""Credential and connection tricks: malformed Authorization headers, odd
user names, and users, passwords, repositories, Locations and services
switched on one keep-alive connection, whose contexts and memcached entries
must never answer for another."""

import base64

import pytest

from attack_site import SECRET, password

SECRET_FILE = "/trunk/secret/key.txt"


def basic(credentials):
    return "Basic " + base64.b64encode(credentials.encode()).decode()


MALFORMED = [
    ("no token", "Basic"),
    ("empty token", "Basic "),
    ("not base64", "Basic !!!!"),
    ("no colon", basic("admin")),
    ("empty user", basic(":adminpw")),
    ("empty password", basic("admin:")),
    ("other scheme", 'Digest username="admin"'),
    ("colon in password", basic("admin:x:adminpw")),
    ("user with space", basic("admin :adminpw")),
    ("user in capitals", basic("ADMIN:adminpw")),
    ("user cut by NUL", basic("admin\0dev:adminpw")),
    ("user with escaped separators", basic("admin%3Aadminpw%3A:adminpw")),
    ("long user", basic("admin" * 800 + ":adminpw")),
    ("another user's password", basic("admin:devpw")),
    ("the other service's password", basic("admin:adminpw-b")),
]


@pytest.mark.parametrize("name, authorization", MALFORMED, ids=[row[0] for row in MALFORMED])
def test_malformed_credentials_are_refused(target, name, authorization):
    connection = target.connect()
    try:
        uri = "/svn/repo1" + SECRET_FILE
        refused = connection.send("GET", uri, authorization=authorization)
        assert refused.status in (400, 401), refused
        assert refused.header("ZebUserName") is None and SECRET not in refused.body
        # The same connection then serves admin's own credentials.
        granted = connection.send("GET", uri, "admin", password("admin"))
        assert granted.status == 200 and SECRET in granted.body
        assert connection.send("GET", uri, authorization=authorization).status in (400, 401)
    finally:
        connection.close()


# Steps on one connection: user (None: no credentials), the Location whose
# password the user gives, URI, expected status.
SECRET_A = "/svn/repo1" + SECRET_FILE
SEQUENCES = {
    "users": [("dev", "svn", "/svn/repo1/trunk/README", 200), ("dev", "svn", SECRET_A, 403),
              ("admin", "svn", SECRET_A, 200), ("dev", "svn", SECRET_A, 403),
              ("reader", "svn", SECRET_A, 403), ("admin", "svn", SECRET_A, 200),
              ("dev", "svn", "/svn/repo1/trunk/src/id.key", 403)],
    "passwords": [("admin", "svn", SECRET_A, 200), ("admin", "wrong", SECRET_A, 401),
                  ("dev", "svn", SECRET_A, 403), ("admin", "devpw", SECRET_A, 401),
                  ("admin", "svnb", SECRET_A, 401), ("admin", "svn", SECRET_A, 200)],
    "repositories": [("dev", "svn", SECRET_A, 403), ("dev", "svn", "/svn/repo2/trunk/README", 200),
                     ("dev", "svn", "/svn/repo2" + SECRET_FILE, 403),
                     ("admin", "svn", "/svn/repo2" + SECRET_FILE, 200),
                     ("dev", "svn", "/svn/repo2" + SECRET_FILE, 403),
                     ("dev", "svn", SECRET_A, 403)],
    "Locations": [("admin", "svn", SECRET_A, 200), ("dev", "svn1", "/svn1/repo1" + SECRET_FILE, 403),
                  ("admin", "svnav", "/svnav/repo1" + SECRET_FILE, 200),
                  ("dev", "svnav", "/svnav/repo1" + SECRET_FILE, 403),
                  ("dev", "svnb", "/svnb/repo1" + SECRET_FILE, 403),
                  ("dev", "svn", SECRET_A, 403)],
    # Service B's reader maintains everything; service A's hides the secret.
    "services": [("reader", "svnb", "/svnb/repo1" + SECRET_FILE, 200),
                 ("reader", "svn", SECRET_A, 403),
                 ("reader", "svnb", SECRET_A, 401),
                 ("reader", "svn", "/svnb/repo1" + SECRET_FILE, 401),
                 ("reader", "svnb", "/svnb/repo1" + SECRET_FILE, 200),
                 ("reader", "svn", SECRET_A, 403)],
    "no credentials": [("dev", "svn", "/svn/repo1/trunk/README", 200),
                       (None, None, SECRET_A, 401), (None, None, "/svn/repo1/trunk/README", 401),
                       ("dev", "svn", SECRET_A, 403)],
}


@pytest.mark.parametrize("name", list(SEQUENCES))
def test_each_request_on_a_connection_is_judged_alone(target, name):
    steps = SEQUENCES[name]
    for fresh in (False, True):
        # Then once more with a new connection per request: only memcached
        # links them.
        connection = target.connect()
        try:
            for i, (user, location, uri, expected) in enumerate(steps):
                if fresh:
                    connection.close()
                    connection = target.connect()
                secret = None
                if user is not None:
                    secret = password(user, location) if location in ("svn", "svn1", "svnav",
                                                                      "svnb") else location
                response = connection.send("GET", uri, user, secret)
                assert response.status == expected, (fresh, i, user, location, uri, response)
                if expected != 200:
                    assert SECRET not in response.body
        finally:
            connection.close()

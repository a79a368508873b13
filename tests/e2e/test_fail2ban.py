"""The shipped fail2ban filter over an error log that real requests wrote:
it counts exactly the requests whose credentials the service refused."""

import os
import shutil
import subprocess

FILTER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "packaging",
                      "fail2ban", "filter.d", "authnz-zeb.conf")
INSTALLED_FILTERS = "/etc/fail2ban/filter.d"


def banned_for(log, filter_file):
    """(address, user) of each line that fail2ban counts."""
    result = subprocess.run(["fail2ban-regex", "-o", "<ip> <F-USER>", log, filter_file],
                            capture_output=True, text=True, check=True)
    return [tuple(line.split(" ", 1)) for line in result.stdout.splitlines() if line]


def test_filter_counts_refused_credentials_only(zeb, workdir):
    zeb.start()
    requests = [
        ("alice", "wrong", "GET", "/svn/repo1/", 401),
        ("alice", "wrong", "GET", "/svn/repo1/trunk", 401),  # refused from memcached
        ("mallory", "guess", "GET", "/svn/repo1/", 401),
        ("alice", "wonderland", "GET", "/svn/repo1/", 200),
        ("bob", "builder", "PUT", "/svn/repo1/new.txt", 403),
        (None, None, "GET", "/svn/repo1/", 401),
        ("bob", "outage", "GET", "/svn/repo1/", 500),
    ]
    for user, password, method, path, status in requests:
        if password == "outage":
            zeb.brimstack.misbehave("isValidUser", "fault", faultstring="directory down")
        assert zeb.client().request(path, user, password, method=method).status == status
    refused = [("127.0.0.1", user) for user, _, _, _, status in requests if status == 401 and user]

    # Read as fail2ban reads it once installed: beside the files it includes.
    filters = os.path.join(workdir, "filter.d")
    os.makedirs(filters)
    for name in ("common.conf", "apache-common.conf"):
        shutil.copy(os.path.join(INSTALLED_FILTERS, name), filters)
    shutil.copy(FILTER, filters)
    zeb.httpd.messages_since(0)  # lets the children finish writing
    assert banned_for(zeb.httpd.error_log, os.path.join(filters, "authnz-zeb.conf")) == refused
    # Debian's own filter (mod_auth_basic's "Password Mismatch") no longer
    # takes the outage for a wrong password.
    stock = banned_for(zeb.httpd.error_log, os.path.join(INSTALLED_FILTERS, "apache-auth.conf"))
    assert [(address, user.rstrip(":")) for address, user in stock] == refused

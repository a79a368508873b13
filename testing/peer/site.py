"""httpd laid out for the suite (the locations, redirects and users of its
own davautocheck.sh), in one of three modes:

A  Basic from a password file, no path authorization: the reference.
B  mod_authnz_zeb in front, every user holding one role `commit:/`.
C  the same with `commit:/` and `none:/zzz-unused`: the role holds every
   right but not the global commit shortcut, so every request goes through
   the permission engine and the recursive tree walk."""

import base64
import hashlib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from harness.fixtures import Deployment, server_config  # noqa: E402
from harness.httpd import MODULES_DIR, Location  # noqa: E402

MODES = {
    "A": None,
    "B": ["commit:/"],
    "C": ["commit:/", "none:/zzz-unused"],
}
USERS = {
    "jrandom": "rayjandom",
    "jconstant": "rayjandom",
    "__dumpster__": "__loadster__",
    "JRANDOM": "rayjandom",
    "JCONSTANT": "rayjandom",
}
PARENT_LOCATION = "/svn-test-work/repositories"
SINGLE_LOCATIONS = ["/svn-test-work/local_tmp/repos", "/svn-test-work/local_tmp/trojan"]

# Log ids in the error log group each request's lines; the access log tells
# which requests failed.
LOG_CONFIG = """\
LoadModule alias_module {modules}/mod_alias.so
ErrorLogFormat "[%{{u}}t] [%-m:%l] [pid %P:tid %T] [rid %L] %7F: %E: [client %a] %M"
LogFormat "%L %>s %u %m %U" requests
CustomLog {workdir}/requests.log requests
RedirectMatch permanent ^{parent}/REDIRECT-PERM-(.*)$ {parent}/$1
RedirectMatch           ^{parent}/REDIRECT-TEMP-(.*)$ {parent}/$1
"""


def stand_in_config(pbps):
    """Every suite user may use any repository, with one role."""
    users = {name: {"password": password, "repositories": {"*": [{"id": "1", "pbps": pbps}]}}
             for name, password in USERS.items()}
    return server_config(users=users)


def write_password_file(path):
    with open(path, "w") as f:
        for name, password in USERS.items():
            digest = base64.b64encode(hashlib.sha1(password.encode()).digest()).decode()
            f.write("%s:{SHA}%s\n" % (name, digest))
    return path


class SuiteSite:
    """httpd serving work_dir (the suite's svn-test-work) in one mode."""

    def __init__(self, mode, v1, workdir, work_dir, memcached, brimstack):
        self.mode = mode
        self.v1 = v1
        self.work_dir = work_dir
        self.deployment = Deployment(workdir, memcached, brimstack,
                                     repos_dir=os.path.join(work_dir, "repositories"))
        self.requests_log = os.path.join(workdir, "requests.log")

    def _common(self):
        return ["SVNListParentPath On",
                "SVNAdvertiseV2Protocol %s" % ("Off" if self.v1 else "On")]

    def _locations(self):
        paths = [(PARENT_LOCATION, None)] + [
            (path, os.path.join(self.work_dir, path[len("/svn-test-work/"):]))
            for path in SINGLE_LOCATIONS]
        if MODES[self.mode] is None:
            users = write_password_file(os.path.join(self.deployment.workdir, "users"))
            return [Location(path, bare=True, directives=[
                "DAV svn",
                ("SVNPath %s" % svn_path) if svn_path else
                ("SVNParentPath %s" % self.deployment.repos_dir),
                "SVNPathAuthz Off", "AuthType Basic", 'AuthName "Subversion Repository"',
                "AuthBasicProvider file", "AuthUserFile %s" % users, "Require valid-user",
            ] + self._common()) for path, svn_path in paths]
        return [self.deployment.location(path, svn_path=svn_path, directives=self._common())
                for path, svn_path in paths]

    def start(self, debug=False):
        """debug: the module's debug lines too (they slow every request)."""
        brimstack = self.deployment.brimstack
        brimstack.reset()
        brimstack.set_config(stand_in_config(MODES[self.mode] or []))
        self.deployment.memcached.flush()
        extra = LOG_CONFIG.format(modules=MODULES_DIR, workdir=self.deployment.workdir,
                                  parent=PARENT_LOCATION)
        if MODES[self.mode] is None:
            extra += "LoadModule authn_file_module %s/mod_authn_file.so\n" % MODULES_DIR
        if not debug:
            extra += "LogLevel warn\n"
        self.deployment.start(locations=self._locations(), extra_config=extra)
        return self

    @property
    def url(self):
        return "http://127.0.0.1:%d" % self.deployment.httpd.port

    def stop(self):
        self.deployment.stop()

    def log_position(self):
        return (_size(self.deployment.httpd.error_log), _size(self.requests_log))

    def first_failing_request(self, since):
        """(method and URI with status, the module's lines for it) of the
        first request after since that the server refused: 403 or 5xx first,
        else any other failure of an authenticated user; None if none."""
        error_mark, request_mark = since
        requests = _read_from(self.requests_log, request_mark).splitlines()
        failed = [r.split(" ", 4) for r in requests if len(r.split(" ", 4)) == 5]
        failed = [r for r in failed if r[1].isdigit() and int(r[1]) >= 400]
        pick = next((r for r in failed if r[1] == "403" or r[1].startswith("5")), None)
        if pick is None:
            pick = next((r for r in failed if r[2] != "-"), None)
        if pick is None:
            return None
        rid = "[rid %s]" % pick[0]
        lines = [line for line in _read_from(self.deployment.httpd.error_log,
                                             error_mark).splitlines() if rid in line]
        return "%s %s -> %s" % (pick[3], pick[4], pick[1]), lines


def _size(path):
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def _read_from(path, offset):
    try:
        with open(path, errors="replace") as f:
            f.seek(offset)
            return f.read()
    except OSError:
        return ""

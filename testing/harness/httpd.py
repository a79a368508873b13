"""A real httpd (mpm_event by default, or mpm_prefork; not single-process)
serving Subversion repositories through mod_dav_svn with mod_authnz_zeb
loaded after it."""

import os
import re
import signal
import subprocess
import textwrap
import time

from .processes import (UNPRIVILEGED_GROUP, UNPRIVILEGED_USER, free_port, hand_to_unprivileged,
                        running_as_root, terminate, wait_for_pid_file, wait_for_port)

APACHE2 = "/usr/sbin/apache2"
MODULES_DIR = "/usr/lib/apache2/modules"


# httpd names the source position at debug level only, and an error status
# ("(21)Is a directory: ") when the message carries one.
# What httpd's parent logs once its children of a new generation run.
_RESUMED = "resuming normal operations"

# A fixed set of children: one that httpd retires for being idle closes its
# keep-alive connections under the tests.
_PROCESSES = {
    "event": """\
        StartServers 2
        ServerLimit 2
        ThreadsPerChild 16
        MaxRequestWorkers 32
        MinSpareThreads 1
        MaxSpareThreads 32
        """,
    # Three single-threaded children: three open connections hold all three.
    "prefork": """\
        StartServers 3
        ServerLimit 3
        MaxRequestWorkers 3
        MinSpareServers 3
        MaxSpareServers 3
        """,
}

_MESSAGE = re.compile(r"\[authnz_zeb:(\w+)\] \[pid [^\]]*\] (?:\S+\(\d+\): )?"
                      r"(?:\(-?\d+\)[^:]*: )?(?:\[client [^\]]*\] )?(.*)$")


def _module_messages(text):
    """(level, message) of each of the module's lines in text."""
    found = []
    for line in text.splitlines():
        m = _MESSAGE.search(line)
        if m:
            found.append((m.group(1), m.group(2)))
    return found


def module_path():
    path = os.environ.get("ZEB_MODULE")
    if not path:
        raise RuntimeError("ZEB_MODULE must name the built mod_authnz_zeb.so")
    return path


class Location:
    """One <Location> section over the repositories directory.

    basic_auth: mod_auth_basic checks the credentials through the module's
    authn provider (AuthBasicProvider zeb), as an administrator configures it;
    without it the section still asks for Basic credentials and the module's
    own check_user hook checks them. bare: only the module's directives (a
    section that refines an earlier one). svn_path: serve this one
    repository (SVNPath) instead of the repositories directory. directives:
    further lines, verbatim."""

    def __init__(self, path, properties_file=None, memcache_server=None, memcache_ttl=None,
                 basic_auth=True, bare=False, directives=(), svn_path=None):
        self.path = path
        self.svn_path = svn_path
        self.bare = bare
        self.properties_file = properties_file
        self.memcache_server = memcache_server
        self.memcache_ttl = memcache_ttl
        self.basic_auth = basic_auth
        self.directives = list(directives)

    def render(self, repos_dir):
        lines = ["<Location %s>" % self.path]
        if not self.bare:
            lines += ["  DAV svn",
                      ("  SVNPath %s" % self.svn_path) if self.svn_path
                      else ("  SVNParentPath %s" % repos_dir),
                      "  SVNPathAuthz short_circuit",
                      "  AuthType Basic",
                      '  AuthName "Subversion"',
                      "  Require valid-user"]
        if self.basic_auth and not self.bare:
            lines.append("  AuthBasicProvider zeb")
        if self.properties_file is not None:
            lines.append("  AuthnzZEBPropertiesFile %s" % self.properties_file)
        if self.memcache_server is not None:
            lines.append("  AuthnzZEBMemcacheServer %s" % self.memcache_server)
        if self.memcache_ttl is not None:
            lines.append("  AuthnzZEBMemcacheTTL %s" % self.memcache_ttl)
        lines += ["  " + d for d in self.directives]
        lines.append("</Location>")
        return "\n".join(lines)


class Httpd:
    def __init__(self, workdir, locations, repos_dir, extra_config="", load_auth_basic=True,
                 load_order=("authnz_zeb",), environment=None, mpm="event"):
        """load_order: the modules loaded after mod_dav_svn, in order;
        "authnz_zeb" stands for the module under test. environment: httpd's
        environment instead of this process's. mpm: "event" or "prefork"."""
        self.workdir = workdir
        self.mpm = mpm
        self.environment = environment
        self.load_order = load_order
        self.locations = locations
        self.repos_dir = repos_dir
        self.extra_config = extra_config
        self.load_auth_basic = load_auth_basic
        self.port = None
        self.process = None
        self.conf_file = os.path.join(workdir, "httpd.conf")
        self.error_log = os.path.join(workdir, "error.log")

    def config_text(self, port):
        modules = ["mpm_" + self.mpm, "authn_core", "authz_core", "authz_user"]
        if self.load_auth_basic:
            modules += ["auth_basic"]
        modules += ["dav", "dav_svn", "headers"]
        loads = ["LoadModule %s_module %s/mod_%s.so" % (m, MODULES_DIR, m) for m in modules]
        for m in self.load_order:
            path = module_path() if m == "authnz_zeb" else "%s/mod_%s.so" % (MODULES_DIR, m)
            loads.append("LoadModule %s_module %s" % (m, path))
        user = ""
        if running_as_root():
            user = "User %s\nGroup %s" % (UNPRIVILEGED_USER, UNPRIVILEGED_GROUP)
        processes = textwrap.indent(textwrap.dedent(_PROCESSES[self.mpm]), " " * 12).strip()
        header = textwrap.dedent("""\
            ServerRoot {root}
            ServerName 127.0.0.1
            PidFile {root}/httpd.pid
            DefaultRuntimeDir {root}
            Mutex file:{root} default
            ErrorLog {log}
            LogLevel warn {module_log_level}
            Listen 127.0.0.1:{port}
            {user}
            {processes}
            KeepAlive On
            MaxKeepAliveRequests 0
            KeepAliveTimeout 30
            """).format(root=self.workdir, log=self.error_log, port=port, user=user, processes=processes,
                        module_log_level="authnz_zeb:debug" if "authnz_zeb" in self.load_order
                        else "")
        sections = [l.render(self.repos_dir) for l in self.locations]
        return "\n".join(loads) + "\n" + header + self.extra_config + "\n" + "\n".join(sections) + "\n"

    def write_config(self, port):
        with open(self.conf_file, "w") as f:
            f.write(self.config_text(port))

    def check_config(self):
        """httpd's verdict on the configuration: (exit status, its output)."""
        self.write_config(free_port())
        result = subprocess.run([APACHE2, "-t", "-f", self.conf_file], capture_output=True,
                                text=True)
        return result.returncode, result.stdout + result.stderr

    def start(self, attempts=3):
        # The port is free when chosen but may be taken by another process
        # before httpd binds it; httpd then exits, and whatever holds the
        # port must not be mistaken for it. httpd writes its pid file only
        # once it listens, so the pid file tells the two apart.
        pid_file = os.path.join(self.workdir, "httpd.pid")
        for attempt in range(attempts):
            if os.path.exists(pid_file):
                os.unlink(pid_file)
            self.port = free_port()
            self.write_config(self.port)
            hand_to_unprivileged(self.workdir)
            # A process group of its own: mpm_prefork signals its whole group
            # to stop or restart its children, which must not reach the tests.
            self.process = subprocess.Popen([APACHE2, "-f", self.conf_file, "-DFOREGROUND"],
                                            env=self.environment, stdout=subprocess.PIPE,
                                            stderr=subprocess.STDOUT, start_new_session=True)
            try:
                wait_for_port(self.port, process=self.process)
                wait_for_pid_file(pid_file, self.process)
                return self
            except RuntimeError:
                if self.process.poll() is None or attempt + 1 == attempts:
                    self.stop_process()
                    output = self.process_output()
                    raise RuntimeError("httpd did not start: %s\n%s" % (output, self.log()))

    def process_output(self):
        return self.process.stdout.read().decode(errors="replace") if self.process else ""

    def stop_process(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def stop(self):
        if self.process is None:
            return
        terminate(self.process)
        self.process = None

    def restart(self, graceful=True, timeout=30):
        """Restarts httpd (gracefully: children finish what they serve) and
        waits until the children of the new generation run."""
        before = self.log().count(_RESUMED)
        self.process.send_signal(signal.SIGUSR1 if graceful else signal.SIGHUP)
        deadline = time.monotonic() + timeout
        while self.log().count(_RESUMED) <= before:
            if time.monotonic() > deadline:
                raise RuntimeError("httpd did not restart:\n" + self.log())
            time.sleep(0.05)
        wait_for_port(self.port, process=self.process)

    def log(self):
        try:
            with open(self.error_log, errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def module_lines(self):
        """The module's messages so far, without httpd's prefixes."""
        return _module_messages(self.log())

    def mark(self):
        """A position in the error log for messages_since()."""
        return len(self.log())

    def messages_since(self, mark, settle=0.2):
        """The module's lines written after mark (httpd's children write the
        log asynchronously to the request, so wait a moment)."""
        time.sleep(settle)
        return _module_messages(self.log()[mark:])

"""The Debian packages as an administrator gets them: built with
dpkg-buildpackage from a copy of the tree, checked by lintian, installed,
upgraded unattended over an edited properties file to a newer version whose
shipped files differ, used through the system's /etc/apache2 tree on a
loopback port, then purged, after which the machine is as it was."""

import email.utils
import glob
import hashlib
import os
import pwd
import shutil
import socket
import subprocess
from datetime import datetime, timezone

import pytest

from harness.fixtures import Client
from harness.httpd import APACHE2
from harness.processes import free_port, wait_for_pid_file, wait_for_port
from harness.repositories import write_properties

if os.geteuid() != 0:
    pytest.skip("installs and purges Debian packages: needs root", allow_module_level=True)

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PACKAGES = ["libapache2-mod-authnz-zeb", "python3-zebauthorizer", "zeb-privbind"]
MODULE = "/usr/lib/apache2/modules/mod_authnz_zeb.so"
PROPERTIES = "/etc/authnz_zeb/brimstack.properties"
MODULE_CONF = "/etc/apache2/mods-available/authnz_zeb.conf"
PRIVBIND = "/usr/sbin/privbind"
DOC = "/usr/share/doc/libapache2-mod-authnz-zeb"
# Files the next version changes: the example site (documentation), the
# module's .conf (a conffile nobody edits) and the properties file (a
# conffile the administrator edits).
CHANGED_IN_NEXT = ["packaging/apache2/authnz-zeb-site.conf", "packaging/apache2/authnz_zeb.conf",
                   "packaging/brimstack.properties"]
# Where the packages, their scripts and a2enmod write, compared before and
# after: trees with their contents, and directories by the names they hold.
WATCHED_TREES = ["/etc/apache2", "/etc/authnz_zeb", "/var/lib/apache2"]
WATCHED_DIRS = ["/usr/lib/apache2/modules", "/usr/bin", "/usr/sbin",
                "/usr/lib/python3/dist-packages", "/usr/share/man/man1", "/usr/share/man/man8",
                "/usr/share/doc"]
# Unattended: no terminal, and dpkg keeps an edited conffile the package
# changed, leaving the new one beside it, instead of asking.
APT = ["apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=600"]
UNATTENDED = ["-o", "Dpkg::Options::=--force-confdef", "-o", "Dpkg::Options::=--force-confold"]


def run(*command, **options):
    result = subprocess.run(list(command), capture_output=True, text=True,
                            stdin=subprocess.DEVNULL, **options)
    assert result.returncode == 0, "%s: %s%s" % (command, result.stdout[-3000:],
                                                 result.stderr[-3000:])
    return result.stdout


def apt(*arguments):
    return run(*APT, *arguments, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))


def status(package):
    return subprocess.run(["dpkg-query", "-W", "-f=${db:Status-Abbrev}${Version}", package],
                          capture_output=True, text=True).stdout


def read(path):
    with open(path) as f:
        return f.read()


def copy_source(destination):
    """The tracked and new files of the tree, without build directories."""
    listing = subprocess.run(["git", "ls-files", "-z", "-c", "-o", "--exclude-standard"],
                             cwd=SOURCE, capture_output=True, check=True).stdout
    for name in filter(None, listing.decode().split("\0")):
        if os.path.lexists(os.path.join(SOURCE, name)):
            os.makedirs(os.path.dirname(os.path.join(destination, name)), exist_ok=True)
            shutil.copy2(os.path.join(SOURCE, name), os.path.join(destination, name),
                         follow_symlinks=False)


def build_packages(tree, into):
    env = dict(os.environ, DEB_BUILD_OPTIONS="nocheck parallel=%d" % min(2, os.cpu_count()))
    if os.path.isdir("/usr/lib/ccache"):
        env["PATH"] = "/usr/lib/ccache:" + env["PATH"]
    run("dpkg-buildpackage", "-us", "-uc", "-b", cwd=tree, env=env)
    os.makedirs(into)
    for deb in glob.glob(os.path.join(os.path.dirname(tree), "*.deb")):
        shutil.move(deb, into)
    return sorted(glob.glob(os.path.join(into, "*.deb")))


def make_next_version(tree):
    """A changelog entry above the current one, and changed shipped files."""
    changelog = os.path.join(tree, "debian", "changelog")
    text = read(changelog)
    source, version = text.split()[:2]
    version = version.strip("()") + "+next1"
    date = email.utils.format_datetime(datetime.now(timezone.utc).replace(microsecond=0))
    maintainer = next(line for line in text.splitlines() if line.startswith(" -- "))
    maintainer = maintainer.split("  ")[0]
    with open(changelog, "w") as f:
        f.write("%s (%s) unstable; urgency=medium\n\n  * Next version.\n\n%s  %s\n\n%s"
                % (source, version, maintainer, date, text))
    for name in CHANGED_IN_NEXT:
        with open(os.path.join(tree, name), "a") as f:
            f.write("# Changed in %s.\n" % version)
    return version


@pytest.fixture(scope="module")
def builds():
    """Versions N and N+1, built one after the other in the same copy. The
    copy lies at the same place in every run (build-packages/, ignored by
    git), so that the compiler cache serves all but the first build."""
    top = os.path.join(SOURCE, "build-packages")
    shutil.rmtree(top, ignore_errors=True)
    tree = os.path.join(top, "src")
    copy_source(tree)
    current = build_packages(tree, os.path.join(top, "current"))
    version = make_next_version(tree)
    following = build_packages(tree, os.path.join(top, "next"))
    return {"current": current, "next": following, "next_version": version,
            "next_files": {name: read(os.path.join(tree, name)) for name in CHANGED_IN_NEXT}}


@pytest.fixture(scope="module")
def no_service_actions():
    """Package scripts may ask invoke-rc.d to restart apache2; a running
    server is left alone while the packages come and go."""
    policy = "/usr/sbin/policy-rc.d"
    if os.path.exists(policy):
        yield
        return
    with open(policy, "w") as f:
        f.write("#!/bin/sh\n# test_debian_package: no service actions\nexit 101\n")
    os.chmod(policy, 0o755)
    try:
        yield
    finally:
        os.unlink(policy)


def test_lintian_reports_no_error_or_warning(builds):
    run("lintian", "--fail-on", "error,warning", *builds["current"])


def snapshot():
    seen = {os.path.join(d, name): "" for d in WATCHED_DIRS for name in os.listdir(d)}
    for top in WATCHED_TREES:
        for root, dirs, files in os.walk(top):
            for name in dirs + files:
                path = os.path.join(root, name)
                if os.path.islink(path):
                    seen[path] = "-> " + os.readlink(path)
                elif os.path.isfile(path):
                    with open(path, "rb") as f:
                        seen[path] = hashlib.sha256(f.read()).hexdigest()
                else:
                    seen[path] = "dir"
    seen["statoverrides"] = run("dpkg-statoverride", "--list")
    return seen


def undo_a2enmod(enabled_before, state_before):
    """a2enmod also enabled modules the module depends on that were off, and
    made the directories where it records who enabled what; they are not the
    package's, so they are undone here."""
    added = {n.rsplit(".", 1)[0] for n in os.listdir("/etc/apache2/mods-enabled")} - {
        n.rsplit(".", 1)[0] for n in enabled_before} - {"authnz_zeb"}
    for name in os.listdir("/etc/apache2/mods-enabled"):
        if name.rsplit(".", 1)[0] in added:
            os.unlink(os.path.join("/etc/apache2/mods-enabled", name))
    for root, dirs, files in os.walk("/var/lib/apache2/module", topdown=False):
        for name in set(files) & added:
            os.unlink(os.path.join(root, name))
        if root not in state_before and not os.listdir(root):
            os.rmdir(root)
    for path in state_before:
        if os.path.basename(path) in added:
            open(path, "w").close()


class SystemHttpd:
    """apache2 from /etc/apache2 as the system service would run it, but
    listening on a loopback port and with its run, lock and log directories
    elsewhere, so that a running system server is not disturbed."""

    def __init__(self, workdir, location):
        self.workdir = workdir
        with open("/etc/apache2/apache2.conf") as f:
            main = f.read()
        self.port = free_port()
        assert "\nInclude ports.conf\n" in main
        main = main.replace("\nInclude ports.conf\n", "\nListen 127.0.0.1:%d\n" % self.port)
        self.conf_file = os.path.join(workdir, "apache2.conf")
        with open(self.conf_file, "w") as f:
            f.write(main + "\n" + location + "\n")
        out = run("sh", "-c", '. /etc/apache2/envvars && env -0')
        self.env = dict(item.split("=", 1) for item in out.split("\0") if "=" in item)
        self.env.update(APACHE_RUN_DIR=workdir, APACHE_LOCK_DIR=workdir, APACHE_LOG_DIR=workdir,
                        APACHE_PID_FILE=os.path.join(workdir, "apache2.pid"))
        self.process = None

    def __enter__(self):
        self.process = subprocess.Popen(
            [APACHE2, "-d", "/etc/apache2", "-f", self.conf_file, "-DFOREGROUND"], env=self.env,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        try:
            wait_for_port(self.port, process=self.process)
            wait_for_pid_file(self.env["APACHE_PID_FILE"], self.process)
        except RuntimeError:
            self.__exit__()
            raise RuntimeError("apache2 did not start: %s\n%s" % (
                self.process.stdout.read().decode(errors="replace"), self.log()))
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=15)

    def log(self):
        path = os.path.join(self.workdir, "error.log")
        return open(path, errors="replace").read() if os.path.exists(path) else ""


def privbind_status(user, port, address):
    """privbind run as user on a socket of its own: its exit status, or None
    when the user may not execute it."""
    account = pwd.getpwnam(user)
    with socket.socket(socket.AF_INET) as s:
        field = "%x" % socket.htons(port)
        try:
            return subprocess.run([address, field], executable=PRIVBIND, stdin=s,
                                  user=account.pw_uid, group=account.pw_gid,
                                  extra_groups=[], capture_output=True).returncode
        except PermissionError:
            return None


def mode_owner_group(path):
    st = os.stat(path)
    return (oct(st.st_mode & 0o7777), pwd.getpwuid(st.st_uid).pw_name,
            run("stat", "-c", "%G", path).strip())


def check_installed_layout():
    depends = {p: run("dpkg-query", "-W", "-f=${Depends}", p) for p in PACKAGES}
    for needed in ("apache2-api-20120211", "libapache2-mod-svn", "libgsoap", "libpcre2-8-0",
                   "libsvn1", "libaprutil1", "libssl3", "libmemcached11"):
        assert needed in depends[PACKAGES[0]]
    python = "%d.%d" % tuple(int(n) for n in run(
        "/usr/bin/python3", "-c", "import sys; print(*sys.version_info[:2])").split())
    assert "python3 (>= %s~)" % python in depends["python3-zebauthorizer"]
    assert "python3 (<< " in depends["python3-zebauthorizer"]
    conffiles = run("dpkg-query", "-W", "-f=${Conffiles}", PACKAGES[0])
    for path in ("/etc/apache2/mods-available/authnz_zeb.load", MODULE_CONF, PROPERTIES):
        assert path in conffiles
    # The package's .conf holds no configuration, only pointers.
    assert all(line.startswith("#") for line in read(MODULE_CONF).splitlines() if line.strip())
    # dh_compress compresses what is larger than 4 kB.
    for name in ("README.md", "configuration.md", "status.md", "README.Debian", "copyright",
                 "changelog", "examples/authnz-zeb-site.conf", "examples/brimstack.properties",
                 "examples/fail2ban/filter.d/authnz-zeb.conf", "examples/status-alerts.yml"):
        path = os.path.join(DOC, name)
        assert os.path.exists(path) or os.path.exists(path + ".gz"), name
    for page in ("/usr/share/man/man1/zebauthz.1.gz", "/usr/share/man/man8/privbind.8.gz"):
        assert os.path.exists(page)
    assert ".debug_info" not in run("readelf", "-S", MODULE)
    # The package's version is the one the module and zebauthz report.
    version = run("dpkg-query", "-W", "-f=${Version}", PACKAGES[0])
    assert run("zebauthz", "--version").split()[:2] == ["zebauthz", version]
    run("/usr/bin/python3", "-c", "import zebauthorizer; assert zebauthorizer.COMMIT == 2",
        cwd="/")
    assert os.path.exists(os.path.join(os.path.dirname(run(
        "/usr/bin/python3", "-c", "import zebauthorizer; print(zebauthorizer.__file__)",
        cwd="/").strip()), "zebauthorizer.pyi"))


def check_permissions():
    assert mode_owner_group(PROPERTIES) == ("0o640", "root", "www-data")
    assert mode_owner_group(PRIVBIND) == ("0o750", "root", "www-data")
    assert "cap_net_bind_service" in run("getcap", PRIVBIND)
    assert privbind_status("nobody", 443, "127.77.0.43") is None
    assert privbind_status("www-data", 443, "127.77.0.43") == 0


def test_install_upgrade_serve_purge(builds, no_service_actions, zeb):
    if any(status(p).startswith("ii") for p in PACKAGES):
        pytest.skip("already installed on this machine, left alone")
    before = snapshot()
    enabled_before = set(os.listdir("/etc/apache2/mods-enabled"))
    state_before = [p for p in before if p.startswith("/var/lib/apache2/module")]
    listing = {}
    try:
        apt("install", "--no-install-recommends", *builds["current"])
        for package in PACKAGES:
            listing[package] = run("dpkg-query", "-L", package).split()
        check_installed_layout()
        # Nothing is enabled by installing.
        assert set(os.listdir("/etc/apache2/mods-enabled")) == enabled_before
        check_permissions()

        edited = read(PROPERTIES) + "dwmain.integration.listener_host=brimstack.example.org\n"
        with open(PROPERTIES, "w") as f:
            f.write(edited)
        run("a2enmod", "authnz_zeb")
        apt(*UNATTENDED, "install", "--no-install-recommends", *builds["next"])
        for package in PACKAGES:
            assert status(package) == "ii " + builds["next_version"]
        new = builds["next_files"]
        assert read(PROPERTIES) == edited
        assert read(PROPERTIES + ".dpkg-dist") == new["packaging/brimstack.properties"]
        assert read(MODULE_CONF) == new["packaging/apache2/authnz_zeb.conf"]
        assert read(os.path.join(DOC, "examples", "authnz-zeb-site.conf")) == \
            new["packaging/apache2/authnz-zeb-site.conf"]
        leftovers = [p for top in ("/etc/apache2", "/etc/authnz_zeb")
                     for p in glob.glob(top + "/**/*.dpkg-*", recursive=True)]
        assert leftovers == [PROPERTIES + ".dpkg-dist"]
        assert "authnz_zeb.load" in os.listdir("/etc/apache2/mods-enabled")
        check_permissions()

        write_properties(zeb.properties_file, zeb.default_properties())
        # The system's httpd children run as www-data.
        www = pwd.getpwnam("www-data")
        os.chown(zeb.workdir, www.pw_uid, www.pw_gid)
        for root, dirs, files in os.walk(zeb.workdir):
            for name in dirs + files:
                os.chown(os.path.join(root, name), www.pw_uid, www.pw_gid, follow_symlinks=False)
        location = zeb.location().render(zeb.repos_dir)
        with SystemHttpd(zeb.workdir, location) as httpd:
            client = Client(httpd.port)
            response = client.request("/svn/repo1/", "alice", "wonderland")
            client.close()
            assert response.status == 200, httpd.log()
            assert response.getheader("ZebUserName") == "alice"
    finally:
        subprocess.run([*APT, "purge", *PACKAGES], capture_output=True,
                       stdin=subprocess.DEVNULL)
        undo_a2enmod(enabled_before, state_before)

    assert [p for p in PACKAGES if status(p).startswith(("i", "r"))] == []
    left = [path for files in listing.values() for path in files
            if os.path.exists(path) and not os.path.isdir(path)]
    assert left == []
    after = snapshot()
    assert {p: v for p, v in after.items() if before.get(p) != v} == {}
    assert [p for p in before if p not in after] == []

"""The Debian packages as an administrator uses them: apt-get install, a2enmod,
one request through the system's /etc/apache2 tree on a loopback port, then
apt-get purge, after which the machine is as it was."""

import glob
import hashlib
import os
import pwd
import socket
import subprocess

import pytest

from harness.fixtures import Client
from harness.httpd import APACHE2
from harness.processes import free_port, wait_for_pid_file, wait_for_port
from harness.repositories import write_properties

if os.geteuid() != 0:
    pytest.skip("installs and purges Debian packages: needs root", allow_module_level=True)

PACKAGES = ["libapache2-mod-authnz-zeb", "python3-zebauthorizer", "zeb-privbind"]
MODULE = "/usr/lib/apache2/modules/mod_authnz_zeb.so"
PROPERTIES = "/etc/authnz_zeb/brimstack.properties"
# Where the packages and a2enmod write, compared before and after: trees
# with their contents, and directories by the names they hold.
WATCHED_TREES = ["/etc/apache2", "/etc/authnz_zeb", "/var/lib/apache2"]
WATCHED_DIRS = ["/usr/lib/apache2/modules", "/usr/sbin", "/usr/lib/python3/dist-packages",
                "/usr/share/man/man8"]
APT = ["apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=600"]


def installed(package):
    out = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package], capture_output=True,
                         text=True).stdout
    return out.endswith(" installed")


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
    return seen


def undo_enabled_dependencies(enabled_before, state_before):
    """a2enmod also enabled modules the module depends on that were off;
    they are not the package's, so they are switched back here."""
    added = {n.rsplit(".", 1)[0] for n in os.listdir("/etc/apache2/mods-enabled")} - {
        n.rsplit(".", 1)[0] for n in enabled_before} - {"authnz_zeb"}
    for name in os.listdir("/etc/apache2/mods-enabled"):
        if name.rsplit(".", 1)[0] in added:
            os.unlink(os.path.join("/etc/apache2/mods-enabled", name))
    for root, _, files in os.walk("/var/lib/apache2/module"):
        for name in set(files) & added:
            os.unlink(os.path.join(root, name))
    for path in state_before:
        if os.path.basename(path) in added:
            open(path, "w").close()


def run(*command, **options):
    result = subprocess.run(list(command), capture_output=True, text=True, **options)
    assert result.returncode == 0, "%s: %s%s" % (command, result.stdout, result.stderr)
    return result.stdout


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


def privbind_status_as_nobody():
    """privbind run by an unprivileged user on port 80 of a free loopback
    address: 0 once the package gave it its capability."""
    nobody = pwd.getpwnam("nobody")
    with socket.socket(socket.AF_INET) as s:
        return subprocess.run(["127.77.0.80", "5000"], executable="/usr/sbin/privbind", stdin=s,
                              user=nobody.pw_uid, group=nobody.pw_gid,
                              capture_output=True).returncode


@pytest.fixture
def debs():
    found = sorted(glob.glob(os.path.join(os.environ.get("ZEB_DEB_DIR", ""), "*.deb")))
    if len(found) != len(PACKAGES):
        pytest.fail("ZEB_DEB_DIR must hold the %d packages of the build: %s" % (
            len(PACKAGES), found))
    already = [p for p in PACKAGES if installed(p)]
    if already:
        pytest.skip("already installed on this machine, left alone: %s" % already)
    return found


def test_install_enable_serve_purge(debs, zeb):
    before = snapshot()
    enabled_before = set(os.listdir("/etc/apache2/mods-enabled"))
    state_before = [p for p in before if p.startswith("/var/lib/apache2/module/")]
    listing = {}
    try:
        run(*APT, "install", "--no-install-recommends", *debs)
        for package in PACKAGES:
            listing[package] = run("dpkg-query", "-L", package).split()
        depends = run("dpkg-query", "-W", "-f=${Depends}", PACKAGES[0])
        for needed in ("apache2-api-20120211", "libapache2-mod-svn", "libgsoap", "libpcre2-8-0",
                       "libsvn1", "libaprutil1", "libssl3", "libmemcached11"):
            assert needed in depends
        conffiles = run("dpkg-query", "-W", "-f=${Conffiles}", PACKAGES[0])
        for path in ("/etc/apache2/mods-available/authnz_zeb.load",
                     "/etc/apache2/mods-available/authnz_zeb.conf", PROPERTIES):
            assert path in conffiles
        # Nothing is enabled by installing.
        assert set(os.listdir("/etc/apache2/mods-enabled")) == enabled_before
        st = os.stat(PROPERTIES)
        assert (oct(st.st_mode & 0o777), st.st_gid) == ("0o640", pwd.getpwnam("www-data").pw_gid)
        assert ".debug_info" not in run("readelf", "-S", MODULE)
        assert privbind_status_as_nobody() == 0
        run("/usr/bin/python3", "-c", "import zebauthorizer", cwd="/")

        run("a2enmod", "authnz_zeb")
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
        subprocess.run([*APT, "purge", *PACKAGES], capture_output=True)
        undo_enabled_dependencies(enabled_before, state_before)

    assert not any(installed(p) for p in PACKAGES)
    left = [path for files in listing.values() for path in files
            if os.path.exists(path) and not os.path.isdir(path)]
    assert left == []
    after = snapshot()
    assert {p: v for p, v in after.items() if before.get(p) != v} == {}
    assert [p for p in before if p not in after] == []

"""httpd started from a copy of Debian's /etc/apache2 tree, with the module
enabled there by a2enmod: the configuration an administrator gets, run on a
loopback port with its run, lock, log and state directories in a work
directory."""

import os
import shutil
import subprocess

from .httpd import APACHE2, module_path
from .processes import (UNPRIVILEGED_GROUP, UNPRIVILEGED_USER, free_port, hand_to_unprivileged,
                        running_as_root, terminate, wait_for_pid_file, wait_for_port)

SYSTEM_TREE = "/etc/apache2"
PACKAGING = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__)))), "packaging", "apache2")


class DebianTree:
    def __init__(self, workdir, system_tree=SYSTEM_TREE):
        self.workdir = workdir
        self.confdir = os.path.join(workdir, "apache2")
        self.rundir = os.path.join(workdir, "run")
        self.logdir = os.path.join(workdir, "log")
        self.statedir = os.path.join(workdir, "state")
        for d in (self.rundir, self.logdir, self.statedir):
            os.makedirs(d, exist_ok=True)
        shutil.copytree(system_tree, self.confdir, symlinks=True)
        self.port = None
        self.process = None

    def path(self, *parts):
        return os.path.join(self.confdir, *parts)

    def environment(self):
        """The variables apache2ctl would take from envvars, pointed at the
        work directory."""
        out = subprocess.run(["sh", "-c", '. "$APACHE_CONFDIR/envvars" && env -0'],
                             env={"APACHE_CONFDIR": self.confdir, "PATH": os.environ["PATH"]},
                             check=True, capture_output=True).stdout
        env = dict(item.split("=", 1) for item in out.decode().split("\0") if "=" in item)
        env.update(APACHE_CONFDIR=self.confdir, APACHE_STATE_DIRECTORY=self.statedir,
                   APACHE_RUN_DIR=self.rundir, APACHE_LOCK_DIR=self.rundir,
                   APACHE_LOG_DIR=self.logdir,
                   APACHE_PID_FILE=os.path.join(self.rundir, "apache2.pid"))
        if running_as_root():
            # The harness's unprivileged user, to whom the work directory goes.
            env.update(APACHE_RUN_USER=UNPRIVILEGED_USER, APACHE_RUN_GROUP=UNPRIVILEGED_GROUP)
        else:
            # Without root httpd cannot change user; it stays who it is.
            env.update(APACHE_RUN_USER="#%d" % os.geteuid(), APACHE_RUN_GROUP="#%d" % os.getegid())
        return env

    def add_module_files(self):
        """The packaged .load (naming the built module) and .conf."""
        with open(os.path.join(PACKAGING, "authnz_zeb.load")) as f:
            load = f.read().replace("/usr/lib/apache2/modules/mod_authnz_zeb.so", module_path())
        with open(self.path("mods-available", "authnz_zeb.load"), "w") as f:
            f.write(load)
        shutil.copy(os.path.join(PACKAGING, "authnz_zeb.conf"),
                    self.path("mods-available", "authnz_zeb.conf"))

    def run(self, *command):
        return subprocess.run(list(command), env=self.environment(), capture_output=True,
                              text=True)

    def enabled_modules(self):
        return sorted(name[:-len(".load")] for name in os.listdir(self.path("mods-enabled"))
                      if name.endswith(".load"))

    def listen_on(self, port):
        """Only a loopback port: the copy's sites listen nowhere else."""
        with open(self.path("ports.conf"), "w") as f:
            f.write("Listen 127.0.0.1:%d\n" % port)

    def config_test(self):
        self.listen_on(free_port())
        return self.run(APACHE2, "-d", self.confdir, "-t")

    def start(self, port=None):
        """port: one the configuration already names, else a free one."""
        self.port = port or free_port()
        self.listen_on(self.port)
        pid_file = os.path.join(self.rundir, "apache2.pid")
        hand_to_unprivileged(self.workdir)
        self.process = subprocess.Popen([APACHE2, "-d", self.confdir, "-DFOREGROUND"],
                                        env=self.environment(), stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT)
        try:
            wait_for_port(self.port, process=self.process)
            wait_for_pid_file(pid_file, self.process)
        except RuntimeError:
            self.stop()
            raise RuntimeError("httpd did not start from %s: %s\n%s" % (
                self.confdir, self.process.stdout.read().decode(errors="replace"), self.log()))
        return self

    def stop(self):
        if self.process is None or self.process.poll() is not None:
            return
        terminate(self.process)

    def log(self):
        try:
            with open(os.path.join(self.logdir, "error.log"), errors="replace") as f:
                return f.read()
        except FileNotFoundError:
            return ""


def set_directives(text, values):
    """The shipped example as an administrator adjusts it: each directive
    named in values gets that value, or is left out for None."""
    lines = []
    for line in text.splitlines():
        words = line.split()
        if words and words[0] in values:
            if values[words[0]] is None:
                continue
            line = line[:len(line) - len(line.lstrip())] + "%s %s" % (words[0], values[words[0]])
        lines.append(line)
    return "\n".join(lines) + "\n"

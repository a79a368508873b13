"""Small helpers shared by the harness: free ports, waiting, privileges."""

import os
import signal
import subprocess
import pwd
import grp
import socket
import time

UNPRIVILEGED_USER = "nobody"
UNPRIVILEGED_GROUP = "nogroup"


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, timeout=20.0, process=None):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process is not None and process.poll() is not None:
            raise RuntimeError("process exited with %d before listening" % process.returncode)
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nothing listens on port %d" % port)


def wait_for_pid_file(path, process, timeout=20.0):
    """Waits until path holds process's pid."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError("process exited with %d before listening" % process.returncode)
        try:
            with open(path) as f:
                if f.read().strip() == str(process.pid):
                    return
        except OSError:
            pass
        time.sleep(0.05)
    raise RuntimeError("no pid file %s" % path)


def running_as_root():
    return os.geteuid() == 0


def hand_to_unprivileged(path):
    """Let the unprivileged user that httpd's children run as use path."""
    if not running_as_root():
        return
    uid = pwd.getpwnam(UNPRIVILEGED_USER).pw_uid
    gid = grp.getgrnam(UNPRIVILEGED_GROUP).gr_gid
    os.chown(path, uid, gid)
    for root, dirs, files in os.walk(path):
        for name in dirs + files:
            os.chown(os.path.join(root, name), uid, gid, follow_symlinks=False)


def terminate(process, timeout=15):
    """Asks a server to stop and kills it when it does not within timeout."""
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()

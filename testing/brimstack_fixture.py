"""Start the stand-in Brimstack server from tests and drive its control endpoint.

    with BrimstackServer({"shared_secret": "s", "users": {...}}) as server:
        server.url           # http://127.0.0.1:PORT/qv-soap/services/ScmListener
        server.counters()    # {"isValidUser": 0, ...}
        server.misbehave("getRolePathsList", "fault", faultstring="down")
        server.reset()

The server runs as a child process of the interpreter running the tests.
"""

import json
import os
import ssl
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

SERVER_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "brimstack_server.py")
START_TIMEOUT = 20.0


class BrimstackServer:
    def __init__(self, config, tls=False, host="127.0.0.1", verbose=False, behaviours=(),
                 cert=None, key=None):
        """`behaviours`: dicts as for misbehave() (with "operation" and
        "kind"), set when the server starts. `cert`, `key`: PEM files that
        HTTPS is served with (default: a throw-away self-signed pair)."""
        self.config = config
        self.cert = cert
        self.key = key
        self.behaviours = list(behaviours)
        self.tls = tls
        self.host = host
        self.verbose = verbose
        self.port = None
        self.process = None
        self._workdir = None

    @property
    def scheme(self):
        return "https" if self.tls else "http"

    @property
    def base_url(self):
        host = "[%s]" % self.host if ":" in self.host else self.host
        return "%s://%s:%d" % (self.scheme, host, self.port)

    @property
    def url(self):
        """The ScmListener endpoint URL."""
        return self.base_url + "/qv-soap/services/ScmListener"

    def start(self):
        self._workdir = tempfile.TemporaryDirectory(prefix="brimstack-fixture-")
        config_file = os.path.join(self._workdir.name, "config.json")
        port_file = os.path.join(self._workdir.name, "port")
        self.log_file = os.path.join(self._workdir.name, "server.log")
        with open(config_file, "w") as f:
            json.dump(self.config, f)
        command = [sys.executable, SERVER_SCRIPT, "--config", config_file,
                   "--port-file", port_file, "--host", self.host]
        if self.tls:
            command.append("--tls")
            if self.cert is not None:
                command += ["--cert", self.cert, "--key", self.key]
        if self.verbose:
            command.append("--verbose")
        for behaviour in self.behaviours:
            command += ["--behaviour", json.dumps(behaviour)]
        with open(self.log_file, "w") as log:
            self.process = subprocess.Popen(command, stdout=log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + START_TIMEOUT
        while not os.path.exists(port_file):
            if self.process.poll() is not None:
                message = "brimstack server exited with %d: %s" % (self.process.returncode,
                                                                  self.log())
                self.stop()
                raise RuntimeError(message)
            if time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("brimstack server did not start in time")
            time.sleep(0.02)
        with open(port_file) as f:
            self.port = int(f.read())
        return self

    def stop(self):
        """Stop the server (SIGTERM); return its exit status."""
        if self.process is None:
            return None
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        status = self.process.returncode
        self.process = None
        self._workdir.cleanup()
        return status

    def log(self):
        with open(self.log_file) as f:
            return f.read()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def _control(self, method, command, payload=None):
        data = None if payload is None else json.dumps(payload).encode()
        if method == "POST" and data is None:
            data = b""
        request = urllib.request.Request(self.base_url + "/control/" + command, data=data,
                                         method=method,
                                         headers={"Content-Type": "application/json"})
        context = ssl._create_unverified_context() if self.tls else None
        try:
            with urllib.request.urlopen(request, timeout=10, context=context) as response:
                return json.loads(response.read())
        except urllib.error.HTTPError as e:
            raise ValueError("control %s refused: %s" % (command, e.read().decode())) from None

    def counters(self):
        return self._control("GET", "counters")

    def requests(self):
        """Calls received: [{"operation", "params": [[name, text]], "soap_action"}]."""
        return self._control("GET", "requests")

    def reset(self):
        self._control("POST", "reset")

    def set_config(self, config):
        self._control("POST", "config", config)
        self.config = config

    def misbehave(self, operation, kind, **params):
        self._control("POST", "behaviour", dict(params, operation=operation, kind=kind))

"""A private memcached server and the few commands tests need."""

import socket
import subprocess

from .processes import free_port, running_as_root, wait_for_port, UNPRIVILEGED_USER


class Memcached:
    def __init__(self):
        self.port = None
        self.process = None

    @property
    def address(self):
        return "127.0.0.1:%d" % self.port

    def start(self, attempts=3, same_port=False):
        """same_port: come back on the port of the last start (a restart)."""
        # Another process may take the chosen port first; this memcached then
        # exits, and the one that answers must be recognised as a stranger.
        for _ in range(attempts):
            if not same_port or self.port is None:
                self.port = free_port()
            command = ["memcached", "-l", "127.0.0.1", "-p", str(self.port), "-U", "0"]
            if running_as_root():
                command += ["-u", UNPRIVILEGED_USER]
            self.process = subprocess.Popen(command, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)
            try:
                wait_for_port(self.port, process=self.process)
                if self.stats().get("pid") == str(self.process.pid):
                    return self
            except (RuntimeError, OSError):
                pass
            self.stop()
        raise RuntimeError("memcached did not start on a port of its own")

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            self.process.wait(timeout=10)
            self.process = None

    def _command(self, line, terminators):
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
            s.sendall(line)
            data = b""
            while not any(data.endswith(t) for t in terminators):
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
            return data

    def flush(self):
        self._command(b"flush_all\r\n", [b"OK\r\n"])

    def stats(self):
        reply = self._command(b"stats\r\n", [b"END\r\n"]).decode()
        values = {}
        for line in reply.splitlines():
            parts = line.split()
            if len(parts) == 3 and parts[0] == "STAT":
                values[parts[1]] = parts[2]
        return values

    def keys(self):
        """The keys the server holds now."""
        reply = self._command(b"lru_crawler metadump all\r\n", [b"END\r\n"]).decode()
        return {line.split()[0][len("key="):] for line in reply.splitlines()
                if line.startswith("key=")}

    def traffic(self):
        """Reads and stores so far (the harness's own stats requests count for
        nothing)."""
        s = self.stats()
        return int(s["cmd_get"]) + int(s["cmd_set"])

    def get(self, key):
        """The value under a stored key (see cache_keys), or None."""
        reply = self._command(b"get " + key.encode() + b"\r\n", [b"END\r\n"])
        if not reply.startswith(b"VALUE"):
            return None
        header, rest = reply.split(b"\r\n", 1)
        length = int(header.split()[3])
        return rest[:length]

    def set(self, key, value, ttl=0):
        line = b"set %s 0 %d %d\r\n%s\r\n" % (key.encode(), ttl, len(value), value)
        reply = self._command(line, [b"STORED\r\n", b"ERROR\r\n"])
        assert reply == b"STORED\r\n", reply

#!/usr/bin/env python3
"""Stand-in Brimstack server: the ScmListener SOAP service for tests and the demo.

    brimstack_server.py --config CONFIG.json --port-file FILE
                        [--tls [--cert CERT.pem --key KEY.pem]]
                        [--host 127.0.0.1] [--port 0] [--verbose]
                        [--behaviour JSON]...

Serves POST /qv-soap/services/ScmListener (SOAP 1.1, RPC/encoded) over HTTP,
or over HTTPS with --tls: with the given certificate and key, else with a
throw-away self-signed certificate made with the openssl command at start. Once listening it writes the port number to
FILE (atomically). SIGTERM or SIGINT stop it cleanly. Each --behaviour is
set at start as if posted to /control/behaviour (and is cleared by a reset).

Every call's request key must verify against the configured shared secret
(brimstack_key), else the answer is a SOAP fault. The configuration format
is described in brimstack_directory, the misbehaviours in brimstack_behaviour.

Control endpoint on the same port:
    GET  /control/counters   {"isValidUser": n, ...}: calls per operation,
                             those refused for their key included
    GET  /control/requests   the calls received: operation, params
                             ([[name, text-or-null], ...]), soap_action
    POST /control/reset      counters, request log and behaviours cleared
    POST /control/config     replace the configuration (JSON body)
    POST /control/behaviour  {"operation": ..., "kind": ..., params}
"""

import argparse
import json
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import brimstack_behaviour  # noqa: E402
import brimstack_soap  # noqa: E402
from brimstack_delivery import Delivery  # noqa: E402
from brimstack_directory import Directory  # noqa: E402
from brimstack_key import BadRequestKey, verify_request_key  # noqa: E402

SERVICE_PATH = "/qv-soap/services/ScmListener"
REQUEST_LOG_LIMIT = 1000
DEFAULT_DELIVERY = Delivery()


class ServiceState:
    """Configuration, counters, request log and behaviours, shared by threads."""

    def __init__(self, directory):
        self.lock = threading.Lock()
        self.directory = directory
        self.reset()

    def reset(self):
        with self.lock:
            self.counters = dict.fromkeys(brimstack_soap.OPERATIONS, 0)
            self.requests = []
            self.behaviours = {}

    def record(self, operation, params, soap_action):
        with self.lock:
            self.counters[operation] = self.counters.get(operation, 0) + 1
            self.requests.append({"operation": operation, "params": params,
                                  "soap_action": soap_action})
            del self.requests[:-REQUEST_LOG_LIMIT]
            behaviour = self.behaviours.get(operation)
            if behaviour is not None and behaviour.remaining is not None:
                behaviour.remaining -= 1
                if behaviour.remaining == 0:
                    del self.behaviours[operation]
            return self.directory, behaviour

    def set_behaviours(self, pairs):
        with self.lock:
            self.behaviours.update(pairs)

    def set_directory(self, directory):
        with self.lock:
            self.directory = directory

    def snapshot(self):
        with self.lock:
            return dict(self.counters), list(self.requests)


def answer(operation, params, directory):
    """(value, None) for a call that succeeds, or (None, fault body)."""
    args = dict(params)
    try:
        verify_request_key(args.get("requestKey"), directory.secret,
                           max_age=directory.key_max_age)
    except BadRequestKey as e:
        return None, brimstack_soap.render_fault("SOAP-ENV:Client", "Invalid request key: %s" % e)
    if operation == "isValidUser":
        return directory.is_valid_user(args.get("username"), args.get("password"),
                                       args.get("repositoryDir")), None
    if operation == "getBrandingExternalSystemId":
        return directory.external_system_id, None
    if operation == "getRolePathsList" and directory.role_paths_list_supported:
        return directory.role_paths_list(args.get("username"), args.get("repositoryName")), None
    if operation == "getRolePaths":
        return directory.role_paths(args.get("username"), args.get("repositoryName")), None
    return None, brimstack_soap.render_fault(
        "SOAP-ENV:Server", "No such operation '%s'" % operation)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "BrimstackStandIn/1.0"

    def setup(self):
        super().setup()
        if isinstance(self.request, ssl.SSLSocket):
            self.request.do_handshake()

    def log_message(self, format, *args):
        if self.server.verbose:
            super().log_message(format, *args)

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            chunks = []
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return b"".join(chunks)
                chunks.append(self.rfile.read(size))
                self.rfile.readline()
        return self.rfile.read(int(self.headers.get("Content-Length") or 0))

    def reply(self, status, body=b"", content_type="text/xml; charset=utf-8",
              delivery=DEFAULT_DELIVERY):
        self.log_request(status)
        if delivery.closes:
            self.close_connection = True
        headers = [("Server", self.version_string()), ("Date", self.date_time_string())]
        if body:
            headers.append(("Content-Type", content_type))
        for data in delivery.writes(status, headers, body, self.close_connection):
            self.wfile.write(data)

    def reply_json(self, status, value):
        self.reply(status, json.dumps(value).encode(), "application/json")

    def do_GET(self):
        state = self.server.state
        counters, requests = state.snapshot()
        if self.path == "/control/counters":
            self.reply_json(200, counters)
        elif self.path == "/control/requests":
            self.reply_json(200, requests)
        else:
            self.reply_json(404, {"error": "no such resource"})

    def do_POST(self):
        body = self.read_body()
        if self.path == SERVICE_PATH:
            self.serve_call(body)
        elif self.path.startswith("/control/"):
            self.serve_control(self.path[len("/control/"):], body)
        else:
            self.reply_json(404, {"error": "no such resource"})

    def serve_control(self, command, body):
        state = self.server.state
        try:
            if command == "reset":
                state.reset()
            elif command == "config":
                state.set_directory(Directory(json.loads(body)))
            elif command == "behaviour":
                state.set_behaviours(brimstack_behaviour.parse(json.loads(body)))
            else:
                self.reply_json(404, {"error": "no such control command"})
                return
        except ValueError as e:  # json.JSONDecodeError is a ValueError
            self.reply_json(400, {"error": str(e)})
            return
        self.reply_json(200, {"ok": True})

    def serve_call(self, body):
        try:
            operation, namespace, params = brimstack_soap.parse_request(body)
        except brimstack_soap.BadRequest as e:
            self.reply(500, brimstack_soap.render_fault("SOAP-ENV:Client", str(e)))
            return
        soap_action = self.headers.get("SOAPAction")
        directory, behaviour = self.server.state.record(operation, params, soap_action)
        if self.server.verbose:
            self.log_message("%s %s", operation, behaviour.kind if behaviour else "normal")
        if behaviour is not None and behaviour.kind in brimstack_behaviour.REPLY_KINDS:
            self.misbehave(behaviour)
            return
        shape, delivery = {}, DEFAULT_DELIVERY
        if behaviour is not None:
            time.sleep(behaviour.delay)
            shape, delivery = behaviour.shape, behaviour.delivery
        value, fault = answer(operation, params, directory)
        if fault is not None:
            self.reply(500, fault, delivery=delivery)
        else:
            self.reply(200, brimstack_soap.render_response(operation, namespace, value, shape),
                       delivery=delivery)

    def misbehave(self, behaviour):
        p = behaviour.params
        if behaviour.kind == "close":
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
        elif behaviour.kind == "fault":
            self.reply(int(p.get("status", 500)), brimstack_soap.render_fault(
                p.get("faultcode", "SOAP-ENV:Server"), p.get("faultstring", "injected fault"),
                p.get("detail")), delivery=behaviour.delivery)
        else:
            self.reply(int(p.get("status", 200)), p.get("body", "").encode("utf-8"),
                       p.get("content_type", "text/xml; charset=utf-8"), behaviour.delivery)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, state, tls_context, verbose):
        self.state = state
        self.verbose = verbose
        self.tls_context = tls_context
        super().__init__(address, Handler)

    def get_request(self):
        sock, addr = super().get_request()
        if self.tls_context is not None:
            # The handshake runs in the handler's thread (Handler.setup).
            sock = self.tls_context.wrap_socket(sock, server_side=True,
                                                do_handshake_on_connect=False)
        return sock, addr

    def handle_error(self, request, client_address):
        # Clients that hang up early (time-out tests) are expected.
        if self.verbose:
            super().handle_error(request, client_address)


def make_tls_context(workdir, cert=None, key=None):
    if cert is None:
        key, cert = os.path.join(workdir, "key.pem"), os.path.join(workdir, "cert.pem")
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
             "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", cert, "-days", "2",
             "-subj", "/CN=localhost", "-addext",
             "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1"],
            check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


def write_port_file(path, port):
    tmp = "%s.tmp.%d" % (path, os.getpid())
    with open(tmp, "w") as f:
        f.write("%d\n" % port)
    os.replace(tmp, path)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--config", required=True, help="configuration JSON file")
    parser.add_argument("--port-file", required=True, help="file that receives the port")
    parser.add_argument("--tls", action="store_true", help="serve HTTPS")
    parser.add_argument("--cert", help="PEM certificate (chain) to serve HTTPS with")
    parser.add_argument("--key", help="PEM private key of --cert")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--verbose", action="store_true", help="log every request")
    parser.add_argument("--behaviour", action="append", default=[],
                        help="behaviour JSON as for /control/behaviour; repeatable")
    args = parser.parse_args(argv)

    with open(args.config) as f:
        state = ServiceState(Directory(json.load(f)))
    for behaviour in args.behaviour:
        state.set_behaviours(brimstack_behaviour.parse(json.loads(behaviour)))
    workdir = tempfile.mkdtemp(prefix="brimstack-")
    try:
        tls_context = make_tls_context(workdir, args.cert, args.key) if args.tls else None
        if ":" in args.host:
            Server.address_family = socket.AF_INET6
        server = Server((args.host, args.port), state, tls_context, args.verbose)

        def stop(signum, frame):
            threading.Thread(target=server.shutdown, daemon=True).start()

        signal.signal(signal.SIGTERM, stop)
        signal.signal(signal.SIGINT, stop)
        write_port_file(args.port_file, server.server_address[1])
        server.serve_forever()
        server.server_close()
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

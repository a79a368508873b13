"""privbind started the way a web server starts it: the socket on descriptor
0, an argument vector whose entry 0 is the address, the outcome read from the
exit status and standard error."""

import errno
import os
import random
import socket
import struct
import subprocess
import sys

import pytest

PRIVBIND = os.environ.get("PRIVBIND")
if not PRIVBIND:
    pytest.skip("PRIVBIND (path of the built program) is not set", allow_module_level=True)

IS_ROOT = os.geteuid() == 0
needs_root = pytest.mark.skipif(not IS_ROOT, reason="binding ports below 1024 needs root")

ARGS_MESSAGE = "Requires address and port arguments\n"
PORT_MESSAGE = "Invalid port argument\n"
RANGE_MESSAGE = "Only ports 80, 443 and greater than 1024 supported\n"
ADDRESS_MESSAGE = "Invalid address argument\n"


def port_field(port):
    """The port as the program expects it: network byte order read as a host
    16-bit integer, in hex."""
    (raw,) = struct.unpack("=H", struct.pack("!H", port))
    return format(raw, "04x")


def loopback4():
    """A loopback address in a corner of 127/8 that nothing else here uses,
    different per call so that rows never collide with each other."""
    return "127.77.%d.%d" % (random.randint(0, 255), random.randint(1, 254))


def free_port(family, address):
    with socket.socket(family, socket.SOCK_STREAM) as probe:
        probe.bind((address, 0))
        return probe.getsockname()[1]


def port_is_free(family, address, port):
    with socket.socket(family, socket.SOCK_STREAM) as probe:
        try:
            probe.bind((address, port))
        except OSError:
            return False
    return True


def run(argv, stdin):
    """Runs privbind with argv as its whole vector (entry 0 included)."""
    proc = subprocess.run(argv, executable=PRIVBIND, stdin=stdin,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=10)
    return proc.returncode, proc.stderr.decode()


def bound(sock):
    return sock.getsockname()[:2]


# (family, address or None for a fresh 127.77 address, port, needs root)
BINDS = [
    pytest.param(socket.AF_INET, None, 80, id="ipv4-port-80", marks=needs_root),
    pytest.param(socket.AF_INET, None, 443, id="ipv4-port-443", marks=needs_root),
    pytest.param(socket.AF_INET6, "::1", 443, id="ipv6-port-443", marks=needs_root),
    pytest.param(socket.AF_INET6, "::1", 80, id="ipv6-port-80", marks=needs_root),
    pytest.param(socket.AF_INET, None, 1024, id="ipv4-boundary-1024", marks=needs_root),
    pytest.param(socket.AF_INET, None, 0xFFFF, id="ipv4-highest-port"),
    pytest.param(socket.AF_INET6, "::ffff:127.77.0.9", 40123, id="ipv4-mapped-stays-ipv6"),
]


@pytest.mark.parametrize("family,address,port", BINDS)
def test_binds_descriptor_0(family, address, port):
    address = address or loopback4()
    if not port_is_free(family, address, port):
        pytest.skip("%s port %d is in use on this machine" % (address, port))
    with socket.socket(family, socket.SOCK_STREAM) as sock:
        status, err = run([address, port_field(port)], sock)
        assert (status, err) == (0, "")
        assert bound(sock) == (address, port)


# Texts that strtoul with base 16 takes as the port field of 8080.
@pytest.mark.parametrize("text", ["901f", "0x901f", "0X901F", " 901f", "\t+901f", "0000901f"],
                         ids=repr)
def test_port_text_forms_accepted(text):
    if sys.byteorder != "little":
        pytest.skip("the texts are written for a little-endian machine")
    address = loopback4()
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as sock:
        assert run([address, text], sock) == (0, "")
        assert bound(sock) == (address, 8080)


# Refused before any bind: exit 22, one message, socket left unbound.
REFUSALS = [
    ("no-entries", [], ARGS_MESSAGE),
    ("one-entry", ["127.0.0.1"], ARGS_MESSAGE),
    ("three-entries", ["privbind", "127.0.0.1", port_field(8080)], ARGS_MESSAGE),
    ("trailing-character", ["127.0.0.1", "5000x"], PORT_MESSAGE),
    ("trailing-space", ["127.0.0.1", "5000 "], PORT_MESSAGE),
    ("not-hex", ["127.0.0.1", "port"], PORT_MESSAGE),
    ("above-16-bits", ["127.0.0.1", "10050"], PORT_MESSAGE),
    ("far-above-16-bits", ["127.0.0.1", "ffffffffffffffffffff"], PORT_MESSAGE),
    ("negative", ["127.0.0.1", "-1"], PORT_MESSAGE),
    ("port-1023", ["127.0.0.1", port_field(1023)], RANGE_MESSAGE),
    ("port-81", ["127.0.0.1", port_field(81)], RANGE_MESSAGE),
    ("port-0", ["127.0.0.1", "0000"], RANGE_MESSAGE),
    ("empty-port", ["127.0.0.1", ""], RANGE_MESSAGE),
    ("host-name", ["localhost", port_field(8080)], ADDRESS_MESSAGE),
    ("zone-suffix", ["fe80::1%lo", port_field(8080)], ADDRESS_MESSAGE),
    ("empty-address", ["", port_field(8080)], ADDRESS_MESSAGE),
    ("octet-too-large", ["127.0.0.256", port_field(8080)], ADDRESS_MESSAGE),
    ("port-checked-before-address", ["localhost", "5000x"], PORT_MESSAGE),
]


@pytest.mark.parametrize("argv,message", [pytest.param(a, m, id=i) for i, a, m in REFUSALS])
def test_refused_arguments(argv, message):
    with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as sock:
        assert run(argv, sock) == (errno.EINVAL, message)
        assert sock.getsockname()[1] == 0


def test_descriptor_0_not_a_socket():
    with open(os.devnull, "rb") as not_a_socket:
        assert run([loopback4(), port_field(8080)], not_a_socket) == (errno.ENOTSOCK, "")


def test_address_in_use():
    address = loopback4()
    with socket.socket() as holder, socket.socket() as sock:
        holder.bind((address, 0))
        holder.listen()
        port = holder.getsockname()[1]
        assert run([address, port_field(port)], sock) == (errno.EADDRINUSE, "")
        assert sock.getsockname()[1] == 0


def test_ipv6_address_on_ipv4_socket_reports_bind_errno():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as sock:
        assert run(["::1", port_field(8080)], sock) == (errno.EAFNOSUPPORT, "")


@needs_root
def test_privileged_port_without_privilege():
    with open("/proc/sys/net/ipv4/ip_unprivileged_port_start") as f:
        if int(f.read()) <= 80:
            pytest.skip("this machine lets anyone bind port 80")
    address = loopback4()
    with socket.socket() as sock:
        proc = subprocess.run([address, port_field(80)], executable=PRIVBIND, stdin=sock,
                              stderr=subprocess.PIPE, user=65534, group=65534, timeout=10)
        assert (proc.returncode, proc.stderr) == (errno.EACCES, b"")

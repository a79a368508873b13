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

needs_root = pytest.mark.skipif(os.geteuid() != 0, reason="binding ports below 1024 needs root")

ARGS = "Requires address and port arguments\n"
PORT = "Invalid port argument\n"
RANGE = "Only ports 80, 443 and greater than 1024 supported\n"
ADDRESS = "Invalid address argument\n"


def port_field(port):
    """The port in network byte order read as a host 16-bit integer, in hex."""
    return format(struct.unpack("=H", struct.pack("!H", port))[0], "04x")


def loopback4():
    """A fresh address in a corner of 127/8 that nothing else uses."""
    return "127.77.%d.%d" % (random.randint(0, 255), random.randint(1, 254))


def run(argv, stdin, **options):
    """Runs privbind with argv as its whole vector (entry 0 included)."""
    proc = subprocess.run(argv, executable=PRIVBIND, stdin=stdin, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, timeout=10, **options)
    return proc.returncode, proc.stderr.decode()


@pytest.mark.parametrize("family,address,port", [
    pytest.param(socket.AF_INET, None, 80, id="ipv4-80", marks=needs_root),
    pytest.param(socket.AF_INET, None, 443, id="ipv4-443", marks=needs_root),
    pytest.param(socket.AF_INET6, "::1", 443, id="ipv6-443", marks=needs_root),
    pytest.param(socket.AF_INET6, "::1", 80, id="ipv6-80", marks=needs_root),
    pytest.param(socket.AF_INET, None, 1024, id="boundary-1024"),
    pytest.param(socket.AF_INET, None, 0xFFFF, id="highest-port"),
    pytest.param(socket.AF_INET6, "::ffff:127.77.0.9", 40123, id="ipv4-mapped-stays-ipv6"),
])
def test_binds_descriptor_0(family, address, port):
    address = address or loopback4()
    with socket.socket(family) as probe:
        try:
            probe.bind((address, port))
        except OSError as error:
            pytest.skip("%s port %d cannot be bound here: %s" % (address, port, error))
    with socket.socket(family) as sock:
        assert run([address, port_field(port)], sock) == (0, "")
        assert sock.getsockname()[:2] == (address, port)


# What strtoul with base 16 accepts, for port 8080.
@pytest.mark.skipif(sys.byteorder != "little", reason="texts written for little-endian")
@pytest.mark.parametrize("text", ["901f", "0x901f", "0X901F", " 901f", "\t+901f", "0000901f"])
def test_port_text_forms_accepted(text):
    address = loopback4()
    with socket.socket() as sock:
        assert run([address, text], sock) == (0, "")
        assert sock.getsockname() == (address, 8080)


@pytest.mark.parametrize("argv,message", [
    pytest.param([], ARGS, id="no-entries"),
    pytest.param(["127.0.0.1"], ARGS, id="one-entry"),
    pytest.param(["privbind", "127.0.0.1", port_field(8080)], ARGS, id="three-entries"),
    pytest.param(["127.0.0.1", "5000x"], PORT, id="trailing-character"),
    pytest.param(["127.0.0.1", "5000 "], PORT, id="trailing-space"),
    pytest.param(["127.0.0.1", "10050"], PORT, id="above-16-bits"),
    pytest.param(["127.0.0.1", "f" * 20], PORT, id="beyond-unsigned-long"),
    pytest.param(["127.0.0.1", "-1"], PORT, id="negative"),
    pytest.param(["127.0.0.1", port_field(1023)], RANGE, id="port-1023"),
    pytest.param(["127.0.0.1", "0000"], RANGE, id="port-0"),
    pytest.param(["127.0.0.1", ""], RANGE, id="empty-port"),
    pytest.param(["localhost", port_field(8080)], ADDRESS, id="host-name"),
    pytest.param(["fe80::1%lo", port_field(8080)], ADDRESS, id="zone-suffix"),
    pytest.param(["127.0.0.256", port_field(8080)], ADDRESS, id="octet-too-large"),
    pytest.param(["localhost", "5000x"], PORT, id="port-checked-first"),
])
def test_refused_arguments(argv, message):
    with socket.socket(socket.AF_INET6) as sock:
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
        assert run([address, port_field(holder.getsockname()[1])], sock) == (errno.EADDRINUSE, "")


@needs_root
def test_privileged_port_without_the_right():
    with open("/proc/sys/net/ipv4/ip_unprivileged_port_start") as f:
        if int(f.read()) <= 80:
            pytest.skip("this machine lets anyone bind port 80")
    with socket.socket() as sock:
        assert run([loopback4(), port_field(80)], sock, user=65534) == (errno.EACCES, "")


def test_needs_libc_only():
    dynamic = subprocess.run(["readelf", "--dynamic", PRIVBIND], check=True,
                             capture_output=True, text=True).stdout
    needed = [line.split("[")[1].rstrip("]") for line in dynamic.splitlines() if "(NEEDED)" in line]
    assert needed == ["libc.so.6"]

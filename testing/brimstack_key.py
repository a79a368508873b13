"""Request keys of the ScmListener service: making and verifying them.

A key is the standard Base64 form (40 characters) of a 28-byte token:

    R (4 bytes, little-endian)  a random value
    S (4 bytes, little-endian)  the time of making, XOR the timestamp salt
    D (20 bytes)                SHA-1 of secret | R | S | secret | KEY_SALT

The timestamp salt is the first four bytes (little-endian) of the SHA-1
digest of the built-in default secret. Only a holder of the shared secret
can produce a D that matches R and S.
"""

import base64
import binascii
import hashlib
import random
import struct
import time

DEFAULT_SECRET = "rjvoqmeh!T Z%lkwupa"
KEY_SALT = b"tovrelimqasund"
TOKEN_SIZE = 28


def timestamp_salt():
    digest = hashlib.sha1(DEFAULT_SECRET.encode()).digest()
    return struct.unpack("<I", digest[:4])[0]


def _digest(secret, r, s):
    raw = secret.encode()
    return hashlib.sha1(raw + struct.pack("<II", r, s) + raw + KEY_SALT).digest()


def make_request_key(secret=DEFAULT_SECRET, when=None, r=None):
    """The key a client holding `secret` makes at time `when` (default now)."""
    if when is None:
        when = time.time()
    if r is None:
        r = random.randrange(0, 2**31)
    s = timestamp_salt() ^ (int(when) & 0xFFFFFFFF)
    token = struct.pack("<II", r, s) + _digest(secret, r, s)
    return base64.b64encode(token).decode("ascii")


class BadRequestKey(Exception):
    """A request key that does not verify; the text says why."""


def verify_request_key(key, secret, now=None, max_age=None, max_skew=300):
    """Check `key` against `secret`; return the time it was made (seconds).

    The module makes one key per client connection and keeps it for the
    connection's life, so a key is not expired by default (`max_age` None).
    A key made more than `max_skew` seconds in the future is refused.
    Raises BadRequestKey when the key does not verify.
    """
    if key is None:
        raise BadRequestKey("missing requestKey")
    try:
        token = base64.b64decode(key.strip(), validate=True)
    except (binascii.Error, ValueError):
        raise BadRequestKey("requestKey is not Base64") from None
    if len(token) != TOKEN_SIZE:
        raise BadRequestKey("requestKey has %d bytes, not %d" % (len(token), TOKEN_SIZE))
    r, s = struct.unpack("<II", token[:8])
    if _digest(secret, r, s) != token[8:]:
        raise BadRequestKey("requestKey digest does not match the shared secret")
    made = s ^ timestamp_salt()
    if now is None:
        now = time.time()
    # The client's clock is 32-bit; compare within the current 2**32 window.
    age = (int(now) - made) & 0xFFFFFFFF
    if age >= 2**31:
        age -= 2**32
    if age < -max_skew:
        raise BadRequestKey("requestKey made in the future")
    if max_age is not None and age > max_age:
        raise BadRequestKey("requestKey expired")
    return made

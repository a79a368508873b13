"""How the stand-in writes a reply onto the connection.

A behaviour's `delivery` param picks one of these (any kind takes it; the
kind `deliver` changes nothing else):

    apart    the HTTP head in one write, the body in a second (the default)
    whole    head and body in one write
    pieces   head and body cut into writes of `piece` bytes (1000), the cuts
             falling wherever they fall, also inside the head
    chunked  Transfer-Encoding: chunked in chunks of `piece` bytes, the head
             and the first chunk in one write, then a write per chunk
    http10   an HTTP/1.0 reply without Content-Length in one write; closing
             the connection ends the body
"""

from http.server import BaseHTTPRequestHandler

DELIVERIES = ("apart", "whole", "pieces", "chunked", "http10")


class Delivery:
    def __init__(self, name="apart", piece=1000):
        if name not in DELIVERIES:
            raise ValueError("unknown delivery %r" % name)
        if not isinstance(piece, int) or piece < 1:
            raise ValueError("piece is a positive integer")
        self.name = name
        self.piece = piece

    @property
    def closes(self):
        """Whether the connection must close to end the reply."""
        return self.name == "http10"

    def writes(self, status, headers, body, close):
        """The bytes of the reply, one item per write."""
        version = "HTTP/1.0" if self.name == "http10" else "HTTP/1.1"
        headers = list(headers)
        if self.name == "chunked":
            headers.append(("Transfer-Encoding", "chunked"))
        elif self.name != "http10":
            headers.append(("Content-Length", str(len(body))))
        if close and self.name != "http10":
            headers.append(("Connection", "close"))
        reason = BaseHTTPRequestHandler.responses.get(status, ("",))[0]
        head = "%s %d %s\r\n%s\r\n" % (
            version, status, reason, "".join("%s: %s\r\n" % h for h in headers))
        head = head.encode("latin-1")
        if self.name == "apart":
            return [head, body] if body else [head]
        if self.name in ("whole", "http10"):
            return [head + body]
        if self.name == "pieces":
            whole = head + body
            return [whole[i:i + self.piece] for i in range(0, len(whole), self.piece)]
        chunks = [b"%x\r\n%s\r\n" % (len(body[i:i + self.piece]), body[i:i + self.piece])
                  for i in range(0, len(body), self.piece)] + [b"0\r\n\r\n"]
        return [head + chunks[0]] + chunks[1:]

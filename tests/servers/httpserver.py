#!/usr/bin/python3
"""Local HTTP server for the download tests.

Prints "PORT <n>" on its first stdout line once it listens, then serves until terminated.
Every path below is a behaviour the client must cope with; the query string tunes it:

  /page?size=N&id=K          200 with N bytes of text that depends on K
  /text?body=B               200 with the body B
  /status?code=C&body=B      status C with the body B (and Location for 3xx when &to= is given)
  /redirect?code=C&to=U      status C (302 by default) with "Location: U"
  /delay-headers?ms=N        waits N ms before answering
  /delay-body?ms=N&size=S    sends the headers, waits N ms, then the body
  /trickle?count=N&ms=M&chunk=C  sends N pieces of C body bytes (1 by default), one every M ms
  /unsized?size=N            200 with N bytes and no Content-Length: the body ends as the
                             connection closes
  /hang                      reads the request and never answers
  /flaky?key=K&fails=N       the first N requests with key K never answer, the later ones get a page
  /close                     reads the request and closes the connection without answering
  /setcookie?name=V          200 with "Set-Cookie: name=V; Path=/"
  /cookies                   200 with the request's Cookie header as the body
  /basic?user=U&pass=P       Basic challenge until the request carries U and P
  /digest?user=U&pass=P      Digest (MD5, qop=auth) challenge until the request carries U and P
  /gzip?body=B               B gzip-compressed with "Content-Encoding: gzip" when the request
                             accepts gzip, B as it is otherwise
  /files/P                   the file P below the folder given with --root, byte for byte; 404
                             when there is none

Control paths, neither logged nor counted:
  /_log     every logged request: "#<n> conn=<c> <method> <path> <version>", its header lines,
            "body=<hex>" and an empty line
  /_reset   forgets the log
"""
import base64
import binascii
import gzip
import hashlib
import os
import socket
import sys
import threading
import time
import urllib.parse
import urllib.request
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

REALM = "tavrin-test"


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.entries = []
        self.connections = 0
        self.nonces = set()
        self.attempts = {}

    def new_connection(self):
        with self.lock:
            self.connections += 1
            return self.connections

    def log(self, conn_id, text):
        with self.lock:
            self.entries.append("#%d conn=%d %s" % (len(self.entries) + 1, conn_id, text))

    def dump(self):
        with self.lock:
            return "".join(self.entries)

    def reset(self):
        with self.lock:
            self.entries = []


STATE = State()


def page_bytes(size, ident):
    unit = ("page %s of the Tavrin test server\n" % ident).encode()
    reps = size // len(unit) + 1
    return (unit * reps)[:size]


def parse_digest(value):
    fields = {}
    for part in urllib.request.parse_http_list(value):
        if "=" in part:
            k, v = part.split("=", 1)
            fields[k.strip().lower()] = v.strip().strip('"')
    return fields


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TavrinTest/1.0"

    def log_message(self, fmt, *args):
        pass

    def setup(self):
        super().setup()
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.conn_id = None

    # Every method goes through one dispatcher.
    def do_GET(self):
        self.dispatch()

    do_POST = do_GET
    do_HEAD = do_GET
    do_PUT = do_GET

    def read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def send_whole(self, code, body=b"", headers=()):
        """Status, headers and body in one write, so no segment waits on another's ack."""
        lines = ["%s %d %s" % (self.protocol_version, code, self.responses.get(code, ("X",))[0])]
        lines.append("Server: " + self.server_version)
        lines.append("Content-Length: %d" % len(body))
        for name, value in headers:
            lines.append("%s: %s" % (name, value))
        if self.close_connection:
            lines.append("Connection: close")
        head = ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")
        self.wfile.write(head + (b"" if self.command == "HEAD" else body))
        self.wfile.flush()

    def dispatch(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        body = self.read_body()
        route = url.path
        if route == "/_log":
            return self.send_whole(200, STATE.dump().encode("latin-1"), [("Content-Type", "text/plain")])
        if route == "/_reset":
            STATE.reset()
            return self.send_whole(200, b"reset")
        if self.conn_id is None:
            self.conn_id = STATE.new_connection()
        entry = "%s %s %s\n" % (self.command, self.path, self.request_version)
        for name, value in self.headers.items():
            entry += "%s: %s\n" % (name, value)
        entry += "body=%s\n\n" % binascii.hexlify(body).decode()
        STATE.log(self.conn_id, entry)
        if route.startswith("/files/"):
            return self.serve_file(urllib.parse.unquote(route[len("/files/"):]))
        handler = getattr(self, "route_" + route.strip("/").replace("-", "_"), None)
        if handler is None:
            return self.send_whole(404, b"no such test page: " + route.encode())
        handler(query)

    # ---- behaviours ----

    def serve_file(self, relative):
        root = self.server.root
        path = os.path.realpath(os.path.join(root or "/nonexistent", relative))
        if not root or not path.startswith(os.path.realpath(root) + os.sep) or not os.path.isfile(path):
            return self.send_whole(404, b"no such file: " + relative.encode())
        with open(path, "rb") as f:
            self.send_whole(200, f.read(), [("Content-Type", "text/plain")])

    def route_page(self, q):
        self.send_whole(200, page_bytes(int(q.get("size", "100")), q.get("id", "0")),
                        [("Content-Type", "text/html")])

    def route_text(self, q):
        self.send_whole(200, q.get("body", "").encode("latin-1"), [("Content-Type", "text/html")])

    def route_status(self, q):
        code = int(q.get("code", "404"))
        headers = [("Location", q["to"])] if "to" in q else []
        self.send_whole(code, q.get("body", "").encode("latin-1"), headers)

    def route_redirect(self, q):
        code = int(q.get("code", "302"))
        self.send_whole(code, b"moved", [("Location", q.get("to", "/"))])

    def route_delay_headers(self, q):
        time.sleep(int(q.get("ms", "1000")) / 1000.0)
        self.send_whole(200, b"late headers")

    def route_delay_body(self, q):
        size = int(q.get("size", "10"))
        self.wfile.write(("HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % size).encode())
        self.wfile.flush()
        time.sleep(int(q.get("ms", "1000")) / 1000.0)
        self.wfile.write(page_bytes(size, "late"))
        self.wfile.flush()

    def route_trickle(self, q):
        count = int(q.get("count", "10"))
        chunk = int(q.get("chunk", "1"))
        gap = int(q.get("ms", "100")) / 1000.0
        self.wfile.write(("HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % (count * chunk)).encode())
        self.wfile.flush()
        for _ in range(count):
            time.sleep(gap)
            self.wfile.write(b"t" * chunk)
            self.wfile.flush()

    def route_unsized(self, q):
        self.close_connection = True
        self.wfile.write(b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")
        self.wfile.write(page_bytes(int(q.get("size", "100")), "unsized"))
        self.wfile.flush()

    def route_hang(self, q):
        while True:
            time.sleep(3600)

    def route_flaky(self, q):
        with STATE.lock:
            seen = STATE.attempts.get(q.get("key", ""), 0)
            STATE.attempts[q.get("key", "")] = seen + 1
        if seen < int(q.get("fails", "1")):
            return self.route_hang(q)
        self.send_whole(200, b"flaky page after %d failures" % seen)

    def route_close(self, q):
        self.close_connection = True

    def route_setcookie(self, q):
        headers = [("Set-Cookie", "%s=%s; Path=/" % (k, v)) for k, v in q.items()]
        self.send_whole(200, b"cookie set", headers)

    def route_cookies(self, q):
        self.send_whole(200, (self.headers.get("Cookie") or "").encode("latin-1"))

    def route_basic(self, q):
        expected = "Basic " + base64.b64encode(("%s:%s" % (q.get("user", ""), q.get("pass", ""))).encode()).decode()
        if self.headers.get("Authorization") == expected:
            return self.send_whole(200, b"welcome " + q.get("user", "").encode())
        self.send_whole(401, b"basic credentials needed",
                        [("WWW-Authenticate", 'Basic realm="%s"' % REALM)])

    def route_digest(self, q):
        auth = self.headers.get("Authorization") or ""
        if auth.startswith("Digest ") and self.digest_ok(parse_digest(auth[7:]), q):
            return self.send_whole(200, b"welcome " + q.get("user", "").encode())
        nonce = binascii.hexlify(os.urandom(12)).decode()
        with STATE.lock:
            STATE.nonces.add(nonce)
        challenge = 'Digest realm="%s", qop="auth", nonce="%s", opaque="0a1b", algorithm=MD5' % (REALM, nonce)
        self.send_whole(401, b"digest credentials needed", [("WWW-Authenticate", challenge)])

    def digest_ok(self, f, q):
        with STATE.lock:
            if f.get("nonce") not in STATE.nonces:
                return False
        if f.get("username") != q.get("user", "") or f.get("uri") != self.path:
            return False
        ha1 = md5("%s:%s:%s" % (q.get("user", ""), REALM, q.get("pass", "")))
        ha2 = md5("%s:%s" % (self.command, f.get("uri")))
        expected = md5(":".join([ha1, f.get("nonce", ""), f.get("nc", ""), f.get("cnonce", ""),
                                 f.get("qop", ""), ha2]))
        return f.get("response") == expected

    def route_gzip(self, q):
        text = q.get("body", "compressed text").encode("latin-1")
        if "gzip" in (self.headers.get("Accept-Encoding") or ""):
            return self.send_whole(200, gzip.compress(text, mtime=0), [("Content-Encoding", "gzip")])
        self.send_whole(200, text)


def main():
    port = 0
    args = sys.argv[1:]
    if "--port" in args:
        port = int(args[args.index("--port") + 1])
    server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.root = args[args.index("--root") + 1] if "--root" in args else None
    server.daemon_threads = True
    server.handle_error = lambda request, address: None  # clients that gave up are expected
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.05)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()

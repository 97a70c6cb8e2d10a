#!/usr/bin/python3
"""Forward HTTP proxy for the download tests, asking for Basic credentials with 407.

  proxyserver.py --user U --pass P

Prints "PORT <n>" once it listens. Requests without the right Proxy-Authorization get 407 with
"Proxy-Authenticate: Basic"; the others are forwarded to the origin named in the request line and
its answer is relayed. "/_log" (asked of the proxy itself, not through it) gives the requests seen,
in the format of httpserver.py.
"""
import base64
import binascii
import http.client
import socket
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

LOCK = threading.Lock()
ENTRIES = []
CONNECTIONS = [0]
CREDENTIALS = {"user": "", "pass": ""}
HOP_BY_HOP = {"connection", "keep-alive", "proxy-authorization", "proxy-connection", "te",
              "trailer", "transfer-encoding", "upgrade"}


class Proxy(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def setup(self):
        super().setup()
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.conn_id = None

    def reply(self, code, body, headers=()):
        lines = ["HTTP/1.1 %d %s" % (code, self.responses.get(code, ("X",))[0]),
                 "Content-Length: %d" % len(body)] + ["%s: %s" % h for h in headers]
        self.wfile.write(("\r\n".join(lines) + "\r\n\r\n").encode("latin-1") + body)
        self.wfile.flush()

    def do_GET(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        if self.path == "/_log":
            with LOCK:
                return self.reply(200, "".join(ENTRIES).encode("latin-1"))
        with LOCK:
            if self.conn_id is None:
                CONNECTIONS[0] += 1
                self.conn_id = CONNECTIONS[0]
            entry = "#%d conn=%d %s %s %s\n" % (len(ENTRIES) + 1, self.conn_id, self.command, self.path,
                                                self.request_version)
            for name, value in self.headers.items():
                entry += "%s: %s\n" % (name, value)
            ENTRIES.append(entry + "body=%s\n\n" % binascii.hexlify(body).decode())
        expected = "Basic " + base64.b64encode(("%s:%s" % (CREDENTIALS["user"], CREDENTIALS["pass"])).encode()).decode()
        if self.headers.get("Proxy-Authorization") != expected:
            return self.reply(407, b"proxy credentials needed",
                              [("Proxy-Authenticate", 'Basic realm="tavrin-proxy"')])
        target = urllib.parse.urlsplit(self.path)
        headers = {k: v for k, v in self.headers.items() if k.lower() not in HOP_BY_HOP}
        origin = http.client.HTTPConnection(target.hostname, target.port or 80, timeout=30)
        path = target.path + ("?" + target.query if target.query else "")
        origin.request(self.command, path or "/", body=body if body else None, headers=headers)
        answer = origin.getresponse()
        content = answer.read()
        relayed = [(k, v) for k, v in answer.getheaders()
                   if k.lower() not in HOP_BY_HOP and k.lower() != "content-length"]
        origin.close()
        self.reply(answer.status, content, relayed)

    do_POST = do_GET


def main():
    args = sys.argv[1:]
    for key in ("user", "pass"):
        if "--" + key in args:
            CREDENTIALS[key] = args[args.index("--" + key) + 1]
    server = ThreadingHTTPServer(("127.0.0.1", 0), Proxy)
    server.daemon_threads = True
    server.handle_error = lambda request, address: None
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.05)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Local servers for framework_http_tests (python3 standard library only).

All of them listen on 127.0.0.1 on free ports, which are written as shell
assignments to the --ports file once every server is listening:

  VT_HTTP_PORT        plain HTTP (http.server) with the test routes below
  VT_HTTPS_PORT       the same routes over TLS (ssl, the given certificate)
  (each --tls-port NAME=CERT) the same again over TLS with that certificate
                      and the same key
  VT_PROXY_PORT       an HTTP proxy: absolute-URL GETs and CONNECT tunnels
  VT_AUTH_PROXY_PORT  the same proxy, requiring Proxy-Authorization puser:ppass
                      (or the long proxy credentials below)
  VT_FORGING_PROXY_PORT  the same proxy playing a party in the middle: its
                      answer to a CONNECT carries a made-up HTTP reply
                      (FORGED_REPLY) in the same segment, then it relays
  VT_HTTP_OTHER_PORT  a second plain HTTP server with the same routes (another
                      port for redirects)
  VT_SINK_PORT        accepts and stays silent (a TLS handshake that never ends)
  VT_CLOSED_PORT      a port nobody listens on

The HTTP servers also answer "GET /files/<name>" with the file of that name
in the --files folder (the test program writes it there through Wine's Z:
drive), dated LAST_MODIFIED and honouring If-Modified-Since as /file does,
and "GET /lasthead" with the head of the last other request they received
(not counting /count and /reset either). Over TLS, "GET /sni" answers the
server name the client sent in the handshake of that connection ("" none).

Used as a proxy by the program, the HTTP servers stand in for other hosts:
an absolute-URL GET for any host but our own is answered from answers.json
in the --files folder, {"url part": [status, "body"], ...}, the longest part
found in the URL winning (none: 404). Such URLs are listed by
"GET /requests", one a line, until /reset. With "hold": true in that file,
the n-th of them is answered only after the n-th "GET /release" (or after
MAX_WAIT), so that a test can look at the program while a request runs.
The program takes https through a proxy's CONNECT tunnel: a CONNECT to
port 443 of one of STAND_IN_TLS_HOSTS is answered with 200 and TLS with the
--standin-cert certificate (the test CA's, for those names), and the one
request inside is answered as above.

The proxies know the host "veltaspar.invalid": port 80 is the HTTP server,
443 the HTTPS server; a plain GET to its port VT_HTTPS_PORT reaches the
HTTP server (so that a test can change a URL's scheme alone); "www.veltaspar.net" port 80 is the HTTP server as well
(the program's connection test asks for it), never the real host; 127.0.0.1,
"localhost" and "veltaspar.invalid" reach any of our own ports by number
(the names of the TLS servers' certificates, with no resolver asked: a
minimal system may know no "localhost"); anything else gets 502. "GET /log" sent to a proxy directly answers the last request head
it received (not counting /log itself); the proxies never forward to
themselves.

Everything stops by itself after --lifetime seconds, or when the parent that
started it is gone, or on SIGTERM.
"""
import argparse
import base64
import email.utils
import http.server
import json
import os
import selectors
import signal
import socket
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

LAST_MODIFIED = "Sat, 01 Feb 2025 10:00:00 GMT"
NEWER_MODIFIED = "Mon, 03 Feb 2025 10:00:00 GMT"   # of /cut
USER, PASSWORD = "veltaspar", "secret"
PROXY_USER, PROXY_PASSWORD = "puser", "ppass"
# Credentials whose Base64 is longer than one 76-character line.
LONG_USER = "veltaspar.cloud.subscriber.account@a.test"      # 41 characters
LONG_PASSWORD = "tk_0123456789abcdefghijklmnopqrstu"           # 34 characters
LONG_PROXY_USER = "corporate-proxy-user-with-a-long-name"
LONG_PROXY_PASSWORD = "and-a-long-proxy-password-as-well"
MAX_WAIT = 10.0           # no route sleeps longer than this, in seconds
FORGED_REPLY = b"HTTP/1.0 200 OK\r\nContent-Length: 8\r\n\r\nFORGED!!"

counters = {}
counters_lock = threading.Lock()
version = {"text": "", "code": 200, "ms": 0.0}   # what /version answers
ports = {}
files_folder = None
last_head = [b""]
stand_in_urls = []
# The hosts the HTTP server answers as itself when a proxy hands it their
# absolute URLs; any other host's URL goes to the stand-in table.
OWN_HOSTS = ("127.0.0.1", "veltaspar.invalid", "www.veltaspar.net")
released = [0]
# The https hosts the stand-in answers for inside a CONNECT tunnel (the
# names of run_http_test.sh's stand-in certificate).
STAND_IN_TLS_HOSTS = ("aviationweather.gov", "weather.veltaspar.net")
standin_context = [None]
released_changed = threading.Condition(counters_lock)


def count(name):
    with counters_lock:
        counters[name] = counters.get(name, 0) + 1


def pattern(size):
    """The bytes of /file and the other bodies: i * 31 + i // 256, low byte."""
    return bytes((i * 31 + i // 256) & 255 for i in range(size))


def basic(user, password):
    return "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()


class RecordingReader:
    """Wraps the handler's rfile and keeps every line read (the raw head)."""

    def __init__(self, raw):
        self.raw = raw
        self.data = bytearray()

    def readline(self, *args):
        line = self.raw.readline(*args)
        self.data += line
        return line

    def read(self, *args):
        return self.raw.read(*args)

    def __getattr__(self, name):
        return getattr(self.raw, name)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    timeout = 30
    server_version = "VeltasparTest/1.0"

    def setup(self):
        self.sni = ""
        if isinstance(self.request, ssl.SSLSocket):
            self.request.settimeout(15)
            try:
                self.request.do_handshake()
            except (OSError, ssl.SSLError):
                pass
            self.sni = getattr(self.request, "sni_name", "")
        super().setup()
        self.rfile = RecordingReader(self.rfile)

    def log_message(self, *args):
        pass

    # ------------------------------------------------------------ helpers

    def reply(self, code, body=b"", headers=(), length=True):
        self.send_response(code)
        for name, value in headers:
            self.send_header(name, value)
        if length:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if body:
            self.wfile.write(body)

    def raw(self, data):
        try:
            self.wfile.write(data)
            self.wfile.flush()
        except OSError:
            pass

    def own_url(self):
        if "://" in self.path:
            return self.path
        scheme = "https" if isinstance(self.request, ssl.SSLSocket) else "http"
        return f"{scheme}://{self.headers.get('Host', '')}{self.path}"

    def not_modified(self):
        """True when If-Modified-Since is at or after LAST_MODIFIED."""
        since = self.headers.get("If-Modified-Since")
        if since is None:
            return False
        try:
            return email.utils.parsedate_to_datetime(since) >= \
                email.utils.parsedate_to_datetime(LAST_MODIFIED)
        except (TypeError, ValueError, IndexError):
            return False   # an empty or bad date: unconditional

    def stand_in(self):
        """Answers an absolute URL of another host from answers.json."""
        try:
            with open(os.path.join(files_folder or "", "answers.json")) as source:
                table = json.load(source)
        except (OSError, ValueError):
            table = {}
        with counters_lock:
            stand_in_urls.append(self.path)
            number = len(stand_in_urls)
            if table.get("hold"):
                released_changed.wait_for(lambda: released[0] >= number, MAX_WAIT)
        best = None
        for part, answer in table.items():
            if part != "hold" and part in self.path and (best is None or len(part) > len(best)):
                best = part
        if best is None:
            self.reply(404, b"no answer")
            return
        code, body = table[best]
        self.reply(int(code), body.encode())

    # ------------------------------------------------------------ routes

    def do_CONNECT(self):
        """A tunnel to a stand-in https host: TLS here, then one request."""
        host, _, port = self.path.rpartition(":")
        if standin_context[0] is None or host not in STAND_IN_TLS_HOSTS or port != "443":
            self.reply(502, b"no tunnel")
            return
        self.send_response(200, "Connection established")
        self.end_headers()
        try:
            tls = standin_context[0].wrap_socket(self.connection, server_side=True)
        except (OSError, ssl.SSLError):
            return
        self.connection = tls
        self.rfile = RecordingReader(tls.makefile("rb"))
        self.wfile = socketserver._SocketWriter(tls)
        try:
            self.handle_one_request()
        finally:
            tls.close()

    def do_GET(self):
        target = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(target.query, keep_blank_values=True))
        route = target.path
        count(route)
        if route not in ("/lasthead", "/count", "/reset"):
            with counters_lock:
                last_head[0] = bytes(self.rfile.data)
        size = int(query.get("size", "0") or 0)
        wait = min(float(query.get("ms", "3000")) / 1000.0, MAX_WAIT)

        # The client names the whole URL also to the server itself, which is
        # "localhost" as well (the TLS servers' certificates name it).
        if "://" in self.path and target.hostname not in OWN_HOSTS + ("localhost",):
            self.stand_in()
        elif route == "/requests":
            with counters_lock:
                listed = "".join(url + "\n" for url in stand_in_urls)
            self.reply(200, listed.encode(), [("Content-Type", "text/plain")])
        elif route == "/release":
            with counters_lock:
                released[0] += 1
                released_changed.notify_all()
            self.reply(200, b"released")
        elif route == "/sni":
            self.reply(200, self.sni.encode(), [("Content-Type", "text/plain")])
        elif route == "/lasthead":
            with counters_lock:
                head = last_head[0]
            self.reply(200, head, [("Content-Type", "text/plain")])
        elif route.startswith("/files/"):
            name = os.path.basename(urllib.parse.unquote(route[len("/files/"):]))
            path = os.path.join(files_folder or "", name)
            if not files_folder or not name or not os.path.isfile(path):
                self.reply(404, b"no such file")
                return
            if self.not_modified():
                self.reply(304, length=False)
                return
            with open(path, "rb") as source:
                self.reply(200, source.read(), [("Last-Modified", LAST_MODIFIED)])
        elif route == "/echo":
            self.reply(200, bytes(self.rfile.data), [("Content-Type", "text/plain")])
        elif route == "/file":
            if self.not_modified():
                self.reply(304, length=False)
                return
            self.reply(200, pattern(size), [("Last-Modified", LAST_MODIFIED)])
        elif route == "/onesegment":
            body = b"BODY-AFTER-HEADER"
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body) + body)
        elif route == "/nolength":
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n"
                     + pattern(size))
        elif route == "/short":
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + pattern(500))
        elif route == "/cut":
            # Announces size bytes with a newer date, sends only sent, closes.
            sent = int(query.get("sent", "0"))
            self.raw(b"HTTP/1.0 200 OK\r\nLast-Modified: %s\r\nContent-Length: %d\r\n\r\n"
                     % (NEWER_MODIFIED.encode(), size) + pattern(sent))
        elif route == "/huge":
            # A hostile length; a client that believes it waits for the rest.
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Length: %s\r\n\r\n"
                     % query.get("length", "2000000000").encode() + pattern(100))
            time.sleep(wait)
        elif route == "/slow":
            chunk = int(query.get("chunk", "1000"))
            delay = float(query.get("delay", "20")) / 1000.0
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % size)
            body = pattern(size)
            deadline = time.time() + 60
            for start in range(0, size, chunk):
                try:
                    self.wfile.write(body[start:start + chunk])
                    self.wfile.flush()
                except OSError:
                    return
                if time.time() > deadline:
                    return
                time.sleep(delay)
        elif route == "/silent":
            self.raw(b"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n" + pattern(10))
            time.sleep(wait)
            self.raw(pattern(100)[10:])
        elif route == "/silenthead":
            time.sleep(wait)
            self.reply(200, b"late")
        elif route == "/status":
            self.reply(int(query.get("code", "200")), b"status body")
        elif route == "/redirect":
            to = query.get("to", "")
            if to == "self":
                to = self.own_url()
            headers = [("Location", to)] if to or "empty" in query else []
            self.reply(int(query.get("code", "302")), b"moved", headers)
        elif route == "/loop":
            n = int(query.get("n", "0"))
            self.reply(302, b"", [("Location", f"/loop?n={n + 1}")] if n < 1000 else [])
        elif route == "/setversion":
            # What /version answers from now on: its text, status and delay.
            with counters_lock:
                version["text"] = query.get("text", "")
                version["code"] = int(query.get("code", "200"))
                version["ms"] = float(query.get("ms", "0"))
            self.reply(200, b"set")
        elif route in ("/version", "/"):
            # The update check's version file and the maker's home page (the
            # connection test's address), as /setversion last set them.
            with counters_lock:
                text, code, delay = version["text"], version["code"], version["ms"]
            time.sleep(min(delay / 1000.0, MAX_WAIT))
            self.reply(code, text.encode())
        elif route == "/count":
            with counters_lock:
                value = counters.get(query.get("name", ""), 0)
            self.reply(200, str(value).encode())
        elif route == "/reset":
            with counters_lock:
                counters.clear()
                del stand_in_urls[:]
                released[0] = 0
            self.reply(200, b"reset")
        elif route == "/auth":
            given = self.headers.get("Authorization")
            if given is None:
                self.reply(401, b"who?", [("WWW-Authenticate", 'Basic realm="test"')])
            elif given in (basic(USER, PASSWORD), basic(LONG_USER, LONG_PASSWORD)):
                self.reply(200, b"welcome")
            else:
                self.reply(403, b"wrong")
        else:
            self.reply(404, b"not here")


class HttpServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def remember_sni(connection, name, context):
    """Keeps the server name of a handshake on its connection (for /sni)."""
    connection.sni_name = name or ""


class HttpsServer(HttpServer):
    def __init__(self, address, handler, cert, key):
        super().__init__(address, handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        context.sni_callback = remember_sni
        self.socket = context.wrap_socket(self.socket, server_side=True,
                                          do_handshake_on_connect=False)


# ---------------------------------------------------------------- proxy

def pipe(a, b, limit=60.0):
    """Copies both ways until one side closes (or limit seconds pass)."""
    selector = selectors.DefaultSelector()
    selector.register(a, selectors.EVENT_READ, b)
    selector.register(b, selectors.EVENT_READ, a)
    deadline = time.time() + limit
    try:
        while time.time() < deadline:
            for key, _ in selector.select(timeout=0.5):
                try:
                    data = key.fileobj.recv(65536)
                except OSError:
                    return
                if not data:
                    return
                key.data.sendall(data)
    except OSError:
        return
    finally:
        selector.close()


class ProxyHandler(socketserver.BaseRequestHandler):
    def read_head(self):
        data = b""
        self.request.settimeout(15)
        while b"\r\n\r\n" not in data and len(data) < 65536:
            piece = self.request.recv(4096)
            if not piece:
                break
            data += piece
        head, _, rest = data.partition(b"\r\n\r\n")
        return head + b"\r\n\r\n", rest

    def target(self, host, port):
        if host in OWN_HOSTS[1:] and port == 80:
            return ("127.0.0.1", ports["VT_HTTP_PORT"])
        if host == "veltaspar.invalid" and port == 443:
            return ("127.0.0.1", ports["VT_HTTPS_PORT"])
        proxies = (ports.get("VT_PROXY_PORT"), ports.get("VT_AUTH_PROXY_PORT"),
                   ports.get("VT_FORGING_PROXY_PORT"))
        if host in ("127.0.0.1", "localhost", "veltaspar.invalid") and \
                port in ports.values() and port not in proxies:
            return ("127.0.0.1", port)
        return None

    def handle(self):
        try:
            self.serve()
        except OSError:
            pass

    def serve(self):
        head, rest = self.read_head()
        lines = head.decode("latin-1").split("\r\n")
        parts = lines[0].split(" ")
        if len(parts) != 3:
            return
        method, where, _ = parts
        # The client names the whole URL even when it talks to us directly.
        own = f"http://127.0.0.1:{self.server.server_address[1]}/log"
        if method == "GET" and where in ("/log", own):
            body = self.server.log[-1] if self.server.log else b""
            self.request.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(body)
                                 + body)
            return
        self.server.log.append(head)
        headers = {}
        for line in lines[1:]:
            name, sep, value = line.partition(":")
            if sep:
                headers[name.strip().lower()] = value.strip()
        if self.server.auth and headers.get("proxy-authorization") not in self.server.auth:
            self.request.sendall(b"HTTP/1.0 407 Proxy Authentication Required\r\n"
                                 b"Proxy-Authenticate: Basic realm=\"proxy\"\r\n"
                                 b"Content-Length: 0\r\n\r\n")
            return
        if method == "CONNECT":
            host, _, port = where.rpartition(":")
            address = self.target(host, int(port or 0))
            if not address:
                self.request.sendall(b"HTTP/1.0 502 Bad Gateway\r\n\r\n")
                return
            upstream = socket.create_connection(address, timeout=10)
            established = b"HTTP/1.0 200 Connection established\r\n\r\n"
            self.request.sendall(established + (FORGED_REPLY if self.server.forge else b""))
            if rest:
                upstream.sendall(rest)
        elif method == "GET" and "://" in where:
            url = urllib.parse.urlsplit(where)
            address = self.target(url.hostname or "", url.port or 80)
            if url.hostname == "veltaspar.invalid" and url.port == ports["VT_HTTPS_PORT"]:
                address = ("127.0.0.1", ports["VT_HTTP_PORT"])   # plain http there
            if not address or url.scheme != "http":
                self.request.sendall(b"HTTP/1.0 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")
                return
            upstream = socket.create_connection(address, timeout=10)
            upstream.sendall(head + rest)   # as the client sent it
        else:
            self.request.sendall(b"HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n")
            return
        try:
            self.request.settimeout(None)
            upstream.settimeout(None)
            pipe(self.request, upstream)
        finally:
            upstream.close()


class ProxyServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, auth, forge=False):
        super().__init__(address, ProxyHandler)
        self.auth = auth
        self.forge = forge
        self.log = []


# ---------------------------------------------------------------- sink

class SinkHandler(socketserver.BaseRequestHandler):
    def handle(self):
        self.request.settimeout(0.5)
        deadline = time.time() + MAX_WAIT
        while time.time() < deadline:
            try:
                if not self.request.recv(4096):
                    return
            except socket.timeout:
                continue
            except OSError:
                return


class SinkServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


# ---------------------------------------------------------------- main

def closed_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--ports", required=True)
    parser.add_argument("--lifetime", type=float, default=900)
    parser.add_argument("--files", default=None)
    parser.add_argument("--tls-port", action="append", default=[],
                        metavar="NAME=CERT")
    parser.add_argument("--standin-cert", default=None)
    args = parser.parse_args()
    if args.standin_cert:
        standin_context[0] = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        standin_context[0].load_cert_chain(args.standin_cert, args.key)
    global files_folder
    files_folder = args.files

    servers = {
        "VT_HTTP_PORT": HttpServer(("127.0.0.1", 0), Handler),
        "VT_HTTP_OTHER_PORT": HttpServer(("127.0.0.1", 0), Handler),
        "VT_HTTPS_PORT": HttpsServer(("127.0.0.1", 0), Handler, args.cert, args.key),
        "VT_PROXY_PORT": ProxyServer(("127.0.0.1", 0), None),
        "VT_AUTH_PROXY_PORT": ProxyServer(("127.0.0.1", 0),
                                          (basic(PROXY_USER, PROXY_PASSWORD),
                                           basic(LONG_PROXY_USER, LONG_PROXY_PASSWORD))),
        "VT_FORGING_PROXY_PORT": ProxyServer(("127.0.0.1", 0), None, forge=True),
        "VT_SINK_PORT": SinkServer(("127.0.0.1", 0), SinkHandler),
    }
    for given in args.tls_port:
        name, _, cert = given.partition("=")
        servers[name] = HttpsServer(("127.0.0.1", 0), Handler, cert, args.key)
    for name, server in servers.items():
        ports[name] = server.server_address[1]
        threading.Thread(target=server.serve_forever, daemon=True).start()
    ports["VT_CLOSED_PORT"] = closed_port()

    temporary = args.ports + ".tmp"
    with open(temporary, "w") as out:
        for name, port in ports.items():
            out.write(f"{name}={port}\n")
    os.replace(temporary, args.ports)

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    parent = os.getppid()
    deadline = time.time() + args.lifetime
    while not stop.is_set() and time.time() < deadline and os.getppid() == parent:
        stop.wait(0.5)
    for server in servers.values():
        server.shutdown()
        server.server_close()
    sys.exit(0)


if __name__ == "__main__":
    main()

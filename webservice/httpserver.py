"""A small threaded HTTP/1.1 server for a WSGI application.

wsgiref answers HTTP/1.0 and closes every connection; the client keeps its connection open
and sends "Expect: 100-continue" for larger bodies, so this server keeps connections alive,
answers the 100-continue at once and reads chunked request bodies. Every reply is buffered and
sent with its Content-Length. Given an SSL context it serves HTTPS instead, each connection's
handshake made on that connection's own thread."""

import io
import socketserver
import ssl
import sys
import time
from http.server import BaseHTTPRequestHandler, HTTPServer


class DropConnection(Exception):
    """Raised by the application to close the connection without any reply."""


class _Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def version_string(self):
        return "DunmarWeb-standin/1.0"
    timeout = 120  # an idle kept-alive connection is closed after this many seconds
    disable_nagle_algorithm = True

    def setup(self):
        if self.server.tls is not None:
            # The handshake runs here, on the connection's thread, so that a slow or refusing
            # client holds up nobody else.
            self.request.settimeout(self.timeout)
            self.request = self.server.tls.wrap_socket(self.request, server_side=True)
        super().setup()

    def finish(self):
        try:
            super().finish()
        finally:
            if self.server.tls is not None:
                self.request.close()

    def _read_body(self):
        if "chunked" in self.headers.get("Transfer-Encoding", "").lower():
            parts = []
            while True:
                size = int(self.rfile.readline().split(b";", 1)[0].strip() or b"0", 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass  # trailers
                    return b"".join(parts)
                parts.append(self.rfile.read(size))
                self.rfile.readline()
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def _environ(self, body, received_at):
        path, _, query = self.path.partition("?")
        env = {
            "REQUEST_METHOD": self.command,
            "SCRIPT_NAME": "",
            "PATH_INFO": path,
            "QUERY_STRING": query,
            "SERVER_NAME": self.server.server_address[0],
            "SERVER_PORT": str(self.server.server_address[1]),
            "SERVER_PROTOCOL": self.request_version,
            "REMOTE_ADDR": self.client_address[0],
            "CONTENT_TYPE": self.headers.get("Content-Type", ""),
            "CONTENT_LENGTH": str(len(body)),
            "wsgi.version": (1, 0),
            "wsgi.url_scheme": "https" if self.server.tls is not None else "http",
            "wsgi.input": io.BytesIO(body),
            "wsgi.errors": sys.stderr,
            "wsgi.multithread": True,
            "wsgi.multiprocess": False,
            "wsgi.run_once": False,
            # Peeking for a hang-up needs the bare socket, which TLS does not lend.
            "fesko.socket": None if self.server.tls is not None else self.connection,
            # Wall-clock time at which the whole request had arrived.
            "fesko.received_at": received_at,
        }
        for name, value in self.headers.items():
            key = "HTTP_" + name.upper().replace("-", "_")
            if key in ("HTTP_CONTENT_TYPE", "HTTP_CONTENT_LENGTH"):
                continue
            env[key] = env[key] + "," + value if key in env else value
        return env

    def _run(self):
        try:
            body = self._read_body()
        except (ValueError, OSError):
            self.send_error(400, "Bad request body")
            return
        env = self._environ(body, time.time())
        started = []

        def start_response(status, headers, exc_info=None):
            started[:] = [status, headers]

        try:
            result = self.server.app(env, start_response)
            try:
                out = b"".join(result)
            finally:
                if hasattr(result, "close"):
                    result.close()
        except DropConnection:
            self.close_connection = True
            self.log_message('"%s" dropped on purpose', self.requestline)
            return
        except Exception as exc:  # the application failed: say so instead of hanging up
            self.log_error("application error: %r", exc)
            started[:] = ["500 Internal Server Error", [("Content-Type", "text/plain")]]
            out = b"stand-in internal error\n"
        status, headers = started
        code, _, reason = status.partition(" ")
        try:
            self.send_response(int(code), reason)
            for name, value in headers:
                if name.lower() != "content-length":
                    self.send_header(name, value)
            self.send_header("Content-Length", str(len(out)))
            # Head and body in one write: two small writes meet the client's delayed ACK.
            self._headers_buffer.append(b"\r\n")
            if self.command != "HEAD":
                self._headers_buffer.append(out)
            self.flush_headers()
        except ConnectionError:
            self.close_connection = True  # the client left before its reply

    do_GET = do_POST = do_HEAD = do_PUT = do_DELETE = _run

    def log_message(self, fmt, *args):
        sys.stderr.write("%s %s %s\n" % (time.strftime("%Y-%m-%d %H:%M:%S"),
                                         self.client_address[0], fmt % args))


class Server(socketserver.ThreadingMixIn, HTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 256

    def __init__(self, address, app, tls=None):
        """`tls`: an ssl.SSLContext with the server's certificate, or None for plain HTTP."""
        super().__init__(address, _Handler)
        self.app = app
        self.tls = tls

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        if isinstance(error, (ssl.SSLError, ConnectionError, TimeoutError)):
            # A client that refused our certificate or left during the handshake.
            sys.stderr.write("%s %s connection failed: %s\n" % (
                time.strftime("%Y-%m-%d %H:%M:%S"), client_address[0], error))
            return
        super().handle_error(request, client_address)

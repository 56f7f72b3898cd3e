#!/usr/bin/env python3
"""A scripted HTTP server for the web layer's tests.

Answers each path with one fixed reply shape, so every way a reply can go wrong is repeatable.
Every request is written to LOG_DIR as N.meta (path, SOAPAction, Content-Type, client port),
N.body (the raw body) and N.document (Readfilexmls as an XML parser reads it back).
Usage: responder.py LOG_DIR [CERT_FILE KEY_FILE]; prints the port it listens on.
"""
import http.server
import itertools
import os
import ssl
import sys
import threading
import time
import urllib.parse
import xml.etree.ElementTree as ElementTree

SOAP = "http://schemas.xmlsoap.org/soap/envelope/"
XML = "text/xml; charset=utf-8"


def envelope(body, header=""):
    return (f'<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="{SOAP}">'
            f"{header}<soap:Body>{body}</soap:Body></soap:Envelope>")


def response(children):
    return envelope(f'<ExecuteResponse xmlns="DunmarWeb">{children}</ExecuteResponse>')


OK = (200, "OK", XML, response("<ExecuteResult>ok</ExecuteResult>"), {})
HTML = "<html><body><h1>Error</h1></body></html>"

# path -> (status, reason, content type, body, extra headers)
REPLIES = {
    "/ok": OK,
    "/not-found": (404, "Not Found", "text/html", HTML, {}),
    "/unauthorized": (401, "Unauthorized", "text/html", HTML,
                      {"WWW-Authenticate": 'Basic realm="Dunmar"'}),
    "/fault": (500, "Internal Server Error", XML, envelope(
        "<soap:Fault><faultcode>soap:Server</faultcode>"
        "<faultstring>Cuenta 42 inexistente &amp; bloqueada</faultstring>"
        "<faultactor>adownload.aspx</faultactor>"
        "<detail><Motivo>sin licencia</Motivo></detail></soap:Fault>"), {}),
    "/fault-not-xml": (500, "Internal Server Error", "text/xml", "Internal Server Error", {}),
    "/html": (200, "OK", "text/html", HTML, {}),
    "/plain-upper": (200, "OK", "TEXT/PLAIN", "busy", {}),
    "/html-charset": (200, "OK", "text/html; charset=utf-8", HTML, {}),
    "/soap12": (200, "OK", XML,
                '<e:Envelope xmlns:e="http://www.w3.org/2003/05/soap-envelope"><e:Body/></e:Envelope>',
                {}),
    "/empty-envelope": (200, "OK", XML, f'<soap:Envelope xmlns:soap="{SOAP}"/>', {}),
    "/two-headers": (200, "OK", XML,
                     envelope("", "<soap:Header/><soap:Header/>"), {}),
    "/two-bodies": (200, "OK", XML,
                    f'<soap:Envelope xmlns:soap="{SOAP}"><soap:Body/><soap:Body/></soap:Envelope>', {}),
    "/empty-body": (200, "OK", XML, envelope(""), {}),
    "/header-only": (200, "OK", XML,
                     f'<soap:Envelope xmlns:soap="{SOAP}"><soap:Header><a>1</a></soap:Header>'
                     "</soap:Envelope>", {}),
    "/any-child": (200, "OK", XML, response("<Texto>a &amp; b &lt;c&gt;</Texto>"), {}),
    "/result-other": (200, "OK", XML, response("<Other>no</Other><Result>yes</Result>"), {}),
    "/return-lower": (200, "OK", XML, response("<a>no</a><return>yes</return>"), {}),
    "/two-others": (200, "OK", XML, response("<A>1</A><B>2</B>"), {}),
    "/empty-response": (200, "OK", XML, response(""), {}),
    "/href": (200, "OK", XML, envelope(
        '<ExecuteResponse><Result href="#id1"/></ExecuteResponse><multiRef id="id1">referred</multiRef>'),
        {}),
    "/href-missing": (200, "OK", XML, envelope(
        '<ExecuteResponse><Result href="#nowhere"/></ExecuteResponse>'), {}),
    "/markup": (200, "OK", XML, response(
        "<Result><Orden>7</Orden><Estado>Aprobado</Estado></Result>"), {}),
    "/escaped-markup": (200, "OK", XML, response(
        "<Result>&lt;Orden&gt;7&lt;/Orden&gt;&lt;Estado&gt;Aprobado&lt;/Estado&gt;</Result>"), {}),
    "/accents": (200, "OK", XML, response("<Result>Cami\u00f3n \u20ac</Result>"), {}),
}
STALL_SECONDS = 30

log_dir = sys.argv[1]
counter = itertools.count(1)
counter_lock = threading.Lock()


def parsed_document(body):
    try:
        root = ElementTree.fromstring(body)
        found = root.find(f"{{{SOAP}}}Body/{{DunmarWeb}}Execute/{{DunmarWeb}}Readfilexmls")
        return "(none)" if found is None else (found.text or "")
    except ElementTree.ParseError as error:
        return f"(not XML: {error})"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"  # keeps connections alive between calls
    disable_nagle_algorithm = True  # headers and body written apart must not wait for an ACK

    def log_message(self, *args):
        pass

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with counter_lock:
            number = next(counter)
        base = os.path.join(log_dir, str(number))
        with open(base + ".body", "wb") as f:
            f.write(body)
        with open(base + ".document", "w", encoding="utf-8", newline="") as f:
            f.write(parsed_document(body))
        with open(base + ".meta", "w", encoding="utf-8") as f:
            f.write(f"path={self.path}\n")
            f.write(f"soapaction={self.headers.get('SOAPAction', '')}\n")
            f.write(f"content-type={self.headers.get('Content-Type', '')}\n")
            f.write(f"peer={self.client_address[1]}\n")
        path = urllib.parse.urlsplit(self.path).path  # a proxy request carries the whole URL
        if path == "/stall":
            time.sleep(STALL_SECONDS)
        if path == "/drop":
            self.close_connection = True
            return
        if path in ("/endless-body", "/endless-headers"):
            self.endless(path == "/endless-body")
            return
        status, reason, content_type, text, extra = REPLIES.get(path, OK)
        data = text.encode("utf-8")
        self.send_response(status, reason)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(data)))
        for name, value in extra.items():
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(data)

    def endless(self, body):
        """Writes body bytes, or header lines, until the client hangs up."""
        self.close_connection = True
        self.send_response(200, "OK")
        self.send_header("Content-Type", XML)
        if body:
            self.send_header("Connection", "close")
            self.end_headers()
            chunk = b"<a>" + b"x" * (1 << 20) + b"</a>"
        else:
            self.flush_headers()
            chunk = b"X-Filler: " + b"x" * 1000 + b"\r\n"
        try:
            while True:
                self.wfile.write(chunk)
        except OSError:
            pass


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


server = Server(("127.0.0.1", 0), Handler)
if len(sys.argv) > 3:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[2], sys.argv[3])
    server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()

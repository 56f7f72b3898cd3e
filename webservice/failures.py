"""Failures on purpose: per-page rules set through the control surface, and the reply each
failure mode sends in place of the real one."""

import select
import socket
import threading
import time
from xml.sax.saxutils import escape

MODES = ("none", "404", "500fault", "html", "notxml", "500notxml", "drop", "stall")
DEFAULT_STALL_SECONDS = 30.0
DEFAULT_FAULT_TEXT = "Server was unable to process request."
NOT_XML_BODY = "The service is temporarily unavailable. Please try again later.\r\n"


class Rules:
    """Failure rules by page, with "*" for every page. A page's own rule wins over "*"; a rule
    with a count lapses after that many calls."""

    def __init__(self):
        self._lock = threading.Lock()
        self._rules = {}

    def set(self, page, mode, seconds=None, count=None, text=None):
        with self._lock:
            if page == "*" and mode == "none" and count is None:
                self._rules.clear()
                return
            self._rules[page] = {"mode": mode, "seconds": seconds, "count": count, "text": text}

    def clear(self):
        with self._lock:
            self._rules.clear()

    def listing(self):
        with self._lock:
            return {page: dict(rule) for page, rule in self._rules.items()}

    def take(self, page):
        """The rule that applies to this call of the page (None when it should just work),
        counting the call against a rule's count."""
        with self._lock:
            key = page if page in self._rules else "*" if "*" in self._rules else None
            if key is None:
                return None
            rule = self._rules[key]
            if rule["count"] is not None:
                rule["count"] -= 1
                if rule["count"] <= 0:
                    del self._rules[key]
            return None if rule["mode"] == "none" else dict(rule)


def stall(sock, seconds):
    """Waits `seconds` before the reply. Returns True when the client hung up meanwhile, so
    that a call nobody waits for any more is not carried out."""
    deadline = time.monotonic() + seconds
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            return False
        if sock is None:
            time.sleep(min(left, 0.1))
            continue
        readable, _, _ = select.select([sock], [], [], min(left, 0.1))
        if readable:
            try:
                if sock.recv(1, socket.MSG_PEEK | socket.MSG_DONTWAIT) == b"":
                    return True
            except BlockingIOError:
                pass
            except OSError:
                return True
            time.sleep(min(max(left, 0), 0.1))  # data waiting: the client is still there


def fault_envelope(faultcode, faultstring):
    return ('<?xml version="1.0" encoding="utf-8"?>'
            '<soap:Envelope xmlns:soap="http://schemas.xmlsoap.org/soap/envelope/">'
            "<soap:Body><soap:Fault><faultcode>%s</faultcode><faultstring>%s</faultstring>"
            "<detail/></soap:Fault></soap:Body></soap:Envelope>"
            % (escape(faultcode), escape(faultstring)))


def reply(mode, rule):
    """(status, headers, body) of a failure reply; "drop" and "stall" are handled by the caller."""
    xml = [("Content-Type", "text/xml; charset=utf-8")]
    if mode == "404":
        return ("404 Not Found", [("Content-Type", "text/html; charset=utf-8")],
                "<html><head><title>404 Not Found</title></head>"
                "<body><h1>Not Found</h1></body></html>\r\n")
    if mode == "500fault":
        return ("500 Internal Server Error", xml,
                fault_envelope("soap:Server", rule.get("text") or DEFAULT_FAULT_TEXT))
    if mode == "html":
        return ("200 OK", [("Content-Type", "text/html")],
                "<html><head><title>Mantenimiento</title></head>"
                "<body><h1>Servicio en mantenimiento</h1></body></html>\r\n")
    if mode == "notxml":
        return ("200 OK", xml, NOT_XML_BODY)
    if mode == "500notxml":
        return ("500 Internal Server Error", xml, NOT_XML_BODY)
    raise ValueError(mode)

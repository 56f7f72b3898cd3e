"""The stand-in as one WSGI application: the eleven pages, the control surface under
"_control/" and the overview page at the root."""

import json
import logging
import os
import re
from urllib.parse import parse_qs

from lxml import etree

import catalog
import failures
import overview
import soap
from httpserver import DropConnection

UPLOAD_REPLY = "OK"
MAX_REQUEST_BYTES = 512 * 1024 * 1024  # an initial load of every client is one document
INT32 = (-2**31, 2**31 - 1)
_XML_INVALID = re.compile("[\x00-\x08\x0b\x0c\x0e-\x1f\ufffe\uffff\ud800-\udfff]")


class Call:
    """One request to a page, from its arrival to its record."""

    def __init__(self, store, page, environ):
        self.store = store
        self.page = page
        self.action_text = environ.get("HTTP_SOAPACTION")
        self.content_type = environ.get("CONTENT_TYPE") or None
        self.action_ok = self.action_text == '"%s"' % catalog.soap_action(page)
        self.idcompra = None
        self.readfilexmls = None
        self.decoded = False
        self.suppressed = False  # a failure on purpose replaces the reply: no side effects
        self.failure = None
        self.reply = None
        self.received_at = environ.get("fesko.received_at")

    def action_refusal(self):
        expected = catalog.soap_action(self.page)
        if self.action_text is None:
            return "SOAPAction header missing; this page answers to \"%s\"." % expected
        if self.action_text == expected:
            return "SOAPAction must be enclosed in double quotes: \"%s\"." % expected
        # The wording of ASP.NET web services, which a real DunmarWeb server would use.
        return ("Server did not recognize the value of HTTP Header SOAPAction: %s."
                % self.action_text.strip('"'))

    def answer(self):
        if self.suppressed:
            return ""
        if self.page == catalog.DOWNLOAD_PAGE:
            self.reply = self.store.take_reply(self.idcompra)
        else:
            self.reply = UPLOAD_REPLY
        return self.reply

    def record(self, accepted, fault=None):
        self.store.add_call(self.page, self.action_text, self.content_type, self.idcompra,
                            self.readfilexmls, accepted, self.failure, fault,
                            self.reply if accepted else None, self.received_at)


class BadRequest(Exception):
    pass


def _faultstring(body):
    try:
        doc = etree.fromstring(body)
    except etree.XMLSyntaxError:
        return None
    found = doc.xpath("//*[local-name()='Fault']/*[local-name()='faultstring']/text()")
    return found[0] if found else None


def _fault(faultcode, faultstring):
    return ("500 Internal Server Error", [("Content-Type", "text/xml; charset=utf-8")],
            failures.fault_envelope(faultcode, faultstring).encode("utf-8"))


def _json_reply(start_response, status, value):
    body = json.dumps(value, ensure_ascii=False, indent=1).encode("utf-8")
    start_response(status, [("Content-Type", "application/json; charset=utf-8"),
                            ("Cache-Control", "no-store")])
    return [body]


class StandIn:
    def __init__(self, store, db_path=None):
        self.store = store
        self.db_path = db_path
        self.rules = failures.Rules()
        self._apps = {page: soap.page_application(page) for page in catalog.PAGES}
        for app in self._apps.values():
            app.max_content_length = MAX_REQUEST_BYTES

    def __call__(self, environ, start_response):
        path = environ.get("PATH_INFO", "")
        method = environ["REQUEST_METHOD"]
        if path == "/":
            if method not in ("GET", "HEAD"):
                return self._plain(start_response, "405 Method Not Allowed", "GET only\n")
            start_response("200 OK", [("Content-Type", "text/html; charset=utf-8"),
                                      ("Cache-Control", "no-store")])
            return [overview.render(self.store).encode("utf-8")]
        if path.startswith("/_control/"):
            try:
                return self._control(path[len("/_control/"):], environ, start_response)
            except BadRequest as exc:
                return _json_reply(start_response, "400 Bad Request", {"error": str(exc)})
        page = path[1:]
        if page in self._apps:
            return self._page(page, environ, start_response)
        if method == "POST":
            self.store.add_call(page, environ.get("HTTP_SOAPACTION"),
                                environ.get("CONTENT_TYPE") or None, None, None, False,
                                fault="no such page",
                                received_at=environ.get("fesko.received_at"))
        return self._plain(start_response, "404 Not Found", "no such page: %s\n" % path)

    @staticmethod
    def _plain(start_response, status, text):
        start_response(status, [("Content-Type", "text/plain; charset=utf-8")])
        return [text.encode("utf-8")]

    # --- the pages -------------------------------------------------------------------------

    def _page(self, page, environ, start_response):
        app = self._apps[page]
        if environ["REQUEST_METHOD"] == "GET" and app.is_wsdl_request(environ):
            return app(environ, start_response)
        if environ["REQUEST_METHOD"] != "POST":
            return self._plain(start_response, "405 Method Not Allowed",
                               "POST a SOAP request, or GET %s?wsdl\n" % page)
        call = Call(self.store, page, environ)
        environ[soap.CALL_KEY] = call
        rule = self.rules.take(page)
        if rule is not None:
            call.failure = rule["mode"]
            if rule["mode"] == "stall":
                seconds = rule["seconds"]
                if seconds is None:
                    seconds = failures.DEFAULT_STALL_SECONDS
                call.suppressed = failures.stall(environ.get("fesko.socket"), seconds)
            else:
                call.suppressed = True

        media_type = (call.content_type or "").split(";")[0].strip().lower()
        if media_type != "text/xml" and not call.suppressed:
            call.record(False, "Content-Type %r is not text/xml" % call.content_type)
            return self._plain(start_response, "415 Unsupported Media Type",
                               "SOAP 1.1 requests are sent as text/xml\n")

        if int(environ.get("CONTENT_LENGTH") or 0) == 0:
            status, headers, body = _fault("soap:Client", "The request body is empty.")
        else:
            try:
                status, headers, body = self._run(app, environ)
            except Exception as exc:  # spyne itself failed: still answer as a SOAP server
                logging.getLogger("standin").exception("spyne failed on %s", page)
                status, headers, body = _fault("soap:Server", "Internal error: %r" % exc)
        accepted = status.startswith("200") and call.decoded and call.action_ok
        fault = None
        if not status.startswith("200"):
            fault = _faultstring(body) or status

        if call.suppressed:
            call.record(False, fault)
            if rule["mode"] in ("drop", "stall"):
                raise DropConnection()
            status, headers, text = failures.reply(rule["mode"], rule)
            start_response(status, headers)
            return [text.encode("utf-8")]
        call.record(accepted, fault)
        start_response(status, headers)
        return [body]

    @staticmethod
    def _run(app, environ):
        started = []

        def start_response(status, headers, exc_info=None):
            started[:] = [status, headers]

        result = app(environ, start_response)
        try:
            body = b"".join(result)
        finally:
            if hasattr(result, "close"):
                result.close()
        return started[0], started[1], body

    # --- the control surface ---------------------------------------------------------------

    def _control(self, what, environ, start_response):
        method = environ["REQUEST_METHOD"]
        query = {k: v[-1] for k, v in parse_qs(environ.get("QUERY_STRING", "")).items()}
        route = (method, what)
        if route == ("GET", "status"):
            return _json_reply(start_response, "200 OK", {
                "service": "fesko-webservice-standin", "pid": os.getpid(), "db": self.db_path,
                "pages": list(catalog.PAGES)})
        if route == ("GET", "received"):
            page = query.get("page")
            if page is not None:
                page = catalog.normalise_page(page) or page
            return _json_reply(start_response, "200 OK", self.store.calls(
                page=page, idcompra=_int_or_none(query.get("idcompra"), "idcompra"),
                since=_int_or_none(query.get("since"), "since")))
        if route == ("POST", "reset"):
            self.store.reset()
            self.rules.clear()
            return _json_reply(start_response, "200 OK", {"reset": True})
        if route == ("GET", "fail"):
            return _json_reply(start_response, "200 OK", self.rules.listing())
        if route == ("POST", "fail"):
            return _json_reply(start_response, "200 OK", self._set_failure(_json_body(environ)))
        if route == ("GET", "queue"):
            return _json_reply(start_response, "200 OK",
                               self.store.queued(include_delivered=query.get("all") == "1"))
        if route == ("POST", "queue"):
            return _json_reply(start_response, "200 OK", self._enqueue(_json_body(environ)))
        return _json_reply(start_response, "404 Not Found", {"error": "no such control: %s %s"
                                                             % (method, what)})

    def _set_failure(self, req):
        page = req.get("page", "*")
        if page != "*":
            page = catalog.normalise_page(str(page))
            if page is None:
                raise BadRequest("page must be one of the eleven pages or \"*\"")
        mode = str(req.get("mode", ""))
        if mode not in failures.MODES:
            raise BadRequest("mode must be one of " + ", ".join(failures.MODES))
        seconds = req.get("seconds")
        if seconds is not None:
            if not isinstance(seconds, (int, float)) or isinstance(seconds, bool) or seconds < 0:
                raise BadRequest("seconds must be a number of seconds, 0 or more")
            seconds = float(seconds)
        count = req.get("count")
        if count is not None and (not isinstance(count, int) or isinstance(count, bool)
                                  or count < 1):
            raise BadRequest("count must be a whole number, 1 or more")
        text = req.get("text")
        if text is not None and not isinstance(text, str):
            raise BadRequest("text must be a string")
        self.rules.set(page, mode, seconds, count, text)
        return self.rules.listing()

    def _enqueue(self, req):
        idcompra = req.get("idcompra")
        if isinstance(idcompra, str) and re.fullmatch(r"-?\d+", idcompra.strip()):
            idcompra = int(idcompra)
        if (not isinstance(idcompra, int) or isinstance(idcompra, bool)
                or not INT32[0] <= idcompra <= INT32[1]):
            raise BadRequest("idcompra must be a 32-bit integer")
        if "error" in req:
            return self.store.enqueue(idcompra, "error", text=_text(req, "error"))
        if "raw" in req:
            return self.store.enqueue(idcompra, "raw", text=_text(req, "raw"))
        if "orden" not in req or "estado" not in req:
            raise BadRequest("queue needs orden and estado (or error, or raw)")
        return self.store.enqueue(idcompra, "pair", orden=_text(req, "orden"),
                                  estado=_text(req, "estado"))


def _text(req, key):
    value = req[key]
    if isinstance(value, bool) or not isinstance(value, (str, int)):
        raise BadRequest("%s must be a string or a number" % key)
    value = str(value)
    if _XML_INVALID.search(value):
        raise BadRequest("%s holds a character XML cannot carry" % key)
    return value


def _int_or_none(text, name):
    if text is None:
        return None
    try:
        return int(text)
    except ValueError:
        raise BadRequest("%s must be a whole number" % name) from None


def _json_body(environ):
    try:
        length = int(environ.get("CONTENT_LENGTH") or 0)
        req = json.loads(environ["wsgi.input"].read(length).decode("utf-8") or "{}")
    except (ValueError, UnicodeDecodeError) as exc:
        raise BadRequest("the body must be a JSON object: %s" % exc) from None
    if not isinstance(req, dict):
        raise BadRequest("the body must be a JSON object")
    return req

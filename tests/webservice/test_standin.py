"""Tests of the stand-in web service, run against a real process on a free port."""

import http.client
import json
import os
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request
from xml.sax.saxutils import escape

from lxml import etree

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
STANDIN = os.path.join(ROOT, "webservice", "standin.py")
PYTHON = "/usr/bin/python3"
SOAP_ENV = "http://schemas.xmlsoap.org/soap/envelope/"
NS = "DunmarWeb"

# The eleven services as the client addresses them: page and SOAPAction.
SERVICES = {
    "aupload_nuevo_cliente.aspx": "DunmarWebaction/AUPLOAD_NUEVO_CLIENTE.Execute",
    "aupload_editar_cliente.aspx": "DunmarWebaction/AUPLOAD_EDITAR_CLIENTE.Execute",
    "aupload_nueva_reparacion.aspx": "DunmarWebaction/AUPLOAD_NUEVA_REPARACION.Execute",
    "aupload_editar_reparacion.aspx": "DunmarWebaction/AUPLOAD_EDITAR_REPARACION.Execute",
    "adownload.aspx": "DunmarWebaction/ADOWNLOAD.Execute",
    "aupload_inicializar_empresa.aspx": "DunmarWebaction/AUPLOAD_INICIALIZAR_EMPRESA.Execute",
    "aupload_inicializar_estados.aspx": "DunmarWebaction/AUPLOAD_INICIALIZAR_ESTADOS.Execute",
    "aupload_inicializar_estados_reparaciones.aspx":
        "DunmarWebaction/AUPLOAD_INICIALIZAR_ESTADOS_REPARACIONES.Execute",
    "aupload_inicializar_monedas.aspx": "DunmarWebaction/AUPLOAD_INICIALIZAR_MONEDAS.Execute",
    "aupload_inicializar_clientes.aspx": "DunmarWebaction/AUPLOAD_INICIALIZAR_CLIENTES.Execute",
    "aupload_inicializar_reparaciones.aspx":
        "DunmarWebaction/AUPLOAD_INICIALIZAR_REPARACIONES.Execute",
}
DOWNLOAD = "adownload.aspx"
UPLOAD = "aupload_editar_cliente.aspx"

# A record document with everything that must survive the trip: markup characters, an entity
# look-alike, accents, a euro sign, blanks at both ends and a carriage return.
DOCUMENT = (' <?xml version="1.0" encoding="ISO-8859-1"?><cliente><nombre>Peña & Hijos '
            '<S.A.> "Ñandú" €5 &amp;</nombre><dir>Línea 1\r\nLínea 2</dir></cliente> ')


def envelope(idcompra, document=None, namespace=NS):
    """A request as the client writes it: bare declaration, three namespace declarations,
    unprefixed Execute in the service namespace, no type attributes."""
    params = "<Idcompra>%s</Idcompra>" % idcompra
    if document is not None:
        params += "<Readfilexmls>%s</Readfilexmls>" % escape(document, {"\r": "&#13;"})
    return ('<?xml version="1.0"?>\n<SOAP-ENV:Envelope xmlns:SOAP-ENV="%s" '
            'xmlns:xsd="http://www.w3.org/2001/XMLSchema" '
            'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance"><SOAP-ENV:Body>'
            '<Execute xmlns="%s">%s</Execute></SOAP-ENV:Body></SOAP-ENV:Envelope>'
            % (SOAP_ENV, namespace, params)).encode("utf-8")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class ServedCase(unittest.TestCase):
    """Runs one stand-in for the class, in a folder of its own, with the options `serve` gives."""
    scheme = "http"

    @classmethod
    def serve(cls):
        return []

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="standin-test-")
        options = cls.serve()
        cls.log = open(os.path.join(cls.tmp, "log"), "w")
        cls.proc = subprocess.Popen(
            [PYTHON, STANDIN, "serve", "--port", "0", "--db", os.path.join(cls.tmp, "s.sqlite")]
            + options, stdout=subprocess.PIPE, stderr=cls.log, text=True)
        cls.base = cls.proc.stdout.readline().strip()
        if not cls.base.startswith(cls.scheme + "://127.0.0.1:"):
            cls.proc.kill()
            raise RuntimeError("the stand-in did not start: %r" % cls.base)
        cls.port = int(cls.base.rsplit(":", 1)[1].strip("/"))

    @classmethod
    def tearDownClass(cls):
        cls.proc.terminate()
        cls.proc.wait(10)
        cls.proc.stdout.close()
        cls.log.close()
        shutil.rmtree(cls.tmp, ignore_errors=True)


class StandInCase(ServedCase):
    """Every test starts from a reset."""

    def setUp(self):
        self.control("POST", "reset", {})

    def control(self, method, what, body=None, expect=200):
        data = None if body is None else json.dumps(body).encode("utf-8")
        req = urllib.request.Request(self.base + "_control/" + what, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(req, timeout=10) as reply:
                status, text = reply.status, reply.read()
        except urllib.error.HTTPError as exc:
            status, text = exc.code, exc.read()
        self.assertEqual(status, expect, text)
        return json.loads(text)

    def received(self, **query):
        what = "received"
        if query:
            what += "?" + urllib.parse.urlencode(query)
        return self.control("GET", what)

    def post(self, page, body, action=None, content_type="text/xml", conn=None, timeout=10):
        """Posts to a page; returns (status, content type, body bytes)."""
        headers = {"Content-Type": content_type}
        if action is not False:
            headers["SOAPAction"] = '"%s"' % (action or SERVICES.get(page, ""))
        own = conn is None
        conn = conn or http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            conn.request("POST", "/" + page, body, headers)
            reply = conn.getresponse()
            return reply.status, reply.getheader("Content-Type"), reply.read()
        finally:
            if own:
                conn.close()

    def call(self, page, idcompra=7, document=DOCUMENT):
        return self.post(page, envelope(idcompra, None if page == DOWNLOAD else document))

    def result(self, status, body):
        """The ExecuteResult text of a successful reply."""
        self.assertEqual(status, 200, body)
        doc = etree.fromstring(body)
        response = doc.find("{%s}Body/{%s}ExecuteResponse" % (SOAP_ENV, NS))
        self.assertIsNotNone(response, body)
        result = response.find("{%s}ExecuteResult" % NS)
        self.assertIsNotNone(result, body)
        return result.text or ""

    def fault(self, status, content_type, body):
        """The faultcode and faultstring of a SOAP fault reply."""
        self.assertEqual(status, 500, body)
        self.assertTrue(content_type.startswith("text/xml"), content_type)
        fault = etree.fromstring(body).find("{%s}Body/{%s}Fault" % (SOAP_ENV, SOAP_ENV))
        self.assertIsNotNone(fault, body)
        return fault.findtext("faultcode"), fault.findtext("faultstring")


class PagesTest(StandInCase):
    def test_every_page_accepts_its_call_and_records_the_decoded_parameters(self):
        for i, page in enumerate(SERVICES):
            status, content_type, body = self.call(page, idcompra=-2147483648 + i)
            self.assertTrue(content_type.startswith("text/xml"), content_type)
            self.assertEqual(self.result(status, body), "" if page == DOWNLOAD else "OK", page)

        calls = self.received()
        self.assertEqual([c["page"] for c in calls], list(SERVICES))
        for i, (page, c) in enumerate(zip(SERVICES, calls)):
            self.assertTrue(c["accepted"], c)
            self.assertEqual(c["soapaction"], '"%s"' % SERVICES[page])
            self.assertEqual(c["idcompra"], -2147483648 + i)
            self.assertEqual(c["readfilexmls"], None if page == DOWNLOAD else DOCUMENT)
        self.assertEqual([c["page"] for c in self.received(page="adownload.aspx")], [DOWNLOAD])

    def test_a_whole_table_beyond_the_parsers_default_text_limit_is_accepted(self):
        row = "<Reparacion>\r\n<Falla>No enciende &amp; humo</Falla>\r\n</Reparacion>\r\n"
        document = "<Reparaciones>" + row * (11 * 1024 * 1024 // len(row)) + "</Reparaciones>"
        page = "aupload_inicializar_reparaciones.aspx"
        status, _, body = self.call(page, document=document)
        self.assertEqual(self.result(status, body), "OK")
        [c] = self.received()
        self.assertTrue(c["accepted"])
        self.assertEqual(c["readfilexmls"], document)

    def test_calls_that_do_not_fit_the_page_are_refused_and_recorded(self):
        self.control("POST", "queue", {"idcompra": 7, "orden": "1", "estado": "2"})

        # Another page's SOAPAction: a fault, recorded as refused with what was decoded, and a
        # refused download delivers nothing.
        code, text = self.fault(*self.post(DOWNLOAD, envelope(7), action=SERVICES[UPLOAD]))
        self.assertIn("Client", code)
        self.assertIn("SOAPAction", text)
        self.fault(*self.post(UPLOAD, envelope(7, DOCUMENT), action=SERVICES[DOWNLOAD]))
        self.assertEqual(len(self.control("GET", "queue")), 1)

        headers_wrong = [
            self.post(UPLOAD, envelope(7, "x"), action=False),  # no SOAPAction at all
            self.post(UPLOAD, envelope(7, "x"), content_type="application/soap+xml"),
        ]
        self.assertIn("SOAPAction", self.fault(*headers_wrong[0])[1])
        self.assertEqual(headers_wrong[1][0], 415)

        # Unquoted SOAPAction, as the client must not send it.
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        conn.request("POST", "/" + UPLOAD, envelope(7, "x"),
                     {"SOAPAction": SERVICES[UPLOAD], "Content-Type": "text/xml"})
        reply = conn.getresponse()
        self.assertIn("double quotes", self.fault(reply.status, reply.getheader("Content-Type"),
                                                  reply.read())[1])
        conn.close()

        # Bodies the schema refuses: no document, an account beyond 32 bits, another namespace,
        # something that is not XML.
        for body in (envelope(7), envelope(2147483648, "x"), envelope(7, "x", namespace="Otro"),
                     b"<Execute", b""):
            self.assertIn("Client", self.fault(*self.post(UPLOAD, body))[0], body)

        status, _, _ = self.post("aupload_nada.aspx", envelope(7, "x"), action="x")
        self.assertEqual(status, 404)

        calls = self.received()
        self.assertEqual(len(calls), 11)
        self.assertFalse(any(c["accepted"] for c in calls))
        self.assertEqual((calls[0]["idcompra"], calls[1]["readfilexmls"]), (7, DOCUMENT))
        self.assertTrue(all(c["fault"] for c in calls), calls)
        self.assertEqual(calls[-1]["page"], "aupload_nada.aspx")


class DownloadTest(StandInCase):
    def download(self, idcompra):
        return self.result(*self.call(DOWNLOAD, idcompra)[::2])

    def test_download_delivers_the_queued_pairs_of_its_account_once(self):
        self.control("POST", "queue", {"idcompra": 7, "orden": "123", "estado": "2"})
        self.control("POST", "queue", {"idcompra": 8, "orden": 5, "estado": 1})
        self.control("POST", "queue", {"idcompra": 7, "orden": " 9x ", "estado": "<&>é"})
        self.assertEqual([q["idcompra"] for q in self.control("GET", "queue")], [7, 8, 7])

        self.assertEqual(self.download(7), "<Orden>123</Orden><Estado>2</Estado>"
                                           "<Orden> 9x </Orden><Estado><&>é</Estado>")
        self.assertEqual(self.download(7), "")
        self.assertEqual(self.control("GET", "queue"), [
            dict(self.control("GET", "queue?all=1")[1])])
        self.assertEqual(self.download(8), "<Orden>5</Orden><Estado>1</Estado>")
        self.assertEqual(self.control("GET", "queue"), [])
        self.assertEqual(len(self.control("GET", "queue?all=1")), 3)

        replies = [c["reply"] for c in self.received(page=DOWNLOAD)]
        self.assertEqual(replies[1:], ["", "<Orden>5</Orden><Estado>1</Estado>"])

    def test_an_error_entry_is_answered_alone_and_raw_text_goes_out_as_queued(self):
        self.control("POST", "queue", {"idcompra": 3, "orden": "1", "estado": "2"})
        self.control("POST", "queue", {"idcompra": 3, "error": "Cuenta suspendida"})
        self.control("POST", "queue", {"idcompra": 3, "raw": "<Orden>4</Orden> sin estado"})

        self.assertEqual(self.download(3), "<Error>Cuenta suspendida</Error>")
        self.assertEqual(self.download(3),
                         "<Orden>1</Orden><Estado>2</Estado><Orden>4</Orden> sin estado")
        self.assertEqual(self.download(3), "")

    def test_failing_or_refused_downloads_keep_the_queue(self):
        self.control("POST", "queue", {"idcompra": 7, "orden": "1", "estado": "2"})
        for mode in ("404", "500fault", "html", "notxml"):
            self.control("POST", "fail", {"page": DOWNLOAD, "mode": mode, "count": 1})
            self.call(DOWNLOAD)
        self.assertEqual(len(self.control("GET", "queue")), 1)
        self.assertEqual(self.download(7), "<Orden>1</Orden><Estado>2</Estado>")


class FailureModesTest(StandInCase):
    def test_each_failure_mode_sends_its_reply_shape(self):
        def failing(mode, **extra):
            self.control("POST", "fail", dict(page=UPLOAD, mode=mode, **extra))
            return self.call(UPLOAD)

        status, _, _ = failing("404")
        self.assertEqual(status, 404)

        code, text = self.fault(*failing("500fault"))
        self.assertEqual((code, text), ("soap:Server", "Server was unable to process request."))
        self.assertEqual(self.fault(*failing("500fault", text="Sin base & <datos>"))[1],
                         "Sin base & <datos>")

        status, content_type, _ = failing("html")
        self.assertEqual((status, content_type), (200, "text/html"))

        for mode, expected in (("notxml", 200), ("500notxml", 500)):
            status, content_type, body = failing(mode)
            self.assertEqual(status, expected)
            self.assertTrue(content_type.startswith("text/xml"))
            with self.assertRaises(etree.XMLSyntaxError):
                etree.fromstring(body)

        with self.assertRaises(http.client.RemoteDisconnected):
            failing("drop")

        calls = self.received()
        self.assertEqual([c["failure"] for c in calls],
                         ["404", "500fault", "500fault", "html", "notxml", "500notxml", "drop"])
        self.assertFalse(any(c["accepted"] for c in calls))
        self.assertTrue(all(c["readfilexmls"] == DOCUMENT for c in calls))

    def test_rules_by_page_with_counts_and_the_wildcard(self):
        self.control("POST", "fail", {"page": "*", "mode": "404"})
        self.control("POST", "fail", {"page": "download", "mode": "none"})
        self.control("POST", "fail", {"page": UPLOAD, "mode": "html", "count": 2})
        statuses = [self.call(p)[:2] for p in (UPLOAD, UPLOAD, UPLOAD, DOWNLOAD,
                                               "aupload_nuevo_cliente.aspx")]
        self.assertEqual(statuses, [(200, "text/html"), (200, "text/html"),
                                    (404, statuses[2][1]), (200, statuses[3][1]),
                                    (404, statuses[4][1])])

        self.control("POST", "fail", {"page": "*", "mode": "none"})
        self.assertEqual(self.control("GET", "fail"), {})
        self.assertEqual(self.call(UPLOAD)[0], 200)

        for bad in ({"page": "nada.aspx", "mode": "404"}, {"page": "*", "mode": "503"},
                    {"page": "*", "mode": "stall", "seconds": -1},
                    {"page": "*", "mode": "404", "count": 0}):
            self.control("POST", "fail", bad, expect=400)

    def test_a_stall_delays_the_reply_and_a_client_that_gave_up_changes_nothing(self):
        self.control("POST", "queue", {"idcompra": 7, "orden": "1", "estado": "2"})
        self.control("POST", "fail", {"page": UPLOAD, "mode": "stall", "seconds": 0.4})
        started = time.monotonic()
        self.assertEqual(self.result(*self.call(UPLOAD)[::2]), "OK")
        self.assertGreaterEqual(time.monotonic() - started, 0.4)

        self.control("POST", "fail", {"page": DOWNLOAD, "mode": "stall", "seconds": 5})
        with self.assertRaises(socket.timeout):
            self.post(DOWNLOAD, envelope(7), timeout=0.3)
        deadline = time.monotonic() + 3
        while len(self.received()) < 2 and time.monotonic() < deadline:
            time.sleep(0.05)
        upload, download = self.received()
        self.assertEqual((upload["failure"], upload["accepted"]), ("stall", True))
        self.assertEqual((download["failure"], download["accepted"]), ("stall", False))
        self.assertEqual(len(self.control("GET", "queue")), 1)


class ServerTest(StandInCase):
    def test_kept_alive_and_concurrent_connections_lose_no_call(self):
        big = "Ñ<&>" * (1024 * 1024)  # 4 MB of characters, well beyond one read
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        conn.request("POST", "/" + UPLOAD, envelope(1, big),
                     {"SOAPAction": '"%s"' % SERVICES[UPLOAD], "Content-Type": "text/xml",
                      "Expect": "100-continue"})
        reply = conn.getresponse()
        self.assertEqual(self.result(reply.status, reply.read()), "OK")
        for _ in range(20):
            self.assertEqual(self.result(*self.post(UPLOAD, envelope(1, "x"), conn=conn)[::2]),
                             "OK")
        conn.close()

        errors = []

        def client(n):
            try:
                c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
                for i in range(50):
                    status, _, _ = self.post(UPLOAD, envelope(n, "%d-%d" % (n, i)), conn=c)
                    if status != 200:
                        errors.append(status)
                c.close()
            except Exception as exc:  # reported below
                errors.append(exc)

        threads = [threading.Thread(target=client, args=(n,)) for n in range(100, 108)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])
        calls = self.received()
        self.assertEqual(calls[0]["readfilexmls"], big)
        docs = {c["readfilexmls"] for c in calls[21:]}
        self.assertEqual(docs, {"%d-%d" % (n, i) for n in range(100, 108) for i in range(50)})

    def test_each_call_carries_the_wall_clock_time_its_request_had_arrived(self):
        before = time.time()
        self.call(UPLOAD)
        between = time.time()
        time.sleep(0.05)
        self.post("no-such-page.aspx", envelope(1, "x"))
        after = time.time()
        first, second = self.received()
        self.assertLessEqual(before, first["received_at"])
        self.assertLessEqual(first["received_at"], between)
        self.assertLessEqual(between + 0.05, second["received_at"])
        self.assertLessEqual(second["received_at"], after)

        # A database kept from before calls had the column takes it on, and old calls stay.
        sys.path.insert(0, os.path.join(ROOT, "webservice"))
        import sqlite3
        import store
        path = os.path.join(self.tmp, "old.sqlite")
        old = sqlite3.connect(path)
        old.execute("CREATE TABLE calls (id INTEGER PRIMARY KEY, page TEXT NOT NULL, soapaction "
                    "TEXT, content_type TEXT, idcompra INTEGER, readfilexmls TEXT, time TEXT NOT "
                    "NULL, accepted INTEGER NOT NULL, failure TEXT, fault TEXT, reply TEXT)")
        old.execute("INSERT INTO calls (page, time, accepted) VALUES ('a.aspx', 'then', 1)")
        old.commit()
        old.close()
        kept = store.Store(path)
        kept.add_call("b.aspx", None, None, 1, "x", True, received_at=12.5)
        self.assertEqual([(c["page"], c["received_at"]) for c in kept.calls()],
                         [("a.aspx", None), ("b.aspx", 12.5)])
        kept.close()

    def test_overview_page_lists_the_calls_escaped_newest_first(self):
        self.call("aupload_nuevo_cliente.aspx", document="<primero>Peña & Cía</primero>")
        self.call(UPLOAD, document="<segundo/>")
        with urllib.request.urlopen(self.base, timeout=10) as reply:
            self.assertEqual(reply.getheader("Content-Type"), "text/html; charset=utf-8")
            html = reply.read().decode("utf-8")
        self.assertIn('http-equiv="refresh"', html)
        self.assertIn("&lt;primero&gt;Peña &amp; Cía&lt;/primero&gt;", html)
        self.assertLess(html.index("&lt;segundo/&gt;"), html.index("&lt;primero&gt;"))

    def test_reset_forgets_calls_queue_and_failures(self):
        self.call(UPLOAD)
        self.control("POST", "queue", {"idcompra": 7, "orden": "1", "estado": "2"})
        self.control("POST", "fail", {"page": "*", "mode": "404"})
        self.control("POST", "reset", {})
        self.assertEqual((self.received(), self.control("GET", "queue"),
                          self.control("GET", "fail")), ([], [], {}))
        self.assertEqual(self.result(*self.call(DOWNLOAD)[::2]), "")

    def test_queue_refuses_what_it_could_not_deliver(self):
        for bad in ({"orden": "1", "estado": "2"}, {"idcompra": 2**31, "orden": "1", "estado": "2"},
                    {"idcompra": 1, "orden": "1"}, {"idcompra": 1, "orden": "\x01", "estado": "2"},
                    {"idcompra": 1, "error": None}):
            self.control("POST", "queue", bad, expect=400)
        self.assertEqual(self.control("GET", "queue"), [])


class TlsTest(ServedCase):
    """The stand-in serving HTTPS with a certificate of a throwaway authority."""
    scheme = "https"

    @classmethod
    def serve(cls):
        path = lambda name: os.path.join(cls.tmp, name)
        with open(path("san"), "w") as f:
            f.write("subjectAltName=IP:127.0.0.1\n")
        for command in (
                ["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                 "/CN=stand-in test authority", "-keyout", path("ca.key"), "-out", path("ca.crt")],
                ["req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout",
                 path("server.key"), "-out", path("server.csr")],
                ["x509", "-req", "-in", path("server.csr"), "-CA", path("ca.crt"), "-CAkey",
                 path("ca.key"), "-CAcreateserial", "-days", "1", "-extfile", path("san"),
                 "-out", path("server.crt")]):
            subprocess.run(["openssl"] + command, check=True, capture_output=True, timeout=60)
        cls.trusting = ssl.create_default_context(cafile=path("ca.crt"))
        return ["--tls-cert", path("server.crt"), "--tls-key", path("server.key")]

    def upload(self, conn, document):
        conn.request("POST", "/" + UPLOAD, envelope(3, document),
                     {"SOAPAction": '"%s"' % SERVICES[UPLOAD], "Content-Type": "text/xml"})
        reply = conn.getresponse()
        return reply.status, reply.read()

    def received(self):
        with urllib.request.urlopen(self.base + "_control/received", timeout=10,
                                    context=self.trusting) as reply:
            return json.loads(reply.read())

    def test_a_verifying_client_calls_over_one_connection_and_others_get_nowhere(self):
        conn = http.client.HTTPSConnection("127.0.0.1", self.port, timeout=10,
                                           context=self.trusting)
        for n in range(3):
            status, body = self.upload(conn, "tls %d" % n)
            self.assertEqual(status, 200, body)
        conn.close()

        # A client that does not know the authority refuses the certificate, and plain HTTP on
        # the TLS port gets no HTTP reply; neither is recorded, and the server serves on.
        with self.assertRaises(ssl.SSLCertVerificationError):
            strict = http.client.HTTPSConnection("127.0.0.1", self.port, timeout=10,
                                                 context=ssl.create_default_context())
            self.upload(strict, "refused")
        plain = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        with self.assertRaises((http.client.HTTPException, ConnectionError)):
            self.upload(plain, "plain")
        plain.close()

        calls = self.received()
        self.assertEqual([c["readfilexmls"] for c in calls], ["tls 0", "tls 1", "tls 2"])
        self.assertTrue(all(c["accepted"] and c["received_at"] for c in calls))


class ScriptsTest(unittest.TestCase):
    def run_script(self, *args):
        return subprocess.run([os.path.join(ROOT, "scripts", args[0])] + list(args[1:]),
                              capture_output=True, text=True, timeout=30)

    def ctl(self, base, *args):
        out = subprocess.run([PYTHON, STANDIN, "ctl", "--base", base] + list(args),
                             capture_output=True, text=True, timeout=30, check=True).stdout
        return json.loads(out)

    def test_start_is_idempotent_keeps_its_database_and_stop_frees_the_port(self):
        port = str(free_port())
        tmp = tempfile.mkdtemp(prefix="standin-scripts-")
        db = os.path.join(tmp, "ws.sqlite")
        self.addCleanup(shutil.rmtree, tmp, True)
        self.addCleanup(self.run_script, "webservice-stop", "--port", port)

        started = self.run_script("webservice-start", "--port", port, "--db", db)
        self.assertEqual((started.returncode, started.stdout), (0, "http://127.0.0.1:%s/\n" % port),
                         started.stderr)
        base = started.stdout.strip()
        self.assertTrue(os.path.exists(os.path.join(tmp, "ws.log")))
        pid = self.ctl(base, "status")["pid"]
        self.ctl(base, "queue", "7", "12", "3")

        again = self.run_script("webservice-start", "--port", port, "--db", db)
        self.assertEqual(again.stdout, started.stdout)
        self.assertEqual(self.ctl(base, "status")["pid"], pid)

        self.assertEqual(self.run_script("webservice-stop", "--port", port).returncode, 0)
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", int(port)), timeout=1).close()
        self.assertEqual(self.run_script("webservice-stop", "--port", port).returncode, 0)

        self.run_script("webservice-start", "--port", port, "--db", db)
        self.assertEqual(len(self.ctl(base, "pending")), 1)
        fresh = self.run_script("webservice-start", "--port", port, "--db", db, "--fresh")
        self.assertEqual(fresh.returncode, 0, fresh.stderr)
        self.assertNotEqual(self.ctl(base, "status")["pid"], pid)
        self.assertEqual(self.ctl(base, "pending"), [])


if __name__ == "__main__":
    unittest.main()

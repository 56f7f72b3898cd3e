#!/usr/bin/python3
"""The DunmarWeb stand-in: serves the eleven pages (serve) and drives a running one (ctl).

    standin.py serve --port 8081 --db /tmp/fesko-webservice-8081.sqlite
    standin.py serve --host 10.0.0.2 --port 8443 --tls-cert server.crt --tls-key server.key
    standin.py ctl --base http://127.0.0.1:8081/ received --page adownload.aspx
"""

import argparse
import json
import logging
import os
import signal
import sys
import urllib.error
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

DEFAULT_PORT = 8081
DEFAULT_BASE = "http://127.0.0.1:%d/" % DEFAULT_PORT


def default_db(port):
    return "/tmp/fesko-webservice-%d.sqlite" % port


def serve(args):
    # Imported here so that `ctl` starts quickly and needs no spyne.
    from dispatcher import StandIn
    from httpserver import Server
    from store import Store

    logging.basicConfig(level=logging.WARNING, stream=sys.stderr,
                        format="%(asctime)s %(name)s %(levelname)s %(message)s")
    tls = None
    if args.tls_cert or args.tls_key:
        if not (args.tls_cert and args.tls_key):
            raise SystemExit("standin.py serve: --tls-cert and --tls-key go together")
        import ssl
        tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        tls.load_cert_chain(args.tls_cert, args.tls_key)
    scheme = "https" if tls else "http"
    server = Server((args.host, args.port), None, tls)
    port = server.server_address[1]
    db_path = os.path.abspath(args.db or default_db(port))
    store = Store(db_path)
    server.app = StandIn(store, db_path)

    def stop(signum, frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    if args.pidfile:
        with open(args.pidfile, "w") as f:
            f.write("%d\n" % os.getpid())
    print("%s://%s:%d/" % (scheme, args.host, port), flush=True)
    sys.stderr.write("serving %s://%s:%d/ with %s\n" % (scheme, args.host, port, db_path))
    sys.stderr.flush()
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
        store.close()
        if args.pidfile:
            try:
                os.unlink(args.pidfile)
            except FileNotFoundError:
                pass
    return 0


def _request(base, method, what, body=None):
    url = base.rstrip("/") + "/_control/" + what
    data = None if body is None else json.dumps(body).encode("utf-8")
    req = urllib.request.Request(url, data=data, method=method,
                                 headers={"Content-Type": "application/json"})
    try:
        with urllib.request.urlopen(req, timeout=10) as reply:
            return json.loads(reply.read().decode("utf-8"))
    except urllib.error.HTTPError as exc:
        detail = exc.read().decode("utf-8", "replace")
        try:
            detail = json.loads(detail)["error"]
        except (ValueError, KeyError, TypeError):
            pass
        raise SystemExit("standin ctl: %s %s: %s" % (method, url, detail))
    except (urllib.error.URLError, OSError) as exc:
        raise SystemExit("standin ctl: %s %s: %s" % (method, url, getattr(exc, "reason", exc)))


def ctl(args):
    base = args.base
    if args.what == "status":
        result = _request(base, "GET", "status")
    elif args.what == "received":
        query = [("page", args.page), ("idcompra", args.idcompra), ("since", args.since)]
        query = "&".join("%s=%s" % (k, urllib.request.quote(str(v))) for k, v in query
                         if v is not None)
        result = _request(base, "GET", "received" + ("?" + query if query else ""))
    elif args.what == "reset":
        result = _request(base, "POST", "reset", {})
    elif args.what == "fail":
        body = {"page": args.page, "mode": args.mode}
        for key in ("seconds", "count", "text"):
            if getattr(args, key) is not None:
                body[key] = getattr(args, key)
        result = _request(base, "POST", "fail", body)
    elif args.what == "failures":
        result = _request(base, "GET", "fail")
    elif args.what == "queue":
        result = _request(base, "POST", "queue",
                          {"idcompra": args.idcompra, "orden": args.orden, "estado": args.estado})
    elif args.what == "queue-error":
        result = _request(base, "POST", "queue", {"idcompra": args.idcompra, "error": args.text})
    elif args.what == "queue-raw":
        result = _request(base, "POST", "queue", {"idcompra": args.idcompra, "raw": args.text})
    else:  # pending
        result = _request(base, "GET", "queue" + ("?all=1" if args.all else ""))
    json.dump(result, sys.stdout, ensure_ascii=False, indent=1)
    sys.stdout.write("\n")
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(prog="standin.py", description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)

    p = sub.add_parser("serve", help="serve the pages in the foreground")
    p.add_argument("--host", default="127.0.0.1")
    p.add_argument("--port", type=int, default=DEFAULT_PORT, help="0 picks a free port")
    p.add_argument("--db", help="SQLite file (default /tmp/fesko-webservice-PORT.sqlite)")
    p.add_argument("--pidfile", help="write the process id here while serving")
    p.add_argument("--tls-cert", help="serve HTTPS with this PEM certificate (chain)")
    p.add_argument("--tls-key", help="the PEM private key of --tls-cert")
    p.set_defaults(run=serve)

    p = sub.add_parser("ctl", help="drive a running stand-in")
    p.add_argument("--base", default=os.environ.get("FESKO_WEBSERVICE_URL", DEFAULT_BASE))
    p.set_defaults(run=ctl)
    what = p.add_subparsers(dest="what", required=True)
    what.add_parser("status")
    q = what.add_parser("received", help="the calls received, in arrival order")
    q.add_argument("--page")
    q.add_argument("--idcompra", type=int)
    q.add_argument("--since", type=int, help="only calls with a higher id")
    what.add_parser("reset", help="forget calls, queued changes and failure rules")
    q = what.add_parser("fail", help="make a page (or * for all) fail on purpose")
    q.add_argument("page")
    q.add_argument("mode", help="none, 404, 500fault, html, notxml, 500notxml, drop, stall")
    q.add_argument("--seconds", type=float, help="how long a stall lasts")
    q.add_argument("--count", type=int, help="fail only the next COUNT calls")
    q.add_argument("--text", help="faultstring of 500fault")
    what.add_parser("failures", help="the failure rules in force")
    q = what.add_parser("queue", help="queue a budget-state change for download")
    q.add_argument("idcompra", type=int)
    q.add_argument("orden")
    q.add_argument("estado")
    q = what.add_parser("queue-error", help="make the next download answer <Error>TEXT</Error>")
    q.add_argument("idcompra", type=int)
    q.add_argument("text")
    q = what.add_parser("queue-raw", help="append raw text to the next download reply")
    q.add_argument("idcompra", type=int)
    q.add_argument("text")
    q = what.add_parser("pending", help="queued changes not yet delivered")
    q.add_argument("--all", action="store_true", help="delivered ones too")

    args = parser.parse_args(argv)
    return args.run(args)


if __name__ == "__main__":
    sys.exit(main())

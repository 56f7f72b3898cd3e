"""The read-only overview page at the root: what the stand-in received, newest first."""

from html import escape

SHOWN_CALLS = 200
REFRESH_SECONDS = 3

_STYLE = """
body { font-family: sans-serif; margin: 1em 2em; }
table { border-collapse: collapse; width: 100%; }
th, td { border-bottom: 1px solid #ccc; padding: 4px 8px; text-align: left; vertical-align: top; }
td.doc pre { margin: 0; white-space: pre-wrap; word-break: break-all; max-height: 12em;
             overflow: auto; font-size: 90%; }
tr.refused { background: #fde8e8; }
tr.failed { background: #fff4d6; }
"""


def _status(call):
    if call["accepted"]:
        return "aceptada" + (" (tras demora)" if call["failure"] == "stall" else "")
    if call["failure"]:
        return "falla provocada: " + call["failure"]
    return "rechazada: " + (call["fault"] or "")


def render(store):
    calls = store.calls(newest_first=True, limit=SHOWN_CALLS)
    pending = store.queued()
    out = ['<!DOCTYPE html><html lang="es"><head><meta charset="utf-8">',
           '<meta http-equiv="refresh" content="%d">' % REFRESH_SECONDS,
           "<title>DunmarWeb (stand-in)</title><style>%s</style></head><body>" % _STYLE,
           "<h1>DunmarWeb (stand-in)</h1>",
           "<h2>Cambios de estado pendientes (%d)</h2>" % len(pending)]
    if pending:
        out.append("<table><tr><th>#</th><th>Cuenta</th><th>Entrada</th><th>Encolado</th></tr>")
        for item in pending:
            if item["kind"] == "pair":
                what = "Orden %s, Estado %s" % (item["orden"], item["estado"])
            else:
                what = "%s: %s" % (item["kind"], item["text"])
            out.append("<tr><td>%d</td><td>%d</td><td>%s</td><td>%s</td></tr>"
                       % (item["id"], item["idcompra"], escape(what), escape(item["queued"])))
        out.append("</table>")
    out.append("<h2>Llamadas recibidas (las %d más recientes)</h2>" % SHOWN_CALLS)
    out.append("<table><tr><th>#</th><th>Hora</th><th>Página</th><th>Cuenta</th>"
               "<th>Resultado</th><th>Documento o respuesta</th></tr>")
    for call in calls:
        css = "" if call["accepted"] else ' class="failed"' if call["failure"] else \
            ' class="refused"'
        shown = call["readfilexmls"] if call["readfilexmls"] is not None else call["reply"] or ""
        out.append("<tr%s><td>%d</td><td>%s</td><td>%s</td><td>%s</td><td>%s</td>"
                   '<td class="doc"><pre>%s</pre></td></tr>'
                   % (css, call["id"], escape(call["time"]), escape(call["page"]),
                      "" if call["idcompra"] is None else call["idcompra"],
                      escape(_status(call)), escape(shown)))
    out.append("</table></body></html>")
    return "\n".join(out)

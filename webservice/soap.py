"""One spyne application per page: document-literal SOAP 1.1 in the "DunmarWeb" namespace,
operation `Execute` answered by `ExecuteResponse`/`ExecuteResult`.

spyne decodes and validates the request against the page's schema; the operation itself only
hands the decoded parameters to the call in progress (`fesko.call` in the WSGI environment),
which the dispatcher records and answers."""

from spyne import Application, Fault, Integer32, ServiceBase, Unicode, rpc
from spyne.protocol.soap import Soap11
from spyne.server.wsgi import WsgiApplication

import catalog

CALL_KEY = "fesko.call"

# Both parameters must be present: a request without them is refused by the schema check,
# not stored as a call with holes.
_Idcompra = Integer32(min_occurs=1, nillable=False)
_Readfilexmls = Unicode(min_occurs=1, nillable=False)


def _answer(ctx, idcompra, readfilexmls):
    call = ctx.transport.req_env[CALL_KEY]
    call.idcompra = idcompra
    call.readfilexmls = readfilexmls
    call.decoded = True
    if not call.action_ok:
        raise Fault("Client", call.action_refusal())
    return call.answer()


def _service_class(page):
    name = catalog.service_name(page)
    if page == catalog.DOWNLOAD_PAGE:
        @rpc(_Idcompra, _returns=Unicode)
        def Execute(ctx, Idcompra):
            return _answer(ctx, Idcompra, None)
    else:
        @rpc(_Idcompra, _Readfilexmls, _returns=Unicode)
        def Execute(ctx, Idcompra, Readfilexmls):
            return _answer(ctx, Idcompra, Readfilexmls)
    return type(name, (ServiceBase,), {"Execute": Execute, "__service_name__": name})


def page_application(page):
    """The WSGI application that serves one page."""
    app = Application([_service_class(page)], tns=catalog.NAMESPACE,
                      name=catalog.service_name(page),
                      # huge_tree: a whole table sent by an initial load is one text node
                      # well past lxml's default limit of 10 MB.
                      in_protocol=Soap11(validator="lxml", huge_tree=True),
                      out_protocol=Soap11())
    return WsgiApplication(app)

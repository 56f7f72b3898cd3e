"""The eleven pages the stand-in serves and the SOAPAction each one answers to."""

NAMESPACE = "DunmarWeb"

UPLOAD_PAGES = (
    "aupload_nuevo_cliente.aspx",
    "aupload_editar_cliente.aspx",
    "aupload_nueva_reparacion.aspx",
    "aupload_editar_reparacion.aspx",
    "aupload_inicializar_empresa.aspx",
    "aupload_inicializar_estados.aspx",
    "aupload_inicializar_estados_reparaciones.aspx",
    "aupload_inicializar_monedas.aspx",
    "aupload_inicializar_clientes.aspx",
    "aupload_inicializar_reparaciones.aspx",
)
DOWNLOAD_PAGE = "adownload.aspx"
PAGES = UPLOAD_PAGES + (DOWNLOAD_PAGE,)


def soap_action(page):
    """The SOAPAction a page answers to, without the enclosing quotes."""
    return "DunmarWebaction/%s.Execute" % page[: -len(".aspx")].upper()


def service_name(page):
    """The service's own name: the page without its leading "a" and without ".aspx"."""
    return page[1 : -len(".aspx")]


def normalise_page(name):
    """Accepts a page as served ("adownload.aspx") or by service name ("download");
    returns the page, or None when it names no page."""
    if name in PAGES:
        return name
    for page in PAGES:
        if name == service_name(page) or name + ".aspx" == page:
            return page
    return None

// The eleven services of the web service, as one table, and the port through which a caller
// makes its one call: OpenServicePort joins the base URL and the service's page, Execute sends
// the account number (and, for uploads, the record document).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "base/TextKinds.h"

namespace fesko::web {

enum class Service {
  upload_nuevo_cliente,
  upload_editar_cliente,
  upload_nueva_reparacion,
  upload_editar_reparacion,
  download,
  upload_inicializar_empresa,
  upload_inicializar_estados,
  upload_inicializar_estados_reparaciones,
  upload_inicializar_monedas,
  upload_inicializar_clientes,
  upload_inicializar_reparaciones,
};

// Everything that tells one service from another. The SOAPAction is "DunmarWebaction/", the
// page in upper case without ".aspx", and ".Execute".
struct ServiceEntry {
  Service service;
  std::string_view name;
  std::string_view portInterface;
  std::string_view page;
  std::string_view soapAction;
  bool sendsDocument;  // Execute(Idcompra, Readfilexmls); otherwise Execute(Idcompra)
};

inline constexpr std::array<ServiceEntry, 11> kServiceCatalogue = {{
    {Service::upload_nuevo_cliente, "upload_nuevo_cliente", "upload_nuevo_clienteSoapPort",
     "aupload_nuevo_cliente.aspx", "DunmarWebaction/AUPLOAD_NUEVO_CLIENTE.Execute", true},
    {Service::upload_editar_cliente, "upload_editar_cliente", "upload_editar_clienteSoapPort",
     "aupload_editar_cliente.aspx", "DunmarWebaction/AUPLOAD_EDITAR_CLIENTE.Execute", true},
    {Service::upload_nueva_reparacion, "upload_nueva_reparacion", "upload_nueva_reparacionSoapPort",
     "aupload_nueva_reparacion.aspx", "DunmarWebaction/AUPLOAD_NUEVA_REPARACION.Execute", true},
    {Service::upload_editar_reparacion, "upload_editar_reparacion",
     "upload_editar_reparacionSoapPort", "aupload_editar_reparacion.aspx",
     "DunmarWebaction/AUPLOAD_EDITAR_REPARACION.Execute", true},
    {Service::download, "download", "downloadSoapPort", "adownload.aspx",
     "DunmarWebaction/ADOWNLOAD.Execute", false},
    {Service::upload_inicializar_empresa, "upload_inicializar_empresa",
     "upload_inicializar_empresaSoapPort", "aupload_inicializar_empresa.aspx",
     "DunmarWebaction/AUPLOAD_INICIALIZAR_EMPRESA.Execute", true},
    {Service::upload_inicializar_estados, "upload_inicializar_estados",
     "upload_inicializar_estadosSoapPort", "aupload_inicializar_estados.aspx",
     "DunmarWebaction/AUPLOAD_INICIALIZAR_ESTADOS.Execute", true},
    {Service::upload_inicializar_estados_reparaciones, "upload_inicializar_estados_reparaciones",
     "upload_inicializar_estados_reparacionesSoapPort",
     "aupload_inicializar_estados_reparaciones.aspx",
     "DunmarWebaction/AUPLOAD_INICIALIZAR_ESTADOS_REPARACIONES.Execute", true},
    {Service::upload_inicializar_monedas, "upload_inicializar_monedas",
     "upload_inicializar_monedasSoapPort", "aupload_inicializar_monedas.aspx",
     "DunmarWebaction/AUPLOAD_INICIALIZAR_MONEDAS.Execute", true},
    {Service::upload_inicializar_clientes, "upload_inicializar_clientes",
     "upload_inicializar_clientesSoapPort", "aupload_inicializar_clientes.aspx",
     "DunmarWebaction/AUPLOAD_INICIALIZAR_CLIENTES.Execute", true},
    {Service::upload_inicializar_reparaciones, "upload_inicializar_reparaciones",
     "upload_inicializar_reparacionesSoapPort", "aupload_inicializar_reparaciones.aspx",
     "DunmarWebaction/AUPLOAD_INICIALIZAR_REPARACIONES.Execute", true},
}};

const ServiceEntry& CatalogueEntry(Service service);

// A proxy of one service, bound to its endpoint. Cheap; callers open one per call.
class ServicePort {
 public:
  // The upload operation. Calling it on `download` is a programming error (std::logic_error).
  WideString Execute(std::int32_t Idcompra, std::u16string_view Readfilexmls) const;
  // The download operation. Calling it on an upload service is a programming error.
  WideString Execute(std::int32_t Idcompra) const;

  const ServiceEntry& Entry() const { return *entry_; }
  const WideString& Endpoint() const { return endpoint_; }

 private:
  friend ServicePort OpenServicePort(Service service, std::u16string_view base_url);
  ServicePort(const ServiceEntry& entry, WideString endpoint)
      : entry_(&entry), endpoint_(std::move(endpoint)) {}

  const ServiceEntry* entry_;
  WideString endpoint_;
};

// The port of `service` at `base_url` followed directly by the page, with no separator added.
// Throws ESOAPHTTPException when the endpoint is not an http or https URL.
ServicePort OpenServicePort(Service service, std::u16string_view base_url);

}  // namespace fesko::web

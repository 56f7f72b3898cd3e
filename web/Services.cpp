#include "web/Services.h"

#include <stdexcept>

#include "web/HttpTransport.h"
#include "web/Soap.h"

namespace fesko::web {
namespace {

constexpr char kWrongSignature[] = "Execute called with the other service's signature";

// A whole-table load given up while the web service imports it would be reported failed while
// it may still succeed.
std::chrono::seconds AnswerWait(Service service) {
  switch (service) {
    case Service::upload_inicializar_estados:
    case Service::upload_inicializar_estados_reparaciones:
    case Service::upload_inicializar_monedas:
    case Service::upload_inicializar_clientes:
    case Service::upload_inicializar_reparaciones:
      return CurrentTransportTimeouts().wholeTableAnswer;
    default:
      return {};  // the transport's stall limit
  }
}

// CatalogueEntry indexes the table by the enumeration.
constexpr bool InEnumerationOrder() {
  for (std::size_t i = 0; i < kServiceCatalogue.size(); ++i) {
    if (static_cast<std::size_t>(kServiceCatalogue[i].service) != i) return false;
  }
  return true;
}
static_assert(InEnumerationOrder());

}  // namespace

const ServiceEntry& CatalogueEntry(Service service) {
  return kServiceCatalogue.at(static_cast<std::size_t>(service));
}

WideString ServicePort::Execute(std::int32_t Idcompra, std::u16string_view Readfilexmls) const {
  if (!entry_->sendsDocument) throw std::logic_error(kWrongSignature);
  return CallExecute(endpoint_, entry_->soapAction, Idcompra, Readfilexmls,
                     AnswerWait(entry_->service));
}

WideString ServicePort::Execute(std::int32_t Idcompra) const {
  if (entry_->sendsDocument) throw std::logic_error(kWrongSignature);
  return CallExecute(endpoint_, entry_->soapAction, Idcompra, std::nullopt);
}

ServicePort OpenServicePort(Service service, std::u16string_view base_url) {
  const ServiceEntry& entry = CatalogueEntry(service);
  WideString endpoint(base_url);
  endpoint += AnsiToWide(entry.page);
  CheckEndpointUrl(endpoint);
  return ServicePort(entry, std::move(endpoint));
}

}  // namespace fesko::web

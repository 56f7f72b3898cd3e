#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "base/Errors.h"
#include "web/Services.h"
#include "web/WebErrors.h"

using namespace fesko;
using namespace fesko::web;

namespace {

std::string Upper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return upper;
}

}  // namespace

TEST(ServiceCatalogue, ElevenServicesEachWithTheirOwnPageAndSoapAction) {
  std::set<std::string_view> names, pages, actions;
  for (const ServiceEntry& entry : kServiceCatalogue) {
    EXPECT_EQ(&CatalogueEntry(entry.service), &entry);
    names.insert(entry.name);
    pages.insert(entry.page);
    actions.insert(entry.soapAction);
    std::string page(entry.page);
    EXPECT_EQ(page, "a" + std::string(entry.name) + ".aspx");
    EXPECT_EQ(std::string(entry.portInterface), std::string(entry.name) + "SoapPort");
    EXPECT_EQ(std::string(entry.soapAction),
              "DunmarWebaction/" + Upper(page.substr(0, page.size() - 5)) + ".Execute");
    // Only download takes the account number alone.
    EXPECT_EQ(entry.sendsDocument, entry.service != Service::download) << entry.name;
  }
  EXPECT_EQ(names.size(), 11u);
  EXPECT_EQ(pages.size(), 11u);
  EXPECT_EQ(actions.size(), 11u);
  EXPECT_EQ(CatalogueEntry(Service::download).soapAction, "DunmarWebaction/ADOWNLOAD.Execute");
}

TEST(ServiceCatalogue, EndpointIsTheBaseUrlFollowedDirectlyByThePage) {
  EXPECT_EQ(OpenServicePort(Service::download, u"http://taller.example/app/").Endpoint(),
            u"http://taller.example/app/adownload.aspx");
  EXPECT_EQ(OpenServicePort(Service::download, u"http://taller.example/app").Endpoint(),
            u"http://taller.example/appadownload.aspx");
  EXPECT_EQ(OpenServicePort(Service::upload_inicializar_monedas, u"https://h:8443/").Endpoint(),
            u"https://h:8443/aupload_inicializar_monedas.aspx");
}

TEST(ServiceCatalogue, EndpointThatIsNotHttpFailsWhenThePortIsOpened) {
  try {
    OpenServicePort(Service::download, u"");
    ADD_FAILURE() << "an empty base URL was accepted";
  } catch (const ESOAPHTTPException& error) {
    EXPECT_EQ(error.Message(),
              u"Invalid url 'adownload.aspx' - only supports 'http' and 'https' schemes");
  }
  EXPECT_THROW(OpenServicePort(Service::upload_nuevo_cliente, u"ftp://taller.example/"),
               ESOAPHTTPException);
}

TEST(ServiceCatalogue, EachServiceOnlyOffersItsOwnSignature) {
  // Neither reaches the network: the signature is checked first.
  auto download = OpenServicePort(Service::download, u"http://127.0.0.1:9/");
  EXPECT_THROW(download.Execute(1, u"<Cliente/>"), std::logic_error);
  auto upload = OpenServicePort(Service::upload_nuevo_cliente, u"http://127.0.0.1:9/");
  EXPECT_THROW(upload.Execute(1), std::logic_error);
}

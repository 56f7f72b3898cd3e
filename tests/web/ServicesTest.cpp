#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "base/Errors.h"
#include "tests/support/TestDatabase.h"
#include "web/DownloadReply.h"
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
  EXPECT_EQ(
      test::Catch<ESOAPHTTPException>([] { OpenServicePort(Service::download, u""); }).Message(),
      u"Invalid url 'adownload.aspx' - only supports 'http' and 'https' schemes");
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

TEST(DownloadReply, PairsAreReadInOrderAndTrimmed) {
  auto changes = ScanDownloadReply(
      u"x<Orden> 12 </Orden>junk<Estado>\t2\r\n</Estado><Orden>13</Orden><Estado>1</Estado>y");
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].code, u"12");
  EXPECT_EQ(changes[0].state, u"2");
  EXPECT_EQ(changes[1].code, u"13");
  EXPECT_EQ(changes[1].state, u"1");
}

TEST(DownloadReply, ErrorsEmptyRepliesAndRepliesWithoutOrdersGiveNothing) {
  EXPECT_TRUE(ScanDownloadReply(u"").empty());
  EXPECT_TRUE(ScanDownloadReply(u"<Estado>1</Estado>").empty());
  EXPECT_TRUE(
      ScanDownloadReply(u"<Error>licencia vencida</Error><Orden>1</Orden><Estado>2</Estado>")
          .empty());
  // An empty error element is no error.
  EXPECT_EQ(ScanDownloadReply(u"<Error> </Error><Orden>1</Orden><Estado>2</Estado>").size(), 1u);
}

TEST(DownloadReply, MalformedRepliesEndTheScanInsteadOfSpinning) {
  // No "</Estado>" after the order, tags in the wrong order, a closing tag first.
  EXPECT_TRUE(ScanDownloadReply(u"<Orden>1</Orden><Estado>2").empty());
  EXPECT_TRUE(ScanDownloadReply(u"<Estado>2</Estado><Orden>1</Orden>").empty());
  EXPECT_TRUE(ScanDownloadReply(u"</Orden><Orden>1<Estado>2</Estado>").empty());
  // Pairs before the malformed one are kept.
  auto changes = ScanDownloadReply(u"<Orden>1</Orden><Estado>2</Estado><Orden>3</Orden>");
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].code, u"1");
}

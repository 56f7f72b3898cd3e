// The web layer against the stand-in web service: what the services send is what the web
// service receives.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>

#include "tests/support/StandIn.h"
#include "web/RecordDocument.h"
#include "web/Services.h"

using namespace fesko;
using namespace fesko::web;

namespace {

using fesko::test::StandIn;

class StandInCall : public ::testing::Test {
 protected:
  void SetUp() override {
    standIn = std::make_unique<StandIn>();
    if (!standIn->Running()) GTEST_SKIP() << "the stand-in web service did not start";
  }
  std::unique_ptr<StandIn> standIn;
};

// Rows for a collection, in memory.
class RepairRows : public RowSource {
 public:
  explicit RepairRows(int count) : count_(count) {}
  void First() override { row_ = 0; }
  bool Eof() override { return row_ >= count_; }
  void Next() override { ++row_; }
  int FieldCount() override { return static_cast<int>(kNewRepairTags.size()); }
  std::string_view FieldText(int index) override {
    text_ = std::to_string(row_) + (index == 6 ? " no enciende & <pantalla> 'rota'" : "");
    return text_;
  }

 private:
  int count_;
  int row_ = 0;
  std::string text_;
};

}  // namespace

TEST_F(StandInCall, RecordDocumentsArriveIntact) {
  std::vector<AnsiString> client = {"1532", "  Pe\361a N\372\361ez & C\355a|Motores  ", "j<pena>",
                                    "p&'\"w"};
  WideString clientDocument = RecordDocument(BuildRecord(kClientRecord, kClientTags, client));
  EXPECT_EQ(OpenServicePort(Service::upload_editar_cliente, standIn->BaseUrl())
                .Execute(42, clientDocument),
            u"OK");

  // The company document keeps its accents, which travel as UTF-8.
  std::vector<AnsiString> company = {"Taller G\374emes & Hijos", "Cami\363n 10 <b>"};
  WideString companyDocument =
      RecordDocument(BuildRecord(kCompanyRecord, kCompanyTags, company, ValueEncoder::EscapeOnly));
  OpenServicePort(Service::upload_inicializar_empresa, standIn->BaseUrl())
      .Execute(42, companyDocument);

  // A large collection goes in one call.
  RepairRows repairs(3000);
  WideString collection;
  BuildCollection(collection, kRepairsList, kNewRepairTags, repairs);
  WideString repairsDocument = RecordDocument(collection);
  OpenServicePort(Service::upload_inicializar_reparaciones, standIn->BaseUrl())
      .Execute(-5, repairsDocument);

  auto calls = standIn->Received();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].readfilexmls, WideToUtf8(clientDocument));
  EXPECT_EQ(calls[0].idcompra, "42");
  EXPECT_EQ(calls[1].readfilexmls, WideToUtf8(companyDocument));
  EXPECT_NE(calls[1].readfilexmls.find("G\303\274emes &amp; Hijos"), std::string::npos);
  EXPECT_EQ(calls[2].readfilexmls, WideToUtf8(repairsDocument));
  EXPECT_EQ(calls[2].idcompra, "-5");
  for (const auto& call : calls) EXPECT_EQ(call.accepted, "1") << call.page;
}

TEST_F(StandInCall, EveryServiceSendsItsOwnSoapActionToItsOwnPage) {
  for (const ServiceEntry& entry : kServiceCatalogue) {
    ServicePort port = OpenServicePort(entry.service, standIn->BaseUrl());
    if (entry.sendsDocument) {
      EXPECT_EQ(port.Execute(7, u"<Estado>\r\n<Codigo>1</Codigo>\r\n</Estado>\r\n"), u"OK");
    } else {
      EXPECT_EQ(port.Execute(7), u"");  // nothing queued
    }
  }
  auto calls = standIn->Received();
  ASSERT_EQ(calls.size(), kServiceCatalogue.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const ServiceEntry& entry = kServiceCatalogue[i];
    EXPECT_EQ(calls[i].page, entry.page);
    EXPECT_EQ(calls[i].soapaction, "\"" + std::string(entry.soapAction) + "\"");
    EXPECT_EQ(calls[i].accepted, "1") << entry.name;
    EXPECT_EQ(calls[i].idcompra, "7");
  }
}

TEST_F(StandInCall, DownloadReturnsTheQueuedBudgetStates) {
  standIn->Queue(42, "123", "2");
  standIn->Queue(42, "124", "1");
  standIn->Queue(43, "999", "3");  // another installation's
  ServicePort download = OpenServicePort(Service::download, standIn->BaseUrl());
  EXPECT_EQ(download.Execute(42),
            u"<Orden>123</Orden><Estado>2</Estado>"
            u"<Orden>124</Orden><Estado>1</Estado>");
  EXPECT_EQ(download.Execute(42), u"");  // delivered once
}

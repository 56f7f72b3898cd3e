#include <gtest/gtest.h>

#include "base/MessageBox.h"
#include "database/FbClient.h"
#include "database/IBEvents.h"
#include "database/MDODatabase.h"
#include "database/MDOErrors.h"
#include "tests/support/FailingEntry.h"
#include "tests/support/Workshop.h"

using namespace fesko;
using namespace fesko::db;
using fesko::test::Catch;
using fesko::test::CreateDatabase;

namespace {

class ConnectionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { database_ = new std::string(CreateDatabase("connection")); }
  static void TearDownTestSuite() { delete database_; }

  void Connect(TMDODatabase& db, const std::string& user = test::DbUser(),
               const std::string& password = test::DbPassword()) {
    test::Connect(db, *database_, user, password);
  }

  // Runs one statement in the transaction, as the workshop system would.
  static void Execute(TMDOTransaction& tr, const std::string& sql) {
    if (Fb().isc_dsql_execute_immediate(StatusVector(), tr.DefaultDatabase()->Handle(), tr.Handle(),
                                        0, sql.c_str(), 3, nullptr)) {
      RaiseMDOFirebirdError();
    }
  }

  static std::string* database_;
};

std::string* ConnectionTest::database_ = nullptr;

}  // namespace

TEST(ParameterBlock, IsBuiltFromNamesWrittenAnyWay) {
  std::string expected = std::string("\x01\x1c\x05") + "fesko" + "\x1d\x02" + "pw";
  EXPECT_EQ(BuildDatabaseParameterBlock({"user_name=fesko", "Password=pw"}), expected);
  EXPECT_EQ(BuildDatabaseParameterBlock({"ISC_DPB_USER_NAME=fesko", "password=pw"}), expected);
  // Lines whose name is blank are skipped; values are taken untrimmed.
  EXPECT_EQ(BuildDatabaseParameterBlock({" =x", "password= p"}), std::string("\x01\x1d\x02 p"));
  EXPECT_EQ(BuildDatabaseParameterBlock({"sql_dialect=3"}), std::string("\x01\x3f\x01\x03", 4));
  EXPECT_EQ(BuildDatabaseParameterBlock({"sweep_interval=258"}),
            std::string("\x01\x16\x04\x02\x01\x00\x00", 7));
  EXPECT_EQ(BuildDatabaseParameterBlock({"num_buffers=300"}), std::string("\x01\x05\x01\x2c"));
}

TEST(ParameterBlock, AnEmptyValueRemovesTheItem) {
  ParamList params;
  params.SetValue("user_name", "fesko");
  params.SetValue("Password", "pw");
  params.SetValue("USER_NAME", "");
  EXPECT_EQ(params.Lines(), std::vector<AnsiString>{"Password=pw"});
  EXPECT_EQ(BuildDatabaseParameterBlock(params.Lines()), std::string("\x01\x1d\x02pw"));
}

TEST(ParameterBlock, UnknownAndUnsupportedNamesAreClientErrors) {
  auto unknown = Catch<EMDOClientError>([] { BuildDatabaseParameterBlock({"user=fesko"}); });
  EXPECT_EQ(unknown.SQLCode, 114);
  EXPECT_EQ(unknown.FirebirdCode, 0);
  EXPECT_EQ(unknown.Message(), u"DPB Constant (user) is unknown");
  auto unsupported =
      Catch<EMDOClientError>([] { BuildDatabaseParameterBlock({"isc_dpb_page_size=4096"}); });
  EXPECT_EQ(unsupported.SQLCode, 11);
  EXPECT_EQ(unsupported.Message(), u"DPB Constant (isc_dpb_page_size) is unsupported");
  auto tpb = Catch<EMDOClientError>([] { BuildTransactionParameterBlock({"snapshot"}); });
  EXPECT_EQ(tpb.Message(), u"TPB Constant (snapshot) is unknown");
  auto tpb13 = Catch<EMDOClientError>([] { BuildTransactionParameterBlock({"verb_time"}); });
  EXPECT_EQ(tpb13.Message(), u"TPB Constant (isc_tpb_verb_time) is unsupported");
  EXPECT_EQ(BuildTransactionParameterBlock({}), "");
  EXPECT_EQ(BuildTransactionParameterBlock({"isc_tpb_read_committed", "rec_version", "nowait"}),
            std::string("\x03\x0f\x11\x07"));
  EXPECT_EQ(BuildTransactionParameterBlock({"lock_read=CLIENTES"}),
            std::string("\x03\x0a\x08") + "CLIENTES");
  // One length byte: 255 bytes fit, a longer value is refused rather than wrapped.
  EXPECT_EQ(BuildDatabaseParameterBlock({"password=" + std::string(255, 'x')}).size(), 258u);
  EXPECT_THROW(BuildDatabaseParameterBlock({"password=" + std::string(256, 'x')}), EMDOClientError);
  EXPECT_THROW(BuildTransactionParameterBlock({"lock_write=" + std::string(300, 'T')}),
               EMDOClientError);
}

TEST_F(ConnectionTest, OpensWithTheTestUserAndReportsDialectThree) {
  TMDODatabase db;
  Connect(db);
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(db.DBSQLDialect(), 3);
  db.Close();
  EXPECT_FALSE(db.Connected());
}

TEST_F(ConnectionTest, RefusedAttachmentsCarryTheServersText) {
  TMDODatabase db;
  auto wrong_password = Catch<EMDOFirebirdError>([&] { Connect(db, test::DbUser(), "nope"); });
  EXPECT_FALSE(db.Connected());
  EXPECT_NE(wrong_password.Message().find(u"password"), std::u16string::npos)
      << wrong_password.what();
  EXPECT_NE(wrong_password.FirebirdCode, 0);

  TMDODatabase other;
  other.SetDatabaseName("localhost:/var/lib/firebird/3.0/data/fesko/no-such-file.fdb");
  other.SetParam("user_name", test::DbUser());
  other.SetParam("Password", test::DbPassword());
  auto wrong_path = Catch<EMDOFirebirdError>([&] { other.Open(); });
  // The server sends several messages: one line each, joined by CR LF, no final period.
  std::string text = wrong_path.what();
  EXPECT_NE(text.find("no-such-file.fdb"), std::string::npos) << text;
  EXPECT_GE(std::count(text.begin(), text.end(), '\n'), 2) << text;
  EXPECT_NE(text.find("\r\n"), std::string::npos);
  EXPECT_NE(text.back(), '.');
  EXPECT_EQ(wrong_path.FirebirdCode, 335544344);  // isc_io_error
}

TEST_F(ConnectionTest, AFailedDialectQueryAndALongValueAreErrorsThatLeaveBothSidesClosed) {
  // The information call fails right after attaching, as when the server goes away then.
  {
    test::FailingEntry<&FbClient::isc_database_info> info(isc_network_error, "localhost");
    TMDODatabase db;
    auto lost = Catch<EMDOFirebirdError>([&] { Connect(db); });
    EXPECT_EQ(lost.FirebirdCode, isc_network_error);
    EXPECT_FALSE(db.Connected());
    TIBDatabase events;
    events.SetDatabaseName(*database_);
    EXPECT_THROW(events.Open(), EIBInterBaseError);
    EXPECT_FALSE(events.Connected());
  }

  // The event side's errors carry their own texts, also those it shares with the query side.
  TIBDatabase events;
  events.SetDatabaseName(*database_);
  events.SetParam("user_name", test::DbUser());
  events.SetParam("password", std::string(300, 'x'));
  auto too_long = Catch<EIBClientError>([&] { events.Open(); });
  EXPECT_EQ(too_long.Message(),
            u"Parameter block value of isc_dpb_password is longer than 255 bytes");
  EXPECT_FALSE(events.Connected());
  events.SetParam("password", test::DbPassword());
  events.Open();
  EXPECT_EQ(Catch<EIBClientError>([&] { events.SetDatabaseName("localhost:/x.fdb"); }).Message(),
            u"Cannot perform operation -- DB is currently open");
}

TEST_F(ConnectionTest, NameAndParametersAreFrozenWhileOpen) {
  TMDODatabase db;
  Connect(db);
  auto error = Catch<EMDOClientError>([&] { db.SetDatabaseName("localhost:/elsewhere.fdb"); });
  EXPECT_EQ(error.Message(), u"Cannot perform operation -- DB is currently open");
  EXPECT_EQ(error.SQLCode, 16);
  Catch<EMDOClientError>([&] { db.SetParam("user_name", "otro"); });
  EXPECT_EQ(db.DatabaseName(), *database_);
  EXPECT_EQ(db.Params().Value("user_name"), test::DbUser());
  db.SetDatabaseName(*database_);  // the same name is no change
}

TEST_F(ConnectionTest, MissingNameIsAClientError) {
  TMDODatabase db;
  auto error = Catch<EMDOClientError>([&] { db.Open(); });
  EXPECT_EQ(error.Message(), u"Database name is missing");
}

TEST_F(ConnectionTest, TransactionsStartCommitAndRollBack) {
  TMDODatabase db;
  TMDOTransaction tr;
  tr.SetDefaultDatabase(&db);

  auto closed = Catch<EMDOClientError>([&] { tr.StartTransaction(); });
  EXPECT_EQ(closed.Message(), u"Cannot perform operation -- DB is not open");

  Connect(db);
  // Commit and Rollback on an inactive transaction start and end an empty one.
  tr.Commit();
  EXPECT_FALSE(tr.Active());
  tr.Rollback();
  EXPECT_FALSE(tr.Active());

  tr.StartTransaction();
  auto twice = Catch<EMDOClientError>([&] { tr.StartTransaction(); });
  EXPECT_EQ(twice.Message(), u"Transaction is active");
  EXPECT_EQ(twice.SQLCode, 19);
  EXPECT_TRUE(tr.Active());

  Execute(tr, "insert into estado (codigo, nombre) values (901, 'descartado')");
  tr.Rollback();
  tr.StartTransaction();
  Execute(tr, "insert into estado (codigo, nombre) values (902, 'guardado')");
  tr.Commit();
  std::string rows = test::RunIsql(*database_, "select codigo from estado where codigo > 900;");
  EXPECT_EQ(rows.find("901"), std::string::npos);
  EXPECT_NE(rows.find("902"), std::string::npos);

  TMDOTransaction lonely;
  auto none = Catch<EMDOClientError>([&] { lonely.StartTransaction(); });
  EXPECT_EQ(none.Message(), u"No databases are listed in transaction component");
}

TEST_F(ConnectionTest, AnActiveTransactionIsCommittedWhenTheConnectionCloses) {
  {
    TMDODatabase db;
    TMDOTransaction tr;
    tr.SetDefaultDatabase(&db);
    Connect(db);
    tr.StartTransaction();
    Execute(tr, "insert into estado (codigo, nombre) values (903, 'al cerrar')");
    db.Close();
    EXPECT_FALSE(tr.Active());
  }
  std::string rows = test::RunIsql(*database_, "select codigo from estado where codigo = 903;");
  EXPECT_NE(rows.find("903"), std::string::npos);
}

TEST_F(ConnectionTest, DatabaseErrorBoxNamesRightsAndDuplicateKeysInItsOwnWords) {
  ScriptedMessageBoxes boxes;
  TMDODatabase db;
  TMDOTransaction tr;
  tr.SetDefaultDatabase(&db);
  Connect(db);
  tr.StartTransaction();
  Execute(tr, "insert into monedas (codigo, nombre) values ('EUR', 'Euros')");
  tr.Commit();
  tr.StartTransaction();
  auto duplicate = Catch<EMDOFirebirdError>(
      [&] { Execute(tr, "insert into monedas (codigo, nombre) values ('EUR', 'Otra vez')"); });
  tr.Rollback();
  EXPECT_EQ(duplicate.FirebirdCode, 335544665);
  ShowDatabaseError(duplicate, u"Error al guardar", u"Monedas");

  TMDODatabase stranger;
  TMDOTransaction other;
  other.SetDefaultDatabase(&stranger);
  Connect(stranger, test::NoRightsUser(), test::NoRightsPassword());
  other.StartTransaction();
  auto refused = Catch<EMDOFirebirdError>([&] { Execute(other, "delete from clientes"); });
  other.Rollback();
  EXPECT_EQ(refused.FirebirdCode, 335544352);
  ShowDatabaseError(refused, u"Error al borrar", u"Clientes");

  ShowDatabaseError(MDOClientError(mdoCannotExecuteSelect), u"Error al leer", u"Datos");

  auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].text,
            u"El registro que intentas ingresar ya existe (Violación de Clave primaria)");
  EXPECT_EQ(shown[0].caption, u"Monedas");
  EXPECT_EQ(shown[0].flags, 16);
  EXPECT_EQ(shown[1].text, u"Lo siento, no tienes autorización para realizar esta acción");
  EXPECT_EQ(shown[1].caption, u"Clientes");
  EXPECT_EQ(shown[2].text, u"Error al leer\r\nMensaje: use Open for a Select Statement");
}

TEST(ClientLibrary, AMissingLibraryIsClientErrorOneAtConstruction) {
  UnloadClientLibrary();
  SetClientLibraryName("libfbclient-missing.so.9");
  auto error = Catch<EMDOClientError>([] { TMDODatabase db; });
  EXPECT_EQ(error.SQLCode, 1);
  EXPECT_EQ(error.Message(),
            u"Firebird Client library not found in the path. Please install Firebird to use this "
            u"functionality");
  Catch<EMDOClientError>([] { TMDOTransaction tr; });
  auto events = Catch<EIBClientError>([] { TIBDatabase db; });
  EXPECT_EQ(events.SQLCode, 1);
  SetClientLibraryName("libfbclient.so.2");
  TMDODatabase loads_again;
}

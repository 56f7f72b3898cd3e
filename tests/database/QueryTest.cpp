// The query component against a real server: the parameter scan, statement texts, value
// texts of every column kind, the row cache and the automatic transaction.
#include <gtest/gtest.h>

#include "base/FormatSettings.h"
#include "database/Datamodule.h"
#include "database/MDOErrors.h"
#include "database/MDOQuery.h"
#include "database/MDOSQL.h"
#include "tests/support/Workshop.h"

using namespace fesko;
using namespace fesko::db;
using fesko::test::Catch;
using fesko::test::Load;

namespace {

// The message of a data-set error, which is no database error of the server or the client.
template <typename Fn>
WideString DataSetError(Fn fn) {
  try {
    fn();
  } catch (const EMDOError& e) {
    ADD_FAILURE() << "a client or server error: " << e.what();
  } catch (const EDatabaseError& e) {
    return e.Message();
  }
  ADD_FAILURE() << "expected an error";
  return {};
}

std::vector<std::string> ColumnTexts(TMDOQuery& q) {
  std::vector<std::string> texts;
  for (int i = 0; i < q.FieldCount(); ++i) texts.emplace_back(q.FieldText(i));
  return texts;
}

class QueryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    database_ = new std::string(test::CreateDatabase("query"));
    test::RunIsql(*database_,
                  "create table kinds (id integer, c char(10), v varchar(10), n numeric(15,2),"
                  " d double precision, f date, t time, ts timestamp, b blob sub_type text,"
                  " s smallint, big bigint, n4 numeric(4,1), n18 numeric(18,6), bin blob);\n"
                  "create table nums (n integer, dt date, txt varchar(10), memo blob sub_type "
                  "text);\n"
                  "create table arr (a integer[3], k integer);\n");
  }
  static void TearDownTestSuite() { delete database_; }

  void SetUp() override {
    FormatSettings() = DefaultFormatSettings();
    dm_ = test::ConnectedDataModule(*database_);
  }

  void TearDown() override {
    dm_.reset();
    FormatSettings() = DefaultFormatSettings();
  }

  TMDOQuery& Consulta() { return dm_->Consulta; }
  TMDOTransaction& Transaction() { return dm_->transaccion; }

  static std::string* database_;
  std::unique_ptr<TDataModule1> dm_;
};

std::string* QueryTest::database_ = nullptr;

}  // namespace

TEST(ParameterScan, MarkersOutsideLiteralsAndBlockCommentsBecomePlaceholders) {
  ScannedSQL s = ScanSQL(
      "select ':x', \"a:b\", 'it''s :y' from t /* :no ? */ where a = :a and b=:\"Mixed Name\"\r\n"
      "and c = ? and d = :$d_1+1");
  EXPECT_EQ(s.text,
            "select ':x', \"a:b\", 'it''s :y' from t /* :no ? */ where a = ? and b=?\r\n"
            "and c = ? and d = ?+1");
  EXPECT_EQ(s.names, (std::vector<AnsiString>{"a", "Mixed Name", "", "$d_1"}));

  // Line comments are not recognised: a marker in one is a marker.
  EXPECT_EQ(ScanSQL("select 1 from t -- :a\r\n").names, std::vector<AnsiString>{"a"});
  auto in_comment = Catch<EMDOClientError>([] { ScanSQL("select 1 from t -- note: nothing\r\n"); });
  EXPECT_EQ(in_comment.Message(), u"SQL Parse Error:\r\n\r\nParameter name expected");
  EXPECT_EQ(in_comment.SQLCode, 55);

  EXPECT_EQ(Catch<EMDOClientError>([] { ScanSQL("select : from t"); }).Message(),
            u"SQL Parse Error:\r\n\r\nParameter name expected");
  EXPECT_EQ(Catch<EMDOClientError>([] { ScanSQL("select 'abc from t"); }).Message(),
            u"SQL Parse Error:\r\n\r\nEOF in string detected");
  EXPECT_EQ(Catch<EMDOClientError>([] { ScanSQL("select :\"abc from t"); }).Message(),
            u"SQL Parse Error:\r\n\r\nEOF in string detected");
  EXPECT_EQ(Catch<EMDOClientError>([] { ScanSQL("select 1 /* open"); }).Message(),
            u"SQL Parse Error:\r\n\r\nEOF in comment detected");
  // While lines are still being added, a literal may be open: the names found so far count.
  EXPECT_EQ(ScanMarkerNames("select :a, 'open"), std::vector<AnsiString>{"a"});
}

TEST_F(QueryTest, ScanErrorsSurfaceWhenTheStatementIsPrepared) {
  TMDOQuery& q = Consulta();
  Load(q, {"select 1 from rdb$database where 1 = 1 -- see: below"});
  auto error = Catch<EMDOClientError>([&] { q.Open(); });
  EXPECT_EQ(error.Message(), u"SQL Parse Error:\r\n\r\nParameter name expected");
  EXPECT_FALSE(q.Active());
  EXPECT_FALSE(Transaction().Active());  // the transaction it started is ended again

  // A marker the server reads as part of a line comment would shift every later value to the
  // wrong placeholder; it is refused instead.
  Load(q, {"select k from arr -- :unused", "where k = :k"});
  q.ParamByName("k").SetAsInteger(1);
  EXPECT_EQ(Catch<EMDOClientError>([&] { q.Open(); }).Message(),
            u"SQL Parse Error:\r\n\r\nParameter count mismatch");
}

TEST_F(QueryTest, LinesReachTheServerEachFollowedByCrLf) {
  TMDOQuery& q = Consulta();
  Load(q, {"select mon$sql_text from mon$statements",
           "where mon$attachment_id = current_connection and mon$sql_text like '%probe-7%'"});
  EXPECT_EQ(q.SQL().Text(),
            "select mon$sql_text from mon$statements\r\nwhere mon$attachment_id = "
            "current_connection and mon$sql_text like '%probe-7%'\r\n");
  q.Open();
  ASSERT_FALSE(q.Eof());
  EXPECT_EQ(q.Fields(0).Kind(), TFieldKind::kTextBlob);
  EXPECT_EQ(q.Fields(0).AsString(), q.SQL().Text());

  // A literal continued on the next line carries the line break.
  Load(q, {"select 'a", "b' from rdb$database"});
  q.Open();
  EXPECT_EQ(q.Fields(0).AsString(), "a\r\nb");
}

TEST_F(QueryTest, TransactionStatementsAndMisusedCallsAreRefused) {
  TMDOQuery& q = Consulta();
  for (const char* statement : {"commit", "rollback", "set transaction"}) {
    Load(q, {statement});
    auto refused = Catch<EMDOClientError>([&] { q.ExecSQL(); });
    EXPECT_EQ(refused.Message(), u"Not permitted") << statement;
    EXPECT_EQ(refused.SQLCode, 5);
  }

  Load(q, {"select 1 from rdb$database"});
  auto select = Catch<EMDOClientError>([&] { q.ExecSQL(); });
  EXPECT_EQ(select.Message(), u"use Open for a Select Statement");
  EXPECT_EQ(select.SQLCode, 66);
  EXPECT_FALSE(Transaction().Active());

  q.Open();
  EXPECT_EQ(DataSetError([&] { q.ExecSQL(); }),
            u"Consulta: Cannot perform this operation on an open dataset");
  q.Close();

  for (auto lines : {std::vector<std::string>{}, std::vector<std::string>{" ", "x"}}) {
    q.SQL().Clear();
    for (auto& line : lines) q.SQL().Add(line);
    EXPECT_EQ(Catch<EMDOClientError>([&] { q.Open(); }).Message(), u"Empty SQL Statement");
    EXPECT_EQ(Catch<EMDOClientError>([&] { q.ExecSQL(); }).SQLCode, 65);
  }

  TMDOQuery lonely("Suelta");
  Load(lonely, {"select 1 from rdb$database"});
  EXPECT_EQ(Catch<EMDOClientError>([&] { lonely.Open(); }).Message(), u"Database not assigned");
  lonely.SetDatabase(&dm_->service);
  EXPECT_EQ(Catch<EMDOClientError>([&] { lonely.Open(); }).Message(), u"Transaction not assigned");

  // A server error leaves the query closed and the component usable.
  Load(q, {"select nothing from nowhere"});
  auto server = Catch<EMDOFirebirdError>([&] { q.Open(); });
  EXPECT_NE(server.FirebirdCode, 0);
  EXPECT_FALSE(q.Active());
  Load(q, {"select 1 from rdb$database"});
  q.Open();
  EXPECT_EQ(q.FieldText(0), "1");
}

TEST_F(QueryTest, EveryColumnKindHasItsText) {
  test::RunIsql(*database_,
                "delete from kinds;\n"
                "insert into kinds values (1, 'ab', 'ab', 1500.00, 0.1, '2024-03-05', '14:05:09',"
                " '2024-03-05 00:00:00', 'texto largo', -7, 9000000000, 2.5, 1.25, null);\n"
                "insert into kinds values (2, '12', 'x', 1500.50, 1.5e20, '1999-12-31',"
                " '00:00:00', '2024-03-05 14:05:09.750', 'caf\xe9', 32767, -1, -0.5, 0.000001,"
                " 'bin');\n"
                "insert into kinds values (3, null, null, -0.25, 123456.789, null, null, null,"
                " null, null, null, 3.5, -12345678901.5, null);\n"
                "insert into kinds (id, d, n) values (4, 0.000001234, 2.5);\n");
  TMDOQuery& q = Consulta();
  Load(q, {"select c, v, n, d, f, t, ts, b, s, big, n4, n18, bin from kinds order by id"});
  q.Open();
  ASSERT_EQ(q.FieldCount(), 13);
  using K = TFieldKind;
  std::vector<K> kinds;
  for (int i = 0; i < q.FieldCount(); ++i) kinds.push_back(q.Fields(i).Kind());
  EXPECT_EQ(kinds, (std::vector<K>{K::kString, K::kString, K::kScaled, K::kFloat, K::kDate,
                                   K::kTime, K::kDateTime, K::kTextBlob, K::kSmallInt, K::kLargeInt,
                                   K::kScaled, K::kFloat, K::kBinaryBlob}));
  EXPECT_EQ(q.Fields(0).Size(), 10);

  EXPECT_EQ(ColumnTexts(q),
            (std::vector<std::string>{"ab        ", "ab", "1500", "0.1", "05/03/2024", "14:05:09",
                                      "05/03/2024", "texto largo", "-7", "9000000000", "2.5",
                                      "1.25", ""}));
  q.Next();
  EXPECT_EQ(ColumnTexts(q),
            (std::vector<std::string>{"12        ", "x", "1500.5", "1.5E20", "31/12/1999",
                                      "00:00:00", "05/03/2024 14:05:09", "caf\xe9", "32767", "-1",
                                      "-0.5", "1E-6", "bin"}));
  q.Next();
  EXPECT_EQ(ColumnTexts(q), (std::vector<std::string>{"", "", "-0.25", "123456.789", "", "", "", "",
                                                      "", "", "3.5", "-12345678901.5", ""}));
  EXPECT_TRUE(q.Fields(0).IsNull());
  EXPECT_EQ(q.Fields(0).AsInteger(), 0);
  q.Next();
  EXPECT_EQ(q.FieldText(3), "1.234E-6");

  // Dates and times follow the regional formats of the moment.
  q.First();
  FormatSettings() = FormatSettingsFromLangInfo("%Y-%m-%d", "%I:%M:%S %p", "", "a.m.", "p.m.");
  q.Next();
  EXPECT_EQ(q.FieldText(4), "1999-12-31");
  EXPECT_EQ(q.FieldText(5), "12:00:00 a.m.");
  EXPECT_EQ(q.FieldText(6), "2024-03-05 02:05:09 p.m.");
}

TEST_F(QueryTest, IntegerReadsRoundHalfToEvenAndConvertTexts) {
  test::RunIsql(*database_,
                "delete from kinds;\n"
                "insert into kinds (id, n, n4, c, v, big) values (1, 1500.50, 2.5, '12', 'x',"
                " 4294967297);\n"
                "insert into kinds (id, n, n4, c, v) values (2, 1501.50, -2.5, ' 7', '');\n"
                "insert into kinds (id, n, n4) values (3, 2.49, 3.5);\n");
  TMDOQuery& q = Consulta();
  Load(q, {"select n, n4, c, v, big from kinds order by id"});
  q.Open();
  EXPECT_EQ(q.Fields(0).AsInteger(), 1500);
  EXPECT_EQ(q.Fields(1).AsInteger(), 2);
  EXPECT_EQ(q.Fields(2).AsInteger(), 12);  // the blanks of a CHAR value are no digits
  EXPECT_EQ(Catch<EConvertError>([&] { q.Fields(3).AsInteger(); }).Message(),
            u"'x' is not a valid integer value");
  EXPECT_EQ(q.Fields(4).AsInteger(), 1);  // the low 32 bits
  q.Next();
  EXPECT_EQ(q.Fields(0).AsInteger(), 1502);
  EXPECT_EQ(q.Fields(1).AsInteger(), -2);
  EXPECT_EQ(q.Fields(2).AsInteger(), 7);
  EXPECT_EQ(Catch<EConvertError>([&] { q.Fields(3).AsInteger(); }).Message(),
            u"'' is not a valid integer value");
  q.Next();
  EXPECT_EQ(q.Fields(0).AsInteger(), 2);
  EXPECT_EQ(q.Fields(1).AsInteger(), 4);
}

TEST_F(QueryTest, MaxOfAnEmptyTableIsOneNullRow) {
  TMDOQuery& q = Consulta();
  Load(q, {"select max(codigo) from clientes"});
  q.Open();
  EXPECT_FALSE(q.Eof());
  EXPECT_EQ(q.RecordCount(), 1);
  EXPECT_TRUE(q.Fields(0).IsNull());
  EXPECT_EQ(q.Fields(0).AsInteger(), 0);
  EXPECT_EQ(q.Fields(0).AsString(), "");

  Load(q, {"select codigo, nombres from clientes"});
  q.Open();
  EXPECT_TRUE(q.Eof());
  EXPECT_TRUE(q.IsEmpty());
  EXPECT_EQ(q.FieldCount(), 2);
  EXPECT_EQ(q.FieldText(1), "");
  EXPECT_EQ(q.Fields(0).AsInteger(), 0);
}

TEST_F(QueryTest, ParametersAreFoundWithoutRegardToCaseAndBoundAtEveryMarker) {
  TMDOQuery& q = Consulta();
  Load(q, {"select 1 from rdb$database where 2 = :Codigo or 3 = :CODIGO"});
  EXPECT_EQ(q.ParamCount(), 1);
  EXPECT_EQ(DataSetError([&] { q.ParamByName("nope"); }), u"Consulta: Parameter 'nope' not found");

  q.ParamByName("codigo").SetAsInteger(3);
  q.Open();
  EXPECT_FALSE(q.IsEmpty());
  q.ParamByName("CODIGO").SetAsInteger(4);
  q.Close();
  q.Open();  // the same statement runs again with the value now bound
  EXPECT_TRUE(q.IsEmpty());

  // A value survives an edit that keeps its name; a cleared text keeps none.
  q.SQL().Add("and 1 = 1");
  EXPECT_EQ(q.ParamByName("codigo").DataType(), TParamType::kInteger);
  q.SQL().Clear();
  q.SQL().Add("select 1 from rdb$database where 2 = :codigo");
  EXPECT_TRUE(q.ParamByName("codigo").IsNull());
}

TEST_F(QueryTest, ValuesOfEveryTypeAreBound) {
  test::RunIsql(*database_, "delete from kinds;\ndelete from nums;\n");
  TMDOQuery& q = Consulta();
  Transaction().StartTransaction();
  Load(q, {"insert into kinds (id, c, v, n, d, f, t, ts, b, s, big, n4)",
           "values (:id, :c, :v, :n, :d, :f, :t, :ts, :b, :s, :big, :n4)"});
  q.ParamByName("id").SetAsInteger(10);
  q.ParamByName("c").SetAsString("ab");
  q.ParamByName("v").SetAsBytes("xy");
  q.ParamByName("n").SetAsCurrency(15005000);  // 1500.50
  q.ParamByName("d").SetAsFloat(0.25);
  q.ParamByName("f").SetAsDate({2024, 2, 29});
  q.ParamByName("t").SetAsTime({23, 59, 58});
  q.ParamByName("ts").SetAsDateTime({{2024, 3, 5}, {14, 5, 9}});
  std::string long_text(40000, 'z');
  long_text[0] = '\xe1';
  q.ParamByName("b").SetAsString(long_text);
  q.ParamByName("s").SetAsBoolean(true);
  q.ParamByName("big").SetAsInt64(-9000000000);
  // n4 is never given a value: it is sent as NULL.
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 1);
  EXPECT_TRUE(Transaction().Active());  // it ran in the unit of work
  Transaction().Commit();

  Load(q, {"select c, v, n, d, f, t, ts, s, big, n4, b from kinds where id = 10"});
  q.Open();
  EXPECT_EQ(ColumnTexts(q), (std::vector<std::string>{
                                "ab        ", "xy", "1500.5", "0.25", "29/02/2024", "23:59:58",
                                "05/03/2024 14:05:09", "1", "-9000000000", "", long_text}));

  // Texts bound to typed placeholders: empty is NULL, the rest is converted.
  Load(q, {"insert into nums (n, dt, memo) values (:n, :dt, :memo)"});
  q.ParamByName("n").SetAsString("");
  q.ParamByName("dt").SetAsString("05/03/2024");
  q.ParamByName("memo").SetAsBlob("");
  q.ExecSQL();
  q.ParamByName("n").SetAsString("12");
  q.ParamByName("dt").SetAsString("");
  q.ExecSQL();
  q.ParamByName("n").SetAsString("x");
  auto conversion = Catch<EMDOFirebirdError>([&] { q.ExecSQL(); });
  EXPECT_NE(std::string(conversion.what()).find("conversion error"), std::string::npos)
      << conversion.what();
  q.ParamByName("n").SetAsString("13");
  q.ParamByName("dt").SetAsString("31/02/2024");
  EXPECT_THROW(q.ExecSQL(), EConvertError);
  EXPECT_EQ(q.RowsAffected(), -1) << "a failed statement changed nothing";

  Load(q, {"select n, dt, memo from nums order by n nulls first"});
  q.Open();
  q.FetchAll();
  ASSERT_EQ(q.RecordCount(), 2);
  EXPECT_EQ(ColumnTexts(q), (std::vector<std::string>{"", "05/03/2024", ""}));
  EXPECT_FALSE(q.Fields(2).IsNull());
  q.Next();
  EXPECT_EQ(ColumnTexts(q), (std::vector<std::string>{"12", "", ""}));
  EXPECT_EQ(q.RowsAffected(), -1);
  // What a statement changed, as the server counted it.
  Load(q, {"update nums set memo = 'm'"});
  q.ExecSQL();
  EXPECT_EQ(q.RowsAffected(), 2);
}

TEST_F(QueryTest, RowsAreCachedInChunksAndWalkedForwardAndBack) {
  test::RunIsql(*database_,
                "delete from nums;\n"
                "set term ^;\n"
                "execute block as declare i integer = 1; begin while (i <= 10) do begin"
                " insert into nums (n, txt) values (:i, 'fila ' || :i); i = i + 1; end end^\n"
                "set term ;^\n");
  TMDOQuery& q = Consulta();
  q.BufferChunks = 3;
  Load(q, {"select n, txt from nums order by n"});
  q.Open();
  EXPECT_EQ(q.RecordCount(), 1);  // fetched as the reader advances
  std::vector<std::string> seen;
  while (!q.Eof()) {
    seen.emplace_back(q.FieldText(1));
    q.Next();
  }
  ASSERT_EQ(seen.size(), 10u);
  EXPECT_EQ(seen[9], "fila 10");
  EXPECT_EQ(q.RecordCount(), 10);
  EXPECT_EQ(q.FieldText(0), "10");  // past the end the last row stays current
  q.Next();
  EXPECT_TRUE(q.Eof());

  q.First();
  EXPECT_FALSE(q.Eof());
  EXPECT_EQ(q.FieldText(1), "fila 1");
  q.Next();
  q.Next();
  q.Next();
  EXPECT_EQ(q.Fields(0).AsInteger(), 4);

  q.Close();
  q.Open();
  q.Next();
  q.FetchAll();
  EXPECT_EQ(q.RecordCount(), 10);
  EXPECT_EQ(q.FieldText(1), "fila 2");
}

TEST_F(QueryTest, ColumnsWithoutAFieldKindAreSkipped) {
  test::RunIsql(*database_, "delete from arr;\ninsert into arr (k) values (5);\n");
  TMDOQuery& q = Consulta();
  Load(q, {"select 1, a, k from arr"});
  q.Open();
  EXPECT_EQ(q.FieldCount(), 2);
  EXPECT_EQ(q.FieldText(1), "5");
}

TEST_F(QueryTest, AFetchErrorClosesTheQuery) {
  test::RunIsql(*database_,
                "delete from nums;\n"
                "insert into nums (n, txt) values (1, '1');\n"
                "insert into nums (n, txt) values (2, 'dos');\n");
  TMDOQuery& q = Consulta();
  Load(q, {"select cast(txt as integer) from nums order by n"});
  q.Open();
  EXPECT_EQ(q.FieldText(0), "1");
  Catch<EMDOFirebirdError>([&] { q.Next(); });
  EXPECT_FALSE(q.Active());
  EXPECT_FALSE(Transaction().Active());
}

TEST_F(QueryTest, CommitAndRollbackCloseOpenQueries) {
  TMDOQuery& q = Consulta();
  Transaction().StartTransaction();
  Load(q, {"select 1 from rdb$database"});
  q.Open();
  Transaction().Commit();
  EXPECT_FALSE(q.Active());
  EXPECT_TRUE(q.IsEmpty());
  EXPECT_EQ(DataSetError([&] { q.Next(); }),
            u"Consulta: Cannot perform this operation on a closed dataset");

  Transaction().StartTransaction();
  q.Open();  // prepared again in the new transaction
  EXPECT_EQ(q.FieldText(0), "1");
  Transaction().Rollback();
  EXPECT_FALSE(q.Active());
}

TEST_F(QueryTest, AQueryThatStartedTheTransactionCommitsItWhenItFinishes) {
  test::RunIsql(*database_, "delete from nums;\n");
  TMDOQuery& q = dm_->Consulta;
  TMDOQuery& other = dm_->ConsultaVs;

  Load(q, {"insert into nums (n) values (1)"});
  q.ExecSQL();
  EXPECT_FALSE(Transaction().Active());
  EXPECT_NE(test::RunIsql(*database_, "select count(*) from nums;").find("1"), std::string::npos);

  // A failed statement outside a unit of work ends its transaction as well.
  Load(q, {"insert into nums (n) values ('x')"});
  Catch<EMDOFirebirdError>([&] { q.ExecSQL(); });
  EXPECT_FALSE(Transaction().Active());
  // Inside one, the transaction stays for the unit of work to roll back.
  Transaction().StartTransaction();
  Catch<EMDOFirebirdError>([&] { q.ExecSQL(); });
  EXPECT_TRUE(Transaction().Active());
  Transaction().Rollback();

  Load(q, {"select n from nums"});
  q.Open();
  EXPECT_TRUE(Transaction().Active());
  Load(other, {"select 2 from rdb$database"});
  other.Open();
  q.Close();  // another query is open on it: the transaction goes on
  EXPECT_TRUE(Transaction().Active());
  EXPECT_EQ(other.FieldText(0), "2");
  other.Close();
  Transaction().Commit();

  q.Open();
  q.Close();
  EXPECT_FALSE(Transaction().Active());
}

TEST_F(QueryTest, TheDataModuleWiresItsEightQueries) {
  int busy = 0;
  SetQueryBusyHandler([&](bool on) { busy += on ? 1 : -1; });
  for (TMDOQuery* q : {&dm_->Consulta, &dm_->ConsultaVs, &dm_->ConsultaSimple, &dm_->consultaRep,
                       &dm_->ConsultaPresup, &dm_->consultaestado, &dm_->consultaempresa,
                       &dm_->ConsultaProduccion}) {
    EXPECT_EQ(q->Database(), &dm_->service);
    EXPECT_EQ(q->Transaction(), &dm_->transaccion);
    EXPECT_EQ(q->BufferChunks, 1000);
    Load(*q, {"select '" + q->Name() + "' from rdb$database"});
    q->Open();
    EXPECT_EQ(q->FieldText(0), q->Name());
  }
  EXPECT_EQ(busy, 0);
  SetQueryBusyHandler(nullptr);
  // Closing the connection closes every query on it.
  dm_->service.Close();
  EXPECT_FALSE(dm_->ConsultaProduccion.Active());
}

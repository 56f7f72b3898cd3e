// Every workshop statement against the schema, with rows that make its result visible.
#include "database/WorkshopQueries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "database/Datamodule.h"
#include "database/MDOErrors.h"
#include "tests/support/Workshop.h"

using namespace fesko;
using namespace fesko::db;

namespace {

using Row = std::vector<std::string>;

std::vector<Row> AllRows(TMDOQuery& q) {
  std::vector<Row> rows;
  for (q.First(); !q.Eof(); q.Next()) {
    Row row;
    for (int i = 0; i < q.FieldCount(); ++i) row.emplace_back(q.FieldText(i));
    rows.push_back(std::move(row));
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::vector<std::string> Codes(TMDOQuery& q) {
  std::vector<std::string> codes;
  for (const Row& row : AllRows(q)) codes.push_back(row[0]);
  std::sort(codes.begin(), codes.end());
  return codes;
}

CalendarDate AddDays(const CalendarDate& date, int n) {
  using namespace std::chrono;
  sys_days day = year_month_day{year{date.Year}, month{static_cast<unsigned>(date.Month)},
                                std::chrono::day{static_cast<unsigned>(date.Day)}};
  year_month_day moved{day + days{n}};
  return {static_cast<int>(moved.year()), static_cast<int>(static_cast<unsigned>(moved.month())),
          static_cast<int>(static_cast<unsigned>(moved.day()))};
}

// The change columns are set by hand here, so the triggers that stamp them are switched off.
constexpr const char* kRows = R"(
alter trigger clientes_aud inactive;
alter trigger reparaciones_aud inactive;
alter trigger presupuestos_aud inactive;
commit;
insert into tipo_aparato values (1, 'Televisor');
insert into aparato values ('NS1', 'Sony', 'KV-21', 1);
insert into estado values (1, 'En taller');
insert into estado values (2, 'Terminado');
insert into estadopresup values (1, 'Pendiente');
insert into estadopresup values (2, 'Aprobado');
insert into monedas values ('USD', 'D)"
                              "\xf3"
                              R"(lares');
insert into monedas values ('UY', 'Pesos');
insert into empresa values ('Taller Fesko', 'Av. Italia 1234', 'Montevideo', 'Montevideo',
  '11300', '099 123 456', 'taller@fesko.uy', 'www.fesko.uy');
insert into clientes values (1, 'Ana', 'ana', 'a1', current_date - 10, '08:00:00');
insert into clientes values (2, 'Beto', 'beto', 'b2', current_date - 1, '00:00:01');
insert into clientes values (3, 'Carla', 'carla', 'c3', current_date - 5, '10:00:00');
insert into clientes values (4, 'Dora', 'dora', 'd4', current_date - 5, '09:59:59');
insert into clientes values (5, 'Eva', 'eva', 'e5', current_date + 1, '00:00:00');
insert into clientes values (6, 'F)"
                              "\xe9"
                              R"(lix', 'felix', 'f6', current_date, '00:00:00');
insert into clientes values (7, 'Gabi', 'gabi', 'g7', current_date - 1, '15:00:00');
insert into clientes values (8, 'Hugo', 'hugo', 'h8', current_date, '23:59:59');
insert into reparaciones values (100, 1, 'NS1', 'No enciende', '2024-03-01', 1,
  current_date - 10, '08:00:00');
insert into reparaciones values (101, 2, 'NS9', 'Pantalla rota', '2024-03-02', 2,
  current_date - 1, '00:00:01');
insert into reparaciones values (102, 3, 'NS1', 'Sin sonido', '2024-03-03', 1,
  current_date - 5, '10:00:00');
insert into presupuestos values (500, 100, 1, '2024-03-03', 'Cambio de fuente', 'USD', 1500.50,
  current_date - 1, '12:00:00');
insert into presupuestos values (501, 100, 2, '2024-03-04', 'Cambio de placa', 'UY', 1500.00,
  current_date - 10, '08:00:00');
)";

class WorkshopQueriesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    database_ = new std::string(test::CreateDatabase("queries"));
    test::RunIsql(*database_, kRows);
  }
  static void TearDownTestSuite() { delete database_; }

  void SetUp() override {
    FormatSettings() = DefaultFormatSettings();
    test::Connect(dm_.service, *database_);
    dm_.transaccion.StartTransaction();
    now_ = ReadServerMoment(dm_.consultaestado);
  }

  CalendarDate DaysAgo(int n) const { return AddDays(now_.Date, -n); }

  static std::string* database_;
  TDataModule1 dm_;
  DateAndTime now_;
};

std::string* WorkshopQueriesTest::database_ = nullptr;

}  // namespace

TEST_F(WorkshopQueriesTest, SettingsAreReadAndEveryRowIsWritten) {
  TMDOQuery& q = dm_.Consulta;
  EXPECT_EQ(ReadAccountNumber(q), "15318");
  EXPECT_EQ(ReadBaseUrl(q), "http://127.0.0.1:8081/");
  EXPECT_EQ(ReadPollMinutes(q, "15318"), 1);
  EXPECT_EQ(ReadPollMinutes(q, "99"), 0);
  ReadWebSettings(q);
  EXPECT_EQ(AllRows(q), (std::vector<Row>{{"http://127.0.0.1:8081/", "1"}}));

  test::Load(dm_.ConsultaVs, {"insert into parametros values ('http://otro/', 9, '77')"});
  dm_.ConsultaVs.ExecSQL();
  SaveWebSettings(q, "https://dunmar.example/", "5");
  ReadWebSettings(q);
  EXPECT_EQ(AllRows(q),
            (std::vector<Row>{{"https://dunmar.example/", "5"}, {"https://dunmar.example/", "5"}}));
  EXPECT_THROW(SaveWebSettings(q, "https://dunmar.example/", "cinco"), EMDOFirebirdError);

  test::Load(dm_.ConsultaVs, {"delete from parametros"});
  dm_.ConsultaVs.ExecSQL();
  EXPECT_EQ(ReadAccountNumber(q), "");
  EXPECT_EQ(ReadBaseUrl(q), "");
  EXPECT_EQ(ReadPollMinutes(q, ""), 0);
  dm_.transaccion.Rollback();
}

TEST_F(WorkshopQueriesTest, CompanyAndListsHaveTheirColumns) {
  ReadCompany(dm_.consultaempresa);
  EXPECT_EQ(AllRows(dm_.consultaempresa),
            (std::vector<Row>{{"Taller Fesko", "Av. Italia 1234", "Montevideo", "Montevideo",
                               "11300", "099 123 456", "taller@fesko.uy", "www.fesko.uy"}}));
  ListStates(dm_.Consulta);
  EXPECT_EQ(AllRows(dm_.Consulta), (std::vector<Row>{{"1", "En taller"}, {"2", "Terminado"}}));
  ListBudgetStates(dm_.ConsultaVs);
  EXPECT_EQ(AllRows(dm_.ConsultaVs), (std::vector<Row>{{"1", "Pendiente"}, {"2", "Aprobado"}}));
  ListCurrencies(dm_.ConsultaProduccion);
  // Fixed-length codes keep their blanks; texts are the stored bytes.
  EXPECT_EQ(AllRows(dm_.ConsultaProduccion),
            (std::vector<Row>{{"USD", "D\xf3lares"}, {"UY ", "Pesos"}}));
  ListClients(dm_.ConsultaSimple);
  auto clients = AllRows(dm_.ConsultaSimple);
  ASSERT_EQ(clients.size(), 8u);
  EXPECT_EQ(clients[5], (Row{"6", "F\xe9lix", "felix", "f6"}));
  // All of them open at once, in the one transaction.
  EXPECT_TRUE(dm_.consultaempresa.Active());
  EXPECT_TRUE(dm_.ConsultaProduccion.Active());
}

TEST_F(WorkshopQueriesTest, MaximaAndCodesAfterAMarker) {
  TMDOQuery& q = dm_.consultaestado;
  EXPECT_EQ(MaxClientCode(q), 8);
  EXPECT_EQ(MaxRepairCode(q), 102);
  ClientsAfterCode(dm_.ConsultaVs, 6);
  EXPECT_EQ(AllRows(dm_.ConsultaVs),
            (std::vector<Row>{{"7", "Gabi", "gabi", "g7"}, {"8", "Hugo", "hugo", "h8"}}));
  RepairsAfterCode(dm_.ConsultaSimple, 100);
  EXPECT_EQ(Codes(dm_.ConsultaSimple), (std::vector<std::string>{"101", "102"}));
  EXPECT_EQ(dm_.ConsultaSimple.FieldCount(), 14);

  dm_.ConsultaVs.Close();
  dm_.ConsultaSimple.Close();
  for (std::string table : {"presupuestos", "reparaciones", "clientes"}) {
    test::Load(dm_.Consulta, {"delete from " + table});
    dm_.Consulta.ExecSQL();
  }
  EXPECT_EQ(MaxClientCode(q), 0);
  EXPECT_EQ(MaxRepairCode(q), 0);
  dm_.transaccion.Rollback();
}

TEST_F(WorkshopQueriesTest, RepairRowsJoinDevicesBudgetsAndCurrencies) {
  TMDOQuery& q = dm_.ConsultaSimple;
  ListRepairs(q);
  EXPECT_EQ(q.FieldCount(), 14);
  EXPECT_EQ(
      AllRows(q),
      (std::vector<Row>{
          {"100", "1", "Televisor", "Sony", "KV-21", "NS1", "No enciende", "01/03/2024", "1", "1",
           "03/03/2024", "Cambio de fuente", "USD", "1500.5"},
          {"100", "1", "Televisor", "Sony", "KV-21", "NS1", "No enciende", "01/03/2024", "2", "1",
           "04/03/2024", "Cambio de placa", "UY ", "1500"},
          // No device with its serial number, no budget: those columns are empty.
          {"101", "2", "", "", "", "NS9", "Pantalla rota", "02/03/2024", "", "2", "", "", "", ""},
          {"102", "3", "Televisor", "Sony", "KV-21", "NS1", "Sin sonido", "03/03/2024", "", "1", "",
           "", "", ""},
      }));

  RepairStateByRepair(dm_.Consulta, 100);
  EXPECT_EQ(dm_.Consulta.FieldCount(), 7);
  EXPECT_EQ(AllRows(dm_.Consulta),
            (std::vector<Row>{{"100", "1", "1", "03/03/2024", "Cambio de fuente", "USD", "1500.5"},
                              {"100", "2", "1", "04/03/2024", "Cambio de placa", "UY ", "1500"}}));
  RepairStateByRepair(dm_.Consulta, 101);
  EXPECT_EQ(AllRows(dm_.Consulta), (std::vector<Row>{{"101", "", "2", "", "", "", ""}}));
  RepairStateByRepair(dm_.Consulta, 0);
  EXPECT_TRUE(dm_.Consulta.IsEmpty());

  EXPECT_EQ(SetBudgetState(dm_.ConsultaVs, "100", "2"), 2);
  EXPECT_EQ(SetBudgetState(dm_.ConsultaVs, "999", "2"), 0);
  RepairStateByRepair(dm_.Consulta, 100);
  auto states = AllRows(dm_.Consulta);
  ASSERT_EQ(states.size(), 2u);
  EXPECT_EQ(states[0][1], "2");
  EXPECT_EQ(states[1][1], "2");
  dm_.transaccion.Rollback();
}

TEST_F(WorkshopQueriesTest, ChangedSinceTakesTheMarkerAsOneMoment) {
  TMDOQuery& q = dm_.Consulta;
  // A client changed yesterday at 15:00 with the marker two days ago at 16:00 is a change
  // after the marker, and so is one changed today before the marker's time of day.
  ClientsChangedSince(q, DaysAgo(2), {16, 0, 0});
  EXPECT_EQ(q.FieldCount(), 4);
  std::vector<std::string> expected = {"2", "6", "7"};
  if (now_.Time == TimeOfDay{23, 59, 59}) expected.push_back("8");
  EXPECT_EQ(Codes(q), expected);

  // A marker time later than the present time of day hides nothing on later days.
  ClientsChangedSince(q, DaysAgo(2), {23, 59, 59});
  EXPECT_EQ(Codes(q).front(), "2");

  // A change exactly at the marker is selected; one a second earlier is not.
  ClientsChangedSince(q, DaysAgo(5), {10, 0, 0});
  EXPECT_EQ(Codes(q)[0], "2");
  EXPECT_EQ(Codes(q)[1], "3");
  ClientsChangedSince(q, DaysAgo(5), {10, 0, 1});
  EXPECT_EQ(Codes(q)[1], "6");
  // Nothing lies after the present moment (client 5 is stamped tomorrow).
  ClientsChangedSince(q, now_.Date, now_.Time);
  EXPECT_TRUE(q.IsEmpty() || Codes(q) == std::vector<std::string>{"8"});
}

TEST_F(WorkshopQueriesTest, RepairsAndBudgetsChangedSinceAMoment) {
  RepairsChangedSince(dm_.consultaRep, DaysAgo(2), {23, 59, 59});
  EXPECT_EQ(dm_.consultaRep.FieldCount(), 14);
  EXPECT_EQ(Codes(dm_.consultaRep), (std::vector<std::string>{"101"}));
  RepairsChangedSince(dm_.consultaRep, DaysAgo(5), {10, 0, 0});
  EXPECT_EQ(Codes(dm_.consultaRep), (std::vector<std::string>{"101", "102"}));
  RepairsChangedSince(dm_.consultaRep, DaysAgo(10), {8, 0, 0});
  EXPECT_EQ(Codes(dm_.consultaRep), (std::vector<std::string>{"100", "100", "101", "102"}));

  // Only the changed budget's row, without the repair's state.
  BudgetsChangedSince(dm_.ConsultaPresup, DaysAgo(2), {23, 59, 59});
  EXPECT_EQ(dm_.ConsultaPresup.FieldCount(), 13);
  EXPECT_EQ(
      AllRows(dm_.ConsultaPresup),
      (std::vector<Row>{{"100", "1", "Televisor", "Sony", "KV-21", "NS1", "No enciende",
                         "01/03/2024", "1", "03/03/2024", "Cambio de fuente", "USD", "1500.5"}}));
  BudgetsChangedSince(dm_.ConsultaPresup, DaysAgo(1), {12, 0, 1});
  EXPECT_TRUE(dm_.ConsultaPresup.IsEmpty());
  // Both result sets stay open together.
  EXPECT_TRUE(dm_.consultaRep.Active());
}

TEST_F(WorkshopQueriesTest, TheServerMomentIsThisMachinesClock) {
  DateAndTime moment = ReadServerMoment(dm_.consultaestado);
  TimeOfDay here = TimeNow();
  EXPECT_EQ(moment.Date, Today());
  auto seconds = [](const TimeOfDay& t) { return t.Hour * 3600 + t.Minute * 60 + t.Second; };
  EXPECT_LE(std::abs(seconds(here) - seconds(moment.Time)), 5);
}

// The workshop simulator against a real workshop database and the stand-in: each action is a
// committed transaction of its own that changes what its line says, budgets stay one per repair,
// a budget the customer decided on the web is left alone, and failures spoil one action only.
#include <gtest/gtest.h>

#include <map>

#include "base/TextKinds.h"
#include "database/Datamodule.h"
#include "database/MDOErrors.h"
#include "database/MDOQuery.h"
#include "database/UnitOfWork.h"
#include "tests/support/Workshop.h"
#include "workshop/simulator/StandInQueue.h"
#include "workshop/simulator/WorkshopSimulator.h"

using namespace fesko;
using workshop::Action;
using workshop::WorkshopSimulator;

namespace {

// The text between « and » in a line, as the database should hold it (Windows-1252).
AnsiString QuotedInLine(const std::string& line) {
  auto begin = line.find("«");
  auto end = line.find("»", begin);
  if (begin == std::string::npos || end == std::string::npos) return "(no quoted text)";
  begin += std::string("«").size();
  return Utf8ToAnsi(line.substr(begin, end - begin));
}

int NumberAfter(const std::string& line, const std::string& words) {
  // The first occurrence of the words followed by a blank and digits.
  for (auto at = line.find(words + " "); at != std::string::npos;
       at = line.find(words + " ", at + 1)) {
    std::size_t digits = at + words.size() + 1, end = digits;
    while (end < line.size() && line[end] >= '0' && line[end] <= '9') ++end;
    if (end > digits) return std::stoi(line.substr(digits, end - digits));
  }
  return -1;
}

class SimulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    database_ = test::CreateDatabase("simulator", true);
    data_ = test::ConnectedDataModule(database_);
    observer_ = test::ConnectedDataModule(database_);
  }

  // The first column of every row, each as text, read through a connection of its own.
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> values;
    db::RunUnitOfWork(*observer_, [&] {
      db::TMDOQuery& q = observer_->Consulta;
      test::Load(q, {sql});
      q.Open();
      for (q.First(); !q.Eof(); q.Next()) values.emplace_back(q.FieldText(0));
    });
    return values;
  }
  std::string Value(const std::string& sql) {
    auto values = Column(sql);
    return values.empty() ? "(no row)" : values.front();
  }

  std::string database_;
  std::unique_ptr<db::TDataModule1> data_, observer_;
};

TEST_F(SimulatorTest, EachActionIsCommittedOnItsOwnAndChangesWhatItsLineSays) {
  WorkshopSimulator simulator(*data_, 7);

  std::string line = simulator.Act(Action::NuevoCliente);
  EXPECT_FALSE(data_->transaccion.Active());
  int client = NumberAfter(line, "nuevo cliente");
  EXPECT_EQ(client, 4) << line;
  EXPECT_EQ(Value("select nombres from clientes where codigo = " + std::to_string(client)),
            QuotedInLine(line))
      << "names are stored as Windows-1252 bytes: " << line;

  line = simulator.Act(Action::NuevaReparacion);
  EXPECT_FALSE(data_->transaccion.Active());
  int repair = NumberAfter(line, "nueva reparación");
  ASSERT_EQ(repair, 4) << line;
  std::string r = std::to_string(repair);
  EXPECT_EQ(Value("select estado from reparaciones where codigo = " + r), "1");
  EXPECT_EQ(Value("select falla from reparaciones where codigo = " + r), QuotedInLine(line));
  EXPECT_EQ(Value("select count(*) from reparaciones r join aparato a on a.ns = r.ns "
                  "where r.codigo = " +
                  r),
            "1")
      << "the device is registered with the repair";
  EXPECT_EQ(Value("select count(*) from reparaciones where fechaingreso = current_date and "
                  "codigo = " +
                  r),
            "1");

  line = simulator.Act(Action::NuevoPresupuesto);
  EXPECT_FALSE(data_->transaccion.Active());
  int budget = NumberAfter(line, "nuevo presupuesto");
  int budget_repair = NumberAfter(line, "la reparación");
  ASSERT_GT(budget, 2) << line;
  std::string b = std::to_string(budget);
  EXPECT_EQ(Value("select idreparacion from presupuestos where codigo = " + b),
            std::to_string(budget_repair));
  EXPECT_EQ(Value("select estado from presupuestos where codigo = " + b), "1");
  EXPECT_EQ(Value("select detalle from presupuestos where codigo = " + b), QuotedInLine(line));
  std::string currency = Value("select moneda from presupuestos where codigo = " + b);
  EXPECT_TRUE(currency == "UYU" || currency == "USD") << currency;
  EXPECT_NE(line.find(currency + " "), std::string::npos) << line;

  // Repair 1 of the small demo is in state 3, "En reparación".
  std::map<std::string, std::string> before;
  for (int code = 1; code <= 4; ++code) {
    before[std::to_string(code)] =
        Value("select estado from reparaciones where codigo = " + std::to_string(code));
  }
  line = simulator.Act(Action::EstadoReparacion);
  int moved = NumberAfter(line, "reparación");
  ASSERT_GT(moved, 0) << line;
  std::string m = std::to_string(moved);
  EXPECT_EQ(std::stoi(Value("select estado from reparaciones where codigo = " + m)),
            std::stoi(before[m]) + 1)
      << line;

  std::vector<std::string> budgets_before =
      Column("select codigo || ':' || total || '/' || estado from presupuestos order by codigo");
  line = simulator.Act(Action::EditarPresupuesto);
  EXPECT_FALSE(data_->transaccion.Active());
  int edited = NumberAfter(line, "presupuesto");
  ASSERT_GT(edited, 0) << line;
  std::vector<std::string> budgets_after =
      Column("select codigo || ':' || total || '/' || estado from presupuestos order by codigo");
  ASSERT_EQ(budgets_after.size(), budgets_before.size());
  for (std::size_t i = 0; i < budgets_after.size(); ++i) {
    bool is_edited = budgets_after[i].starts_with(std::to_string(edited) + ":");
    EXPECT_EQ(budgets_after[i] != budgets_before[i], is_edited)
        << budgets_before[i] << " -> " << budgets_after[i] << "; " << line;
  }

  std::string names_before = Value(
      "select list(nombres || '/' || \"PASSWORD\", '|') from "
      "(select nombres, \"PASSWORD\" from clientes order by codigo)");
  line = simulator.Act(Action::EditarCliente);
  EXPECT_NE(Value("select list(nombres || '/' || \"PASSWORD\", '|') from "
                  "(select nombres, \"PASSWORD\" from clientes order by codigo)"),
            names_before)
      << line;
  EXPECT_FALSE(data_->transaccion.Active());
}

TEST_F(SimulatorTest, ManyActionsKeepOneBudgetPerRepairAndLeaveWebDecisionsAlone) {
  test::StandIn standin;
  ASSERT_TRUE(standin.Running());
  std::vector<std::pair<std::string, std::string>> queued;  // orden, estado
  WorkshopSimulator simulator(
      *data_, 15318, [&](int idcompra, const std::string& orden, const std::string& estado) {
        EXPECT_EQ(idcompra, 15318);
        workshop::QueueBudgetState(standin.Base(), idcompra, orden, estado);
        queued.emplace_back(orden, estado);
      });

  std::map<std::string, std::string> decided_budget;  // repair -> its budget row as decided
  auto budget_row = [&](const std::string& repair) {
    return Value(
        "select total || '/' || estado || '/' || fecha_aud || ' ' || hora_aud "
        "from presupuestos where idreparacion = " +
        repair);
  };
  std::map<std::string, int> kinds;
  for (int i = 0; i < 150; ++i) {
    std::string line = simulator.Act();
    ASSERT_FALSE(line.empty());
    kinds[line.substr(0, line.find(' '))]++;
    for (const auto& [orden, estado] : queued) {
      if (!decided_budget.contains(orden)) decided_budget[orden] = budget_row(orden);
    }
  }
  EXPECT_GE(kinds.size(), 6u) << "every kind of action comes up in a long run";
  ASSERT_FALSE(queued.empty());
  for (const auto& [orden, row] : decided_budget) {
    EXPECT_EQ(budget_row(orden), row)
        << "the budget of repair " << orden << " was decided on the web and then edited";
  }
  EXPECT_EQ(Value("select count(*) from (select idreparacion from presupuestos "
                  "group by idreparacion having count(*) > 1)"),
            "0");
  EXPECT_EQ(Value("select count(*) from reparaciones where estado not between 1 and 5"), "0");
  EXPECT_EQ(simulator.PendingFromTheWeb(), static_cast<int>(queued.size()));
}

TEST_F(SimulatorTest, AStateDecidedOnTheWebIsReportedOnceItIsInPresupuestos) {
  std::vector<std::pair<std::string, std::string>> queued;
  WorkshopSimulator simulator(*data_, 3,
                              [&](int, const std::string& orden, const std::string& estado) {
                                queued.emplace_back(orden, estado);
                              });
  std::string line = simulator.Act(Action::EstadoDesdeLaWeb);
  ASSERT_EQ(queued.size(), 1u) << line;
  // Budget 1 of repair 1 is the small demo's only pending one.
  EXPECT_EQ(queued[0].first, "1");
  EXPECT_EQ(simulator.Act(Action::EstadoDesdeLaWeb), "") << "no other pending budget";
  EXPECT_EQ(simulator.Act(Action::EditarPresupuesto), "") << "the decided budget is left alone";
  EXPECT_TRUE(simulator.ArrivalsFromTheWeb().empty());

  // What the agent's poll does with it.
  test::RunIsql(database_, "update presupuestos set estado = " + queued[0].second +
                               " where idreparacion = 1;");
  auto arrivals = simulator.ArrivalsFromTheWeb();
  ASSERT_EQ(arrivals.size(), 1u);
  EXPECT_NE(arrivals[0].find("reparación 1 "), std::string::npos) << arrivals[0];
  EXPECT_TRUE(simulator.ArrivalsFromTheWeb().empty()) << "reported once";
  EXPECT_EQ(simulator.PendingFromTheWeb(), 0);
}

TEST_F(SimulatorTest, AFailedActionSpoilsThatActionOnly) {
  // The web side is away: the budget stays undecided and nothing is left open.
  WorkshopSimulator away(
      *data_, 5, [](int idcompra, const std::string& orden, const std::string& estado) {
        workshop::QueueBudgetState("http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/",
                                   idcompra, orden, estado);
      });
  EXPECT_THROW(away.Act(Action::EstadoDesdeLaWeb), std::runtime_error);
  EXPECT_EQ(away.PendingFromTheWeb(), 0);
  EXPECT_FALSE(data_->transaccion.Active());
  EXPECT_NE(away.Act(Action::EditarPresupuesto), "") << "the budget is still the workshop's";

  // Without a web side no state is decided there.
  WorkshopSimulator workshop_only(*data_, 5);
  EXPECT_EQ(workshop_only.Act(Action::EstadoDesdeLaWeb), "");

  // The database refuses a statement: rolled back, and the next action goes through.
  test::RunIsql(database_,
                "create exception sin_presupuestos 'no budgets today';\n"
                "set term ^ ;\n"
                "create trigger presupuestos_no for presupuestos before insert as\n"
                "begin exception sin_presupuestos; end^\n"
                "set term ; ^\n");
  std::string clients = Value("select count(*) from clientes");
  EXPECT_THROW(workshop_only.Act(Action::NuevoPresupuesto), db::EMDOError);
  EXPECT_FALSE(data_->transaccion.Active());
  EXPECT_EQ(Value("select count(*) from presupuestos"), "2");
  EXPECT_NE(workshop_only.Act(Action::NuevoCliente), "");
  EXPECT_EQ(std::stoi(Value("select count(*) from clientes")), std::stoi(clients) + 1);
}

}  // namespace

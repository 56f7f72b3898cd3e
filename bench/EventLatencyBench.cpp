// Latency of a database event: from the commit of a transaction that posts it on one attachment
// to the call of the listener's handler on the UI thread, which idles in Qt's event loop as the
// program does. The commit's own duration, measured in the same rounds, is the baseline.
//   event_latency_bench [ROUNDS]      (200 by default; needs the local server and the test user)
#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "agent/QtUiThread.h"
#include "base/UiThread.h"
#include "database/IBEvents.h"
#include "database/MDOErrors.h"
#include "database/UnitOfWork.h"

using namespace fesko;
using namespace fesko::db;
using Clock = std::chrono::steady_clock;

namespace {

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

std::string CreateDatabase() {
  std::string command = std::string(FESKO_SOURCE_DIR) + "/scripts/create-db bench-events.fdb";
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run " + command);
  char buffer[512];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  if (::pclose(pipe) != 0) throw std::runtime_error("failed: " + command + "\n" + out);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return "localhost:" + out;
}

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Percentile(std::vector<double> values, double p) {
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1))];
}

// Keeps the UI thread in its event loop until `done`, as the program's message loop would.
template <typename Fn>
void RunLoopUntil(Fn done) {
  auto limit = Clock::now() + std::chrono::seconds(10);
  while (!done()) {
    if (Clock::now() > limit) throw std::runtime_error("no delivery within 10 s");
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
  }
}

}  // namespace

int main(int argc, char** argv) try {
  QCoreApplication app(argc, argv);
  InstallQtUiThread();
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const std::string user = Env("FESKO_DB_USER", "fesko");
  const std::string password = Env("FESKO_DB_PASSWORD", "fesko");
  const std::string database = CreateDatabase();

  TIBDatabase events_db;
  events_db.SetDatabaseName(database);
  events_db.SetParam("user_name", user);
  events_db.SetParam("password", password);
  events_db.Open();
  TDataModule1 poster;
  poster.service.SetDatabaseName(database);
  poster.service.SetParam("user_name", user);
  poster.service.SetParam("Password", password);
  poster.service.Open();

  TIBEvents listener(&events_db);
  listener.Events.Add("Enviar_Cliente_Xml");
  Clock::time_point delivered{};
  int deliveries = 0;
  listener.OnEventAlert = [&](TIBEvents&, const AnsiString&, int, bool&) {
    delivered = Clock::now();
    ++deliveries;
  };
  uint64_t before = UiThreadRequestsRun();
  listener.RegisterEvents();
  // Listening once the first wait is queued and the baseline completion handled.
  RunLoopUntil([&] { return UiThreadRequestsRun() >= before + 2; });

  std::vector<double> latency, commit, after_commit;
  for (int i = 1; i <= rounds; ++i) {
    // The workshop system saving a client: its trigger posts the event at commit.
    std::string sql = "insert into clientes (codigo, nombres) values (" + std::to_string(i) +
                      ", 'Cliente de prueba')";
    int expected = deliveries + 1;
    Clock::time_point start;
    RunUnitOfWork(poster, [&] {
      if (Fb().isc_dsql_execute_immediate(StatusVector(), poster.service.Handle(),
                                          poster.transaccion.Handle(), 0, sql.c_str(), 3,
                                          nullptr)) {
        RaiseMDOFirebirdError();
      }
      start = Clock::now();
    });
    auto committed = Clock::now();
    RunLoopUntil([&] { return deliveries == expected; });
    latency.push_back(Ms(delivered - start));
    commit.push_back(Ms(committed - start));
    after_commit.push_back(Ms(delivered - committed));
  }
  listener.UnRegisterEvents();

  double median = Percentile(latency, 0.5);
  double base = Percentile(commit, 0.5);
  std::printf(
      "event latency, commit to handler on the UI thread, %d rounds: median %.3f ms, "
      "p95 %.3f ms, max %.3f ms\n",
      rounds, median, Percentile(latency, 0.95), Percentile(latency, 1.0));
  std::printf("the commit itself: median %.3f ms; from its return to the handler: median %.3f ms\n",
              base, Percentile(after_commit, 0.5));
  std::printf("latency / commit: %.2f\n", median / base);
  return 0;
} catch (const std::exception& e) {
  std::cerr << "event_latency_bench: " << e.what() << "\n";
  return 1;
}

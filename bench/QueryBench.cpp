// Fetching and rendering a large repair list through the query component, against isql-fb
// running the same statement to /dev/null in the same run. Prints the ratio of the two times as
// one line: figure | value | goal | met (or MISSED).
//   query_bench [ROWS]      (100000 by default; needs the local server and the test user)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "database/Datamodule.h"
#include "database/WorkshopQueries.h"

using namespace fesko;
using namespace fesko::db;
using namespace fesko::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kGoal = 1.2;
constexpr int kRuns = 3;

// The repair statement exactly as the list operation loads it, read back from a query.
std::string RepairStatement(TDataModule1& dm) {
  ListRepairs(dm.Consulta);
  std::string text = dm.Consulta.SQL().Text();
  dm.Consulta.Close();
  return text;
}

}  // namespace

int main(int argc, char** argv) try {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string user = DbUser();
  const std::string password = DbPassword();
  RepairWorkshop workshop("bench-query", rows);
  const std::string& database = workshop.Attachment();

  TDataModule1 dm;
  dm.service.SetDatabaseName(database);
  dm.service.SetParam("user_name", user);
  dm.service.SetParam("Password", password);
  dm.service.Open();
  const std::string statement = RepairStatement(dm);
  dm.service.Close();

  double baseline = 1e9;
  double ours = 1e9;
  std::size_t bytes = 0;
  long fetched = 0;
  for (int run = 0; run < kRuns; ++run) {
    baseline = std::min(baseline, IsqlSeconds(database, statement));

    // Attach, run, walk every row reading every column as text, detach: what isql does too.
    auto start = Clock::now();
    {
      TDataModule1 run_dm;
      run_dm.service.SetDatabaseName(database);
      run_dm.service.SetParam("user_name", user);
      run_dm.service.SetParam("Password", password);
      run_dm.service.Open();
      TMDOQuery& q = run_dm.ConsultaSimple;
      ListRepairs(q);
      bytes = 0;
      fetched = 0;
      for (; !q.Eof(); q.Next()) {
        for (int i = 0; i < q.FieldCount(); ++i) bytes += q.FieldText(i).size();
        ++fetched;
      }
      q.Close();
      run_dm.service.Close();
    }
    ours = std::min(ours, Seconds(Clock::now() - start));
  }

  double ratio = ours / baseline;
  std::fprintf(stderr, "query_bench: %ld repair rows, %zu bytes of text\n", fetched, bytes);
  std::printf(
      "fetch and render, %d repairs | ratio %.2f (query %.2f s, isql-fb %.2f s) | <= %.1f | %s\n",
      rows, ratio, ours, baseline, kGoal, ratio <= kGoal ? "met" : "MISSED");
  return 0;
} catch (const std::exception& e) {
  std::cerr << "query_bench: " << e.what() << "\n";
  return 1;
}

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

#include "database/Datamodule.h"
#include "database/WorkshopQueries.h"

using namespace fesko;
using namespace fesko::db;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kGoal = 1.2;
constexpr int kRuns = 3;

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  if (::pclose(pipe) != 0) throw std::runtime_error("failed: " + command + "\n" + out);
  return out;
}

// Files and databases carry the process id, so that two runs at once keep apart.
std::string Unique(const std::string& name) {
  auto dot = name.rfind('.');
  return name.substr(0, dot) + "-" + std::to_string(::getpid()) + name.substr(dot);
}

// The scripts written for isql-fb, removed when the process ends.
struct TempFiles {
  std::vector<std::string> paths;
  ~TempFiles() {
    for (const auto& path : paths) std::remove(path.c_str());
  }
} tempFiles;

std::string WriteFile(const std::string& name, const std::string& text) {
  std::string path = "/tmp/fesko-bench-" + Unique(name);
  std::ofstream(path, std::ios::binary) << text;
  tempFiles.paths.push_back(path);
  return path;
}

// Drops the database when the run ends, however it ends.
struct Dropper {
  std::string command;
  ~Dropper() {
    if (!command.empty() && std::system(command.c_str()) != 0) std::cerr << "could not drop\n";
  }
};

// The repair statement exactly as the list operation loads it, read back from a query.
std::string RepairStatement(TDataModule1& dm) {
  ListRepairs(dm.Consulta);
  std::string text = dm.Consulta.SQL().Text();
  dm.Consulta.Close();
  return text;
}

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) try {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string user = Env("FESKO_DB_USER", "fesko");
  const std::string password = Env("FESKO_DB_PASSWORD", "fesko");
  const std::string isql = Env("ISQL", "/usr/bin/isql-fb");

  std::string path =
      Capture(std::string(FESKO_SOURCE_DIR) + "/scripts/create-db " + Unique("bench-query.fdb"));
  while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) path.pop_back();
  const std::string database = "localhost:" + path;
  Dropper dropper{isql + " -q -user " + user + " -password " + password + " -i " +
                  WriteFile("drop.sql", "drop database;\n") + " " + database + " >/dev/null 2>&1"};

  // Every repair with a device, a type, a budget and a currency: fourteen full columns a row.
  std::string fill =
      "insert into tipo_aparato values (1, 'Televisor');\n"
      "insert into monedas values ('USD', 'Dolares');\n"
      "set term ^;\n"
      "execute block as declare i integer = 1; begin\n"
      "  while (i <= " +
      std::to_string(rows) +
      ") do begin\n"
      "    insert into aparato values ('NS' || :i, 'Marca ' || mod(:i, 50), 'Modelo ' || :i, 1);\n"
      "    insert into reparaciones values (:i, mod(:i, 3000), 'NS' || :i,\n"
      "      'No enciende despues de una tormenta electrica', dateadd(mod(:i, 900) day to date "
      "'2022-01-01'), mod(:i, 5), current_date, current_time);\n"
      "    insert into presupuestos values (:i, :i, mod(:i, 4), dateadd(mod(:i, 700) day to date "
      "'2022-02-01'), 'Cambio de fuente y limpieza general del equipo', 'USD', (:i * 7) / 4.0,\n"
      "      current_date, current_time);\n"
      "    i = i + 1;\n"
      "  end\n"
      "end^\n"
      "set term ;^\n"
      "commit;\n";
  Capture(isql + " -q -bail -user " + user + " -password " + password + " -i " +
          WriteFile("fill.sql", fill) + " " + database + " 2>&1");

  TDataModule1 dm;
  dm.service.SetDatabaseName(database);
  dm.service.SetParam("user_name", user);
  dm.service.SetParam("Password", password);
  dm.service.Open();
  const std::string script = WriteFile("select.sql", RepairStatement(dm) + ";\n");
  dm.service.Close();

  const std::string isql_command = isql + " -q -user " + user + " -password " + password + " -i " +
                                   script + " " + database + " >/dev/null 2>&1";
  double baseline = 1e9;
  double ours = 1e9;
  std::size_t bytes = 0;
  long fetched = 0;
  for (int run = 0; run < kRuns; ++run) {
    auto start = Clock::now();
    if (std::system(isql_command.c_str()) != 0) throw std::runtime_error("isql-fb failed");
    baseline = std::min(baseline, Seconds(Clock::now() - start));

    // Attach, run, walk every row reading every column as text, detach: what isql does too.
    start = Clock::now();
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

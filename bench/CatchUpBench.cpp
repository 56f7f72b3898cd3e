// Throughput of the start-up catch-up pass: the real pass (settings, markers, the five result
// sets, one upload per row, the markers rewritten) over N changed rows, a fifth in each set,
// against a baseline that posts the same N requests with libcurl over one kept connection to the
// same server, in the same run. Then the pass over 2N rows, to show that its time grows in
// proportion. With FESKO_BENCH_LINK_URL (set by scripts/bench-link run) the first comparison is
// made again over HTTPS through the delayed link, where a handshake per row would show.
//   catchup_bench [N]      (1000 by default; a multiple of 5)
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "agent/SyncAgent.h"
#include "base/ConfigFile.h"
#include "bench/WebBench.h"
#include "database/Datamodule.h"

using namespace fesko;
using namespace fesko::bench;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

constexpr double kThroughputGoal = 1.15;
constexpr double kScalingGoal = 2.3;  // twice the rows, at most this many times the time
constexpr int kAccount = 15318;       // parametros.licenciaappweb of a fresh database
constexpr int kLoopbackRounds = 7;
constexpr int kLinkRounds = 2;

class Host : public SyncHost {
 public:
  AnsiString AccountText() override { return account_; }
  void SetAccountText(const AnsiString& text) override { account_ = text; }
  void SetPollInterval(int) override {}
  void ShowBalloon(const WideString&, const WideString&) override {}
  void SetWebFailing(bool) override {}
  void SetSettingsFault(const WideString&) override {}
  void SetLocalFault(bool) override {}

 private:
  AnsiString account_;
};

// The rows of a workshop that was busy while the agent was away: with k = n / 5, k clients
// changed and k created, k repairs whose budget changed, k repairs changed and k created. The
// change stamps are set by hand (the stamping triggers are switched off meanwhile) so that each
// row falls in exactly one set of the pass, given the markers of MarkersIni.
std::string WorkshopRows(int n) {
  const int k = n / 5;
  const std::string before = "'2020-01-01', '09:00:00'";
  const std::string after = "'2020-01-03', '11:00:00'";
  std::string sql;
  sql += "insert into estado values (1, 'Recibido');\ninsert into estado values (2, 'En curso');\n";
  sql += "insert into estadopresup values (1, 'Pendiente');\n";
  sql += "insert into estadopresup values (2, 'Aceptado');\n";
  sql += "insert into monedas values ('UYU', 'Pesos uruguayos');\n";
  sql += "insert into tipo_aparato values (1, 'Televisor');\n";
  sql += "insert into tipo_aparato values (2, 'Lavarropas');\n";
  for (int a = 0; a < 10; ++a) {
    sql += "insert into aparato values ('NS-" + std::to_string(a) + "', 'Marca " +
           std::to_string(a) + "', 'Modelo X" + std::to_string(a) + "', " +
           std::to_string(1 + a % 2) + ");\n";
  }
  for (const char* table : {"clientes", "reparaciones", "presupuestos"}) {
    sql += std::string("alter trigger ") + table + "_aud inactive;\n";
  }
  sql += "commit;\n";
  for (int c = 1; c <= 2 * k; ++c) {
    std::string code = std::to_string(c);
    sql += "insert into clientes values (" + code + ", 'Cliente " + code + " & Hijos', 'login" +
           code + "', 'clave<" + code + ">', " + (c <= k ? after : before) + ");\n";
  }
  for (int r = 1; r <= 3 * k; ++r) {
    std::string code = std::to_string(r);
    bool repair_changed = r > k && r <= 2 * k;
    bool budget_changed = r <= k;
    sql += "insert into reparaciones values (" + code + ", " + std::to_string(1 + r % (2 * k)) +
           ", 'NS-" + std::to_string(r % 10) + "', 'Falla numero " + code +
           ": no enciende, hace clic al conectar', '2019-12-30', " + std::to_string(1 + r % 2) +
           ", " + (repair_changed ? after : before) + ");\n";
    sql += "insert into presupuestos values (" + code + ", " + code + ", " +
           std::to_string(1 + r % 2) + ", '2020-01-01', 'Cambio de fuente y limpieza general " +
           code + "', 'UYU', " + std::to_string(1000 + r) + ".50, " +
           (budget_changed ? after : before) + ");\n";
  }
  sql += "commit;\n";
  for (const char* table : {"clientes", "reparaciones", "presupuestos"}) {
    sql += std::string("alter trigger ") + table + "_aud active;\n";
  }
  return sql;
}

// config.ini as the previous run left it: codes below the new rows, moments between the old
// stamps and the changed ones. Dates starting with the year read in any locale.
std::string MarkersIni(int n) {
  const int k = n / 5;
  return "[conexion]\nipserver=localhost\n"
         "[ultimo_cliente]\ncliente=" +
         std::to_string(k) +
         "\n[fecha_actualizacion_cliente]\nFecha=2020-01-02\nHora=10:00:00\n"
         "[nueva_reparacion]\ncodigo=" +
         std::to_string(2 * k) +
         "\nfecha=2020-01-02\nhora=10:00:00\n"
         "[presupuesto]\nfecha=2020-01-02\nhora=10:00:00\n";
}

struct Workshop {
  std::string attachment;
  int rows;
};

Workshop MakeWorkshop(int n) {
  std::string name = "bench-catchup-" + std::to_string(n);
  Workshop workshop{CreateDatabase(name), n};
  RunIsql(workshop.attachment, WorkshopRows(n));
  return workshop;
}

void CheckReceived(StandIn& standin, int expected, const char* who) {
  auto calls = standin.Received();
  long accepted = std::count_if(calls.begin(), calls.end(),
                                [](const ReceivedCall& call) { return call.accepted; });
  if (static_cast<int>(calls.size()) != expected || accepted != expected) {
    throw std::runtime_error(std::string(who) + " should have sent " + std::to_string(expected) +
                             " accepted calls; the stand-in received " +
                             std::to_string(calls.size()) + ", " + std::to_string(accepted) +
                             " accepted");
  }
}

// The processor time this thread has used, to tell our own work from waiting.
double ThreadCpuSeconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// One real catch-up pass from fresh markers; returns its time in seconds and the processor
// time it took in `cpu_seconds`.
double AgentPass(const Workshop& workshop, StandIn& standin, const fs::path& folder,
                 double& cpu_seconds) {
  RunIsql(workshop.attachment, "update parametros set appweburl='" + standin.Base() + "';");
  std::ofstream(folder / "config.ini") << MarkersIni(workshop.rows);
  db::TDataModule1 data;
  data.service.SetDatabaseName(workshop.attachment);
  data.service.SetParam("user_name", DbUser());
  data.service.SetParam("Password", DbPassword());
  data.service.Open();
  Host host;
  TSyncAgent agent(data, host);
  agent.ReadSettings();
  standin.Reset();

  auto start = Clock::now();
  double cpu = ThreadCpuSeconds();
  agent.CatchUp();
  double seconds = Seconds(Clock::now() - start);
  cpu_seconds = ThreadCpuSeconds() - cpu;
  try {
    CheckReceived(standin, workshop.rows, "the catch-up pass");
  } catch (const std::exception& e) {
    std::ifstream in(folder / "config.ini");
    std::string markers((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    throw std::runtime_error(std::string(e.what()) + "; config.ini after the pass:\n" + markers);
  }
  return seconds;
}

double BaselinePass(const std::vector<PreparedPost>& posts, StandIn& standin, CurlClient& client,
                    double& cpu_seconds) {
  standin.Reset();
  auto start = Clock::now();
  double cpu = ThreadCpuSeconds();
  for (const PreparedPost& post : posts) client.PostSoap(post.url, post.soapAction, post.body);
  double seconds = Seconds(Clock::now() - start);
  cpu_seconds = ThreadCpuSeconds() - cpu;
  CheckReceived(standin, static_cast<int>(posts.size()), "the baseline");
  return seconds;
}

struct Timing {
  double agent = 1e9;
  double baseline = 1e9;
  double Ratio() const { return agent / baseline; }
};

// Alternates agent and baseline, and the workshops, so that all see the same state of the
// machine; the fastest round of each counts, being the one least disturbed by other work.
std::vector<Timing> Compare(const std::vector<const Workshop*>& workshops, StandIn& standin,
                            const fs::path& folder, CurlClient& client, int rounds) {
  std::vector<Timing> timings(workshops.size());
  std::vector<std::vector<PreparedPost>> posts(workshops.size());
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t w = 0; w < workshops.size(); ++w) {
      double agent_cpu = 0, baseline_cpu = 0;
      double agent = AgentPass(*workshops[w], standin, folder, agent_cpu);
      if (posts[w].empty()) posts[w] = PrepareReposts(standin.Received(), standin.Base(), kAccount);
      double baseline = BaselinePass(posts[w], standin, client, baseline_cpu);
      timings[w].agent = std::min(timings[w].agent, agent);
      timings[w].baseline = std::min(timings[w].baseline, baseline);
      std::fprintf(stderr,
                   "catchup_bench: %s, %d rows, round %d: agent %.3f s (processor %.3f s), "
                   "curl %.3f s (processor %.3f s)\n",
                   standin.Base().c_str(), workshops[w]->rows, round + 1, agent, agent_cpu,
                   baseline, baseline_cpu);
    }
  }
  return timings;
}

std::string Value(const Timing& timing) {
  return "ratio " + Fixed(timing.Ratio(), 2) + " (agent " + Fixed(timing.agent, 2) + " s, curl " +
         Fixed(timing.baseline, 2) + " s)";
}

}  // namespace

int main(int argc, char** argv) try {
  int n = argc > 1 ? std::atoi(argv[1]) : 1000;
  if (n < 5 || n % 5 != 0) throw std::runtime_error("N must be a positive multiple of 5");
  const std::string link = Env("FESKO_BENCH_LINK_URL", "");
  const std::string link_kind = Env("FESKO_BENCH_LINK_KIND", "delayed link");

  fs::path folder =
      fs::temp_directory_path() / ("fesko-catchup-bench-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  // Removed however the run ends.
  std::unique_ptr<fs::path, void (*)(fs::path*)> remove_folder(&folder, [](fs::path* path) {
    std::error_code ignored;
    fs::remove_all(*path, ignored);
  });
  SetApplicationFolder(folder.string());
  ::setenv("no_proxy", "127.0.0.1,localhost", 1);

  std::fprintf(stderr, "catchup_bench: making workshops of %d and %d changed rows\n", n, 2 * n);
  Workshop small = MakeWorkshop(n);
  Workshop large = MakeWorkshop(2 * n);
  CurlClient client;
  const std::string throughput = "catch-up throughput, ";
  const std::string goal = "<= " + Fixed(kThroughputGoal, 2);
  {
    StandIn standin;
    auto timings = Compare({&small, &large}, standin, folder, client, kLoopbackRounds);
    const Timing& at_n = timings[0];
    const Timing& at_2n = timings[1];
    PrintFigure(throughput + "HTTP loopback, N=" + std::to_string(n), Value(at_n), goal,
                at_n.Ratio() <= kThroughputGoal);
    double growth = at_2n.agent / at_n.agent;
    PrintFigure("catch-up growth, HTTP loopback, N=" + std::to_string(n) +
                    " to 2N=" + std::to_string(2 * n),
                "time ratio " + Fixed(growth, 2) + " (agent " + Fixed(at_n.agent, 2) + " s to " +
                    Fixed(at_2n.agent, 2) + " s; curl " + Fixed(at_2n.baseline / at_n.baseline, 2) +
                    ")",
                "<= " + Fixed(kScalingGoal, 1) + " (linear)", growth <= kScalingGoal);
  }
  const std::string link_figure =
      throughput + "HTTPS through " + link_kind + ", N=" + std::to_string(n);
  if (link.empty()) {
    PrintFigure(link_figure, "not run: start it through scripts/bench-link run", goal, false);
  } else {
    StandIn standin(link);
    Timing timing = Compare({&small}, standin, folder, client, kLinkRounds)[0];
    PrintFigure(link_figure, Value(timing), goal, timing.Ratio() <= kThroughputGoal);
  }
  SetApplicationFolder("");
  DeleteDatabase(small.attachment);
  DeleteDatabase(large.attachment);
  return 0;
} catch (const std::exception& e) {
  std::cerr << "catchup_bench: " << e.what() << "\n";
  return 1;
}

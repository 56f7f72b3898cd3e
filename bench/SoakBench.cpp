// Memory over hours of work: the real Dunmar (started as a person runs it) on a workshop of a
// database server of its own, with the workshop simulator acting about three times a second,
// for 30 minutes. The troubles come twice: the web service failing every call for a while, then
// the database server stopped and started again (the simulator pauses meanwhile, as the staff
// would). Once within the warm-up (the first sixth of the run, at least a minute and a half), so
// that what their first meeting brings in for good (the library code of their paths, the client
// library's pools for a new attachment) is in the baseline; and once in the middle of the rest,
// where a trouble that cost memory each time it came would show. Then the simulator stops,
// Dunmar is given time to catch up, and the consistency check of the fault tests must find the
// web service holding the workshop as the database holds it, with no marker claiming more than
// arrived. Dunmar's resident size (VmRSS) is sampled every few seconds; its growth from the end
// of the warm-up to the end of the run is held against a goal of at most 2 MiB, and its
// anonymous part (the heap and the stacks, where a leak would be) is printed beside it.
//   soak_bench [--quick] [SECONDS]      --quick: 3 minutes; SECONDS: the run's length
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "tests/faults/Consistency.h"
#include "tests/support/Process.h"
#include "tests/support/StandIn.h"
#include "tests/support/TestDatabase.h"

extern char** environ;

namespace {

using namespace fesko::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kGoalGrowthMiB = 2;
constexpr auto kSample = 5s;
constexpr auto kSettleLimit = 180s;

// Markers from long before any row: the first pass sends the whole workshop, so that the
// consistency check may ask for every row.
constexpr char kOldMarkers[] =
    "[ultimo_cliente]\ncliente=0\n"
    "[fecha_actualizacion_cliente]\nFecha=01/01/2000\nHora=00:00:00\n"
    "[nueva_reparacion]\ncodigo=0\nfecha=01/01/2000\nhora=00:00:00\n"
    "[presupuesto]\nfecha=01/01/2000\nhora=00:00:00\n";

// A program of ours, its standard output and error appended to a log; killed if still running
// when it goes.
class Child {
 public:
  Child(std::vector<std::string> argv, const fs::path& log) {
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                       0644);
    ::posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> args;
    for (auto& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    int error = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
  }
  ~Child() {
    if (Running()) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t Pid() const { return pid_; }
  bool Running() {
    int status;
    if (status_ < 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return status_ < 0;
  }
  // Ends it as "Salir" (or Ctrl-C) ends it and returns its exit status; -1 if it would not end.
  int Stop(std::chrono::seconds limit = 60s) {
    if (Running()) ::kill(pid_, SIGTERM);
    for (auto end = Clock::now() + limit; Running() && Clock::now() < end;) {
      std::this_thread::sleep_for(100ms);
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// The resident size of a process, and the part of it that is anonymous memory, in MiB.
struct Resident {
  double all = 0, anonymous = 0;
};
Resident RssMiB(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  Resident resident;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("VmRSS:")) resident.all = std::stod(line.substr(6)) / 1024;
    if (line.starts_with("RssAnon:")) resident.anonymous = std::stod(line.substr(8)) / 1024;
  }
  if (resident.all == 0) throw std::runtime_error("no VmRSS for process " + std::to_string(pid));
  return resident;
}

std::size_t Lines(const fs::path& file) {
  std::ifstream in(file);
  return static_cast<std::size_t>(std::count(std::istreambuf_iterator<char>(in), {}, '\n'));
}

void Say(const std::string& text) {
  std::cerr << "soak_bench: " << text << std::endl;
}

}  // namespace

int main(int argc, char** argv) try {
  std::chrono::seconds run = 30min;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg != "--quick" && std::atoi(argv[i]) <= 0) {
      std::cerr << "usage: soak_bench [--quick | SECONDS]\n";
      return 2;
    }
    run = arg == "--quick" ? 3min : std::chrono::seconds(std::max(60, std::atoi(argv[i])));
  }
  const auto warm_up = std::max<std::chrono::seconds>(run / 6, 90s);
  // Dunmar runs headless, every box on standard error, as on a workshop server.
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) ::setenv(name, "", 1);

  StandIn web;
  if (!web.Running()) throw std::runtime_error("the stand-in web service did not start");
  const std::string exe = CopyToFreshFolder(DUNMAR_EXECUTABLE, "fesko-soak-bench");
  const fs::path folder = fs::path(exe).parent_path(), ini = folder / "config.ini";
  // The server's files belong to its own user: they live apart from the program's folder.
  const std::string server_dir = "/tmp/fesko-soak-firebird-" + std::to_string(::getpid());
  const std::string port = std::to_string(UnusedPort());
  auto server = [&](const std::string& what) {
    std::string command = SourceDir() + "/scripts/firebird-private " + what + " " + server_dir;
    if (Shell(command + (what == "start" ? " " + port : "")) != 0) {
      throw std::runtime_error("failed: " + command);
    }
  };
  struct Removal {
    std::function<void()> fn;
    ~Removal() { fn(); }
  } removal{[&] { Shell(SourceDir() + "/scripts/firebird-private remove " + server_dir); }};
  server("start");
  const std::string host = "localhost/" + port, path = server_dir + "/data/workshop.fdb";
  const std::string attachment = host + ":" + path;
  if (Shell("FESKO_DB_HOST=" + host + " " + SourceDir() + "/scripts/create-db " + path +
            " --demo >/dev/null") != 0) {
    throw std::runtime_error("could not create the workshop on the private server");
  }
  // The shortest poll the settings allow, so that budget states decided on the web come back.
  RunIsql(attachment, "update parametros set appweburl = '" + web.Base() + "', tiempoupdapp = 1;");
  std::ofstream(ini, std::ios::binary)
      << "[conexion]\nipserver=" << host << "\nusuario=" << DbUser() << "\nclave=" << DbPassword()
      << "\nrutabd=" << path << "\n"
      << kOldMarkers;

  Child dunmar({exe}, folder / "dunmar.log");
  // Waits until the web service holds the workshop as the database holds it; what still differs.
  // A connection of its own each time: one from before the server's restart would be gone.
  auto settle = [&](std::chrono::seconds limit) {
    WebConsistency check(attachment);
    std::vector<std::string> differences;
    for (auto end = Clock::now() + limit; Clock::now() < end && dunmar.Running();) {
      if ((differences = check.Differences(web)).empty()) break;
      std::this_thread::sleep_for(kSample);
    }
    return differences;
  };
  if (!settle(120s).empty()) throw std::runtime_error("Dunmar did not catch up within 2 minutes");
  const fs::path sim_log = folder / "simulator.log";
  auto simulate = [&](unsigned seed) {
    return std::make_unique<Child>(
        std::vector<std::string>{SIMULATOR_EXECUTABLE, "--config", ini.string(), "--web",
                                 web.Base(), "--fast", "--seed", std::to_string(seed)},
        sim_log);
  };
  auto simulator = simulate(0);
  Say("Dunmar " + std::to_string(dunmar.Pid()) + " caught up; the simulator acts for " +
      std::to_string(run.count()) + " s (logs in " + folder.string() + ")");

  // The run: samples of the resident size, and the troubles at their moments.
  const auto start = Clock::now();
  Resident base, last;
  double peak = 0;
  auto next_sample = start, next_note = start + 60s;
  auto run_until = [&](Clock::duration since_start) {
    while (Clock::now() < start + since_start) {
      if (!dunmar.Running()) throw std::runtime_error("Dunmar ended during the run");
      if (simulator && !simulator->Running()) throw std::runtime_error("the simulator ended");
      if (Clock::now() >= next_sample) {
        last = RssMiB(dunmar.Pid());
        peak = std::max(peak, last.all);
        if (base.all == 0 && Clock::now() >= start + warm_up) base = last;
        next_sample += kSample;
      }
      if (Clock::now() >= next_note) {
        Say("after " + std::to_string((next_note - start) / 1s) + " s: VmRSS " +
            fesko::bench::Fixed(last.all, 1) + " MiB (anonymous " +
            fesko::bench::Fixed(last.anonymous, 1) + "), " + std::to_string(Lines(sim_log)) +
            " simulator lines");
        next_note += 60s;
      }
      std::this_thread::sleep_for(200ms);
    }
  };
  // Both troubles within a span of the run starting at `from`: the web outage from a fifth of
  // it for a seventh of it, the database restart at its middle, down for a twentieth of the
  // whole run (at least 10 s).
  unsigned seed = 1;
  auto troubles = [&](Clock::duration from, Clock::duration span) {
    run_until(from + span / 5);
    Say("the web service fails every call");
    web.Fail("*", "500fault");
    run_until(from + span / 5 + span / 7);
    web.Fail("*", "none");
    Say("the web service answers again");
    run_until(from + span / 2);
    simulator->Stop();
    simulator.reset();
    Say("the database server stops");
    server("stop");
    run_until(from + span / 2 + std::max<Clock::duration>(run / 20, 10s));
    server("start");
    Say("the database server is back");
    simulator = simulate(++seed);
  };
  troubles(0s, warm_up * 2 / 3);
  troubles(warm_up, run - warm_up);
  run_until(run);
  const Resident end_rss = RssMiB(dunmar.Pid());
  peak = std::max(peak, end_rss.all);
  simulator->Stop();
  const std::size_t actions = Lines(sim_log);
  Say("the simulator stopped; waiting for Dunmar to settle");
  const auto differences = settle(kSettleLimit);
  const int status = dunmar.Stop();
  const auto overshoots = WebConsistency(attachment).MarkerOvershoots(ini.string(), web);
  const std::size_t calls = web.Received().size();
  if (!differences.empty() || !overshoots.empty() || status != 0) {
    Say("differences:\n" + Describe(differences) + "overshoots:\n" + Describe(overshoots) +
        "Dunmar's exit status " + std::to_string(status) + "; logs kept in " + folder.string());
  }

  using fesko::bench::Fixed;
  const std::string figure =
      "soak over " + std::to_string(run.count()) +
      " s, simulator at its fast pace, two web outages and database restarts, ";
  const double growth = end_rss.all - base.all;
  fesko::bench::PrintFigure(
      figure + "resident memory",
      "VmRSS " + Fixed(base.all, 1) + " MiB after " + std::to_string(warm_up.count()) + " s, " +
          Fixed(end_rss.all, 1) + " MiB at the end (+" + Fixed(growth, 1) + " MiB, anonymous +" +
          Fixed(end_rss.anonymous - base.anonymous, 1) + "); peak " + Fixed(peak, 1) + " MiB",
      "grows by <= " + Fixed(kGoalGrowthMiB, 0) + " MiB after the warm-up",
      growth <= kGoalGrowthMiB);
  fesko::bench::PrintFigure(
      figure + "consistency",
      std::to_string(differences.size()) + " differences, " + std::to_string(overshoots.size()) +
          " markers ahead after " + std::to_string(actions) + " simulator lines and " +
          std::to_string(calls) + " calls; exit status " + std::to_string(status),
      "everything arrived, no marker ahead, a clean exit",
      differences.empty() && overshoots.empty() && status == 0);
  if (differences.empty() && overshoots.empty() && status == 0) fs::remove_all(folder);
  return 0;
} catch (const std::exception& e) {
  std::cerr << "soak_bench: " << e.what() << "\n";
  return 1;
}

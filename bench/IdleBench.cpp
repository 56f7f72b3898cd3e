// Idle cost of the running program: the real Dunmar (started as a person runs it) on a demo
// workshop and the stand-in web service, with nothing changing, for a window of minutes. All the
// while the sweep runs the five live passes every minute, the poll asks the web service every
// minute and the attachments are watched, as on a workshop PC between two customers. What it
// spends is read from /proc: processor time (utime + stime of all its threads) over the window,
// taken to an hour, and resident memory (VmRSS at the start and at the end of the window, VmHWM
// the peak of the whole run). The processor goal is absolute, not a ratio: an agent that sits in
// the tray for weeks should cost next to nothing while nothing happens. Start-up and what is done
// once are left out: the window opens once the program has polled for the first time, a minute
// after its start, by when its first sweeps are over and the web client is set up.
//   idle_bench [SECONDS]      (600 by default)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "bench/WebBench.h"

using namespace fesko::bench;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kGoalSecondsPerHour = 2;
constexpr double kGoalGrowthMiB = 2;
// The first poll comes a minute after start; a few seconds more see it finished.
constexpr auto kFirstPollLimit = 120s;
constexpr auto kSettle = 5s;

// Processor time of the whole process, all its threads, in seconds.
double CpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The command name in parentheses may hold blanks; the fields that follow it do not.
  auto close = text.rfind(')');
  if (close == std::string::npos) throw std::runtime_error("no /proc stat for " + text);
  std::istringstream fields(text.substr(close + 1));
  std::string field;
  long utime = 0, stime = 0;
  // Field 3 (the state) comes first; utime and stime are fields 14 and 15.
  for (int n = 3; n <= 15 && fields >> field; ++n) {
    if (n == 14) utime = std::stol(field);
    if (n == 15) stime = std::stol(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A "VmRSS:"-style line of /proc/PID/status, in MiB.
double StatusMiB(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::stod(line.substr(key.size() + 1)) / 1024;
  }
  throw std::runtime_error("no " + key + " in /proc/" + std::to_string(pid) + "/status");
}

}  // namespace

int main(int argc, char** argv) try {
  const int window_seconds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 600;
  ::setenv("no_proxy", "127.0.0.1,localhost", 1);
  StandIn standin;
  std::string attachment = CreateDatabase("bench-idle", true);
  // The shortest poll the settings allow: one download a minute.
  RunIsql(attachment, "update parametros set appweburl='" + standin.Base() + "', tiempoupdapp=1;");
  fs::path folder = fs::temp_directory_path() / ("fesko-idle-bench-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  double cpu = 0, rss_start = 0, rss_end = 0, hwm = 0;
  std::size_t polls = 0;
  std::string log;
  {
    Dunmar dunmar(DUNMAR_EXECUTABLE, folder, attachment);
    // The first start writes its markers into config.ini once it has seeded them.
    auto written = dunmar.ConfigStamp();
    auto limit = Clock::now() + 60s;
    while (dunmar.ConfigStamp() == written) {
      if (Clock::now() > limit || !dunmar.Running()) {
        throw std::runtime_error("Dunmar did not start within 60 s; it said:\n" + dunmar.Log());
      }
      std::this_thread::sleep_for(100ms);
    }
    limit = Clock::now() + kFirstPollLimit;
    while (standin.Received().empty()) {
      if (Clock::now() > limit || !dunmar.Running()) {
        throw std::runtime_error("Dunmar did not poll within 2 minutes; it said:\n" + dunmar.Log());
      }
      std::this_thread::sleep_for(1s);
    }
    std::this_thread::sleep_for(kSettle);
    const pid_t pid = dunmar.Pid();
    const std::size_t calls_before = standin.Received().size();
    const double cpu_before = CpuSeconds(pid);
    rss_start = StatusMiB(pid, "VmRSS");
    std::fprintf(stderr, "idle_bench: Dunmar %d settled; watching it for %d s\n",
                 static_cast<int>(pid), window_seconds);
    const auto start = Clock::now(), end = start + std::chrono::seconds(window_seconds);
    auto next_sample = start + 60s;
    while (Clock::now() < end) {
      if (!dunmar.Running()) throw std::runtime_error("Dunmar ended; it said:\n" + dunmar.Log());
      if (Clock::now() >= next_sample) {
        // The course of the resident size tells a leak from a one-time growth.
        std::fprintf(stderr, "idle_bench: after %.0f s: VmRSS %.1f MiB, %.2f s of processor time\n",
                     Seconds(Clock::now() - start), StatusMiB(pid, "VmRSS"),
                     CpuSeconds(pid) - cpu_before);
        next_sample += 60s;
      }
      std::this_thread::sleep_for(std::min<Clock::duration>(1s, end - Clock::now()));
    }
    cpu = CpuSeconds(pid) - cpu_before;
    rss_end = StatusMiB(pid, "VmRSS");
    hwm = StatusMiB(pid, "VmHWM");
    polls = standin.Received().size() - calls_before;
    log = dunmar.Log();
  }
  fs::remove_all(folder);
  DeleteDatabase(attachment);
  // An idle run that showed a box measured a fault, not the idle program.
  if (log.find("Error") != std::string::npos) {
    throw std::runtime_error("Dunmar reported an error while idle:\n" + log);
  }

  const double per_hour = cpu * 3600 / window_seconds;
  std::fprintf(stderr,
               "idle_bench: %.2f s of processor time in %d s, %zu calls to the web service; "
               "VmRSS %.1f MiB then %.1f MiB, VmHWM %.1f MiB\n",
               cpu, window_seconds, polls, rss_start, rss_end, hwm);
  const std::string figure =
      "idle cost over " + std::to_string(window_seconds) + " s, sweep and poll every minute, ";
  PrintFigure(figure + "processor time",
              Fixed(per_hour, 2) + " s per hour (" + Fixed(cpu, 2) + " s in the window)",
              "<= " + Fixed(kGoalSecondsPerHour, 2) + " s per hour",
              per_hour <= kGoalSecondsPerHour);
  PrintFigure(figure + "resident memory",
              "VmRSS " + Fixed(rss_start, 1) + " MiB at the start, " + Fixed(rss_end, 1) +
                  " MiB at the end; VmHWM " + Fixed(hwm, 1) + " MiB",
              "grows by <= " + Fixed(kGoalGrowthMiB, 0) + " MiB over the window",
              rss_end - rss_start <= kGoalGrowthMiB);
  return 0;
} catch (const std::exception& e) {
  std::cerr << "idle_bench: " << e.what() << "\n";
  return 1;
}

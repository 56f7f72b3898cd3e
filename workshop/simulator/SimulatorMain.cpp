// workshop_simulator: plays the workshop's staff against the workshop database at a human pace,
// one line on standard output per action, until stopped (Ctrl-C, SIGTERM) or a bound is met.
#include <curl/curl.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "base/ConfigFile.h"
#include "database/Datamodule.h"
#include "workshop/simulator/StandInQueue.h"
#include "workshop/simulator/WorkshopSimulator.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kUsage[] =
    "usage: workshop_simulator (--config CONFIG_INI | --database HOST:PATH) [options]\n"
    "  --config FILE      take the connection from the [conexion] section of Dunmar's config.ini\n"
    "  --database H:P     the workshop database; --user and --password (default: the\n"
    "                     FESKO_DB_USER and FESKO_DB_PASSWORD variables, else fesko/fesko)\n"
    "  --web URL          the stand-in web service's base URL, where customers decide budgets;\n"
    "                     without it no budget state is decided on the web\n"
    "  --pace SECONDS     average pause between actions (default 4; each pause varies by half)\n"
    "  --fast             a pause of about 0.3 s\n"
    "  --actions N        stop after N actions\n"
    "  --seconds S        stop after S seconds\n"
    "  --seed N           the random choices (default: from the clock)\n";

volatile sig_atomic_t g_stop = 0;

void OnStop(int) {
  g_stop = 1;
}

struct Options {
  std::string database, user, password, web;
  double pace = 4.0;
  long actions = 0;
  double seconds = 0;
  unsigned seed = static_cast<unsigned>(std::random_device{}());
};

[[noreturn]] void Usage(const std::string& problem) {
  std::cerr << "workshop_simulator: " << problem << "\n" << kUsage;
  std::exit(2);
}

double Number(const std::string& option, const char* text) {
  char* end = nullptr;
  double value = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(value >= 0)) Usage(option + " needs a number");
  return value;
}

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

Options Parse(int argc, char** argv) {
  Options o;
  o.user = Env("FESKO_DB_USER", "fesko");
  o.password = Env("FESKO_DB_PASSWORD", "fesko");
  std::string config;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) Usage(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--config") {
      config = value();
    } else if (arg == "--database") {
      o.database = value();
    } else if (arg == "--user") {
      o.user = value();
    } else if (arg == "--password") {
      o.password = value();
    } else if (arg == "--web") {
      o.web = value();
    } else if (arg == "--pace") {
      o.pace = Number(arg, value());
    } else if (arg == "--fast") {
      o.pace = 0.3;
    } else if (arg == "--actions") {
      o.actions = static_cast<long>(Number(arg, value()));
    } else if (arg == "--seconds") {
      o.seconds = Number(arg, value());
    } else if (arg == "--seed") {
      o.seed = static_cast<unsigned>(Number(arg, value()));
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    } else {
      Usage("unknown option " + arg);
    }
  }
  if (!config.empty()) {
    std::ifstream in(config, std::ios::binary);
    if (!in) Usage("cannot read " + config);
    std::stringstream text;
    text << in.rdbuf();
    auto read = [&](const char* key) { return fesko::ProfileValue(text.str(), "conexion", key); };
    o.database = read("ipserver") + ":" + read("rutabd");
    o.user = read("usuario");
    o.password = read("clave");
  }
  if (o.database.empty()) Usage("no database: give --config or --database");
  return o;
}

void Print(const std::string& line) {
  std::time_t now = std::time(nullptr);
  char stamp[16];
  std::strftime(stamp, sizeof stamp, "%H:%M:%S", std::localtime(&now));
  std::cout << stamp << "  " << line << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = Parse(argc, argv);

  struct sigaction action {};
  action.sa_handler = OnStop;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  curl_global_init(CURL_GLOBAL_DEFAULT);

  int status = 0;
  try {
    fesko::db::TDataModule1 data;
    data.service.SetDatabaseName(options.database);
    data.service.SetParam("user_name", options.user);
    data.service.SetParam("Password", options.password);
    data.service.Open();

    fesko::workshop::WebQueue web;
    if (!options.web.empty()) {
      web = [&](int idcompra, const std::string& orden, const std::string& estado) {
        fesko::workshop::QueueBudgetState(options.web, idcompra, orden, estado);
      };
    }
    fesko::workshop::WorkshopSimulator simulator(data, options.seed, web);
    std::mt19937 pauses(options.seed ^ 0x5eedu);

    auto started = Clock::now();
    std::optional<Clock::time_point> deadline;
    if (options.seconds > 0) {
      deadline = started + std::chrono::milliseconds(static_cast<long>(options.seconds * 1000));
    }
    auto out_of_time = [&] { return deadline && Clock::now() >= *deadline; };
    long done = 0;
    int failures_in_a_row = 0;
    Print("simulador: taller en " + options.database + ", una acción cada ~" +
          std::to_string(options.pace).substr(0, 4) + " s");
    while (!g_stop && !out_of_time() && (options.actions == 0 || done < options.actions)) {
      try {
        for (const std::string& line : simulator.ArrivalsFromTheWeb()) Print(line);
        Print(simulator.Act());
        failures_in_a_row = 0;
      } catch (const std::exception& error) {
        // A refused statement or a stand-in that is away spoils one action, not the run; a
        // database that is gone for good ends it.
        std::cerr << "workshop_simulator: " << error.what() << std::endl;
        if (++failures_in_a_row >= 5) {
          std::cerr << "workshop_simulator: five actions in a row failed; stopping" << std::endl;
          status = 1;
          break;
        }
      }
      ++done;
      if (options.actions != 0 && done >= options.actions) break;
      double pause =
          std::uniform_real_distribution<double>(options.pace * 0.5, options.pace * 1.5)(pauses);
      auto wake = Clock::now() + std::chrono::milliseconds(static_cast<long>(pause * 1000));
      while (!g_stop && !out_of_time() && Clock::now() < wake) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
    }
    try {
      for (const std::string& line : simulator.ArrivalsFromTheWeb()) Print(line);
    } catch (const std::exception&) {
      // The closing look is a courtesy; the run's result is already decided.
    }
    int pending = simulator.PendingFromTheWeb();
    Print("simulador: fin, " + std::to_string(done) + (done == 1 ? " acción" : " acciones") + "; " +
          std::to_string(pending) +
          (pending == 1 ? " estado decidido en la web aún no llegó"
                        : " estados decididos en la web aún no llegaron") +
          " a presupuestos");
  } catch (const std::exception& error) {
    std::cerr << "workshop_simulator: " << error.what() << std::endl;
    status = 1;
  }
  curl_global_cleanup();
  return status;
}

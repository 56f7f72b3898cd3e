// Latency of the live uploads: the real program (Dunmar, started in a folder of its own with its
// config.ini) listens to a workshop database while this bench makes changes one at a time, as
// the workshop system would: a new client, a changed client, a new repair, a changed repair, a
// changed budget, in turn. Each change is committed, and the next waits until the stand-in has
// received its upload; the latency runs from the commit (the moment the server confirmed it) to
// the moment the stand-in recorded the request, both on this machine's wall clock. The commit's
// own duration, the workshop database flushing its pages, is the workshop's and is noted apart. The
// baseline is the bare round trip of one such upload posted with libcurl over a kept connection to
// the same stand-in, in the same run.
//   live_latency_bench [CHANGES]      (200 by default)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/WebBench.h"
#include "database/FbClient.h"
#include "database/MDODatabase.h"
#include "database/MDOErrors.h"
#include "database/UnitOfWork.h"

using namespace fesko;
using namespace fesko::bench;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kAccount = 15318;       // parametros.licenciaappweb of a fresh database
constexpr int kBareRoundTrips = 100;  // before the changes, and as many after
constexpr auto kDeliveryLimit = 15s;
constexpr double kMedianFactor = 1.5, kMedianAllowanceMs = 10;
constexpr double kP99Factor = 3, kP99AllowanceMs = 50;

double WallSeconds() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// The workshop system: one attachment, each change its own committed transaction.
class Workshop {
 public:
  explicit Workshop(const std::string& attachment) {
    data_.service.SetDatabaseName(attachment);
    data_.service.SetParam("user_name", DbUser());
    data_.service.SetParam("Password", DbPassword());
    data_.service.Open();
  }
  // Runs the statement and commits; returns the wall-clock moment the commit was confirmed,
  // and how long it took.
  double Change(const std::string& sql, double* commit_ms = nullptr) {
    double start = 0;
    db::RunUnitOfWork(data_, [&] {
      if (db::Fb().isc_dsql_execute_immediate(db::StatusVector(), data_.service.Handle(),
                                              data_.transaccion.Handle(), 0, sql.c_str(), 3,
                                              nullptr)) {
        db::RaiseMDOFirebirdError();
      }
      start = WallSeconds();
    });
    double committed = WallSeconds();
    if (commit_ms) *commit_ms = (committed - start) * 1000;
    return committed;
  }

 private:
  db::TDataModule1 data_;
};

struct Change {
  std::string sql;
  std::string page;   // where its upload goes
  std::string token;  // text only its upload carries
};

// The i-th change of the run, in turn one of each kind. New clients and repairs take codes from
// 1000 up; a changed repair is the one created by the change before it.
Change NthChange(int i) {
  std::string tag = "LB" + std::to_string(i);
  int client = 1000 + i, repair = 1000 + i;
  switch (i % 5) {
    case 0:
      return {"insert into clientes (codigo, nombres, login, \"PASSWORD\") values (" +
                  std::to_string(client) + ", 'Cliente " + tag + "', 'login" + tag + "', 'clave')",
              "aupload_nuevo_cliente.aspx", "Cliente " + tag};
    case 1:
      return {"update clientes set nombres = 'Cliente " + tag + "' where codigo = 1",
              "aupload_editar_cliente.aspx", "Cliente " + tag};
    case 2:
      return {
          "insert into reparaciones (codigo, cliente, ns, falla, fechaingreso, estado) values (" +
              std::to_string(repair) + ", 1, 'TV-55A-001', 'Falla " + tag + "', current_date, 1)",
          "aupload_nueva_reparacion.aspx", "Falla " + tag};
    case 3:
      return {"update reparaciones set estado = 2 where codigo = " + std::to_string(repair - 1),
              "aupload_editar_reparacion.aspx",
              "<Orden>" + std::to_string(repair - 1) + "</Orden>"};
    default:
      return {"update presupuestos set detalle = 'Detalle " + tag + "' where codigo = 1",
              "aupload_editar_reparacion.aspx", "Detalle " + tag};
  }
}

// The stand-in's record of the upload that carries `change`, once it has arrived. Waits for
// the program to move its marker (it does so after the upload) before asking the stand-in, so
// that the questions do not compete with the upload for the stand-in's attention.
using Stamp = std::pair<std::int64_t, std::int64_t>;

ReceivedCall AwaitUpload(StandIn& standin, Dunmar& dunmar, const Change& change, long since,
                         Stamp stamp, long& last_id) {
  auto limit = Clock::now() + kDeliveryLimit;
  while (dunmar.ConfigStamp() == stamp && Clock::now() < limit) std::this_thread::sleep_for(1ms);
  while (true) {
    for (const ReceivedCall& call : standin.Received(since)) {
      last_id = std::max(last_id, call.id);
      if (call.page == change.page && call.readfilexmls.find(change.token) != std::string::npos) {
        return call;
      }
    }
    if (Clock::now() > limit || !dunmar.Running()) {
      throw std::runtime_error("no upload of \"" + change.token + "\" within " +
                               std::to_string(kDeliveryLimit.count()) + " s; Dunmar said:\n" +
                               dunmar.Log());
    }
    std::this_thread::sleep_for(20ms);
  }
}

std::vector<double> BareRoundTrips(CurlClient& client, const PreparedPost& post, int count) {
  std::vector<double> ms;
  for (int i = 0; i < count; ++i) {
    auto start = Clock::now();
    client.PostSoap(post.url, post.soapAction, post.body);
    ms.push_back(Seconds(Clock::now() - start) * 1000);
  }
  return ms;
}

}  // namespace

int main(int argc, char** argv) try {
  const int changes = argc > 1 ? std::max(5, std::atoi(argv[1])) : 200;
  ::setenv("no_proxy", "127.0.0.1,localhost", 1);
  StandIn standin;
  std::string attachment = CreateDatabase("bench-live", true);
  // No poll tick during the run: the figure is the uploads'.
  RunIsql(attachment,
          "update parametros set appweburl='" + standin.Base() + "', tiempoupdapp=600;");
  fs::path folder = fs::temp_directory_path() / ("fesko-live-bench-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  auto workshop = std::make_unique<Workshop>(attachment);
  long last_id = 0;
  std::vector<double> latency_ms;
  std::vector<double> bare_ms;
  std::vector<double> commit_durations_ms;
  std::vector<double> uploads_before;  // other uploads the program made before the change's own
  {
    Dunmar dunmar(DUNMAR_EXECUTABLE, folder, attachment);
    // The listeners start waiting once the program's start-up pass is over; changes made before
    // that are not announced. Warm up with new clients until one is delivered.
    auto limit = Clock::now() + 60s;
    for (int attempt = 0;; ++attempt) {
      if (Clock::now() > limit || !dunmar.Running()) {
        throw std::runtime_error("Dunmar delivered no change within 60 s; it said:\n" +
                                 dunmar.Log());
      }
      Stamp stamp = dunmar.ConfigStamp();
      workshop->Change("insert into clientes (codigo, nombres) values (" +
                       std::to_string(900 + attempt) + ", 'Calentamiento')");
      auto wait = Clock::now() + 2s;
      while (dunmar.ConfigStamp() == stamp && Clock::now() < wait) std::this_thread::sleep_for(5ms);
      std::this_thread::sleep_for(200ms);
      bool delivered = false;
      for (const ReceivedCall& call : standin.Received(last_id)) {
        last_id = std::max(last_id, call.id);
        delivered = delivered || call.page == "aupload_nuevo_cliente.aspx";
      }
      if (delivered) break;
    }

    // The bare round trip: the warm-up's upload again, straight from libcurl.
    CurlClient client;
    PreparedPost bare = PrepareReposts({standin.Received().back()}, standin.Base(), kAccount)[0];
    bare_ms = BareRoundTrips(client, bare, kBareRoundTrips);
    last_id = standin.LastId();

    for (int i = 0; i < changes; ++i) {
      Change change = NthChange(i);
      Stamp stamp = dunmar.ConfigStamp();
      long since = last_id;
      double commit_ms = 0;
      double committed = workshop->Change(change.sql, &commit_ms);
      commit_durations_ms.push_back(commit_ms);
      ReceivedCall call = AwaitUpload(standin, dunmar, change, since, stamp, last_id);
      uploads_before.push_back(static_cast<double>(call.id - since - 1));
      latency_ms.push_back((call.received_at - committed) * 1000);
    }
    auto after = BareRoundTrips(client, bare, kBareRoundTrips);
    bare_ms.insert(bare_ms.end(), after.begin(), after.end());
  }
  fs::remove_all(folder);
  workshop.reset();
  DeleteDatabase(attachment);

  static const char* kKinds[] = {"new client", "changed client", "new repair", "changed repair",
                                 "changed budget"};
  for (int kind = 0; kind < 5; ++kind) {
    std::vector<double> of_kind, others;
    for (std::size_t i = kind; i < latency_ms.size(); i += 5) {
      of_kind.push_back(latency_ms[i]);
      others.push_back(uploads_before[i]);
    }
    std::fprintf(stderr,
                 "live_latency_bench: %s: median %.2f ms, max %.2f ms; uploads of other rows "
                 "before it: median %.0f, max %.0f\n",
                 kKinds[kind], Median(of_kind), Percentile(of_kind, 1), Median(others),
                 Percentile(others, 1));
  }
  std::fprintf(stderr, "live_latency_bench: the commits themselves: median %.2f ms, max %.2f ms\n",
               Median(commit_durations_ms), Percentile(commit_durations_ms, 1));
  double rt = Median(bare_ms);
  double median = Median(latency_ms), p99 = Percentile(latency_ms, 0.99);
  std::fprintf(stderr,
               "live_latency_bench: %d changes, latency min %.2f ms, median %.2f ms, p99 %.2f ms, "
               "max %.2f ms; bare round trip median %.2f ms (%zu posts)\n",
               changes, Percentile(latency_ms, 0), median, p99, Percentile(latency_ms, 1), rt,
               bare_ms.size());
  auto value = [&](double ms) {
    return Fixed(ms, 2) + " ms (" + Fixed(ms / rt, 2) + " x the bare round trip of " +
           Fixed(rt, 2) + " ms)";
  };
  auto goal = [&](double factor, double allowance) {
    return "<= " + Fixed(factor, 1) + " x RT + " + Fixed(allowance, 0) +
           " ms = " + Fixed(factor * rt + allowance, 2) + " ms";
  };
  const std::string figure =
      "live latency, commit to upload received, " + std::to_string(changes) + " changes, ";
  PrintFigure(figure + "median", value(median), goal(kMedianFactor, kMedianAllowanceMs),
              median <= kMedianFactor * rt + kMedianAllowanceMs);
  PrintFigure(figure + "p99", value(p99), goal(kP99Factor, kP99AllowanceMs),
              p99 <= kP99Factor * rt + kP99AllowanceMs);
  return 0;
} catch (const std::exception& e) {
  std::cerr << "live_latency_bench: " << e.what() << "\n";
  return 1;
}

// The demo as a person runs it: scripts/demo brings up the stand-in, Dunmar (offscreen) and the
// workshop simulator on a workshop database of its own. The run is bounded: the simulator acts
// for half a minute, Dunmar's poll comes a minute after its start, and then the test presses
// Ctrl-C. Every client, repair and budget the simulator touched must be on the stand-in as the
// database holds it now, every budget state decided on the web must be in presupuestos, and
// nothing the demo started may be left running.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <thread>

#include "base/FormatSettings.h"
#include "base/TextKinds.h"
#include "database/Datamodule.h"
#include "database/MDOQuery.h"
#include "database/UnitOfWork.h"
#include "database/WorkshopQueries.h"
#include "tests/support/Workshop.h"
#include "web/RecordDocument.h"

namespace fesko {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kSimulatorSeconds = 35;
// Dunmar polls one minute after it read its settings; this leaves room for the start.
constexpr auto kPollDeadline = 100s;
constexpr char kAccount[] = "15318";

using test::Capture;
using test::ReadFile;

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

template <typename Fn>
bool WaitUntil(Clock::time_point deadline, Fn done) {
  while (Clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(250ms);
  }
  return done();
}

using Call = test::StandIn::Call;  // one upload the stand-in accepted or refused

struct QueueEntry {
  std::string idcompra, orden, estado;
  bool delivered = false;
};

// "<Tag>value</Tag>" as it stands in the document, or nothing when the tag is absent.
std::optional<std::string> Element(const std::string& document, std::string_view tag) {
  std::string open = "<" + std::string(tag) + ">";
  std::string close = "</" + std::string(tag) + ">";
  auto begin = document.find(open);
  if (begin == std::string::npos) return std::nullopt;
  auto end = document.find(close, begin);
  if (end == std::string::npos) return std::nullopt;
  return document.substr(begin, end + close.size() - begin);
}

// What the record builders make of a database value, in UTF-8 as the stand-in keeps it.
std::string Expected(std::string_view tag, std::string_view ansi_value) {
  return AnsiToUtf8(web::EncodeValue(tag, ansi_value));
}

class DemoRun : public ::testing::Test {
 protected:
  // Everything is gathered once, while the demo runs and after it ended; the tests judge it.
  struct Observed {
    std::string attachment;
    fs::path run_dir, log_file;
    int port = 0;
    std::string base;
    DateAndTime start;
    int clients_before = 0, repairs_before = 0;
    std::string log;
    std::vector<Call> calls;
    std::vector<QueueEntry> queue;
    bool simulator_finished = false;
    bool web_states_arrived = false;
    int exit_status = -1;
    bool group_gone = false;
    std::string group_left;
    std::string leftovers;
    bool port_free = false;
    std::string config_mode;
    pid_t group = -1;
  };
  static inline Observed* run_ = nullptr;
  static inline pid_t demo_ = -1;
  static inline std::unique_ptr<db::TDataModule1> data_;

  static void SetUpTestSuite() {
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    run_ = new Observed;
    Observed& r = *run_;
    std::string tag = "demo-e2e-" + std::to_string(::getpid());
    r.run_dir = fs::temp_directory_path() / ("fesko-" + tag);
    r.log_file = fs::temp_directory_path() / ("fesko-" + tag + ".log");
    fs::remove_all(r.run_dir);
    r.port = test::UnusedPort();
    r.base = "http://127.0.0.1:" + std::to_string(r.port) + "/";

    // The demo's own workshop, made as the demo makes it; the demo then keeps it.
    int status = 0;
    std::string path = Trimmed(
        Capture(test::SourceDir() + "/scripts/create-db " + tag + ".fdb --demo-large", &status));
    ASSERT_EQ(status, 0) << "create-db failed";
    r.attachment = "localhost:" + path;
    test::DropWhenDone(r.attachment);
    data_ = test::ConnectedDataModule(r.attachment);
    // The load's rows are stamped with seconds that are over by now; the simulator's later.
    std::this_thread::sleep_for(1100ms);
    Read([&](db::TMDOQuery& q) {
      r.start = db::ReadServerMoment(q);
      r.clients_before = db::MaxClientCode(q);
      r.repairs_before = db::MaxRepairCode(q);
    });

    std::vector<std::string> args = {"/bin/bash",        test::SourceDir() + "/scripts/demo",
                                     "--no-setup",       "--build-dir",
                                     FESKO_BUILD_DIR,    "--run-dir",
                                     r.run_dir.string(), "--db",
                                     tag + ".fdb"};
    std::istringstream options("--port " + std::to_string(r.port) + " --pace 1 --seconds " +
                               std::to_string(kSimulatorSeconds) +
                               " --seed 15318 --stop-after 150");
    for (std::string option; options >> option;) args.push_back(option);
    auto started = Clock::now();
    demo_ = StartInOwnGroup(args, r.log_file);
    ASSERT_GT(demo_, 0);
    r.group = demo_;

    r.simulator_finished = WaitUntil(started + 90s, [&] {
      return ReadFile(r.log_file).find("the simulator has finished") != std::string::npos ||
             !DemoRunning();
    });
    // The poll brings the states decided on the web; the live uploads of what it changed follow
    // within moments.
    r.web_states_arrived = WaitUntil(started + kPollDeadline, [&] {
      auto queue = Queue(r.base);
      if (queue.empty() || !DemoRunning()) return !DemoRunning();
      for (const QueueEntry& e : queue) {
        if (!e.delivered || BudgetState(e.orden) != e.estado) return false;
      }
      return true;
    });
    std::this_thread::sleep_for(3s);
    r.calls = test::ReceivedAt(r.base, r.run_dir.string() + "-received");
    r.queue = Queue(r.base);
    r.config_mode = Trimmed(Capture("stat -c %a " + (r.run_dir / "config.ini").string()));

    // Ctrl-C in the demo's terminal: SIGINT to its whole process group.
    ::kill(-demo_, SIGINT);
    int wait_status = 0;
    auto deadline = Clock::now() + 40s;
    pid_t done = 0;
    while (Clock::now() < deadline && (done = ::waitpid(demo_, &wait_status, WNOHANG)) == 0) {
      std::this_thread::sleep_for(100ms);
    }
    if (done == demo_) {
      r.exit_status =
          WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
      demo_ = -1;
    }
    r.log = ReadFile(r.log_file);
    // An ended process whose parent went first waits for init to reap it: that one is gone.
    std::string group = std::to_string(r.group);
    r.group_gone = WaitUntil(Clock::now() + 10s, [&] {
      r.group_left = Capture("ps -o stat=,pid=,args= -g " + group + " | grep -v '^Z' || true");
      return r.group_left.empty();
    });
    // The brackets keep pgrep from finding its own shell.
    r.leftovers = Capture("pgrep -af '[" + r.run_dir.string().substr(0, 1) + "]" +
                          r.run_dir.string().substr(1) + "|standin[.]py serve --port " +
                          std::to_string(r.port) + " ' || true");
    r.port_free = Capture("bash -c '(exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(r.port) +
                          ") 2>/dev/null && echo busy || echo free'")
                      .starts_with("free");
  }

  static void TearDownTestSuite() {
    if (demo_ > 0) {
      ::kill(-demo_, SIGKILL);
      ::waitpid(demo_, nullptr, 0);
      test::Shell(test::SourceDir() + "/scripts/webservice-stop --port " +
                  std::to_string(run_->port) + " >/dev/null 2>&1");
    }
    data_.reset();
    if (run_) {
      if (!run_->attachment.empty()) {
        test::Shell("rm -f '" + test::PathOf(run_->attachment) + "'");
      }
      if (!::testing::Test::HasFailure()) {
        fs::remove_all(run_->run_dir);
        fs::remove(run_->log_file);
      }
    }
    delete run_;
    run_ = nullptr;
  }

  static pid_t StartInOwnGroup(const std::vector<std::string>& args, const fs::path& log) {
    pid_t pid = ::fork();
    if (pid == 0) {
      ::setpgid(0, 0);
      FILE* out = std::fopen(log.c_str(), "w");
      if (!out) ::_exit(127);
      ::dup2(::fileno(out), STDOUT_FILENO);
      ::dup2(::fileno(out), STDERR_FILENO);
      std::FILE* in = std::fopen("/dev/null", "r");
      if (in) ::dup2(::fileno(in), STDIN_FILENO);
      // No desktop: Dunmar must say so and run offscreen.
      ::unsetenv("DISPLAY");
      ::unsetenv("WAYLAND_DISPLAY");
      ::unsetenv("QT_QPA_PLATFORM");
      std::vector<char*> argv;
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    if (pid > 0) ::setpgid(pid, pid);
    return pid;
  }

  static bool DemoRunning() {
    if (demo_ <= 0) return false;
    return ::waitpid(demo_, nullptr, WNOHANG) == 0;
  }

  // Runs `read` in a transaction of its own, so each look sees what is committed now.
  template <typename Fn>
  static void Read(Fn read) {
    db::RunUnitOfWork(*data_, [&] { read(data_->Consulta); });
  }

  static std::string BudgetState(const std::string& repair) {
    std::string state;
    Read([&](db::TMDOQuery& q) {
      test::Load(q, {"select estado from presupuestos where idreparacion = :r"});
      q.ParamByName("r").SetAsString(repair);
      q.Open();
      if (!q.IsEmpty()) state = q.Fields(0).AsString();
    });
    return state;
  }

  static std::vector<QueueEntry> Queue(const std::string& base) {
    std::vector<QueueEntry> entries;
    std::istringstream lines(
        Capture("/usr/bin/python3 " + test::SourceDir() + "/tests/demo/queue.py " + base));
    std::string line;
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      QueueEntry e;
      std::string delivered;
      std::getline(fields, e.idcompra, '\t');
      std::getline(fields, e.orden, '\t');
      std::getline(fields, e.estado, '\t');
      std::getline(fields, delivered, '\t');
      e.delivered = delivered == "1";
      entries.push_back(e);
    }
    return entries;
  }

  // The documents sent to these pages whose `key` element holds `code`, oldest first.
  static std::vector<const Call*> DocumentsFor(std::initializer_list<std::string_view> pages,
                                               std::string_view key, int code) {
    std::string wanted =
        "<" + std::string(key) + ">" + std::to_string(code) + "</" + std::string(key) + ">";
    std::vector<const Call*> found;
    for (const Call& call : run_->calls) {
      bool page = std::find(pages.begin(), pages.end(), call.page) != pages.end();
      if (page && call.readfilexmls.find(wanted) != std::string::npos) found.push_back(&call);
    }
    return found;
  }

  void SetUp() override {
    if (!run_ || run_->attachment.empty()) GTEST_SKIP() << "the demo did not start";
  }
};

TEST_F(DemoRun, BringsEverythingUpOffscreenAndTheSimulatorActsAtItsPace) {
  const Observed& r = *run_;
  EXPECT_TRUE(r.simulator_finished) << r.log;
  EXPECT_NE(r.log.find("no desktop here"), std::string::npos) << r.log;
  EXPECT_NE(r.log.find("running offscreen"), std::string::npos) << "Dunmar's own notice\n" << r.log;
  EXPECT_NE(r.log.find("the stand-in's page: " + r.base), std::string::npos) << r.log;
  EXPECT_EQ(r.config_mode, "600") << "config.ini holds the database password";
  // One line per action, at about one a second.
  int actions = 0;
  for (std::string_view word :
       {"  nuevo cliente ", "  cliente ", "  nueva reparación ", "  reparación ",
        "  nuevo presupuesto ", "  presupuesto ", "  web: "}) {
    for (auto at = r.log.find(word); at != std::string::npos; at = r.log.find(word, at + 1)) {
      ++actions;
    }
  }
  EXPECT_GE(actions, kSimulatorSeconds / 2) << r.log;
  EXPECT_LE(actions, kSimulatorSeconds * 2) << r.log;
  for (const Call& call : r.calls) {
    EXPECT_EQ(call.accepted, "1") << call.page << " refused:\n" << call.readfilexmls;
  }
}

TEST_F(DemoRun, EveryClientTheSimulatorTouchedIsOnTheStandInAsTheDatabaseHoldsIt) {
  const Observed& r = *run_;
  int checked = 0, created = 0;
  Read([&](db::TMDOQuery& q) {
    test::Load(q, {"select codigo, nombres, login, \"PASSWORD\" from clientes",
                   "where fecha_aud + hora_aud >= :desde order by codigo"});
    q.ParamByName("desde").SetAsDateTime(r.start);
    q.Open();
    for (q.First(); !q.Eof(); q.Next()) {
      int code = q.Fields(0).AsInteger();
      ++checked;
      if (code > r.clients_before) ++created;
      auto documents = DocumentsFor({"aupload_nuevo_cliente.aspx", "aupload_editar_cliente.aspx"},
                                    "Codigo", code);
      if (code > r.clients_before) {
        EXPECT_FALSE(DocumentsFor({"aupload_nuevo_cliente.aspx"}, "Codigo", code).empty())
            << "new client " << code << " was never sent as new";
      }
      if (documents.empty()) {
        ADD_FAILURE() << "client " << code << " changed but never reached the stand-in";
        continue;
      }
      const std::string& last = documents.back()->readfilexmls;
      for (int i = 1; i < 4; ++i) {
        std::string_view tag = web::kClientTags[static_cast<std::size_t>(i)];
        EXPECT_EQ(Element(last, tag).value_or("(missing)"), Expected(tag, q.FieldText(i)))
            << "client " << code << ", last document:\n"
            << last;
      }
    }
  });
  EXPECT_GT(created, 0) << "the simulator created no client; nothing was tested";
  EXPECT_GT(checked, created) << "the simulator edited no client; nothing was tested";
}

TEST_F(DemoRun, EveryRepairAndBudgetTheSimulatorTouchedIsOnTheStandInAsTheDatabaseHoldsIt) {
  const Observed& r = *run_;
  // Which repairs changed, and how: the repair itself, its budget, or both.
  std::map<int, std::pair<bool, bool>> touched;
  Read([&](db::TMDOQuery& q) {
    for (auto [statement, budget] :
         {std::pair{"select codigo from reparaciones where fecha_aud + hora_aud >= :desde", false},
          {"select idreparacion from presupuestos where fecha_aud + hora_aud >= :desde", true}}) {
      test::Load(q, {statement});
      q.ParamByName("desde").SetAsDateTime(r.start);
      q.Open();
      for (q.First(); !q.Eof(); q.Next()) {
        auto& kinds = touched[q.Fields(0).AsInteger()];
        (budget ? kinds.second : kinds.first) = true;
      }
    }
  });
  int created = 0, repairs_edited = 0, budgets = 0;
  for (auto [code, kinds] : touched) {
    auto [repair_changed, budget_changed] = kinds;
    bool is_new = code > r.repairs_before;
    created += is_new;
    repairs_edited += repair_changed && !is_new;
    budgets += budget_changed;
    if (is_new) {
      EXPECT_FALSE(DocumentsFor({"aupload_nueva_reparacion.aspx"}, "Orden", code).empty())
          << "new repair " << code << " was never sent as new";
    }
    auto documents = DocumentsFor(
        {"aupload_nueva_reparacion.aspx", "aupload_editar_reparacion.aspx"}, "Orden", code);
    Read([&](db::TMDOQuery& q) {
      test::Load(
          q,
          {"select r.codigo, r.cliente, t.nombre, a.marca, a.modelo, r.ns, r.falla, r.fechaingreso,"
           " p.estado, r.estado, p.fecha, p.detalle, m.codigo, p.total from reparaciones r"
           " left join aparato a on a.ns = r.ns left join tipo_aparato t on t.codigo = "
           "a.tipoaparato"
           " left join presupuestos p on p.idreparacion = r.codigo"
           " left join monedas m on m.codigo = p.moneda where r.codigo = :codigo"});
      q.ParamByName("codigo").SetAsInteger(code);
      q.Open();
      ASSERT_FALSE(q.IsEmpty());
      q.FetchAll();
      EXPECT_EQ(q.RecordCount(), 1) << "the simulator keeps one budget per repair";
      for (int i = 1; i < 14; ++i) {
        std::string_view tag = web::kNewRepairTags[static_cast<std::size_t>(i)];
        bool budget_tag = i == 8 || i >= 10;
        bool must_be_there = is_new || (tag == "EstadoRep" && repair_changed) ||
                             (budget_tag && (budget_changed || repair_changed));
        const Call* last = nullptr;
        for (const Call* call : documents) {
          if (Element(call->readfilexmls, tag)) last = call;
        }
        if (!last) {
          EXPECT_FALSE(must_be_there) << "repair " << code << ": no document carried " << tag;
          continue;
        }
        EXPECT_EQ(*Element(last->readfilexmls, tag), Expected(tag, q.FieldText(i)))
            << "repair " << code << ", the last document with " << tag << " (" << last->page
            << "):\n"
            << last->readfilexmls;
      }
    });
  }
  EXPECT_GT(created, 0) << "the simulator created no repair; nothing was tested";
  EXPECT_GT(repairs_edited, 0) << "the simulator moved no repair's state; nothing was tested";
  EXPECT_GT(budgets, 0) << "the simulator touched no budget; nothing was tested";
}

TEST_F(DemoRun, BudgetStatesDecidedOnTheWebLandInPresupuestos) {
  const Observed& r = *run_;
  EXPECT_TRUE(r.web_states_arrived) << r.log;
  ASSERT_FALSE(r.queue.empty()) << "the simulator decided no budget on the web\n" << r.log;
  // The customer's last word for each repair.
  std::map<std::string, std::string> decided;
  for (const QueueEntry& e : r.queue) {
    EXPECT_EQ(e.idcompra, kAccount);
    EXPECT_TRUE(e.delivered) << "repair " << e.orden << ": the poll never took it";
    decided[e.orden] = e.estado;
  }
  for (const auto& [repair, state] : decided) {
    EXPECT_EQ(BudgetState(repair), state) << "repair " << repair;
    EXPECT_NE(r.log.find("el presupuesto de la reparación " + repair + " ("), std::string::npos)
        << "the simulator decided it and said so\n"
        << r.log;
  }
}

TEST_F(DemoRun, CtrlCEndsEverythingTheDemoStarted) {
  const Observed& r = *run_;
  EXPECT_EQ(r.exit_status, 0) << r.log;
  EXPECT_TRUE(r.group_gone) << "still running in the demo's process group:\n" << r.group_left;
  EXPECT_EQ(r.leftovers, "") << "still running";
  EXPECT_TRUE(r.port_free) << "the stand-in's port " << r.port << " is still served";
  EXPECT_NE(r.log.find("stopped Dunmar, the simulator and the stand-in"), std::string::npos)
      << r.log;
}

}  // namespace
}  // namespace fesko

// Faults of the process, the database server and config.ini, survived by the real Dunmar: it is
// started as the operator starts it (a copy in a folder of its own, config.ini beside it, no
// desktop, so every box lands on standard error), against a real workshop database and the
// stand-in web service. After each fault and its recovery the web service must hold every
// client, repair and budget as the database holds it, and the markers must claim nothing the
// web service lacks.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "base/TextKinds.h"
#include "tests/faults/Consistency.h"
#include "tests/support/Process.h"
#include "tests/support/StandIn.h"
#include "tests/support/TestDatabase.h"

namespace fesko::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Markers from long before any row: the first pass sends the whole workshop.
constexpr char kOldMarkers[] =
    "[ultimo_cliente]\ncliente=0\n"
    "[fecha_actualizacion_cliente]\nFecha=01/01/2000\nHora=00:00:00\n"
    "[nueva_reparacion]\ncodigo=0\nfecha=01/01/2000\nhora=00:00:00\n"
    "[presupuesto]\nfecha=01/01/2000\nhora=00:00:00\n";

std::string Replaced(std::string text, std::string_view from, std::string_view to) {
  auto at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

template <typename Fn>
bool WaitUntil(std::chrono::seconds limit, Fn done) {
  auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(500ms);
  }
  return done();
}

// The boxes among the lines of standard error ("YYYY-MM-DD HH:MM:SS [caption] text"); a line
// that was only logged carries no caption.
std::size_t BoxesIn(const std::string& err) {
  std::size_t boxes = 0;
  std::istringstream lines(err);
  for (std::string line; std::getline(lines, line);) {
    bool stamped = line.size() > 20 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                   line[4] == '-' && line[13] == ':' && line[19] == ' ';
    if (stamped && line[20] == '[') ++boxes;
  }
  return boxes;
}

// How often `text` stands in what Dunmar wrote to standard error.
std::size_t Count(const std::string& err, std::string_view text) {
  std::size_t n = 0;
  for (auto at = err.find(text); at != std::string::npos; at = err.find(text, at + 1)) ++n;
  return n;
}

// `rows` clients, each with a repair and its budget, above the demo's codes.
std::string BulkRows(int rows) {
  return "set term ^ ;\n"
         "execute block as declare i integer = 0; begin\n"
         "  while (i < " +
         std::to_string(rows) +
         ") do begin\n"
         "    insert into clientes (codigo, nombres, login, \"PASSWORD\")\n"
         "      values (100 + :i, 'Cliente Núñez ' || :i, 'login' || :i, 'clave' || :i);\n"
         "    insert into reparaciones (codigo, cliente, ns, falla, fechaingreso, estado)\n"
         "      values (100 + :i, 100 + :i, 'TV-55A-001', 'Falla ' || :i, current_date, 1);\n"
         "    insert into presupuestos (codigo, idreparacion, estado, fecha, detalle, moneda, "
         "total)\n"
         "      values (100 + :i, 100 + :i, 1, current_date, 'Detalle ' || :i, 'UYU', 10 + :i);\n"
         "    i = i + 1;\n"
         "  end\n"
         "end^\n"
         "set term ; ^\n";
}

class ProcessFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    web_ = std::make_unique<StandIn>();
    ASSERT_TRUE(web_->Running());
    exe_ = CopyToFreshFolder(DUNMAR_EXECUTABLE, "fesko-faults-proc");
    folder_ = fs::path(exe_).parent_path();
  }
  void TearDown() override {
    dunmar_.reset();
    if (!HasFailure()) fs::remove_all(folder_);
    if (!attachment_.empty()) DropDatabase(attachment_);
  }

  // A workshop on the shared server (or the one given), its web settings pointing at the
  // stand-in; the poll is left for much later.
  void MakeWorkshop(const std::string& attachment = {}) {
    attachment_ = attachment.empty() ? CreateDatabase("faults-proc", true) : attachment;
    Sql("update parametros set appweburl = '" + web_->Base() + "', tiempoupdapp = 60;");
  }
  // The workshop's texts are Windows-1252 bytes.
  void Sql(const std::string& sql) { RunIsql(attachment_, Utf8ToAnsi(sql)); }

  std::string Conexion(const std::string& host = "localhost") const {
    return "[conexion]\nipserver=" + host + "\nusuario=" + DbUser() + "\nclave=" + DbPassword() +
           "\nrutabd=" + PathOf(attachment_) + "\n";
  }
  fs::path Ini() const { return folder_ / "config.ini"; }
  void WriteIni(const std::string& text) {
    std::error_code ignored;  // a test may have left it read-only, or it is not there yet
    fs::permissions(Ini(), fs::perms::owner_read | fs::perms::owner_write,
                    ignored);  // a test may have left it read-only
    std::ofstream(Ini(), std::ios::binary | std::ios::trunc) << text;
  }

  ChildProcess& Start() {
    dunmar_ = std::make_unique<ChildProcess>(
        exe_, std::vector<std::string>{"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="});
    return *dunmar_;
  }
  // Ends Dunmar as the operator's "Salir" would, and returns its exit status.
  int Stop() {
    dunmar_->Signal(SIGTERM);
    return dunmar_->WaitForExit(60s);
  }
  std::string Err() { return dunmar_ ? dunmar_->Stderr() : std::string(); }

  // Waits until the web service holds the workshop as the database holds it; when the time is
  // up first, fails the test with what still differs.
  bool ExpectSettled(std::chrono::seconds limit = 120s) {
    WebConsistency check(attachment_);
    std::vector<std::string> differences;
    WaitUntil(limit, [&] {
      Err();  // keep the child's standard error drained
      differences = check.Differences(*web_);
      return differences.empty();
    });
    if (!differences.empty()) ADD_FAILURE() << Describe(differences) << Err();
    return differences.empty();
  }
  std::vector<std::string> Overshoots() {
    WebConsistency check(attachment_);
    return check.MarkerOvershoots(Ini().string(), *web_);
  }
  std::size_t Calls() { return web_->Received().size(); }
  // Every call answered correctly, after a delay.
  void SlowWeb(const std::string& seconds) {
    Shell("/usr/bin/python3 " + SourceDir() + "/webservice/standin.py ctl --base " + web_->Base() +
          " fail '*' stall --seconds " + seconds + " >/dev/null");
  }
  void FastWeb() { web_->Fail("*", "none"); }

  std::unique_ptr<StandIn> web_;
  std::unique_ptr<ChildProcess> dunmar_;
  std::string exe_;
  fs::path folder_;
  std::string attachment_;
};

// ---- config.ini ----------------------------------------------------------------------------

TEST_F(ProcessFaults, ConnectionSettingsThatCannotConnectEndStartUpAndLeaveTheMarkersAlone) {
  MakeWorkshop();
  const std::string cases[] = {
      kOldMarkers,  // no [conexion]
      "[conexion]\nipserver=\nusuario=\nclave=\nrutabd=\n" + std::string(kOldMarkers),
      "[Conexion]\nipserver=localhost\n\nrutabd=" + PathOf(attachment_) + "\n" + kOldMarkers,
  };
  for (const std::string& ini : cases) {
    SCOPED_TRACE(ini);
    WriteIni(ini);
    Start();
    EXPECT_EQ(dunmar_->WaitForExit(60s), 1);
    std::string err = Err();
    EXPECT_NE(err.find("[Application Error] Exception EMDOFirebirdError"), std::string::npos)
        << err;
    EXPECT_EQ(err.find("Archivo .INI"), std::string::npos) << err;
    EXPECT_EQ(ReadFile(Ini()), ini);
  }
  EXPECT_EQ(Calls(), 0u);
}

TEST_F(ProcessFaults, QuotedAndPaddedValuesConnectAndTheCatchUpSendsEverything) {
  MakeWorkshop();
  WriteIni("[ conexion ]\n  IPSERVER = \"localhost\"  \nusuario='" + DbUser() + "'\nclave = \"" +
           DbPassword() + "\"\nrutabd=\"" + PathOf(attachment_) + "\"\n" +
           Replaced(kOldMarkers, "cliente=0", "cliente = \"0\""));
  Start();
  ExpectSettled();
  EXPECT_EQ(Stop(), 0) << Err();
  EXPECT_EQ(Err().find("Error"), std::string::npos) << Err();
  EXPECT_TRUE(Overshoots().empty()) << Describe(Overshoots());
  EXPECT_NE(ReadFile(Ini()).find("cliente=3"), std::string::npos) << ReadFile(Ini());
}

// Two agents on one workshop would send every change twice and write over each other's markers:
// a second start in the same folder says so and ends at once, the first runs on untouched, and
// a folder with its own config.ini is another workshop, whose agent runs beside it.
TEST_F(ProcessFaults, ASecondAgentOnTheSameConfigIniEndsAtOnceAndAnotherFolderRunsBeside) {
  MakeWorkshop();
  WriteIni(Conexion() + kOldMarkers);
  Start();
  ExpectSettled();
  const std::vector<std::string> env = {"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="};
  ChildProcess second(exe_, env);
  EXPECT_EQ(second.WaitForExit(15s), 0) << second.Stderr();
  EXPECT_NE(second.Stderr().find("ya está en marcha"), std::string::npos) << second.Stderr();

  std::string other_db = CreateDatabase("faults-other", true);
  RunIsql(other_db, "update parametros set appweburl = '" + web_->Base() + "';");
  std::string other = CopyToFreshFolder(DUNMAR_EXECUTABLE, "fesko-faults-other");
  std::ofstream(fs::path(other).parent_path() / "config.ini")
      << Replaced(Conexion(), PathOf(attachment_), PathOf(other_db));
  ChildProcess beside(other, env);
  std::size_t before = web_->Received("aupload_nuevo_cliente.aspx").size();
  for (int code : {801, 802, 803}) {
    Sql("insert into clientes (codigo, nombres) values (" + std::to_string(code) + ", 'Uno');");
  }
  ExpectSettled();
  EXPECT_EQ(web_->Received("aupload_nuevo_cliente.aspx").size(), before + 3) << Err();
  EXPECT_TRUE(beside.Running()) << beside.Stderr();
  beside.Signal(SIGTERM);
  EXPECT_EQ(beside.WaitForExit(60s), 0) << beside.Stderr();
  DropDatabase(other_db);
  fs::remove_all(fs::path(other).parent_path());
  EXPECT_EQ(Stop(), 0) << Err();
}

// A marker that cannot be read stops the catch-up with a box, once; its kind waits while the
// others flow on, so nothing is skipped: once the value is right, the next start sends it all.
TEST_F(ProcessFaults, AMarkerThatCannotBeReadIsReportedAndNeverSkipsAChange) {
  MakeWorkshop();
  struct Case {
    const char* what;
    std::string from, to;  // the marker line as the program writes it, and as it was found
    std::string box;
  };
  const Case cases[] = {
      {"garbage", "hora=00:00:00\n[presupuesto]", "hora=ayer a la tarde\n[presupuesto]",
       "[Dunmar] 'ayer a la tarde' is not a valid time"},
      {"empty", "codigo=0", "codigo=", "[Dunmar] '' is not a valid integer value"},
      // A month/day/year locale wrote it; read day first, the month is out of range.
      {"another locale", "fecha=01/01/2000\nhora=00:00:00\n[presupuesto]",
       "fecha=11/30/2000\nhora=00:00:00\n[presupuesto]",
       "[Dunmar] '11/30/2000' is not a valid date"},
      {"a missing section", "[ultimo_cliente]\ncliente=0\n", "",
       "[Dunmar] '' is not a valid integer value"},
      {"malformed gaps", "codigo=0", "codigo=0\nhuecos=7-3@2000-01-01 00:00:00",
       "[Dunmar] '7-3@2000-01-01 00:00:00' is not a valid list of code gaps"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    web_->Reset();
    std::string broken = Replaced(Conexion() + kOldMarkers, c.from, c.to);
    ASSERT_NE(broken, Conexion() + kOldMarkers);
    WriteIni(broken);
    Start();
    ASSERT_TRUE(WaitUntil(60s, [&] { return Err().find(c.box) != std::string::npos; })) << Err();
    EXPECT_TRUE(dunmar_->Running()) << "the program runs on in the tray\n" << Err();
    // A client changed while it runs still goes up live: its own marker is readable.
    Sql("update clientes set nombres = 'Cambiado en vivo' where codigo = 2;");
    EXPECT_TRUE(WaitUntil(60s, [&] {
      return !web_->Received("aupload_editar_cliente.aspx").empty();
    })) << Err();
    if (c.to.empty()) {  // the new-client marker: two sweeps meet it again, only logged
      EXPECT_TRUE(WaitUntil(150s, [&] { return Count(Err(), c.box.substr(9)) >= 3; })) << Err();
      EXPECT_EQ(BoxesIn(Err()), 1u) << Err();
      EXPECT_EQ(Count(Err(), "Fesko 15318 - Error local desde las "), 1u) << Err();
    }
    EXPECT_EQ(Stop(), 0) << Err();
    // The other kinds flowed; the unreadable value is still there for the operator to see.
    std::string after = ReadFile(Ini());
    if (!c.to.empty()) {
      EXPECT_NE(after.find(c.to), std::string::npos) << after;
    }

    // The operator puts the value right; the next start sends everything since the old markers.
    WriteIni(Conexion() + kOldMarkers);
    Start();
    ExpectSettled();
    EXPECT_EQ(Stop(), 0) << Err();
    EXPECT_TRUE(Overshoots().empty()) << Describe(Overshoots());
  }
}

TEST_F(ProcessFaults, MarkersWrittenUnderOtherDateFormatsAreReadAsTheyWereMeant) {
  MakeWorkshop();
  // Year first, and day first with dots or dashes: all read without a doubt.
  for (std::string date : {"2000-01-01", "1.1.2000", "01-01-2000"}) {
    SCOPED_TRACE(date);
    web_->Reset();
    std::string markers = kOldMarkers;
    for (auto at = markers.find("01/01/2000"); at != std::string::npos;
         at = markers.find("01/01/2000")) {
      markers.replace(at, 10, date);
    }
    WriteIni(Conexion() + markers);
    Start();
    ExpectSettled();
    EXPECT_EQ(Stop(), 0) << Err();
    EXPECT_EQ(Err().find("[Dunmar]"), std::string::npos) << Err();
  }
}

TEST_F(ProcessFaults, AReadOnlyConfigIniIsReportedAndNothingIsLost) {
  MakeWorkshop();
  WriteIni(Conexion() + kOldMarkers);
  fs::permissions(Ini(), fs::perms::owner_read | fs::perms::group_read);
  std::string before = ReadFile(Ini());
  Start();
  std::string box = "[Dunmar] Unable to write to " + Ini().string();
  ASSERT_TRUE(WaitUntil(60s, [&] { return Err().find(box) != std::string::npos; })) << Err();
  EXPECT_TRUE(dunmar_->Running()) << Err();
  // A live upload whose marker cannot be written is reported, not passed off as done: in a box,
  // or on standard error while the catch-up's box stands for the same fault.
  Sql("insert into clientes (codigo, nombres) values (600, 'Nuevo');");
  ASSERT_TRUE(WaitUntil(60s, [&] { return Count(Err(), "Unable to write to") >= 2; })) << Err();
  // That listener is silent for the rest of the run; the client waits for the next start.
  EXPECT_TRUE(dunmar_->Running()) << Err();
  EXPECT_EQ(Stop(), 0) << Err();
  EXPECT_EQ(ReadFile(Ini()), before);

  // Writable again: the next start sends it all once more and moves the markers.
  fs::permissions(Ini(), fs::perms::owner_read | fs::perms::owner_write);
  web_->Reset();
  Start();
  ExpectSettled();
  EXPECT_EQ(Stop(), 0) << Err();
  EXPECT_NE(ReadFile(Ini()), before);
  EXPECT_TRUE(Overshoots().empty()) << Describe(Overshoots());
}

// ---- the process and the server ------------------------------------------------------------

TEST_F(ProcessFaults, StoppedOrKilledInTheMiddleOfTheCatchUpItCatchesUpOnTheNextStart) {
  MakeWorkshop();
  Sql(BulkRows(60));
  WriteIni(Conexion() + kOldMarkers);
  std::string before = ReadFile(Ini());
  SlowWeb("0.03");
  Start();
  ASSERT_TRUE(WaitUntil(120s, [&] { return Calls() >= 20; })) << Err();
  // SIGTERM ends the pass between two calls, within seconds, as "Salir" would.
  auto signalled = Clock::now();
  EXPECT_EQ(Stop(), 0) << Err();
  EXPECT_LT(Clock::now() - signalled, 20s);
  EXPECT_EQ(ReadFile(Ini()), before);
  std::size_t stopped_at = Calls();

  Start();
  ASSERT_TRUE(WaitUntil(120s, [&] { return Calls() >= stopped_at + 40; })) << Err();
  dunmar_->Signal(SIGKILL);
  EXPECT_EQ(dunmar_->WaitForExit(20s), 128 + SIGKILL);
  // Markers move only when a pass has finished, and config.ini is replaced whole or not at all.
  EXPECT_EQ(ReadFile(Ini()), before);
  for (const auto& entry : fs::directory_iterator(folder_)) {
    EXPECT_FALSE(entry.path().filename().string().starts_with("config.ini.tmp")) << entry.path();
  }
  EXPECT_TRUE(Overshoots().empty()) << Describe(Overshoots());

  std::size_t killed_at = Calls();
  Start();
  // Changes committed while the catch-up runs, before the listeners' first waits: the sweep
  // after start-up carries them, with no further change.
  ASSERT_TRUE(WaitUntil(120s, [&] { return Calls() >= killed_at + 10; })) << Err();
  Sql("update clientes set nombres = 'Cliente cambiado en la puesta al día' where codigo = 100;"
      "insert into clientes (codigo, nombres, login, \"PASSWORD\") "
      "values (900, 'Cliente nuevo en la puesta al día', 'l900', 'c900');");
  FastWeb();
  ExpectSettled(90s);
  EXPECT_EQ(Stop(), 0) << Err();
  EXPECT_NE(ReadFile(Ini()), before) << "the finished pass moves the markers";
  EXPECT_TRUE(Overshoots().empty()) << Describe(Overshoots());
}

TEST_F(ProcessFaults, ABurstOfFiveHundredChangesAgainstASlowWebServiceLosesNone) {
  MakeWorkshop();
  Sql(BulkRows(50));  // clients and repairs 100 to 149
  WriteIni(Conexion() + kOldMarkers);
  Start();
  ASSERT_TRUE(ExpectSettled());

  // 500 changes, each committed on its own as fast as the server takes them: new clients and
  // repairs, and several edits of the same rows, so only the last value may be on the web.
  std::string burst;
  auto commit = [&](const std::string& statement) { burst += statement + ";\ncommit;\n"; };
  for (int i = 0; i < 100; ++i) {
    std::string code = std::to_string(200 + i);
    commit("insert into clientes (codigo, nombres, login) values (" + code + ", 'Ráfaga " + code +
           "', 'r" + code + "')");
    commit("insert into reparaciones (codigo, cliente, ns, falla, fechaingreso, estado) values (" +
           code + ", " + code + ", 'LR-8KG-017', 'Ráfaga', current_date, 1)");
  }
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 50; ++i) {
      std::string code = std::to_string(100 + i);
      commit("update clientes set nombres = 'Editado " + std::to_string(round) + "-" + code +
             "' where codigo = " + code);
    }
  }
  for (int i = 0; i < 100; ++i) {
    commit("update reparaciones set estado = " + std::to_string(2 + i % 3) +
           " where codigo = " + std::to_string(100 + i % 50));
  }
  for (int i = 0; i < 50; ++i) {
    commit("update presupuestos set estado = 2, total = " + std::to_string(1000 + i) +
           " where idreparacion = " + std::to_string(100 + i));
  }
  SlowWeb("0.02");
  Sql(burst);
  ExpectSettled(180s);
  EXPECT_EQ(Stop(), 0) << Err();
  EXPECT_EQ(Err().find("Error"), std::string::npos) << Err();
  EXPECT_TRUE(Overshoots().empty()) << Describe(Overshoots());
}

// The web service fails while the workshop makes 20 changes, four of each kind: one box for the
// whole outage, sweeps included, the other failures only logged. Once it answers again the
// sweep sends all of it, with no further change.
TEST_F(ProcessFaults, AWebOutageShowsOneBoxAndEverythingArrivesOnceTheWebAnswersAgain) {
  MakeWorkshop();
  WriteIni(Conexion() + kOldMarkers);
  Start();
  ASSERT_TRUE(ExpectSettled());
  const std::size_t boxes_before = BoxesIn(Err());
  web_->Fail("*", "500fault");
  std::string changes;
  auto commit = [&](const std::string& statement) { changes += statement + ";\ncommit;\n"; };
  for (int i = 0; i < 4; ++i) {
    std::string code = std::to_string(800 + i), old = std::to_string(1 + i % 3);
    commit("insert into clientes (codigo, nombres, login, \"PASSWORD\") values (" + code +
           ", 'Cliente del corte " + code + "', 'l" + code + "', 'c" + code + "')");
    commit("update clientes set nombres = 'Cambiado en el corte " + code +
           "' where codigo = " + old);
    commit("insert into reparaciones (codigo, cliente, ns, falla, fechaingreso, estado) values (" +
           code + ", 1, 'TV-55A-001', 'Falla del corte', current_date, 1)");
    commit("update reparaciones set estado = " + std::to_string(2 + i) + " where codigo = " + old);
    commit("update presupuestos set total = " + std::to_string(500 + i) +
           " where idreparacion = " + std::to_string(1 + i % 2));  // the demo's budgets
  }
  Sql(changes);
  auto failed = [&] {
    std::set<std::string> pages;
    std::size_t count = 0;
    for (const auto& call : web_->Received()) {
      if (call.accepted == "true") continue;
      pages.insert(call.page);
      ++count;
    }
    return std::make_pair(pages.size(), count);
  };
  // Every kind tried and failed; then a sweep tries them all again, as unsuccessfully.
  ASSERT_TRUE(WaitUntil(60s, [&] { return failed().first == 4 && failed().second >= 5; })) << Err();
  std::size_t tried = failed().second;
  ASSERT_TRUE(WaitUntil(75s, [&] { return failed().second > tried; })) << Err();
  FastWeb();
  ExpectSettled(90s);
  EXPECT_EQ(BoxesIn(Err()) - boxes_before, 1u) << Err();
  EXPECT_EQ(Stop(), 0) << Err();
  EXPECT_TRUE(Overshoots().empty()) << Describe(Overshoots());
}

// The server is one of its own, so stopping it disturbs no other test.
class PrivateServerFaults : public ProcessFaults {
 protected:
  void SetUp() override {
    ProcessFaults::SetUp();
    port_ = UnusedPort();
    dir_ = "/tmp/fesko-fbprivate-" + std::to_string(::getpid());
    ASSERT_EQ(Server("start", std::to_string(port_)), 0);
    std::string path = dir_ + "/data/workshop.fdb";
    ASSERT_EQ(Shell("FESKO_DB_HOST=localhost/" + std::to_string(port_) + " " + SourceDir() +
                    "/scripts/create-db " + path + " --demo >/dev/null"),
              0);
    MakeWorkshop("localhost/" + std::to_string(port_) + ":" + path);
  }
  void TearDown() override {
    ProcessFaults::TearDown();
    Server("remove");
  }
  int Server(const std::string& what, const std::string& port = {}) {
    return Shell(SourceDir() + "/scripts/firebird-private " + what + " " + dir_ + " " + port);
  }
  std::string Host() const { return "localhost/" + std::to_string(port_); }

  int port_ = 0;
  std::string dir_;
};

// Without a desktop the tray's tooltip is logged whenever it changes.
constexpr char kLostHint[] = "Fesko 15318 - Sin conexión con la base de datos desde las ";
constexpr char kBackHint[] = " Fesko 15318\n";
constexpr char kWebHint[] = "Fesko 15318 - El servicio web no responde desde las ";

TEST_F(PrivateServerFaults, TheServerStoppedDuringTheCatchUpIsReportedOnceAndTheAgentCatchesUp) {
  Sql(BulkRows(60));
  WriteIni(Conexion(Host()) + kOldMarkers);
  SlowWeb("0.03");
  Start();
  ASSERT_TRUE(WaitUntil(120s, [&] { return Calls() >= 30; })) << Err();
  ASSERT_EQ(Server("stop"), 0);
  // The catch-up read its rows before it sends them, so it ends its sends; the next unit of work
  // or the liveness check meets the loss, a database error box says so and the program runs on.
  ASSERT_TRUE(WaitUntil(120s, [&] {
    auto at = Err().find("[error de consulta] ");
    return at != std::string::npos && Err().find("Mensaje: ", at) != std::string::npos;
  })) << Err();
  EXPECT_TRUE(dunmar_->Running()) << Err();

  // Back while Dunmar runs: it attaches again by itself and its catch-up covers the gap, with
  // what changed before and after it came back.
  std::this_thread::sleep_for(8s);
  ASSERT_EQ(Server("start", std::to_string(port_)), 0);
  Sql("update clientes set nombres = 'Después del corte' where codigo = 1;");
  FastWeb();
  ASSERT_TRUE(WaitUntil(90s, [&] { return Err().find(kBackHint) != std::string::npos; })) << Err();
  Sql("insert into clientes (codigo, nombres) values (701, 'Tras la vuelta');");
  ExpectSettled(90s);
  EXPECT_EQ(Count(Err(), "[error de consulta]"), 1u) << "one box for the loss\n" << Err();
  EXPECT_EQ(Count(Err(), "[Dunmar]") + Count(Err(), "[Application Error]"), 0u) << Err();
  EXPECT_EQ(Count(Err(), kLostHint), 1u) << Err();
  EXPECT_EQ(Stop(), 0) << Err();
  EXPECT_TRUE(Overshoots().empty()) << Describe(Overshoots());
}

TEST_F(PrivateServerFaults, TheServerKilledWhileIdleIsFoundAndEverythingArrivesOnceItIsBack) {
  WriteIni(Conexion(Host()) + kOldMarkers);
  Start();
  ASSERT_TRUE(ExpectSettled());
  // The web service fails first, so both troubles stand at once.
  web_->Fail("*", "404");
  Sql("update clientes set nombres = 'Antes de la caída' where codigo = 3;");
  ASSERT_TRUE(WaitUntil(60s, [&] { return Err().find(kWebHint) != std::string::npos; })) << Err();
  ASSERT_EQ(Server("kill"), 0);  // as a crash of the server would
  // Nothing runs: the listeners or the liveness check find it, and the tray says since when.
  ASSERT_TRUE(WaitUntil(60s, [&] {
    auto at = Err().find(kLostHint);
    return at != std::string::npos && Err().find(" - El servicio web", at) != std::string::npos;
  })) << Err();
  ASSERT_EQ(Server("start", std::to_string(port_)), 0);
  Sql("update reparaciones set estado = 5 where codigo = 1;\n"
      "update presupuestos set total = 999 where idreparacion = 2;\n"
      "insert into clientes (codigo, nombres) values (700, 'Tras la caída');");
  FastWeb();
  ASSERT_TRUE(WaitUntil(90s, [&] { return Err().find(kBackHint) != std::string::npos; })) << Err();
  Sql("update clientes set nombres = 'De vuelta' where codigo = 2;\n"
      "insert into reparaciones (codigo, cliente, ns, falla, fechaingreso, estado) "
      "values (700, 700, 'TV-1', 'Tras la vuelta', current_date, 1);");
  ExpectSettled(90s);
  EXPECT_TRUE(Overshoots().empty()) << Describe(Overshoots());
  const std::string err = Err();
  EXPECT_EQ(Count(err, "[error de consulta] Se perdió la conexión con la base de datos"), 1u)
      << err;
  EXPECT_EQ(Count(err, "[error de consulta]"), 1u) << "one box for the loss\n" << err;
  EXPECT_EQ(Count(err, "[Application Error]"), 1u) << "one box for the web outage\n" << err;
  EXPECT_EQ(Count(err, kLostHint), 1u) << err;

  // A stop signal while it tries to attach again ends it at once, as "Salir" does.
  ASSERT_EQ(Server("kill"), 0);
  ASSERT_TRUE(WaitUntil(60s, [&] { return Count(Err(), kLostHint) == 2; })) << Err();
  auto signalled = Clock::now();
  EXPECT_EQ(Stop(), 0) << Err();
  EXPECT_LT(Clock::now() - signalled, 20s);
}

// The events' auxiliary port is fixed and already held: the server drops the event attachment
// at the first wait. Reported once, no attaching in a circle, and the sweep carries everything.
TEST_F(PrivateServerFaults, EventsThatNeverComeAreReportedOnceAndTheSweepDeliversEverything) {
  int held = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(held, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  int aux_port = 0;
  for (int tries = 0; tries < 20 && aux_port == 0; ++tries) {
    address.sin_port = htons(static_cast<uint16_t>(UnusedPort()));
    if (::bind(held, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      aux_port = ntohs(address.sin_port);
    }
  }
  ASSERT_NE(aux_port, 0);
  ASSERT_EQ(::listen(held, 1), 0);
  ASSERT_EQ(Server("stop"), 0);
  ASSERT_EQ(Server("start", std::to_string(port_) + " " + std::to_string(aux_port)), 0);

  WriteIni(Conexion(Host()) + kOldMarkers);
  Start();
  ASSERT_TRUE(ExpectSettled());
  const char kWaitBox[] =
      "[Dunmar] No se puede esperar los avisos de la base de datos (error 335544726)";
  ASSERT_TRUE(WaitUntil(30s, [&] { return Err().find(kWaitBox) != std::string::npos; })) << Err();
  Sql("update clientes set nombres = 'Sin avisos' where codigo = 1;\n"
      "insert into clientes (codigo, nombres) values (800, 'Sin avisos');\n"
      "update presupuestos set total = 123 where idreparacion = 1;");
  ExpectSettled(90s);
  // The liveness check has run at least once by now: the query attachment answers, so nothing
  // is lost and nothing attaches again.
  const std::string err = Err();
  EXPECT_EQ(Count(err, kWaitBox), 1u) << err;
  EXPECT_EQ(Count(err, "Sin conexión"), 0u) << err;
  EXPECT_EQ(Count(err, "[error de consulta]"), 0u) << err;
  EXPECT_EQ(Stop(), 0) << Err();
  ::close(held);
  EXPECT_TRUE(Overshoots().empty()) << Describe(Overshoots());
}

// The server's clock goes back an hour under a running Dunmar (a fall-back, a time server's
// step): what is edited in the repeated hour is stamped before the markers, and still arrives.
TEST_F(PrivateServerFaults, EditsInAnHourTheServerClockRepeatsArrive) {
  const std::string clock = dir_ + "/clock";
  ASSERT_EQ(Server("stop"), 0);
  ASSERT_EQ(Shell("FESKO_SERVER_CLOCK=" + clock + " " + SourceDir() +
                  "/scripts/firebird-private start " + dir_ + " " + std::to_string(port_)),
            0);
  WriteIni(Conexion(Host()) + kOldMarkers);
  Start();
  ASSERT_TRUE(ExpectSettled());
  ASSERT_EQ(Server("shift", std::to_string(port_) + " " + clock + " -3600"), 0);
  Sql("update clientes set nombres = 'En la hora repetida' where codigo = 1;\n"
      "update reparaciones set estado = 4 where codigo = 1;\n"
      "update presupuestos set total = 777 where idreparacion = 2;");
  ExpectSettled(90s);
  EXPECT_TRUE(Overshoots().empty()) << Describe(Overshoots());
  EXPECT_EQ(Stop(), 0) << Err();
}

}  // namespace
}  // namespace fesko::test

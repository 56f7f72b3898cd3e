// The repairs list send of the list dialog, on a workshop of many repairs:
//  - fetching the rows and building the document, against isql-fb running the same statement to
//    /dev/null in the same run;
//  - the same for twice the rows, whose time should be about twice as long;
//  - the peak memory of the whole send (button to success box, to the stand-in web service)
//    above the size of the program idle just before it, as a multiple of the document's size.
// Prints each figure as one line: figure | value | goal | met (or MISSED).
//   initial_load_bench [ROWS]      (100000 by default; needs the local server and the test user)
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QTest>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "base/FormatSettings.h"
#include "base/MessageBox.h"
#include "bench/BenchSupport.h"
#include "database/Datamodule.h"
#include "database/WorkshopQueries.h"
#include "dialogs/UInicEstados.h"
#include "tests/support/StandIn.h"
#include "web/Soap.h"

using namespace fesko;
using namespace fesko::db;
using namespace fesko::bench;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRepairsMode = 4;
constexpr double kTimeGoal = 1.5;
constexpr double kMemoryGoal = 4.0;
// Linear work gives 2; a quadratic step would give about 4.
constexpr double kDoublingGoal = 2.5;
constexpr int kRuns = 3;

void Attach(TDataModule1& dm, const std::string& database) {
  dm.service.SetDatabaseName(database);
  dm.service.SetParam("user_name", DbUser());
  dm.service.SetParam("Password", DbPassword());
  dm.service.Open();
}

// isql-fb attaching, running the repairs statement and writing every row to /dev/null.
double IsqlRepairsSeconds(const std::string& database) {
  TDataModule1 dm;
  Attach(dm, database);
  ListRepairs(dm.Consulta);
  std::string statement = dm.Consulta.SQL().Text();
  dm.Consulta.Close();
  dm.service.Close();
  return IsqlSeconds(database, statement);
}

struct Built {
  double seconds;              // attach to detach, as isql-fb is timed
  double buildSeconds;         // from opening the statement to the finished document
  std::size_t documentBytes;   // the document in UTF-8, as the request carries it unescaped
  std::uint64_t requestBytes;  // the whole request body, envelope and escapes included
};

// Attaching, running the statement and building the document as the list dialog's send does.
Built FetchAndBuild(const std::string& database) {
  auto start = Clock::now();
  TDataModule1 dm;
  Attach(dm, database);
  auto opening = Clock::now();
  const dlg::ListMode& mode = dlg::ListModeOf(kRepairsMode);
  mode.statement(dm.Consulta);
  WideString document = dlg::ListDocument(mode, dm.Consulta);
  double buildSeconds = Seconds(Clock::now() - opening);
  dm.Consulta.Close();
  dm.service.Close();
  double seconds = Seconds(Clock::now() - start);
  return {seconds, buildSeconds, WideToUtf8(document).size(),
          web::ExecuteRequest(1, document).Size()};
}

struct Times {
  double ours = 1e9, isql = 1e9, build = 1e9;
  Built built{};
};

// The best of a few runs of each, taken in turns (isql-fb and ours, N and 2N rows) so that a
// busy spell of the machine, or the server still writing what the fill left, hurts all alike.
std::pair<Times, Times> Measure(const std::string& single, const std::string& twice) {
  Times n, n2;
  for (int run = 0; run < kRuns; ++run) {
    for (auto [database, times] : {std::pair{&single, &n}, std::pair{&twice, &n2}}) {
      times->isql = std::min(times->isql, IsqlRepairsSeconds(*database));
      Built built = FetchAndBuild(*database);
      times->ours = std::min(times->ours, built.seconds);
      times->build = std::min(times->build, built.buildSeconds);
      times->built = built;
    }
  }
  return {n, n2};
}

long StatusKb(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  std::string prefix = std::string(field) + ":";
  while (std::getline(status, line)) {
    if (line.starts_with(prefix)) return std::atol(line.c_str() + prefix.size());
  }
  throw std::runtime_error(std::string("no ") + field + " in /proc/self/status");
}

// The child: opens the list dialog in the repairs mode (which fills its grid), idles, then
// sends. Prints "idle KB, peak KB, send seconds" on standard output.
int SendChild(int argc, char** argv) {
  if (argc < 4) throw std::runtime_error("usage: --send DATABASE BASE_URL");
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  FormatSettings() = DefaultFormatSettings();
  ScriptedMessageBoxes boxes;
  TDataModule1 dm;
  Attach(dm, argv[2]);
  dlg::TFrmInicEstados form(dm, Utf8ToWide(argv[3]));
  form.SetModo(kRepairsMode);
  form.SetNombre(u"Reparaciones");
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) throw std::runtime_error("the dialog did not show");
  QApplication::processEvents();

  long idle = StatusKb("VmRSS");
  // Resets the peak to the present size, so that the peak read below is the send's.
  if (!(std::ofstream("/proc/self/clear_refs") << "5" << std::flush)) {
    throw std::runtime_error("cannot reset the peak size through /proc/self/clear_refs");
  }
  boxes.SetNextAnswer(IDYES);
  auto start = Clock::now();
  form.btninicialiar->click();
  double seconds = Seconds(Clock::now() - start);
  long peak = StatusKb("VmHWM");

  // A send that failed would measure the wrong thing: the last box must be the success box.
  auto shown = boxes.Boxes();
  if (shown.empty() || shown.back().flags != MB_ICONINFORMATION) {
    std::string texts;
    for (const auto& box : shown) texts += WideToUtf8(box.caption + u": " + box.text) + "\n";
    throw std::runtime_error("the send did not succeed:\n" + texts);
  }
  std::printf("%ld %ld %.3f\n", idle, peak, seconds);
  return 0;
}

struct Sent {
  long idleKb = 0, peakKb = 0;
  double seconds = 0;
};

Sent SendInChild(const std::string& self, const std::string& database, const std::string& base) {
  std::string out = Capture(self + " --send " + database + " " + base);
  Sent sent;
  std::istringstream(out) >> sent.idleKb >> sent.peakKb >> sent.seconds;
  if (sent.peakKb == 0) throw std::runtime_error("the send reported nothing: " + out);
  return sent;
}

std::string Format(const char* format, auto... values) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, values...);
  return buffer;
}

}  // namespace

int main(int argc, char** argv) try {
  if (argc > 1 && std::string(argv[1]) == "--send") return SendChild(argc, argv);
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();

  std::cerr << "initial_load_bench: filling workshops of " << rows << " and " << 2 * rows
            << " repairs\n";
  RepairWorkshop singleWorkshop("bench-initial-load-1", rows);
  RepairWorkshop twiceWorkshop("bench-initial-load-2", 2 * rows);
  const std::string& single = singleWorkshop.Attachment();
  const std::string& twice = twiceWorkshop.Attachment();
  ::sync();

  auto [n, n2] = Measure(single, twice);
  double ratio = n.ours / n.isql;
  PrintFigure(Format("initial load fetch and build, %d repairs", rows),
              Format("ratio %.2f (fetch and build %.2f s, isql-fb %.2f s)", ratio, n.ours, n.isql),
              "<= 1.5", ratio <= kTimeGoal);
  // Without attaching, whose fixed cost would hide how the work grows with the rows.
  double doubling = n2.build / n.build;
  PrintFigure(Format("initial load fetch and build, %d vs %d repairs", 2 * rows, rows),
              Format("ratio %.2f (%.2f s vs %.2f s, from the statement to the document)", doubling,
                     n2.build, n.build),
              "<= 2.5 (linear: 2)", doubling <= kDoublingGoal);

  test::StandIn standIn;
  if (!standIn.Running()) throw std::runtime_error("the stand-in web service did not start");
  Sent sent = SendInChild(self, single, standIn.Base());
  double documentBytes = static_cast<double>(n.built.documentBytes);
  double multiple = static_cast<double>(sent.peakKb - sent.idleKb) * 1024.0 / documentBytes;
  std::fprintf(stderr,
               "initial_load_bench: the whole send of %d repairs (fetch, build, post, the "
               "stand-in's parse and store) took %.2f s; request body %.1f MB\n",
               rows, sent.seconds, static_cast<double>(n.built.requestBytes) / 1048576.0);
  PrintFigure(Format("initial load peak memory of the send, %d repairs", rows),
              Format("%.2f x document (peak %.0f MB above idle %.0f MB; document %.1f MB)",
                     multiple, static_cast<double>(sent.peakKb - sent.idleKb) / 1024.0,
                     static_cast<double>(sent.idleKb) / 1024.0, documentBytes / 1048576.0),
              "<= 4 x document", multiple <= kMemoryGoal);
  return 0;
} catch (const std::exception& e) {
  std::cerr << "initial_load_bench: " << e.what() << "\n";
  return 1;
}

// The run-on-UI-thread mechanism with its Qt wake-up: requests run on the UI thread in order,
// errors come back to the caller, modal loops and waits for a thread keep serving requests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <atomic>
#include <thread>

#include "agent/QtUiThread.h"
#include "base/Errors.h"
#include "base/UiThread.h"
#include "tests/support/WaitFor.h"

using namespace fesko;
using namespace std::chrono_literals;

namespace {

class UiThreadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallQtUiThread(); }
};

}  // namespace

TEST_F(UiThreadTest, RequestsRunOnTheUiThreadInOrderAndErrorsComeBack) {
  const auto ui = std::this_thread::get_id();
  std::vector<int> order;
  std::thread::id ran_on;
  std::string caught;
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    for (int i = 0; i < 5; ++i) RunOnUiThread([&, i] { order.push_back(i); });
    RunOnUiThread([&] { ran_on = std::this_thread::get_id(); });
    try {
      RunOnUiThread([] { throw Exception(u"sin conexión"); });
    } catch (const Exception& e) {
      caught = std::string(e.ClassName()) + ": " + e.what();
    }
    finished = true;
  });
  EXPECT_TRUE(test::WaitFor([&] { return finished.load(); }));
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(ran_on, ui);
  EXPECT_EQ(caught, "Exception: sin conexión");

  // On the UI thread itself a request simply runs, and its error is raised directly.
  bool ran = false;
  RunOnUiThread([&] { ran = true; });
  EXPECT_TRUE(ran);
  EXPECT_THROW(RunOnUiThread([] { throw std::runtime_error("x"); }), std::runtime_error);
}

TEST_F(UiThreadTest, AModalDialogKeepsServingRequests) {
  QDialog dialog;
  std::atomic<bool> served{false};
  std::thread worker;
  QTimer::singleShot(0, &dialog, [&] {
    worker = std::thread([&] {
      RunOnUiThread([&] {
        EXPECT_TRUE(dialog.isVisible());
        served = true;
      });
    });
  });
  // Ends the dialog once the request has run, or after ten seconds regardless.
  QTimer poll;
  QElapsedTimer elapsed;
  elapsed.start();
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (served || elapsed.elapsed() > 10000) dialog.reject();
  });
  poll.start(10);
  dialog.exec();
  worker.join();
  EXPECT_TRUE(served);
}

TEST_F(UiThreadTest, WaitingForAThreadThatNeedsTheUiThreadDoesNotDeadlock) {
  // The thread needs the UI thread twice, nested: a request that itself waits for the UI
  // thread from a second thread would hang if requests were only run from the message loop.
  std::atomic<bool> done{false};
  int runs = 0;
  std::thread worker([&] {
    RunOnUiThread([&] { ++runs; });
    std::thread inner([&] { RunOnUiThread([&] { ++runs; }); });
    inner.join();
    done = true;
    NotifyUiThreadWaiters();
  });
  ServeUiThreadRequestsUntil([&] { return done.load(); });
  worker.join();
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(PendingUiThreadRequests(), 0u);
}

TEST_F(UiThreadTest, ARequestMayOpenAModalLoopThatRunsTheNextRequest) {
  // A handler showing a box: the next request runs inside the box's loop, not after it.
  std::vector<std::string> trace;
  std::thread second;
  std::thread first([&] {
    RunOnUiThread([&] {
      trace.push_back("first begins");
      second = std::thread([&] { RunOnUiThread([&] { trace.push_back("second"); }); });
      QEventLoop box;
      QElapsedTimer elapsed;
      elapsed.start();
      QTimer poll;
      QObject::connect(&poll, &QTimer::timeout, [&] {
        if (trace.back() == "second" || elapsed.elapsed() > 10000) box.quit();
      });
      poll.start(5);
      box.exec();
      trace.push_back("first ends");
    });
  });
  EXPECT_TRUE(test::WaitFor([&] { return trace.size() == 3; }));
  first.join();
  second.join();
  EXPECT_EQ(trace, (std::vector<std::string>{"first begins", "second", "first ends"}));
}

TEST_F(UiThreadTest, RequestsQueuedBeforeAModalLoopRunInsideIt) {
  // Both requests wait before the UI thread looks; the first opens a box, and the second must
  // run inside that box rather than after it is closed.
  std::vector<std::string> trace;
  auto first = std::thread([&] {
    RunOnUiThread([&] {
      trace.push_back("box opens");
      test::WaitFor([&] { return trace.back() == "second"; });
      trace.push_back("box closes");
    });
  });
  while (PendingUiThreadRequests() < 1) std::this_thread::sleep_for(1ms);
  auto second = std::thread([&] { RunOnUiThread([&] { trace.push_back("second"); }); });
  while (PendingUiThreadRequests() < 2) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(test::WaitFor([&] { return trace.size() == 3; }));
  first.join();
  second.join();
  EXPECT_EQ(trace, (std::vector<std::string>{"box opens", "second", "box closes"}));
}

#include "tests/support/WaitFor.h"

#include <QCoreApplication>
#include <thread>

namespace fesko::test {

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void PumpFor(std::chrono::milliseconds time) {
  WaitFor([] { return false; }, time);
}

}  // namespace fesko::test

#include "agent/StopSignals.h"

#include <QSocketNotifier>
#include <QWidget>
#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fesko {
namespace {

int g_signal_pipe[2] = {-1, -1};
std::atomic<bool> g_stop_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int) {
  int saved = errno;
  g_stop_requested.store(true);
  char byte = 1;
  [[maybe_unused]] auto n = ::write(g_signal_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

void InstallStopSignals() {
  if (g_signal_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signal_pipe) == 0) {
    // A burst of signals must never block the handler on a full pipe.
    ::fcntl(g_signal_pipe[1], F_SETFL, ::fcntl(g_signal_pipe[1], F_GETFL) | O_NONBLOCK);
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(signal, &action, nullptr);
}

bool StopRequested() {
  return g_stop_requested.load();
}

void CloseOnStopSignals(QWidget* window) {
  if (g_signal_pipe[0] < 0) return;
  auto* notifier = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, window);
  QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
    char bytes[16];
    [[maybe_unused]] auto n = ::read(g_signal_pipe[0], bytes, sizeof bytes);
    window->close();
  });
  // A signal that came while the window was being built is already in the pipe.
}

}  // namespace fesko

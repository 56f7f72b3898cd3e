#include "agent/ServiceManager.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace fesko {
namespace {

using Clock = std::chrono::steady_clock;

// The socket's address from NOTIFY_SOCKET: a path, or with a leading '@' a name in the abstract
// namespace. Anything else (unset, too long) means no service manager listens.
bool NotifyAddress(sockaddr_un& address, socklen_t& length) {
  const char* name = std::getenv("NOTIFY_SOCKET");
  if (!name || (name[0] != '/' && name[0] != '@')) return false;
  const std::size_t size = std::strlen(name);
  if (size >= sizeof address.sun_path) return false;
  address = {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, name, size);
  if (name[0] == '@') address.sun_path[0] = '\0';
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + size);
  return true;
}

void Send(const std::string& message) {
  sockaddr_un address;
  socklen_t length;
  if (!NotifyAddress(address, length)) return;
  static const int socket_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket_fd < 0) return;
  // The manager may be restarting or gone: a lost datagram only costs one notification.
  while (::sendto(socket_fd, message.data(), message.size(), MSG_NOSIGNAL,
                  reinterpret_cast<const sockaddr*>(&address), length) < 0 &&
         errno == EINTR) {
  }
}

std::chrono::milliseconds ReadPingInterval() {
  const char* usec = std::getenv("WATCHDOG_USEC");
  if (!usec || !std::getenv("NOTIFY_SOCKET")) return {};
  if (const char* pid = std::getenv("WATCHDOG_PID")) {
    if (std::strtoll(pid, nullptr, 10) != ::getpid()) return {};
  }
  char* end = nullptr;
  const long long microseconds = std::strtoll(usec, &end, 10);
  if (end == usec || *end != '\0' || microseconds <= 0) return {};
  return std::chrono::milliseconds(std::max(1LL, microseconds / 2000));
}

}  // namespace

void NotifyReady() {
  Send("READY=1");
}

void NotifyStatus(std::string_view status) {
  std::string message = "STATUS=";
  for (char c : status) {
    if (c == '\n') {
      message += " - ";
    } else {
      message += c;
    }
  }
  Send(message);
}

std::chrono::milliseconds WatchdogPingInterval() {
  static const std::chrono::milliseconds interval = ReadPingInterval();
  return interval;
}

void PingWatchdog() {
  const std::chrono::milliseconds interval = WatchdogPingInterval();
  if (interval.count() == 0) return;
  static Clock::time_point last;
  const Clock::time_point now = Clock::now();
  // Rate-limited to half the interval, so a caller pinging every half interval keeps every gap
  // under one interval whatever the pass's pings did in between.
  if (last != Clock::time_point{} && now - last < interval / 2) return;
  last = now;
  Send("WATCHDOG=1");
}

}  // namespace fesko

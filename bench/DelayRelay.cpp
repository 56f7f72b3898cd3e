// A delay line for TCP, for kernels without netem: accepts connections on one address, opens
// one to the target for each, and forwards every chunk in each direction DELAY after it arrived,
// in order and pipelined (chunks in flight overlap, as on a long link). A new connection also
// pays the round trip of its TCP handshake: the client's first bytes reach the target no sooner
// than three delays after it connected, as they would over the link.
//   delay_relay LISTEN_IP:PORT TARGET_IP:PORT DELAY_MS
// Prints "listening" once it accepts; runs until killed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "delay_relay: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

sockaddr_in Address(const std::string& text) {
  auto colon = text.rfind(':');
  if (colon == std::string::npos) throw std::invalid_argument("IP:PORT expected: " + text);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(std::stoi(text.substr(colon + 1))));
  if (::inet_pton(AF_INET, text.substr(0, colon).c_str(), &address.sin_addr) != 1) {
    throw std::invalid_argument("not an IPv4 address: " + text);
  }
  return address;
}

void NoDelay(int fd) {
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

struct Chunk {
  Clock::time_point due;
  std::string data;  // empty: the sender closed its side
  std::size_t written = 0;
};

// One direction of a connection: what was read from `from` and waits to be written to `to`.
struct Direction {
  int from = -1;
  int to = -1;
  std::deque<Chunk> chunks;
  Clock::time_point earliest;  // no chunk may be due before this
  bool reading = true;
  bool done = false;  // the close was passed on, or the connection failed
};

struct Connection {
  Direction up;    // client to target
  Direction down;  // target to client
  bool target_ready = false;
};

class Relay {
 public:
  Relay(const sockaddr_in& listen_at, const sockaddr_in& target, Clock::duration delay)
      : target_(target), delay_(delay) {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    timer_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (epoll_ < 0 || timer_ < 0 || listener_ < 0) Die("set-up");
    int one = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&listen_at), sizeof listen_at) != 0 ||
        ::listen(listener_, 128) != 0) {
      Die("listen");
    }
    Watch(listener_, EPOLLIN);
    Watch(timer_, EPOLLIN);
  }

  void Run() {
    epoll_event events[64];
    while (true) {
      int n = ::epoll_wait(epoll_, events, 64, -1);
      if (n < 0) {
        if (errno == EINTR) continue;
        Die("epoll_wait");
      }
      for (int i = 0; i < n; ++i) {
        int fd = events[i].data.fd;
        if (fd == listener_) {
          Accept();
        } else if (fd == timer_) {
          uint64_t expirations;
          [[maybe_unused]] auto r = ::read(timer_, &expirations, sizeof expirations);
        } else if (auto found = by_fd_.find(fd); found != by_fd_.end()) {
          auto connection = found->second;  // keeps it alive while it is served
          if (fd == connection->up.to && !connection->target_ready) {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error != 0) {
              Close(*connection);
              continue;
            }
            connection->target_ready = true;
          }
          if (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
            if (fd == connection->up.from) Read(connection->up);
            if (fd == connection->down.from) Read(connection->down);
          }
        }
      }
      Flush();
    }
  }

 private:
  void Watch(int fd, uint32_t events) {
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) Die("epoll_ctl");
  }
  void Change(int fd, uint32_t events) {
    epoll_event event{};
    event.events = events;
    event.data.fd = fd;
    ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
  }

  void Accept() {
    while (true) {
      int client = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (client < 0) return;
      int target = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (target < 0) {
        ::close(client);
        return;
      }
      NoDelay(client);
      NoDelay(target);
      auto connection = std::make_shared<Connection>();
      auto now = Clock::now();
      connection->up = {client, target, {}, now + 3 * delay_};
      connection->down = {target, client, {}, now};
      int r = ::connect(target, reinterpret_cast<const sockaddr*>(&target_), sizeof target_);
      if (r != 0 && errno != EINPROGRESS) {
        ::close(client);
        ::close(target);
        continue;
      }
      connection->target_ready = r == 0;
      by_fd_[client] = connection;
      by_fd_[target] = connection;
      Watch(client, EPOLLIN);
      Watch(target, EPOLLIN | EPOLLOUT);
    }
  }

  void Read(Direction& direction) {
    char buffer[65536];
    while (direction.reading) {
      ssize_t n = ::read(direction.from, buffer, sizeof buffer);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (n < 0 && errno == EINTR) continue;
      auto due = std::max(Clock::now() + delay_, direction.earliest);
      direction.earliest = due;
      if (n <= 0) {  // closed or reset: the close travels like data
        direction.reading = false;
        direction.chunks.push_back({due, {}, 0});
        return;
      }
      direction.chunks.push_back({due, std::string(buffer, static_cast<std::size_t>(n)), 0});
    }
  }

  // Writes what is due; returns false when the connection failed.
  bool Deliver(Direction& direction, Clock::time_point now) {
    while (!direction.done && !direction.chunks.empty() && direction.chunks.front().due <= now) {
      Chunk& chunk = direction.chunks.front();
      if (chunk.data.empty()) {
        ::shutdown(direction.to, SHUT_WR);
        direction.done = true;
        direction.chunks.clear();
        return true;
      }
      ssize_t n = ::send(direction.to, chunk.data.data() + chunk.written,
                         chunk.data.size() - chunk.written, MSG_NOSIGNAL);
      if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
      chunk.written += static_cast<std::size_t>(n);
      if (chunk.written < chunk.data.size()) return true;  // the rest when it can take more
      direction.chunks.pop_front();
    }
    return true;
  }

  void Close(Connection& connection) {
    for (int fd : {connection.up.from, connection.up.to}) {
      ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
      ::close(fd);
    }
    int client = connection.up.from, target = connection.up.to;
    by_fd_.erase(client);
    by_fd_.erase(target);
  }

  void Flush() {
    auto now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    std::map<int, std::shared_ptr<Connection>> connections;
    for (auto& [fd, connection] : by_fd_) {
      if (fd == connection->up.from) connections[fd] = connection;
    }
    for (auto& [fd, connection] : connections) {
      bool ok = true;
      if (connection->target_ready) ok = Deliver(connection->up, now);
      ok = ok && Deliver(connection->down, now);
      bool finished = connection->up.done && connection->down.done;
      if (!ok || finished) {
        Close(*connection);
        continue;
      }
      for (const Direction* direction : {&connection->up, &connection->down}) {
        if (!direction->done && !direction->chunks.empty() && !Stuck(*direction, now)) {
          next = std::min(next, direction->chunks.front().due);
        }
      }
      // Room to write is waited for only while a due chunk is stuck, or the target connects.
      Change(connection->up.from, (connection->up.reading ? EPOLLIN : 0u) |
                                      (Stuck(connection->down, now) ? EPOLLOUT : 0u));
      Change(connection->up.to,
             (connection->down.reading ? EPOLLIN : 0u) |
                 (!connection->target_ready || Stuck(connection->up, now) ? EPOLLOUT : 0u));
    }
    Arm(next);
  }

  static bool Stuck(const Direction& direction, Clock::time_point now) {
    return !direction.done && !direction.chunks.empty() && direction.chunks.front().due <= now;
  }

  void Arm(Clock::time_point next) {
    itimerspec spec{};
    if (next != Clock::time_point::max()) {
      auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(next.time_since_epoch());
      spec.it_value.tv_sec = static_cast<time_t>(ns.count() / 1'000'000'000);
      spec.it_value.tv_nsec = static_cast<long>(ns.count() % 1'000'000'000);
      if (spec.it_value.tv_sec == 0 && spec.it_value.tv_nsec == 0) spec.it_value.tv_nsec = 1;
    }
    ::timerfd_settime(timer_, TFD_TIMER_ABSTIME, &spec, nullptr);
  }

  sockaddr_in target_;
  Clock::duration delay_;
  int epoll_ = -1;
  int timer_ = -1;
  int listener_ = -1;
  std::map<int, std::shared_ptr<Connection>> by_fd_;
};

}  // namespace

int main(int argc, char** argv) try {
  if (argc != 4) {
    std::fprintf(stderr, "usage: delay_relay LISTEN_IP:PORT TARGET_IP:PORT DELAY_MS\n");
    return 2;
  }
  std::signal(SIGPIPE, SIG_IGN);
  auto delay = std::chrono::microseconds(static_cast<long>(std::stod(argv[3]) * 1000));
  Relay relay(Address(argv[1]), Address(argv[2]), delay);
  std::printf("listening\n");
  std::fflush(stdout);
  relay.Run();
} catch (const std::exception& e) {
  std::fprintf(stderr, "delay_relay: %s\n", e.what());
  return 1;
}

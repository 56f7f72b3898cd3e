#include "tests/web/Responder.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <stdexcept>
#include <vector>

#include "tests/support/TestDatabase.h"

extern char** environ;

namespace fesko::web::test {
namespace {

using fesko::test::ReadFile;

// Reads the first line the server prints, its port, giving up after ten seconds.
int ReadPort(int fd) {
  std::string line;
  char c;
  pollfd wait{fd, POLLIN, 0};
  while (poll(&wait, 1, 10'000) == 1 && read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line.empty() ? 0 : std::stoi(line);
}

}  // namespace

Responder::Responder(std::optional<Certificate> tls) : tls_(tls.has_value()) {
  char pattern[] = "/tmp/fesko-web-test-XXXXXX";
  if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
  logDir_ = pattern;

  int pipeFds[2];
  if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  std::vector<std::string> args = {FESKO_PYTHON, FESKO_RESPONDER, logDir_.string()};
  if (tls) {
    args.push_back(tls->certFile);
    args.push_back(tls->keyFile);
  }
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int spawned = posix_spawn(&pid_, FESKO_PYTHON, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    throw std::runtime_error("cannot start the responder");
  }
  port_ = ReadPort(pipeFds[0]);
  close(pipeFds[0]);
  if (port_ == 0) throw std::runtime_error("the responder printed no port");
}

Responder::~Responder() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  std::error_code ignored;
  std::filesystem::remove_all(logDir_, ignored);
}

WideString Responder::Url(std::string_view path) const {
  std::string url = tls_ ? "https" : "http";
  url += "://127.0.0.1:" + std::to_string(port_);
  url += path;
  return Utf8ToWide(url);
}

int Responder::RequestCount() const {
  int count = 0;
  while (std::filesystem::exists(logDir_ / (std::to_string(count + 1) + ".meta"))) ++count;
  return count;
}

Responder::Request Responder::RequestNumber(int number) const {
  auto base = logDir_ / std::to_string(number);
  Request request;
  std::istringstream meta(ReadFile(base.string() + ".meta"));
  std::string line;
  while (std::getline(meta, line)) {
    auto equals = line.find('=');
    std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "path") request.path = value;
    if (key == "soapaction") request.soapAction = value;
    if (key == "content-type") request.contentType = value;
    if (key == "peer") request.peer = value;
  }
  request.body = ReadFile(base.string() + ".body");
  request.document = ReadFile(base.string() + ".document");
  return request;
}

}  // namespace fesko::web::test

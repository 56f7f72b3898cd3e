#include "tests/support/TestDatabase.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

extern char** environ;

namespace fesko::test {
namespace {

std::string Env(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value && *value ? value : fallback;
}

std::string Quoted(const std::string& text) {
  return "'" + text + "'";
}

// The databases this process made. Those still here at a normal exit are dropped then; if the
// process ends otherwise (a crash, a kill, a time-out), a watcher started with the first one
// drops them once this process's end of their socket closes (scripts/drop-db --at-eof).
class Databases {
 public:
  static Databases& Instance() {
    static Databases databases;
    return databases;
  }
  ~Databases() {
    for (const std::string& attachment : std::vector<std::string>(attachments_)) {
      Drop(attachment);
    }
    if (socket_ >= 0) ::close(socket_);
  }

  void Watch(const std::string& attachment) {
    std::lock_guard lock(mutex_);
    if (socket_ < 0) StartWatcher();
    attachments_.push_back(attachment);
    Tell("+" + attachment);
  }

  void Drop(const std::string& attachment) {
    Shell(SourceDir() + "/scripts/drop-db " + Quoted(attachment));
    std::lock_guard lock(mutex_);
    auto found = std::find(attachments_.begin(), attachments_.end(), attachment);
    if (found == attachments_.end()) return;
    attachments_.erase(found);
    Tell("-" + attachment);
  }

 private:
  Databases() = default;

  // setsid --fork leaves the watcher in a session of its own with no parent but init, so
  // whatever ends this process and its children (ctest's time-out) does not end it too.
  void StartWatcher() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return;
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    std::string script = SourceDir() + "/scripts/drop-db";
    char* argv[] = {const_cast<char*>("/usr/bin/setsid"), const_cast<char*>("--fork"),
                    const_cast<char*>("/bin/bash"),       script.data(),
                    const_cast<char*>("--at-eof"),        nullptr};
    pid_t pid = 0;
    int failed = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (failed != 0) {
      ::close(ends[0]);
      return;
    }
    ::waitpid(pid, nullptr, 0);  // setsid itself returns at once
    socket_ = ends[0];
  }

  void Tell(const std::string& text) {
    if (socket_ < 0) return;
    std::string line = text + "\n";
    ::send(socket_, line.data(), line.size(), MSG_NOSIGNAL);
  }

  std::mutex mutex_;
  int socket_ = -1;
  std::vector<std::string> attachments_;
};

}  // namespace

std::string Capture(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  int result = -1;
  if (pipe) {
    std::array<char, 4096> buffer;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
      output.append(buffer.data(), n);
    result = ::pclose(pipe);
  }
  if (status) *status = result;
  return output;
}

std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string SourceDir() {
  return Env("FESKO_SOURCE_DIR", FESKO_SOURCE_DIR);
}
std::string DbUser() {
  return Env("FESKO_DB_USER", "fesko");
}
std::string DbPassword() {
  return Env("FESKO_DB_PASSWORD", "fesko");
}
std::string NoRightsUser() {
  return Env("FESKO_DB_NORIGHTS_USER", "fesko_sin_permisos");
}
std::string NoRightsPassword() {
  return Env("FESKO_DB_NORIGHTS_PASSWORD", "sinpermisos");
}

int Shell(const std::string& command) {
  return std::system(command.c_str());
}

std::string CreateDatabase(const std::string& name, bool demo) {
  // Watched before it exists: a test ended while the script runs leaves nothing either.
  std::string path = Env("FESKO_DB_DIR", "/var/lib/firebird/3.0/data/fesko") + "/test-" + name +
                     "-" + std::to_string(::getpid()) + ".fdb";
  Databases::Instance().Watch("localhost:" + path);
  int status = 0;
  std::string out = Capture(
      SourceDir() + "/scripts/create-db " + Quoted(path) + (demo ? " --demo" : ""), &status);
  EXPECT_EQ(status, 0) << "create-db failed: " << out;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return "localhost:" + out;
}

void DropWhenDone(const std::string& attachment) {
  Databases::Instance().Watch(attachment);
}

void DropDatabase(const std::string& attachment) {
  Databases::Instance().Drop(attachment);
}

std::string PathOf(const std::string& attachment) {
  auto colon = attachment.find(':');
  return colon == std::string::npos ? attachment : attachment.substr(colon + 1);
}

std::string RunIsql(const std::string& attachment, const std::string& sql) {
  char name[] = "/tmp/fesko-test-sql.XXXXXX";
  int fd = ::mkstemp(name);
  EXPECT_GE(fd, 0);
  ::close(fd);
  {
    std::ofstream file(name, std::ios::binary);
    file << sql << "\ncommit;\n";
  }
  int status = 0;
  std::string out = Capture("/usr/bin/isql-fb -q -bail -user " + DbUser() + " -password " +
                                DbPassword() + " -i " + name + " " + attachment + " 2>&1",
                            &status);
  ::unlink(name);
  EXPECT_EQ(status, 0) << "isql failed: " << out;
  return out;
}

}  // namespace fesko::test

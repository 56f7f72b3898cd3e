#include "tests/support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace fesko::test {

ChildProcess::ChildProcess(const std::string& executable,
                           const std::vector<std::string>& extra_env) {
  int pipefd[2];
  if (::pipe2(pipefd, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) env.emplace_back(*e);
  // An entry given here replaces the inherited one of the same name.
  for (const auto& e : extra_env) {
    std::string name = e.substr(0, e.find('=') + 1);
    std::erase_if(env, [&](const std::string& old) { return old.starts_with(name); });
    env.push_back(e);
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(pipefd[1], STDERR_FILENO);
    int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, STDIN_FILENO);
    ::dup2(devnull, STDOUT_FILENO);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(executable.c_str()), nullptr};
    ::execve(executable.c_str(), argv, envp.data());
    ::_exit(127);
  }
  ::close(pipefd[1]);
  stderr_fd_ = pipefd[0];
  ::fcntl(stderr_fd_, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
  if (Running()) {
    Signal(SIGKILL);
    WaitForExit(std::chrono::seconds(5));
  }
  if (stderr_fd_ >= 0) ::close(stderr_fd_);
}

void ChildProcess::Drain() {
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(stderr_fd_, buffer, sizeof buffer)) > 0) stderr_.append(buffer, n);
}

bool ChildProcess::Running() {
  if (exited_) return false;
  int status;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    exited_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return false;
  }
  return true;
}

int ChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (Running()) {
    Drain();
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  Drain();
  return status_;
}

void ChildProcess::Signal(int signal) {
  if (!exited_) ::kill(pid_, signal);
}

std::string ChildProcess::Stderr() {
  Drain();
  return stderr_;
}

std::string CopyToFreshFolder(const std::string& executable, const std::string& folder_name) {
  namespace fs = std::filesystem;
  fs::path folder = fs::temp_directory_path() / (folder_name + "-" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::path copy = folder / fs::path(executable).filename();
  fs::copy_file(executable, copy);
  return copy.string();
}

}  // namespace fesko::test

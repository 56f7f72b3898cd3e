// Runs the program as a person would: a copy of an executable in a folder of its own (so its
// config.ini sits beside it), its standard error captured, stopped with a signal if need be.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace fesko::test {

class ChildProcess {
 public:
  // Starts `executable` with the environment given (added to this process's).
  ChildProcess(const std::string& executable, const std::vector<std::string>& extra_env = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits up to `timeout` for the exit; returns the exit status, or -1 if it still runs.
  int WaitForExit(std::chrono::milliseconds timeout);
  bool Running();
  void Signal(int signal);
  // Everything written to standard error so far.
  std::string Stderr();
  pid_t Pid() const { return pid_; }

 private:
  void Drain();
  pid_t pid_ = -1;
  int stderr_fd_ = -1;
  int status_ = -1;
  bool exited_ = false;
  std::string stderr_;
};

// A fresh folder under /tmp holding a copy of the executable; returns the copy's path.
std::string CopyToFreshFolder(const std::string& executable, const std::string& folder_name);

}  // namespace fesko::test

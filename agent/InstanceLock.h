// One agent per workshop: a lock on the folder that holds Dunmar and its config.ini, held for
// the life of the process and dropped by the kernel however it ends (a crash, SIGKILL), so no
// stale lock is ever left. Another folder, with its own config.ini, is another workshop.
#pragma once

#include <string>

namespace fesko {

class TInstanceLock {
 public:
  // Takes the folder's lock at once, without waiting.
  explicit TInstanceLock(const std::string& folder);
  ~TInstanceLock();
  TInstanceLock(const TInstanceLock&) = delete;
  TInstanceLock& operator=(const TInstanceLock&) = delete;

  // Another process holds the lock: an agent runs on this workshop already. A folder that
  // cannot be opened holds no lock either way, and the program goes on to meet its real error
  // (no config.ini, say).
  bool HeldElsewhere() const { return held_elsewhere_; }

 private:
  int fd_ = -1;
  bool held_elsewhere_ = false;
};

}  // namespace fesko

#include "agent/InstanceLock.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace fesko {

// The folder itself is locked, not config.ini: every marker write replaces config.ini by a
// rename, and a lock on the replaced file would hold nothing.
TInstanceLock::TInstanceLock(const std::string& folder) {
  fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) return;
  int result;
  while ((result = ::flock(fd_, LOCK_EX | LOCK_NB)) < 0 && errno == EINTR) {
  }
  if (result < 0) {
    held_elsewhere_ = errno == EWOULDBLOCK;
    ::close(fd_);
    fd_ = -1;
  }
}

TInstanceLock::~TInstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace fesko

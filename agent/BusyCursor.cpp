#include "agent/BusyCursor.h"

#include <QApplication>
#include <QThread>

#include "database/MDOQuery.h"

namespace fesko {

void InstallBusyCursor() {
  db::SetQueryBusyHandler([](bool busy) {
    // Only the UI thread's own statements freeze the window; each start is matched by its end
    // on the same thread, so the cursor stack stays balanced.
    if (qApp == nullptr || QThread::currentThread() != qApp->thread()) return;
    if (busy) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
      QApplication::restoreOverrideCursor();
    }
  });
}

}  // namespace fesko

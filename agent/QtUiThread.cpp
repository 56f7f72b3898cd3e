#include "agent/QtUiThread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include "base/UiThread.h"

namespace fesko {

void InstallQtUiThread() {
  // A queued call on the application object: posting is safe from any thread and never
  // waits, and the application object outlives every thread that could post.
  InstallUiThread([] {
    if (QCoreApplication* app = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(
          app, [] { ProcessUiThreadRequests(); }, Qt::QueuedConnection);
    }
  });
}

}  // namespace fesko

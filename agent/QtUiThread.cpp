#include "agent/QtUiThread.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include "base/UiThread.h"

namespace fesko {
namespace {

// A queued call on the application object: posting is safe from any thread and never waits,
// and the application object outlives every thread that could post.
void PostWake() {
  if (QCoreApplication* app = QCoreApplication::instance()) {
    QMetaObject::invokeMethod(
        app, [] { ProcessUiThreadRequests(); }, Qt::QueuedConnection);
  }
}

}  // namespace

void InstallQtUiThread() {
  static QPointer<QCoreApplication> installed_for;
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || installed_for == app) return;
  installed_for = app;
  InstallUiThread(&PostWake);
  // A nested loop (a modal box opened while a posted event is being handled) only delivers
  // events posted after that event's delivery began; a wake posted before it would wait until
  // the box closes. Each loop iteration therefore wakes again while requests are waiting.
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(app->thread())) {
    auto wake_if_pending = [] {
      if (PendingUiThreadRequests() > 0) PostWake();
    };
    QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, app, wake_if_pending);
    QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, app, wake_if_pending);
  }
}

}  // namespace fesko

#include "agent/Timer.h"

namespace fesko {

TTimer::TTimer(int interval_ms, QObject* parent) : QObject(parent), interval_(interval_ms) {
  timer_.setTimerType(Qt::CoarseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (OnTimer) OnTimer();
  });
  Update();
}

void TTimer::SetInterval(int interval_ms) {
  if (interval_ms == interval_) return;
  interval_ = interval_ms;
  Update();
}

void TTimer::Update() {
  if (interval_ > 0) {
    timer_.start(interval_);
  } else {
    timer_.stop();
  }
}

}  // namespace fesko

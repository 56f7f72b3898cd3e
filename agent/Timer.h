// A window timer in the platform's manner: an interval in milliseconds where 0 means stopped,
// and setting the interval it already has changes nothing (the countdown is not restarted).
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

namespace fesko {

class TTimer : public QObject {
 public:
  explicit TTimer(int interval_ms, QObject* parent = nullptr);

  int Interval() const { return interval_; }
  void SetInterval(int interval_ms);
  std::function<void()> OnTimer;

 private:
  void Update();
  QTimer timer_;
  int interval_;
};

}  // namespace fesko

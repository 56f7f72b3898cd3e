#include "agent/CoolTrayIcon.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QShowEvent>
#include <QWidget>
#include <chrono>

namespace fesko {
namespace {

constexpr int kTrayWatchInterval = 3000;

qint64 NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

QString ToQString(const WideString& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TCoolTrayIcon::TCoolTrayIcon(QWidget* main_window)
    : QObject(main_window), main_window_(main_window) {
  icon_.setIcon(DrawIcon());
  connect(&icon_, &QSystemTrayIcon::activated, this, &TCoolTrayIcon::Activated);
  // Desktops announce a restarted tray in different ways, or not at all; looking now and then
  // is the one way that works on all of them.
  tray_watch_.setInterval(kTrayWatchInterval);
  connect(&tray_watch_, &QTimer::timeout, this, &TCoolTrayIcon::CheckTrayHost);
}

TCoolTrayIcon::~TCoolTrayIcon() {
  icon_.hide();
}

void TCoolTrayIcon::SetHint(const QString& hint) {
  icon_.setToolTip(hint.left(kMaxHintLength));
}

QString TCoolTrayIcon::Hint() const {
  return icon_.toolTip();
}

void TCoolTrayIcon::SetPopupMenu(QMenu* menu) {
  icon_.setContextMenu(menu);
}

QMenu* TCoolTrayIcon::PopupMenu() const {
  return icon_.contextMenu();
}

void TCoolTrayIcon::Loaded() {
  bool show_main_form = true;
  if (OnStartup) OnStartup(show_main_form);
  if (show_main_form) {
    QTimer::singleShot(0, main_window_, [this] { main_window_->show(); });
  } else {
    main_window_->hide();
  }
  tray_was_available_ = TrayAvailable();
  icon_.show();
  tray_watch_.start();
}

void TCoolTrayIcon::ShowBalloon(const WideString& title, const WideString& text,
                                TBalloonHintIcon kind, int seconds) {
  Balloon balloon{title.substr(0, kMaxBalloonTitle), text.substr(0, kMaxBalloonText), kind,
                  seconds * 1000};
  // The platform replaces a balloon it still shows with the new one; a desktop without a
  // tray shows nothing and says nothing.
  balloon_ = balloon;
  balloon_until_ = NowMs() + balloon.timeout_ms;
  icon_.showMessage(ToQString(balloon.title), ToQString(balloon.text),
                    static_cast<QSystemTrayIcon::MessageIcon>(kind), balloon.timeout_ms);
  if (OnBalloon) OnBalloon(balloon);
}

std::optional<TCoolTrayIcon::Balloon> TCoolTrayIcon::CurrentBalloon() const {
  if (balloon_ && NowMs() < balloon_until_) return balloon_;
  return std::nullopt;
}

void TCoolTrayIcon::ShowMainWindow() {
  if (main_window_->isMinimized()) {
    main_window_->setWindowState(main_window_->windowState() & ~Qt::WindowMinimized);
  }
  if (main_window_->isVisible()) {
    // Already shown: bring it up again as if it had just been made visible.
    QShowEvent show;
    QCoreApplication::sendEvent(main_window_, &show);
  } else {
    main_window_->show();
  }
  main_window_->raise();
  main_window_->activateWindow();
}

void TCoolTrayIcon::CheckTrayHost() {
  bool available = TrayAvailable();
  if (available && !tray_was_available_ && icon_.isVisible()) {
    icon_.hide();
    icon_.show();
  }
  tray_was_available_ = available;
}

void TCoolTrayIcon::Activated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::DoubleClick && OnDblClick) OnDblClick();
}

QIcon TCoolTrayIcon::DrawIcon() {
  // A blue tile with a white arrow pointing up: the program sends data away.
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x1f, 0x5f, 0xb0));
  painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
  QPainterPath arrow;
  arrow.moveTo(16, 5);
  arrow.lineTo(26, 16);
  arrow.lineTo(20, 16);
  arrow.lineTo(20, 27);
  arrow.lineTo(12, 27);
  arrow.lineTo(12, 16);
  arrow.lineTo(6, 16);
  arrow.closeSubpath();
  painter.setBrush(Qt::white);
  painter.drawPath(arrow);
  painter.end();
  return QIcon(pixmap);
}

}  // namespace fesko

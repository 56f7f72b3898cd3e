#include "agent/CoolTrayIcon.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
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
// A notification service that does not answer in this time is taken as absent: the UI thread
// waits for the answer, which carries the id the next balloon replaces.
constexpr int kNotifyTimeoutMs = 3000;
const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");
const QString kNotificationsPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

// The same question Qt asks when it creates a tray icon: is there a StatusNotifier host?
bool StatusNotifierHostRegistered() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage get = QDBusMessage::createMethodCall(
      kWatcher, QStringLiteral("/StatusNotifierWatcher"),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
  QDBusMessage reply = bus.call(get, QDBus::Block, kNotifyTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  return qvariant_cast<QDBusVariant>(reply.arguments().front()).variant().toBool();
}

// The icon names of the freedesktop naming spec for the balloon kinds.
QString NotificationIcon(TBalloonHintIcon kind) {
  switch (kind) {
    case bitInfo:
      return QStringLiteral("dialog-information");
    case bitWarning:
      return QStringLiteral("dialog-warning");
    case bitError:
      return QStringLiteral("dialog-error");
    default:
      return {};
  }
}

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
  status_notifier_ = StatusNotifierHostRegistered();
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
  balloon_ = balloon;
  balloon_until_ = NowMs() + balloon.timeout_ms;
  // Qt's own balloon on a StatusNotifier tray stacks a new notification every time and puts
  // the text in the tooltip; the notification service replaces the previous one by its id.
  // Without the service, Qt's balloon replaces its own on an XEmbed tray; a desktop without a
  // tray shows nothing and says nothing.
  if (!Notify(balloon)) {
    icon_.showMessage(ToQString(balloon.title), ToQString(balloon.text),
                      static_cast<QSystemTrayIcon::MessageIcon>(kind), balloon.timeout_ms);
  }
  if (OnBalloon) OnBalloon(balloon);
}

bool TCoolTrayIcon::Notify(const Balloon& balloon) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(kNotifications, kNotificationsPath,
                                                     kNotifications, QStringLiteral("Notify"));
  call << QCoreApplication::applicationName() << static_cast<uint>(notification_id_)
       << NotificationIcon(balloon.kind) << ToQString(balloon.title) << ToQString(balloon.text)
       << QStringList() << QVariantMap() << static_cast<int>(balloon.timeout_ms);
  QDBusMessage reply = bus.call(call, QDBus::Block, kNotifyTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  notification_id_ = reply.arguments().front().toUInt();
  return true;
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
  QSystemTrayIcon::ActivationReason gesture =
      status_notifier_ ? QSystemTrayIcon::Trigger : QSystemTrayIcon::DoubleClick;
  if (reason == gesture && OnDblClick) OnDblClick();
}

QIcon TCoolTrayIcon::DrawIcon() {
  // A blue tile with a white arrow pointing up: the program sends data away. Drawn at the sizes
  // trays ask for, so that none scales a small picture up.
  QIcon icon;
  for (int size : {16, 22, 24, 32, 48, 64}) icon.addPixmap(DrawIcon(size));
  return icon;
}

QPixmap TCoolTrayIcon::DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 32.0, size / 32.0);
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
  return pixmap;
}

}  // namespace fesko

// The tray icon TCoolTrayIcon: the program's only presence on the desktop. It carries the
// tooltip, the menu on the right button, the main window on a double-click (a click on
// StatusNotifier trays) and the balloons that report uploads. Without a tray host it still
// works; its balloons then go nowhere.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <functional>
#include <optional>

#include "base/TextKinds.h"

class QMenu;
class QWidget;

namespace fesko {

// Balloon icon kinds, with the platform's numbers.
enum TBalloonHintIcon : int { bitNone = 0, bitInfo = 1, bitWarning = 2, bitError = 3 };

class TCoolTrayIcon : public QObject {
 public:
  static constexpr int kMaxHintLength = 127;
  static constexpr size_t kMaxBalloonTitle = 63;
  static constexpr size_t kMaxBalloonText = 255;

  struct Balloon {
    WideString title;
    WideString text;
    TBalloonHintIcon kind;
    int timeout_ms;
  };

  // The icon belongs to `main_window`, the window that ShowMainWindow brings up.
  explicit TCoolTrayIcon(QWidget* main_window);
  // Removes the icon from the tray.
  ~TCoolTrayIcon() override;

  void SetHint(const QString& hint);
  QString Hint() const;
  void SetPopupMenu(QMenu* menu);
  QMenu* PopupMenu() const;

  std::function<void(bool& show_main_form)> OnStartup;
  std::function<void()> OnDblClick;

  // The window's components are loaded: raises OnStartup and puts the icon in the tray. When
  // the handler leaves `show_main_form` true the main window is shown once the message loop
  // runs; otherwise it stays hidden.
  void Loaded();

  // Replaces any balloon still shown. The title is cut to 63 characters, the text to 255.
  // Through the desktop's notification service where there is one, else Qt's own balloon.
  void ShowBalloon(const WideString& title, const WideString& text, TBalloonHintIcon kind,
                   int seconds);
  // The balloon still within its time-out, if any.
  std::optional<Balloon> CurrentBalloon() const;
  // Called for every balloon shown, tray host or not; for observers such as tests.
  std::function<void(const Balloon&)> OnBalloon;

  // Restores and shows the main window, brings it to the front and runs its show handler,
  // also when it was already shown.
  void ShowMainWindow();

  bool IconVisible() const { return icon_.isVisible(); }
  // The platform icon, for the menu and activation signals.
  QSystemTrayIcon& Icon() { return icon_; }

  // Whether the desktop has a tray; replaceable so that a tray restart can be simulated.
  std::function<bool()> TrayAvailable = &QSystemTrayIcon::isSystemTrayAvailable;
  // Looks whether the tray came back and, if so, puts the icon in it again. Runs on a timer.
  void CheckTrayHost();

 private:
  static QIcon DrawIcon();
  static QPixmap DrawIcon(int size);
  void Activated(QSystemTrayIcon::ActivationReason reason);
  // Sends the balloon to org.freedesktop.Notifications, replacing the one sent before; false
  // where no such service answers.
  bool Notify(const Balloon& balloon);

  QWidget* main_window_;
  QSystemTrayIcon icon_;
  QTimer tray_watch_;
  bool tray_was_available_ = false;
  // Qt exports the icon as a StatusNotifierItem when a host is registered as it is created;
  // there a left click is the activation gesture, and no double-click ever comes.
  bool status_notifier_ = false;
  unsigned notification_id_ = 0;
  std::optional<Balloon> balloon_;
  qint64 balloon_until_ = 0;
};

}  // namespace fesko

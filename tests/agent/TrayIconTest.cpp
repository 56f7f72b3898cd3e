// The tray icon on the offscreen platform, where no tray exists: the main window stays hidden
// at start, a double-click brings it up with its show handler, balloons are cut and replaced.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QShowEvent>

#include "agent/CoolTrayIcon.h"
#include "agent/UPpal.h"
#include "tests/support/WaitFor.h"

using namespace fesko;

namespace {

// Counts the show events a window receives; each one runs the window's show handler.
class ShowCounter : public QObject {
 public:
  explicit ShowCounter(QWidget* window) { window->installEventFilter(this); }
  int shows = 0;

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show) ++shows;
    return false;
  }
};

void DoubleClick(TCoolTrayIcon& tray) {
  emit tray.Icon().activated(QSystemTrayIcon::DoubleClick);
}

}  // namespace

TEST(MainWindowTray, StaysHiddenAtStartAndADoubleClickShowsIt) {
  db::TDataModule1 data;
  TFrmPpal window(data);
  ShowCounter counter(&window);
  test::PumpFor(std::chrono::milliseconds(100));  // the message loop runs: nothing shows the window
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(counter.shows, 0);

  TCoolTrayIcon& tray = *window.CoolTrayIcon1;
  EXPECT_TRUE(tray.IconVisible());
  // The window has no database nor config.ini here: its start-up's local fault adds a line of
  // its own below the name.
  EXPECT_EQ(tray.Hint().section(u'\n', 0, 0), QStringLiteral("Fesko 15318"));
  ASSERT_EQ(tray.PopupMenu(), window.PopupMenu1);
  ASSERT_FALSE(window.PopupMenu1->actions().isEmpty());
  EXPECT_EQ(window.PopupMenu1->actions().back(), window.CerrarGestor1);
  EXPECT_EQ(window.CerrarGestor1->text(), QStringLiteral("Salir"));
  EXPECT_EQ(window.EventoNuevoCliente.Database(), &data.Service1);

  // A single click does nothing; a double-click brings the window up and runs its show
  // handler, a second one runs it again.
  emit tray.Icon().activated(QSystemTrayIcon::Trigger);
  EXPECT_FALSE(window.isVisible());
  DoubleClick(tray);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(counter.shows, 1);
  DoubleClick(tray);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(counter.shows, 2);
}

TEST(TrayIcon, ShowsTheWindowAtStartOnlyWhenTheStartupHandlerLetsIt) {
  QWidget shown, hidden;
  TCoolTrayIcon shown_tray(&shown), hidden_tray(&hidden);
  hidden_tray.OnStartup = [](bool& show_main_form) { show_main_form = false; };
  shown_tray.Loaded();
  hidden_tray.Loaded();
  EXPECT_FALSE(shown.isVisible());  // not before the message loop runs
  test::PumpFor(std::chrono::milliseconds(50));
  EXPECT_TRUE(shown.isVisible());
  EXPECT_FALSE(hidden.isVisible());
}

TEST(TrayIcon, ShowMainWindowRestoresAMinimisedWindow) {
  QWidget window;
  TCoolTrayIcon tray(&window);
  window.showMinimized();
  ASSERT_TRUE(window.isMinimized());
  tray.ShowMainWindow();
  EXPECT_FALSE(window.isMinimized());
  EXPECT_TRUE(window.isVisible());
}

TEST(TrayIcon, BalloonsAreCutAndReplaced) {
  QWidget window;
  TCoolTrayIcon tray(&window);
  tray.Loaded();
  std::vector<TCoolTrayIcon::Balloon> seen;
  tray.OnBalloon = [&](const TCoolTrayIcon::Balloon& b) { seen.push_back(b); };
  EXPECT_FALSE(tray.CurrentBalloon());

  WideString title(70, u'T');
  WideString text = WideString(250, u'x') + u"ñandú y más";
  tray.ShowBalloon(title, text, bitInfo, 25);
  auto first = tray.CurrentBalloon();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->title, WideString(63, u'T'));
  EXPECT_EQ(first->text, WideString(250, u'x') + u"ñandú");
  EXPECT_EQ(first->kind, bitInfo);
  EXPECT_EQ(first->timeout_ms, 25000);

  // Exactly at the limits nothing is cut.
  tray.ShowBalloon(WideString(63, u'a'), WideString(255, u'b'), bitWarning, 1);
  auto second = tray.CurrentBalloon();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->title.size(), 63u);
  EXPECT_EQ(second->text.size(), 255u);
  EXPECT_EQ(second->kind, bitWarning);
  ASSERT_EQ(seen.size(), 2u);
  // Its time-out over, no balloon is shown.
  test::PumpFor(std::chrono::milliseconds(1100));
  EXPECT_FALSE(tray.CurrentBalloon());
}

TEST(TrayIcon, TheTooltipKeepsAtMost127Characters) {
  QWidget window;
  TCoolTrayIcon tray(&window);
  tray.SetHint(QString(127, QLatin1Char('h')) + QStringLiteral("resto"));
  EXPECT_EQ(tray.Hint(), QString(127, QLatin1Char('h')));
}

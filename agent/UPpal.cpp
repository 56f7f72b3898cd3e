#include "agent/UPpal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <utility>

#include "agent/BusyCursor.h"
#include "agent/QtUiThread.h"
#include "agent/ServiceManager.h"
#include "agent/TrayMenu.h"
#include "base/ApplicationErrors.h"
#include "base/MessageBox.h"

namespace fesko {
namespace {
constexpr int kStoredPollInterval = 6000000;
constexpr int kSweepInterval = 60000;
constexpr std::u16string_view kEventWaitFailedText =
    u"No se puede esperar los avisos de la base de datos (error %1). Los cambios se enviarán "
    u"cada minuto.";
}  // namespace

TFrmPpal::TFrmPpal(db::TDataModule1& data)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      EventoNuevoCliente(&data.Service1),
      EventoActualizarCliente(&data.Service1),
      EventoNuevaReparacion(&data.Service1),
      EventoEditarReparacion(&data.Service1),
      EventoEditarPresupuesto(&data.Service1),
      data_(data),
      sync_(data, *this),
      watch_(data, *this, this) {
  // The event listeners hand their deliveries to this thread.
  InstallQtUiThread();
  InstallBusyCursor();
  setObjectName(QStringLiteral("FrmPpal"));
  setWindowTitle(QStringLiteral("Fesko15318"));
  setFixedSize(260, 90);
  txtcuenta = new QLineEdit(this);
  txtcuenta->setObjectName(QStringLiteral("txtcuenta"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(txtcuenta);
  Timer1 = new TTimer(kStoredPollInterval, this);
  Timer1->OnTimer = [this] { RunHandler([this] { Timer1Timer(); }); };
  SweepTimer = new TTimer(kSweepInterval, this);
  SweepTimer->OnTimer = [this] { RunHandler([this] { SweepTimerTimer(); }); };
  // Under a service manager's watchdog the event loop pings every half interval; a pass, which
  // holds the loop, pings between two calls.
  if (const auto ping = WatchdogPingInterval(); ping.count() > 0) {
    auto* watchdog = new QTimer(this);
    connect(watchdog, &QTimer::timeout, [] { PingWatchdog(); });
    watchdog->start(std::max<int>(1, static_cast<int>(ping.count() / 2)));
  }
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  CreateTrayIcon();
  data_.OnConnectionLost = [this] { watch_.LostByUnit(); };
  RunHandler([this] { FormCreate(); });
}

TFrmPpal::~TFrmPpal() {
  // No handler runs on a window being taken apart, while the listeners wind down one by one.
  data_.OnConnectionLost = nullptr;
  for (const KindFacts& kind : AllKindFacts()) {
    db::TIBEvents& events = this->*kind.listener;
    events.OnEventAlert = nullptr;
    events.OnError = nullptr;
    events.OnFirstWait = nullptr;
  }
}

void TFrmPpal::FormCreate() {
  RegisterListeners();
  sync_.ReadSettings();
  // Start-up is over before the catch-up, which may send thousands of rows: a service manager
  // waiting for readiness would take that for a start that hangs.
  NotifyReady();
  NotifyStatus(CoolTrayIcon1->Hint().toStdString());
  sync_.CatchUp();
}

void TFrmPpal::RegisterListeners() {
  // The order the listeners have always been registered in, new clients first.
  static constexpr std::array<ChangeKind, kChangeKinds.size()> kListenOrder = {
      ChangeKind::NewClients, ChangeKind::ChangedClients, ChangeKind::NewRepairs,
      ChangeKind::ChangedRepairs, ChangeKind::ChangedBudgets};
  // Each listener reports an error of its handler itself and goes on listening.
  waits_to_queue_ = static_cast<int>(kListenOrder.size());
  for (ChangeKind listened : kListenOrder) {
    const KindFacts& kind = FactsOf(listened);
    db::TIBEvents& events = this->*kind.listener;
    auto handler = kind.handler;
    events.OnEventAlert = [this, handler](db::TIBEvents&, const AnsiString&, int, bool&) {
      (this->*handler)();
    };
    // A lost attachment is the watch's; any other failed wait is reported here.
    events.OnError = [this](db::TIBEvents&, int code) {
      if (db::IsLostConnection(code)) {
        watch_.ListenerLost(code);
      } else {
        EventWaitsFailed(code);
      }
    };
    // Once every first wait is queued, what changed before (during the catch-up, or while the
    // database was away) goes out in one sweep; a later change comes as an event.
    events.OnFirstWait = [this](db::TIBEvents&) {
      if (waits_to_queue_ > 0 && --waits_to_queue_ == 0) SweepSoon();
    };
    events.UnRegisterEvents();
    events.Events.Add(kind.event);
    events.RegisterEvents();
  }
}

void TFrmPpal::Evento1EventAlert() {
  sync_.NewClients();
}
void TFrmPpal::Evento2EventAlert() {
  sync_.ChangedClients();
}
void TFrmPpal::Evento3EventAlert() {
  sync_.NewRepairs();
}
void TFrmPpal::EventoEditarReparacionEventAlert() {
  sync_.ChangedRepairs();
}
void TFrmPpal::EventoEditarPresupuestoEventAlert() {
  sync_.ChangedBudgets();
}

void TFrmPpal::Timer1Timer() {
  sync_.Poll();
}

void TFrmPpal::SweepTimerTimer() {
  // An open box or dialog may be in the middle of its own unit of work or send.
  if (QApplication::activeModalWidget()) return;
  sync_.Sweep();
}

// The first waits may be queued while a box of the catch-up is open: that sweep waits for it.
void TFrmPpal::SweepSoon() {
  QTimer::singleShot(SomethingRuns() ? 1000 : 0, this, [this] {
    if (SomethingRuns()) return SweepSoon();
    RunHandler([this] { SweepTimerTimer(); });
  });
}

// A wait that cannot be queued (the server's event port out of reach) leaves its kind to the
// sweep; the operator hears of it once per run, however often the waits are queued again.
void TFrmPpal::EventWaitsFailed(int error_code) {
  if (std::exchange(wait_failure_reported_, true)) return;
  WideString text = QString::fromUtf16(kEventWaitFailedText.data(),
                                       static_cast<qsizetype>(kEventWaitFailedText.size()))
                        .arg(error_code)
                        .toStdU16String();
  LogLine(WideToUtf8(text));
  MessageBox(text, AnsiToWide(kApplicationTitle), MB_OK | MB_ICONWARNING);
}

AnsiString TFrmPpal::AccountText() {
  return Utf8ToAnsi(txtcuenta->text().toStdString());
}

void TFrmPpal::SetAccountText(const AnsiString& text) {
  txtcuenta->setText(QString::fromStdString(AnsiToUtf8(text)));
}

void TFrmPpal::SetPollInterval(int milliseconds) {
  Timer1->SetInterval(milliseconds);
}

void TFrmPpal::ShowBalloon(const WideString& title, const WideString& text) {
  // Every balloon of the program: information icon, 25 seconds.
  CoolTrayIcon1->ShowBalloon(title, text, bitInfo, 25);
}

void TFrmPpal::SetWebFailing(bool failing) {
  tray_state_.Mark(TTrayState::Trouble::WebFailing, failing);
  ShowTrayState();
}

void TFrmPpal::SetSettingsFault(const WideString& reason) {
  tray_state_.Mark(TTrayState::Trouble::Settings, !reason.empty(),
                   QString::fromStdU16String(reason));
  ShowTrayState();
}

void TFrmPpal::SetLocalFault(bool stands) {
  tray_state_.Mark(TTrayState::Trouble::Local, stands);
  ShowTrayState();
}

void TFrmPpal::SetDatabaseLost(bool lost) {
  tray_state_.Mark(TTrayState::Trouble::DatabaseLost, lost);
  ShowTrayState();
}

void TFrmPpal::ShowTrayState() {
  // The tooltip's second lines and a warning icon say how it stands until each trouble is over.
  QString hint = tray_state_.Hint();
  const bool trouble = tray_state_.AnyTrouble();
  if (trouble != warning_shown_) {
    warning_shown_ = trouble;
    if (trouble) normal_icon_ = CoolTrayIcon1->Icon().icon();
    CoolTrayIcon1->Icon().setIcon(trouble ? style()->standardIcon(QStyle::SP_MessageBoxWarning)
                                          : normal_icon_);
  }
  if (hint == CoolTrayIcon1->Hint()) return;
  CoolTrayIcon1->SetHint(hint);
  // Written to the log and the service manager's status as well: without a desktop nobody sees
  // the tooltip.
  NotifyStatus(hint.toStdString());
  LogLine(hint.replace(u'\n', QStringLiteral(" - ")).toStdString());
}

// ---- The database watch

bool TFrmPpal::SomethingRuns() {
  return sync_.Running() || QApplication::activeModalWidget() != nullptr;
}

void TFrmPpal::DatabaseBack() {
  static constexpr std::u16string_view kDatabaseBackTitle = u"Fesko 15318 - Base de Datos";
  static constexpr std::u16string_view kDatabaseBackText = u"La base de datos responde de nuevo";
  RegisterListeners();
  // Its markers cover the whole time the database was away; a failure shows its box, as at
  // start-up, and the program goes on.
  RunHandler([this] { sync_.CatchUp(); });
  if (data_.connection_lost) return;
  ShowBalloon(WideString(kDatabaseBackTitle), WideString(kDatabaseBackText));
}

// ---- Tray icon and menu

void TFrmPpal::CreateTrayIcon() {
  PopupMenu1 = new QMenu(this);
  CerrarGestor1 = PopupMenu1->addAction(QStringLiteral("Salir"));
  connect(CerrarGestor1, &QAction::triggered, this, &QWidget::close);
  FillTrayMenu(*PopupMenu1, data_, [this] { return sync_.BaseUrl(); });
  CoolTrayIcon1 = new TCoolTrayIcon(this);
  CoolTrayIcon1->SetHint(tray_state_.Hint());
  CoolTrayIcon1->SetPopupMenu(PopupMenu1);
  CoolTrayIcon1->OnStartup = [this](bool& show_main_form) { CoolTrayIcon1Startup(show_main_form); };
  CoolTrayIcon1->OnDblClick = [this] { RunHandler([this] { CoolTrayIcon1DblClick(); }); };
  CoolTrayIcon1->Loaded();
}

void TFrmPpal::CoolTrayIcon1Startup(bool& show_main_form) {
  show_main_form = false;
}

void TFrmPpal::CoolTrayIcon1DblClick() {
  CoolTrayIcon1->ShowMainWindow();
}

void TFrmPpal::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The window manager's own showings (a restore) are not the program's.
  if (!event->spontaneous()) RunHandler([this] { FormShow(); });
}

void TFrmPpal::FormShow() {
  sync_.ReadPollSettings();
}

void TFrmPpal::closeEvent(QCloseEvent* event) {
  // There is no close-to-tray: closing the main window ends the program.
  event->accept();
  QCoreApplication::quit();
}

}  // namespace fesko

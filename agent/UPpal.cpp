#include "agent/UPpal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include "agent/BusyCursor.h"
#include "agent/QtUiThread.h"
#include "agent/TrayMenu.h"
#include "base/ApplicationErrors.h"

namespace fesko {
namespace {
constexpr int kStoredPollInterval = 6000000;
}

TFrmPpal::TFrmPpal(db::TDataModule1& data)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      EventoNuevoCliente(&data.Service1),
      EventoActualizarCliente(&data.Service1),
      EventoNuevaReparacion(&data.Service1),
      EventoEditarReparacion(&data.Service1),
      EventoEditarPresupuesto(&data.Service1),
      data_(data),
      sync_(data, *this) {
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
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  CreateTrayIcon();
  RunHandler([this] { FormCreate(); });
}

TFrmPpal::~TFrmPpal() {
  // No handler runs on a window being taken apart, while the listeners wind down one by one.
  for (db::TIBEvents* events :
       {&EventoNuevoCliente, &EventoActualizarCliente, &EventoNuevaReparacion,
        &EventoEditarReparacion, &EventoEditarPresupuesto}) {
    events->OnEventAlert = nullptr;
  }
}

void TFrmPpal::FormCreate() {
  // Each listener reports an error of its handler itself and goes on listening.
  struct Wiring {
    db::TIBEvents& events;
    const char* name;
    void (TFrmPpal::*handler)();
  };
  const Wiring wiring[] = {
      {EventoNuevoCliente, "Enviar_Cliente_Xml", &TFrmPpal::Evento1EventAlert},
      {EventoActualizarCliente, "Actualizar_Cliente_Xml", &TFrmPpal::Evento2EventAlert},
      {EventoNuevaReparacion, "Nueva_Reparacion", &TFrmPpal::Evento3EventAlert},
      {EventoEditarReparacion, "Editar_Reparacion", &TFrmPpal::EventoEditarReparacionEventAlert},
      {EventoEditarPresupuesto, "Editar_Presupuesto", &TFrmPpal::EventoEditarPresupuestoEventAlert},
  };
  for (const Wiring& w : wiring) {
    auto handler = w.handler;
    w.events.OnEventAlert = [this, handler](db::TIBEvents&, const AnsiString&, int, bool&) {
      (this->*handler)();
    };
    w.events.UnRegisterEvents();
    w.events.Events.Add(w.name);
    w.events.RegisterEvents();
  }
  sync_.ReadSettings();
  sync_.CatchUp();
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

// ---- Tray icon and menu

void TFrmPpal::CreateTrayIcon() {
  PopupMenu1 = new QMenu(this);
  CerrarGestor1 = PopupMenu1->addAction(QStringLiteral("Salir"));
  connect(CerrarGestor1, &QAction::triggered, this, &QWidget::close);
  FillTrayMenu(*PopupMenu1, data_, [this] { return sync_.BaseUrl(); });
  CoolTrayIcon1 = new TCoolTrayIcon(this);
  CoolTrayIcon1->SetHint(QStringLiteral("Fesko 15318"));
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

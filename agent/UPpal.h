// The main window TFrmPpal: hidden for the whole run, it owns what the program keeps between
// events (the account number box, the poll timer, the tray icon, the event listeners, the tag
// list) and ends the program when it closes.
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <string>
#include <vector>

#include "agent/CoolTrayIcon.h"
#include "agent/DatabaseWatch.h"
#include "agent/SyncAgent.h"
#include "agent/Timer.h"
#include "agent/TrayState.h"
#include "database/Datamodule.h"
#include "database/IBEvents.h"

class QAction;
class QMenu;

namespace fesko {

class TFrmPpal : public QWidget, private SyncHost, private TDatabaseWatch::Host {
 public:
  // Builds the window and runs its creation handler; the window stays hidden.
  explicit TFrmPpal(db::TDataModule1& data);
  ~TFrmPpal() override;

  db::TDataModule1& Data() { return data_; }
  TSyncAgent& Sync() { return sync_; }
  QLineEdit* txtcuenta;
  TTimer* Timer1;
  // Runs the live passes by their markers every minute, whether events come or not.
  TTimer* SweepTimer;

  // Tray icon and its menu.
  TCoolTrayIcon* CoolTrayIcon1;
  QMenu* PopupMenu1;
  QAction* CerrarGestor1;  // "Salir"

  // The five event listeners, all on Service1; none is registered when the window is built.
  db::TIBEvents EventoNuevoCliente;
  db::TIBEvents EventoActualizarCliente;
  db::TIBEvents EventoNuevaReparacion;
  db::TIBEvents EventoEditarReparacion;
  db::TIBEvents EventoEditarPresupuesto;
  // Their handlers, one per kind of change; the table of kinds names which runs on which.
  void Evento1EventAlert();
  void Evento2EventAlert();
  void Evento3EventAlert();
  void EventoEditarReparacionEventAlert();
  void EventoEditarPresupuestoEventAlert();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void FormShow();
  void CoolTrayIcon1Startup(bool& show_main_form);
  void CoolTrayIcon1DblClick();
  void CreateTrayIcon();
  void Timer1Timer();
  void SweepTimerTimer();
  // The sweep that follows a registration, once nothing else runs.
  void SweepSoon();

  // What the sync needs of the window.
  AnsiString AccountText() override;
  void SetAccountText(const AnsiString& text) override;
  void SetPollInterval(int milliseconds) override;
  void ShowBalloon(const WideString& title, const WideString& text) override;
  void SetWebFailing(bool failing) override;
  void SetSettingsFault(const WideString& reason) override;
  void SetLocalFault(bool stands) override;

  // What the database watch needs of the window.
  bool SomethingRuns() override;
  void SetDatabaseLost(bool lost) override;
  void EventWaitsFailed(int error_code) override;
  void DatabaseBack() override;

  // The five listeners' names and handlers wired, and their waits queued.
  void RegisterListeners();
  // The tooltip's second lines and the icon for the troubles that stand.
  void ShowTrayState();

  db::TDataModule1& data_;
  TSyncAgent sync_;
  TDatabaseWatch watch_;
  bool wait_failure_reported_ = false;
  // Listeners whose first wait is not queued yet; the sweep after a registration waits for them.
  int waits_to_queue_ = 0;
  QIcon normal_icon_;
  bool warning_shown_ = false;
  TTrayState tray_state_;
};

}  // namespace fesko

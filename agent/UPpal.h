// The main window TFrmPpal: hidden for the whole run, it owns what the program keeps between
// events (the account number box, the poll timer, the tray icon, the event listeners, the tag
// list) and ends the program when it closes.
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <string>
#include <vector>

#include "agent/CoolTrayIcon.h"
#include "agent/SyncAgent.h"
#include "agent/Timer.h"
#include "database/Datamodule.h"
#include "database/IBEvents.h"

class QAction;
class QMenu;

namespace fesko {

class TFrmPpal : public QWidget, private SyncHost {
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
  void EventWaitFailed(db::TIBEvents& events, int error_code);
  void Evento1EventAlert();
  void Evento2EventAlert();
  void Evento3EventAlert();
  void EventoEditarReparacionEventAlert();
  void EventoEditarPresupuestoEventAlert();

  // What the sync needs of the window.
  AnsiString AccountText() override;
  void SetAccountText(const AnsiString& text) override;
  void SetPollInterval(int milliseconds) override;
  void ShowBalloon(const WideString& title, const WideString& text) override;
  void SetWebFailing(bool failing) override;

  db::TDataModule1& data_;
  TSyncAgent sync_;
  bool wait_failure_reported_ = false;
  QIcon normal_icon_;
};

}  // namespace fesko

// TFrmConfBD, the database settings dialog: shows and saves the four connection settings of
// config.ini's [conexion]. The running program keeps its connection; a change counts from the
// next start.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "dialogs/DialogConvention.h"

namespace fesko::dlg {

class TFrmConfBD : public TOperatorDialog {
 public:
  explicit TFrmConfBD(QWidget* owner = nullptr);

  QLabel* lb2;
  QGroupBox* grupo1;
  QLineEdit* txtservidor;
  QLabel* Lb1;
  QLineEdit* txtUsuario;
  QLineEdit* txtClave;
  QLineEdit* txtruta;
  QPushButton* btnGuardar;
  QPushButton* btnSalir;

 protected:
  void FormShow() override;
  void MainAction() override { btnGuardarClick(); }

 private:
  void btnGuardarClick();
};

}  // namespace fesko::dlg

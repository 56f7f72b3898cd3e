// TFrmConfWeb, the web settings dialog: shows and saves the base URL and the poll interval of
// the table parametros. The running program keeps its base URL until the next start.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>

#include "database/Datamodule.h"
#include "dialogs/DialogConvention.h"

namespace fesko::dlg {

// The caption, which the tray menu's entry shares.
inline constexpr std::u16string_view kConfWebCaption = u"Configuración Web";

class TFrmConfWeb : public TOperatorDialog {
 public:
  explicit TFrmConfWeb(db::TDataModule1& data, QWidget* owner = nullptr);

  QLabel* Lblb2;
  QGroupBox* grupo1;
  QLineEdit* txtWeb;
  QLineEdit* txttiempo;
  QLabel* Lb1;
  QPushButton* btnguardar;
  QPushButton* btnSalir;

 protected:
  void FormShow() override;
  void MainAction() override { btnguardarClick(); }

 private:
  void btnguardarClick();
  db::TDataModule1& data_;
};

}  // namespace fesko::dlg

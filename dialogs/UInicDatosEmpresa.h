// TFrmIniDatosEmpresa, the company initial load: shows the first row of empresa and sends it to
// the web service as the company document. The company edits and the document are shared with
// the initialise-everything dialog.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <array>
#include <string_view>

#include "database/Datamodule.h"
#include "dialogs/DialogConvention.h"

namespace fesko::dlg {

// One read-only company edit: its name, its label and the column of ReadCompany it shows.
// The telephone (column 5) is sent but not shown.
struct CompanyEdit {
  const char* name;
  std::u16string_view label;
  int column;
};
extern const std::array<CompanyEdit, 7> kCompanyEdits;

using CompanyEdits = std::array<QLineEdit*, 7>;

// Makes the edit of `edit` at `geometry`, read-only on a grey background.
QLineEdit* MakeCompanyEdit(QWidget* parent, const CompanyEdit& edit, QRect geometry,
                           int label_width);
// Puts the columns of the query's current row into the edits, one after the other.
void FillCompanyEdits(const CompanyEdits& edits, db::TMDOQuery& company);
// The company document of the query's current row: header, "Empresa" record through the
// escape-only encoder, trimmed.
WideString CompanyDocument(db::TMDOQuery& company);

// The design caption, which the tray menu's entry shares.
inline constexpr std::u16string_view kCompanyDesignCaption = u"Inicializar Datos de la Empresa";

class TFrmIniDatosEmpresa : public TOperatorDialog {
 public:
  TFrmIniDatosEmpresa(db::TDataModule1& data, WideString base_url, QWidget* owner = nullptr);

  // 1, the company data, is the only mode; the dialog shows nothing in another.
  void SetModo(int modo) { modo_ = modo; }
  int Modo() const { return modo_; }

  QLabel* LbTitulo;
  QGroupBox* grupo1;
  QLineEdit* txtempresa;
  QLineEdit* txtdireccion;
  QLineEdit* txtlocalidad;
  QLineEdit* txtdepartamento;
  QLineEdit* txtcp;
  QLineEdit* txtcorreoe;
  QLineEdit* txtpagweb;
  QPushButton* btninicial;
  QPushButton* btnSalir;
  QLabel* cartel;

 protected:
  void FormShow() override;
  void MainAction() override { btniniciarempresaClick(); }

 private:
  void btniniciarempresaClick();
  CompanyEdits Edits() const;

  db::TDataModule1& data_;
  WideString base_url_;
  int modo_ = 0;
};

}  // namespace fesko::dlg

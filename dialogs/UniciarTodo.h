// TFrmIniciarTodo, initialise everything: shows the company and four lists (budget states,
// currencies, clients, repairs) and sends all five, in that order, in one run.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTableWidget>

#include "database/Datamodule.h"
#include "dialogs/DialogConvention.h"

namespace fesko::dlg {

// The caption, which the tray menu's entry shares.
inline constexpr std::u16string_view kIniciarTodoCaption = u"Inicializar Todo";

class TFrmIniciarTodo : public TOperatorDialog {
 public:
  TFrmIniciarTodo(db::TDataModule1& data, WideString base_url, QWidget* owner = nullptr);

  QLabel* lblLbTitulo;
  QGroupBox* gpo;
  QGroupBox* grupo2;
  QLineEdit* txtempresa;
  QLineEdit* txtdireccion;
  QLineEdit* txtlocalidad;
  QLineEdit* txtdepartamento;
  QLineEdit* txtcp;
  QLineEdit* txtcorreoe;
  QLineEdit* txtpagweb;
  QGroupBox* grupo1;
  QTableWidget* Grillaestados;
  QGroupBox* GroupBox1;
  QTableWidget* Grillamonedas;
  QGroupBox* GroupBox2;
  QTableWidget* Grillaclientes;
  QGroupBox* GroupBox3;
  QTableWidget* Grillareparaciones;
  QPushButton* btnIniciartodo;
  QPushButton* btnsalir;
  QLabel* cartel;

 protected:
  void FormShow() override;
  void MainAction() override { btnIniciartodoClick(); }

 private:
  void btnIniciartodoClick();
  // The four lists of the run: list mode, grid and the query component each one uses.
  struct List {
    int mode;
    QTableWidget* grid;
    db::TMDOQuery& query;
  };
  std::array<List, 4> Lists();

  db::TDataModule1& data_;
  WideString base_url_;
};

}  // namespace fesko::dlg

// TFrmInicEstados, the list initial load: lists every row of one workshop table in the record
// grid and sends them all in one document. Five list modes say which table, captions, document
// and service; the modes are shared with the initialise-everything dialog.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QTableWidget>
#include <optional>
#include <span>
#include <string_view>

#include "database/Datamodule.h"
#include "dialogs/DialogConvention.h"
#include "dialogs/RecordGrid.h"
#include "web/RecordDocument.h"
#include "web/Services.h"

namespace fesko::dlg {

// ---- List modes ----

struct ListCaptions {
  std::u16string_view window, title, group, button;
};

struct ListMode {
  void (*statement)(db::TMDOQuery& query);
  std::span<const GridColumn> columns;
  web::CollectionNames names;
  web::TagList tags;
  web::Service service;
  std::u16string_view success;
  // The repairs are too wide for the grid, which scrolls both ways for them.
  bool both_scroll_bars;
  // Modes 1 and 5 keep the design captions.
  std::optional<ListCaptions> captions;
};

// The window captions of modes 2 to 4, which the tray menu's entries share.
inline constexpr std::u16string_view kCurrenciesCaption = u"Inicializar Monedas";
inline constexpr std::u16string_view kClientsCaption = u"Inicializar Clientes";
inline constexpr std::u16string_view kRepairsCaption = u"Inicializar Reparaciones";

// The design caption of the list's group, kept by modes 1 and 5.
extern const std::u16string_view kStatesListGroup;

// Modes 1 budget states, 2 currencies, 3 clients, 4 repairs, 5 repair states. Another number
// is a programming error (std::out_of_range).
const ListMode& ListModeOf(int mode);

// The list document of every row of the open query: header and collection, trimmed.
WideString ListDocument(const ListMode& mode, db::TMDOQuery& rows);

class TFrmInicEstados : public TOperatorDialog {
 public:
  TFrmInicEstados(db::TDataModule1& data, WideString base_url, QWidget* owner = nullptr);

  void SetModo(int modo) { modo_ = modo; }
  // The data-set name the question before sending shows.
  void SetNombre(WideString nombre) { nombre_ = std::move(nombre); }
  int Modo() const { return modo_; }
  const WideString& Nombre() const { return nombre_; }

  QLabel* LbTitulo;
  QGroupBox* grupo1;
  QTableWidget* Grillaestados;
  QPushButton* btninicialiar;
  QPushButton* btnSalir;
  QLabel* Cartel;

 protected:
  void FormShow() override;
  void MainAction() override { btninicialiarClick(); }

 private:
  void btninicialiarClick();

  db::TDataModule1& data_;
  WideString base_url_;
  int modo_ = 0;
  WideString nombre_;
};

}  // namespace fesko::dlg

#include "dialogs/UInicEstados.h"

#include <QHeaderView>
#include <QStyle>
#include <array>
#include <stdexcept>
#include <string>

#include "database/MDOErrors.h"
#include "database/WorkshopQueries.h"
#include "dialogs/InitialLoad.h"

namespace fesko::dlg {
namespace {

constexpr std::u16string_view kDesignCaption = u"Inicializar Estados";
constexpr std::u16string_view kCurrenciesCaption = u"Inicializar Monedas";
constexpr std::u16string_view kClientsCaption = u"Inicializar Clientes";
constexpr std::u16string_view kQuestionStart = u"¿Esta Seguro que Desea Inicalizar datos de ";
constexpr std::u16string_view kQuestionEnd = u"?";
constexpr std::u16string_view kQuestionCaption = u"Inicializar Datos";
constexpr int kRowHeight = 16;

constexpr std::u16string_view kCode = u"Código";
constexpr std::u16string_view kName = u"Nombre";
constexpr std::array<GridColumn, 2> kCodeNameColumns = {{{kCode, 64}, {kName, 250}}};
constexpr std::array<GridColumn, 4> kClientColumns = {
    {{kCode, 50}, {kName, 115}, {u"Login", 74}, {u"Password", 73}}};
// clang-format off
constexpr std::array<GridColumn, 14> kRepairColumns = {{
    {u"Orden", 40}, {u"Cliente", 40}, {u"Tipo Equipo", 70}, {u"Marca", 70}, {u"Modelo", 75},
    {u"NS", 40}, {u"Falla", 100}, {u"Fecha Ing.", 65}, {u"Estado", 65}, {u"Estado Rep", 65},
    {u"Fecha Presup.", 65}, {u"Informe", 100}, {u"Cod. Moneda", 40}, {u"Total", 55}}};
// clang-format on

const std::array<ListMode, 5> kListModes = {{
    {db::ListBudgetStates, kCodeNameColumns, web::kBudgetStatesList, web::kCodeNameTags,
     web::Service::upload_inicializar_estados,
     u"Se Registraron Con Exito los Datos de Inicializacion de Estados", false, std::nullopt},
    {db::ListCurrencies, kCodeNameColumns, web::kCurrenciesList, web::kCodeNameTags,
     web::Service::upload_inicializar_monedas,
     u"Se Registraron Con Exito los Datos de Inicializacion de Monedas", false,
     ListCaptions{kCurrenciesCaption, kCurrenciesCaption, u"Lista de Monedas",
                  u"Inicializar Monedas [F9]"}},
    {db::ListClients, kClientColumns, web::kClientsList, web::kClientTags,
     web::Service::upload_inicializar_clientes,
     u"Se Registraron Con Exito los Datos de Inicializacion de Clientes", false,
     ListCaptions{kClientsCaption, kClientsCaption, u"Lista de Clientes",
                  u"Inicializar Clientes [F9]"}},
    // The title is singular although the window caption is plural.
    {db::ListRepairs, kRepairColumns, web::kRepairsList, web::kNewRepairTags,
     web::Service::upload_inicializar_reparaciones,
     u"Se Registraron Con Exito los Datos de Reparaciones", true,
     ListCaptions{u"Inicializar Reparaciones", u"Inicializar Reparacion", u"Reparaciones",
                  u"Inicializar Reparaciones [F9]"}},
    {db::ListStates, kCodeNameColumns, web::kStatesList, web::kCodeNameTags,
     web::Service::upload_inicializar_estados_reparaciones,
     u"Se Registraron Con Exito los Datos de Inicializacion de Estados de Reparaciones", false,
     std::nullopt},
}};

}  // namespace

const std::u16string_view kStatesListGroup = u"Lista de Estados";

// ---- The record grid ----

QTableWidget* MakeRecordGrid(QWidget* parent, const char* name, QRect geometry) {
  auto* grid = new QTableWidget(parent);
  grid->setObjectName(QString::fromLatin1(name));
  grid->setGeometry(geometry);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // Tab leaves the grid for the next control instead of walking its cells.
  grid->setTabKeyNavigation(false);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::ExtendedSelection);
  grid->setShowGrid(true);
  grid->setWordWrap(false);
  grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  grid->verticalHeader()->hide();
  grid->verticalHeader()->setMinimumSectionSize(kRowHeight);
  grid->verticalHeader()->setDefaultSectionSize(kRowHeight);
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid->horizontalHeader()->setHighlightSections(false);
  grid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  grid->horizontalHeader()->setSectionsClickable(false);
  return grid;
}

void TitulosGrilla(QTableWidget* grid, std::span<const GridColumn> columns) {
  grid->setColumnCount(static_cast<int>(columns.size()));
  for (int c = 0; c < grid->columnCount(); ++c) {
    grid->setHorizontalHeaderItem(c, new QTableWidgetItem(ToQString(columns[c].title)));
    grid->setColumnWidth(c, columns[c].width);
  }
}

void LimpiarGrilla(QTableWidget* grid) {
  grid->clearContents();
  grid->setRowCount(1);
  grid->selectRow(0);
}

void LlenarGrilla(QTableWidget* grid, db::TMDOQuery& query) {
  if (!query.Active()) query.Open();
  query.FetchAll();
  int records = query.RecordCount();
  grid->setUpdatesEnabled(false);
  grid->setRowCount(records + 1);  // the title row is the header
  for (int c = 0; c < grid->columnCount(); ++c) grid->setItem(records, c, nullptr);
  int columns = query.FieldCount();
  grid->setColumnCount(columns);
  int row = 0;
  for (query.First(); !query.Eof(); query.Next(), ++row) {
    for (int c = 0; c < columns; ++c) {
      grid->setItem(row, c, new QTableWidgetItem(FromAnsi(query.FieldText(c))));
    }
  }
  grid->setUpdatesEnabled(true);
}

int GridRowCount(const QTableWidget* grid) {
  return grid->rowCount() + 1;
}

QString GridCell(const QTableWidget* grid, int column, int row) {
  const QTableWidgetItem* item =
      row == 0 ? grid->horizontalHeaderItem(column) : grid->item(row - 1, column);
  return item ? item->text() : QString();
}

// ---- List modes ----

const ListMode& ListModeOf(int mode) {
  if (mode < 1 || mode > static_cast<int>(kListModes.size())) {
    throw std::out_of_range("no list mode " + std::to_string(mode));
  }
  return kListModes[static_cast<std::size_t>(mode - 1)];
}

WideString ListDocument(const ListMode& mode, db::TMDOQuery& rows) {
  return TrimDocument(web::CollectionDocument(mode.names, mode.tags, rows));
}

// ---- The dialog ----

TFrmInicEstados::TFrmInicEstados(db::TDataModule1& data, WideString baseUrl, QWidget* owner)
    : TOperatorDialog(owner, kDesignCaption, "LbTitulo", kDesignCaption, QSize(560, 400),
                      "btnSalir"),
      data_(data),
      base_url_(std::move(baseUrl)) {
  setObjectName(QStringLiteral("FrmInicEstados"));
  LbTitulo = TitleLabel();
  grupo1 = new QGroupBox(ToQString(kStatesListGroup), this);
  grupo1->setObjectName(QStringLiteral("grupo1"));
  grupo1->setGeometry(8, 34, 544, 318);
  Grillaestados = MakeRecordGrid(grupo1, "Grillaestados", QRect(8, 20, 528, 252));
  btninicialiar =
      MakeButton(grupo1, "btninicialiar", u"Inicializar Estados [F9]", QStyle::SP_ArrowUp);
  btninicialiar->setGeometry(8, 280, 210, 28);
  btnSalir = ExitButton();
  btnSalir->setGeometry(442, 362, 110, 28);
  Cartel = MakeBusyNotice(this, "Cartel", QPoint(10, 366));
  setTabOrder(Grillaestados, btninicialiar);
  setTabOrder(btninicialiar, btnSalir);
  SetMainButton(btninicialiar);
}

void TFrmInicEstados::FormShow() {
  const ListMode& mode = ListModeOf(modo_);
  if (mode.captions) {
    setWindowTitle(ToQString(mode.captions->window));
    LbTitulo->setText(ToQString(mode.captions->title));
    grupo1->setTitle(ToQString(mode.captions->group));
    btninicialiar->setText(ToQString(mode.captions->button));
  }
  if (mode.bothScrollBars) Grillaestados->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  TitulosGrilla(Grillaestados, mode.columns);
  try {
    db::RollbackIfActive(data_);
    data_.transaccion.StartTransaction();
    mode.statement(data_.Consulta);
    LimpiarGrilla(Grillaestados);
    LlenarGrilla(Grillaestados, data_.Consulta);
    btninicialiar->setFocus();
    data_.transaccion.Commit();
  } catch (const db::EMDOError& error) {
    data_.transaccion.Rollback();
    ShowDatabaseError(error, WideString(kListShowError), WideString(kListShowErrorCaption));
  }
}

void TFrmInicEstados::btninicialiarClick() {
  const ListMode& mode = ListModeOf(modo_);
  WideString question = WideString(kQuestionStart) + nombre_ + WideString(kQuestionEnd);
  if (!Ask(question, kQuestionCaption)) return;
  try {
    db::RollbackIfActive(data_);
    data_.transaccion.StartTransaction();
    AnsiString account = db::ReadAccountNumber(data_.ConsultaVs);
    data_.transaccion.Commit();
    // The rows sent are those of this moment, not the grid's; the query runs in a transaction
    // of its own, left for the next unit of work to end.
    mode.statement(data_.Consulta);
    SetBusy(Cartel, {btnSalir, btninicialiar}, true);
    WideString document = ListDocument(mode, data_.Consulta);
    Upload(mode.service, base_url_, account, document);
  } catch (const db::EMDOError& error) {
    data_.transaccion.Rollback();
    ShowDatabaseError(error, WideString(kListSendError), WideString(kQueryErrorCaption));
    return;
  }
  Inform(mode.success, kRegisteredCaption);
  SetBusy(Cartel, {btnSalir, btninicialiar}, false);
}

}  // namespace fesko::dlg

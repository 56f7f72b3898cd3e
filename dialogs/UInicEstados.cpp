#include "dialogs/UInicEstados.h"

#include <QStyle>
#include <array>
#include <stdexcept>
#include <string>

#include "database/UnitOfWork.h"
#include "database/WorkshopQueries.h"
#include "dialogs/InitialLoad.h"

namespace fesko::dlg {
namespace {

constexpr std::u16string_view kDesignCaption = u"Inicializar Estados";
constexpr std::u16string_view kQuestionStart = u"¿Esta Seguro que Desea Inicalizar datos de ";
constexpr std::u16string_view kQuestionEnd = u"?";
constexpr std::u16string_view kQuestionCaption = u"Inicializar Datos";

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
     ListCaptions{kRepairsCaption, u"Inicializar Reparacion", u"Reparaciones",
                  u"Inicializar Reparaciones [F9]"}},
    {db::ListStates, kCodeNameColumns, web::kStatesList, web::kCodeNameTags,
     web::Service::upload_inicializar_estados_reparaciones,
     u"Se Registraron Con Exito los Datos de Inicializacion de Estados de Reparaciones", false,
     std::nullopt},
}};

}  // namespace

const std::u16string_view kStatesListGroup = u"Lista de Estados";

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

TFrmInicEstados::TFrmInicEstados(db::TDataModule1& data, WideString base_url, QWidget* owner)
    : TOperatorDialog(owner, kDesignCaption, "LbTitulo", kDesignCaption, QSize(560, 400),
                      "btnSalir"),
      data_(data),
      base_url_(std::move(base_url)) {
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
  if (mode.both_scroll_bars) Grillaestados->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  TitulosGrilla(Grillaestados, mode.columns);
  db::RunUnitOfWork(data_, {kListShowError, kListShowErrorCaption}, [&] {
    mode.statement(data_.Consulta);
    LimpiarGrilla(Grillaestados);
    LlenarGrilla(Grillaestados, data_.Consulta);
    btninicialiar->setFocus();
  });
}

void TFrmInicEstados::btninicialiarClick() {
  const ListMode& mode = ListModeOf(modo_);
  WideString question = WideString(kQuestionStart) + nombre_ + WideString(kQuestionEnd);
  if (!Ask(question, kQuestionCaption)) return;
  AnsiString account;
  bool sent = db::RunUnitOfWork(
      data_, {kListSendError, kQueryErrorCaption},
      [&] { account = db::ReadAccountNumber(data_.ConsultaVs); },
      [&] {
        // The rows sent are those of this moment, not the grid's; the query runs in a
        // transaction of its own, left for the next unit of work to end.
        mode.statement(data_.Consulta);
        SetBusy(Cartel, {btnSalir, btninicialiar}, true);
        WideString document = ListDocument(mode, data_.Consulta);
        Upload(mode.service, base_url_, account, document);
      });
  if (!sent) return;
  Inform(mode.success, kRegisteredCaption);
  SetBusy(Cartel, {btnSalir, btninicialiar}, false);
}

}  // namespace fesko::dlg

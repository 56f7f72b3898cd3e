#include "dialogs/UniciarTodo.h"

#include <QStyle>

#include "database/UnitOfWork.h"
#include "database/WorkshopQueries.h"
#include "dialogs/InitialLoad.h"
#include "dialogs/RecordGrid.h"
#include "dialogs/UInicDatosEmpresa.h"
#include "dialogs/UInicEstados.h"

namespace fesko::dlg {
namespace {

constexpr std::u16string_view kQuestion = u"¿Esta Seguro que Quiere Inicializar Todo los Valores?";
constexpr std::u16string_view kQuestionCaption = u"Inicalizar Todo";
constexpr std::u16string_view kDone = u"Se Inicializaron Con Exito Todos los Datos";
constexpr std::u16string_view kDoneCaption = u"Inicialización Exitosa";
constexpr int kBudgetStatesMode = 1;
constexpr int kCurrenciesMode = 2;
constexpr int kClientsMode = 3;
constexpr int kRepairsMode = 4;

// Where the company edits stand: name, address, town and region on the first row; postcode,
// e-mail address and web page on the second.
constexpr std::array<QRect, 7> kCompanyGeometry = {{
    {10, 36, 170, 22},
    {188, 36, 170, 22},
    {366, 36, 170, 22},
    {544, 36, 170, 22},
    {10, 80, 90, 22},
    {108, 80, 250, 22},
    {366, 80, 348, 22},
}};

QGroupBox* MakeGroup(QWidget* parent, const char* name, std::u16string_view title, QRect at) {
  auto* group = new QGroupBox(ToQString(title), parent);
  group->setObjectName(QString::fromLatin1(name));
  group->setGeometry(at);
  return group;
}

}  // namespace

TFrmIniciarTodo::TFrmIniciarTodo(db::TDataModule1& data, WideString base_url, QWidget* owner)
    : TOperatorDialog(owner, kIniciarTodoCaption, "lblLbTitulo", kIniciarTodoCaption,
                      QSize(756, 552), "btnsalir"),
      data_(data),
      base_url_(std::move(base_url)) {
  setObjectName(QStringLiteral("FrmIniciarTodo"));
  lblLbTitulo = TitleLabel();
  gpo = MakeGroup(this, "gpo", {}, QRect(8, 32, 740, 474));
  grupo2 = MakeGroup(gpo, "grupo2", u"Datos de la Empresa", QRect(8, 6, 724, 112));
  std::array<QLineEdit*, 7> edits;
  for (std::size_t i = 0; i < edits.size(); ++i) {
    edits[i] = MakeCompanyEdit(grupo2, kCompanyEdits[i], kCompanyGeometry[i], 0);
  }
  txtempresa = edits[0];
  txtdireccion = edits[1];
  txtlocalidad = edits[2];
  txtdepartamento = edits[3];
  txtcp = edits[4];
  txtcorreoe = edits[5];
  txtpagweb = edits[6];

  grupo1 = MakeGroup(gpo, "grupo1", kStatesListGroup, QRect(8, 124, 358, 158));
  Grillaestados = MakeRecordGrid(grupo1, "Grillaestados", QRect(8, 18, 342, 132));
  GroupBox1 = MakeGroup(gpo, "GroupBox1", ListModeOf(kCurrenciesMode).captions->group,
                        QRect(374, 124, 358, 158));
  Grillamonedas = MakeRecordGrid(GroupBox1, "Grillamonedas", QRect(8, 18, 342, 132));
  GroupBox2 = MakeGroup(gpo, "GroupBox2", ListModeOf(kClientsMode).captions->group,
                        QRect(8, 286, 358, 146));
  Grillaclientes = MakeRecordGrid(GroupBox2, "Grillaclientes", QRect(8, 18, 342, 120));
  GroupBox3 = MakeGroup(gpo, "GroupBox3", u"Lista de Reparaciones", QRect(374, 286, 358, 146));
  Grillareparaciones = MakeRecordGrid(GroupBox3, "Grillareparaciones", QRect(8, 18, 342, 120));

  btnIniciartodo = MakeButton(gpo, "btnIniciartodo", u"Iniciar Todo [F9]", QStyle::SP_ArrowUp);
  btnIniciartodo->setGeometry(290, 438, 160, 28);
  btnsalir = ExitButton();
  btnsalir->setGeometry(638, 516, 110, 28);
  cartel = MakeBusyNotice(this, "cartel", QPoint(10, 520));

  QWidget* previous = edits[0];
  for (QWidget* next : std::initializer_list<QWidget*>{
           edits[1], edits[2], edits[3], edits[4], edits[5], edits[6], Grillaestados, Grillamonedas,
           Grillaclientes, Grillareparaciones, btnIniciartodo, btnsalir}) {
    setTabOrder(previous, next);
    previous = next;
  }
  SetMainButton(btnIniciartodo);
}

std::array<TFrmIniciarTodo::List, 4> TFrmIniciarTodo::Lists() {
  return {{{kBudgetStatesMode, Grillaestados, data_.Consulta},
           {kCurrenciesMode, Grillamonedas, data_.ConsultaProduccion},
           {kClientsMode, Grillaclientes, data_.ConsultaVs},
           {kRepairsMode, Grillareparaciones, data_.ConsultaSimple}}};
}

void TFrmIniciarTodo::FormShow() {
  for (const List& list : Lists()) TitulosGrilla(list.grid, ListModeOf(list.mode).columns);
  Grillareparaciones->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  bool shown = db::RunUnitOfWork(data_, {kListShowError, kListShowErrorCaption}, [&] {
    db::ReadCompany(data_.consultaempresa);
    FillCompanyEdits(
        {txtempresa, txtdireccion, txtlocalidad, txtdepartamento, txtcp, txtcorreoe, txtpagweb},
        data_.consultaempresa);
    for (const List& list : Lists()) {
      ListModeOf(list.mode).statement(list.query);
      LimpiarGrilla(list.grid);
      LlenarGrilla(list.grid, list.query);
    }
  });
  if (shown) btnIniciartodo->setFocus();
}

void TFrmIniciarTodo::btnIniciartodoClick() {
  if (!Ask(kQuestion, kQuestionCaption)) return;
  bool sent = db::RunUnitOfWork(data_, {kListSendError, kQueryErrorCaption}, [&] {
    SetBusy(cartel, {btnsalir, btnIniciartodo}, true);
    AnsiString account = db::ReadAccountNumber(data_.consultaestado);
    db::ReadCompany(data_.consultaempresa);
    Upload(web::Service::upload_inicializar_empresa, base_url_, account,
           CompanyDocument(data_.consultaempresa));
    for (const List& list : Lists()) ListModeOf(list.mode).statement(list.query);
    // Each list is sent on its own: a failure stops the run with the earlier lists sent.
    for (const List& list : Lists()) {
      const ListMode& mode = ListModeOf(list.mode);
      Upload(mode.service, base_url_, account, ListDocument(mode, list.query));
    }
  });
  if (!sent) return;
  SetBusy(cartel, {btnsalir, btnIniciartodo}, false);
  Inform(kDone, kDoneCaption);
}

}  // namespace fesko::dlg

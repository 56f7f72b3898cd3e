#include "dialogs/UInicDatosEmpresa.h"

#include <QStyle>

#include "base/ConfigFile.h"
#include "database/UnitOfWork.h"
#include "database/WorkshopQueries.h"
#include "dialogs/InitialLoad.h"
#include "web/RecordDocument.h"

namespace fesko::dlg {

// clang-format off
const std::array<CompanyEdit, 7> kCompanyEdits = {{
    {"txtempresa", u"Empresa:", 0},
    {"txtdireccion", u"Dirección:", 1},
    {"txtlocalidad", u"Localidad:", 2},
    {"txtdepartamento", u"Departamento:", 3},
    {"txtcp", u"Código Postal:", 4},
    {"txtcorreoe", u"Correo Electronico:", 6},
    {"txtpagweb", u"Página Web:", 7},
}};
// clang-format on

namespace {

constexpr std::u16string_view kCaption = u"Inicializar Empresa";
constexpr std::u16string_view kQuestion = u"¿Esta Seguro que Inicializar Datos de la Empresa?";
constexpr std::u16string_view kSent = u"Se Enviaron con Exito los datos";
constexpr std::u16string_view kSentCaption = u"Envio Exitoso";
constexpr std::u16string_view kShowError = u"error en la busqueda de datos de la empresa";
constexpr std::u16string_view kSendError = u"Error en la actualizacion de datos";
constexpr int kLabelWidth = 110;

}  // namespace

QLineEdit* MakeCompanyEdit(QWidget* parent, const CompanyEdit& edit, QRect geometry,
                           int label_width) {
  QLineEdit* box = MakeEdit(parent, edit.name, edit.label, geometry, label_width);
  box->setReadOnly(true);
  QPalette palette = box->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Button));
  box->setPalette(palette);
  return box;
}

void FillCompanyEdits(const CompanyEdits& edits, db::TMDOQuery& company) {
  for (std::size_t i = 0; i < edits.size(); ++i) {
    edits[i]->setText(FromAnsi(company.FieldText(kCompanyEdits[i].column)));
  }
}

WideString CompanyDocument(db::TMDOQuery& company) {
  return TrimDocument(web::RecordDocument(web::BuildRecord(
      web::kCompanyRecord, web::kCompanyTags, company, web::ValueEncoder::EscapeOnly)));
}

TFrmIniDatosEmpresa::TFrmIniDatosEmpresa(db::TDataModule1& data, WideString base_url,
                                         QWidget* owner)
    : TOperatorDialog(owner, kCompanyDesignCaption, "LbTitulo", kCompanyDesignCaption,
                      QSize(420, 330), "btnSalir"),
      data_(data),
      base_url_(std::move(base_url)) {
  setObjectName(QStringLiteral("FrmIniDatosEmpresa"));
  LbTitulo = TitleLabel();
  grupo1 = new QGroupBox(this);
  grupo1->setObjectName(QStringLiteral("grupo1"));
  grupo1->setGeometry(8, 34, 404, 250);
  CompanyEdits edits;
  for (std::size_t i = 0; i < kCompanyEdits.size(); ++i) {
    int y = 14 + static_cast<int>(i) * 28;
    edits[i] = MakeCompanyEdit(grupo1, kCompanyEdits[i], QRect(126, y, 268, 22), kLabelWidth);
  }
  txtempresa = edits[0];
  txtdireccion = edits[1];
  txtlocalidad = edits[2];
  txtdepartamento = edits[3];
  txtcp = edits[4];
  txtcorreoe = edits[5];
  txtpagweb = edits[6];
  btninicial = MakeButton(grupo1, "btninicial", u"Iniciar Empresa [F9]", QStyle::SP_ArrowUp);
  btninicial->setGeometry(126, 214, 170, 28);
  btnSalir = ExitButton();
  btnSalir->setGeometry(302, 294, 110, 28);
  cartel = MakeBusyNotice(this, "cartel", QPoint(10, 298));
  for (std::size_t i = 1; i < edits.size(); ++i) setTabOrder(edits[i - 1], edits[i]);
  setTabOrder(txtpagweb, btninicial);
  setTabOrder(btninicial, btnSalir);
  SetMainButton(btninicial);
}

CompanyEdits TFrmIniDatosEmpresa::Edits() const {
  return {txtempresa, txtdireccion, txtlocalidad, txtdepartamento, txtcp, txtcorreoe, txtpagweb};
}

void TFrmIniDatosEmpresa::FormShow() {
  if (modo_ != 1) return;
  // Only tells the operator early that config.ini is missing; the dialog goes on regardless.
  auto ini = OpenConfigFile(kConfigFileName);
  FreeConfigFile(ini);
  setWindowTitle(ToQString(kCaption));
  LbTitulo->setText(ToQString(kCompanyDesignCaption));
  db::RunUnitOfWork(data_, {kShowError, kQueryErrorCaption}, [&] {
    db::ReadCompany(data_.Consulta);
    FillCompanyEdits(Edits(), data_.Consulta);
  });
}

void TFrmIniDatosEmpresa::btniniciarempresaClick() {
  if (!Ask(kQuestion, kCaption)) return;
  SetBusy(cartel, {btninicial, btnSalir}, true);
  AnsiString account;
  bool sent = db::RunUnitOfWork(
      data_, {kSendError, kQueryErrorCaption},
      [&] {
        account = db::ReadAccountNumber(data_.ConsultaVs);
        db::ReadCompany(data_.Consulta);
      },
      [&] {
        // Read again outside the unit: the query starts its own transaction, left for the next
        // unit of work to end.
        db::ReadCompany(data_.Consulta);
        WideString document = CompanyDocument(data_.Consulta);
        Upload(web::Service::upload_inicializar_empresa, base_url_, account, document);
      });
  if (!sent) return;
  Inform(kSent, kSentCaption);
  SetBusy(cartel, {btninicial, btnSalir}, false);
}

}  // namespace fesko::dlg

#include "dialogs/UConfWeb.h"

#include <QStyle>

#include "database/UnitOfWork.h"
#include "database/WorkshopQueries.h"

namespace fesko::dlg {
namespace {

constexpr std::u16string_view kQuestion =
    u"¿Esta Seguro que Quiere Guardar los Parametros\r\nde Configuracion Web?";
constexpr std::u16string_view kSaved =
    u"Se Actualizaron Exitosamente los Datos de Configuracion Web";
constexpr std::u16string_view kSavedCaption = u"Actualización Exitosa";
constexpr std::u16string_view kDatabaseError = u"error en la actualizacion de datos";
constexpr int kLabelWidth = 50;

}  // namespace

TFrmConfWeb::TFrmConfWeb(db::TDataModule1& data, QWidget* owner)
    : TOperatorDialog(owner, kConfWebCaption, "Lblb2", kConfWebCaption, QSize(380, 196),
                      "btnSalir"),
      data_(data) {
  setObjectName(QStringLiteral("FrmConfWeb"));
  Lblb2 = TitleLabel();
  grupo1 = new QGroupBox(QStringLiteral("Parámetros"), this);
  grupo1->setObjectName(QStringLiteral("grupo1"));
  grupo1->setGeometry(8, 34, 364, 118);
  txtWeb = MakeEdit(grupo1, "txtWeb", u"Web:", QRect(66, 24, 223, 22), kLabelWidth);
  txttiempo = MakeEdit(grupo1, "txttiempo", u"Tiempo:", QRect(66, 52, 41, 22), kLabelWidth);
  Lb1 = MakeLabel(grupo1, "Lb1", u"Min.", QPoint(113, 56));
  btnguardar = MakeButton(grupo1, "btnguardar", kSaveButtonCaption, QStyle::SP_DialogSaveButton);
  btnguardar->setGeometry(66, 82, 150, 26);
  btnSalir = ExitButton();
  btnSalir->setGeometry(262, 160, 110, 28);
  setTabOrder(txtWeb, txttiempo);
  setTabOrder(txttiempo, btnguardar);
  setTabOrder(btnguardar, btnSalir);
  SetMainButton(btnguardar);
}

void TFrmConfWeb::FormShow() {
  db::RunUnitOfWork(data_, {kDatabaseError, kQueryErrorCaption}, [&] {
    db::ReadWebSettings(data_.Consulta);
    // One edit after the other: a failure between them leaves the first one filled.
    txtWeb->setText(FromAnsi(data_.Consulta.FieldText(0)));
    txttiempo->setText(FromAnsi(data_.Consulta.FieldText(1)));
  });
}

void TFrmConfWeb::btnguardarClick() {
  if (txtWeb->text().isEmpty() || txttiempo->text().isEmpty()) {
    Warn(kMissingInputText, kMissingInputCaption);
    return;
  }
  if (!Ask(kQuestion, kSaveCaption)) return;
  bool saved = db::RunUnitOfWork(data_, {kDatabaseError, kQueryErrorCaption}, [&] {
    // The edits keep the texts as typed; only what is stored is normalised.
    AnsiString tiempo = TrimUpper(ToAnsi(txttiempo->text()));
    AnsiString web = TrimUpper(ToAnsi(txtWeb->text()));
    db::SaveWebSettings(data_.Consulta, web, tiempo);
  });
  if (!saved) return;
  Inform(kSaved, kSavedCaption);
  ExitAction();
}

}  // namespace fesko::dlg

#include "dialogs/UConfBD.h"

#include <QStyle>
#include <array>

#include "base/ConfigFile.h"

namespace fesko::dlg {
namespace {

constexpr std::u16string_view kCaption = u"Configuración de la Base de Datos";
constexpr std::u16string_view kQuestion =
    u"¿Esta Seguro que Quiere Guardar los Parametros de\r\nConfiguracion de la Base de Datos?";
constexpr std::u16string_view kSaved =
    u"Se Actualizaron Exitosamente los Datos de Configuracion de la Base de Datos";
constexpr int kLabelWidth = 70;

}  // namespace

TFrmConfBD::TFrmConfBD(QWidget* owner)
    : TOperatorDialog(owner, kCaption, "lb2", kCaption, QSize(420, 250), "btnSalir") {
  setObjectName(QStringLiteral("FrmConfBD"));
  lb2 = TitleLabel();
  grupo1 = new QGroupBox(QStringLiteral("Parametros"), this);
  grupo1->setObjectName(QStringLiteral("grupo1"));
  grupo1->setGeometry(8, 34, 404, 168);
  txtservidor = MakeEdit(grupo1, "txtservidor", u"Servidor:", QRect(86, 24, 130, 22), kLabelWidth);
  Lb1 = MakeLabel(grupo1, "Lb1", u"Nombre o Direccion I.P.", QPoint(224, 28));
  txtUsuario = MakeEdit(grupo1, "txtUsuario", u"Usuario:", QRect(86, 52, 130, 22), kLabelWidth);
  // Shown in clear: the operator reads the password back from here.
  txtClave = MakeEdit(grupo1, "txtClave", u"Password:", QRect(86, 80, 130, 22), kLabelWidth);
  txtruta = MakeEdit(grupo1, "txtruta", u"Ruta:", QRect(86, 108, 306, 22), kLabelWidth);
  btnGuardar = MakeButton(grupo1, "btnGuardar", kSaveButtonCaption, QStyle::SP_DialogSaveButton);
  btnGuardar->setGeometry(86, 136, 150, 26);
  btnSalir = ExitButton();
  btnSalir->setGeometry(302, 214, 110, 28);
  setTabOrder(txtservidor, txtUsuario);
  setTabOrder(txtUsuario, txtClave);
  setTabOrder(txtClave, txtruta);
  setTabOrder(txtruta, btnGuardar);
  setTabOrder(btnGuardar, btnSalir);
  SetMainButton(btnGuardar);
}

// The edits and their keys, in the order they are read and written.
static std::array<std::pair<QLineEdit*, const char*>, 4> Keys(TFrmConfBD& form) {
  return {{{form.txtservidor, kServerKey},
           {form.txtUsuario, kUserKey},
           {form.txtClave, kPasswordKey},
           {form.txtruta, kDatabasePathKey}}};
}

void TFrmConfBD::FormShow() {
  auto ini = OpenConfigFile(kConfigFileName);
  for (auto [edit, key] : Keys(*this))
    edit->setText(FromAnsi(ReadConfigString(ini.get(), kConnectionSection, key)));
  FreeConfigFile(ini);
}

void TFrmConfBD::btnGuardarClick() {
  // As typed: a field of blanks counts as filled.
  for (auto [edit, key] : Keys(*this)) {
    if (edit->text().isEmpty()) {
      Warn(kMissingInputText, kMissingInputCaption);
      return;
    }
  }
  if (!Ask(kQuestion, kSaveCaption)) return;
  auto ini = OpenConfigFile(kConfigFileName);
  // Without the file the first write fails, and that failure ends the save.
  for (auto [edit, key] : Keys(*this))
    WriteConfigString(ini.get(), kConnectionSection, key, ToAnsi(edit->text()));
  FreeConfigFile(ini);
  Inform(kSaved, kRegisteredCaption);
  ExitAction();
}

}  // namespace fesko::dlg

// The database settings dialog against config.ini: what it shows, what it writes and when it
// refuses.
#include <QApplication>
#include <QTest>

#include "dialogs/UConfBD.h"
#include "tests/dialogs/DialogTest.h"

using namespace fesko;
using namespace fesko::dlg;

namespace {

constexpr char kMarkers[] = "[ultimo_cliente]\ncliente=12\n";

class ConfBDTest : public test::DialogTest {
 protected:
  void Fill(TFrmConfBD& form, const char* servidor, const char* usuario, const char* clave,
            const char* ruta) {
    form.txtservidor->setText(QString::fromUtf8(servidor));
    form.txtUsuario->setText(QString::fromUtf8(usuario));
    form.txtClave->setText(QString::fromUtf8(clave));
    form.txtruta->setText(QString::fromUtf8(ruta));
  }
};

}  // namespace

TEST_F(ConfBDTest, ShowsTheFourKeysAndSavesThemInOrderAfterAYes) {
  WriteConfig(std::string(kMarkers) +
              "[CONEXION]\nRutaBD = \"/db/taller.fdb\"\nipserver=servidor1\nusuario=fesko\n"
              "clave=s3creta\n");
  TFrmConfBD form;
  Show(form);
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Configuración de la Base de Datos"));
  EXPECT_EQ(form.txtservidor->text(), QStringLiteral("servidor1"));
  EXPECT_EQ(form.txtUsuario->text(), QStringLiteral("fesko"));
  EXPECT_EQ(form.txtClave->text(), QStringLiteral("s3creta"));
  EXPECT_EQ(form.txtClave->echoMode(), QLineEdit::Normal);  // shown in clear
  EXPECT_EQ(form.txtruta->text(), QStringLiteral("/db/taller.fdb"));
  EXPECT_TRUE(boxes.Boxes().empty());

  // A fresh file shows the order of the writes: one key after the other, as the edits stand.
  WriteConfig(kMarkers);
  Fill(form, "192.168.0.9", "oper", "   ", "C:\\Taller\\Datos Taller.fdb");
  boxes.SetNextAnswer(IDYES);
  form.btnGuardar->click();
  EXPECT_EQ(ConfigText(), std::string(kMarkers) +
                              "[conexion]\nipserver=192.168.0.9\nusuario=oper\nclave=   \n"
                              "rutabd=C:\\Taller\\Datos Taller.fdb\n")
      << ConfigText();
  EXPECT_EQ(test::Describe(boxes.Boxes()),
            "Guardar Datos|¿Esta Seguro que Quiere Guardar los Parametros de\r\n"
            "Configuracion de la Base de Datos?|36\n"
            "Registración Exitosa|Se Actualizaron Exitosamente los Datos de Configuracion de la "
            "Base de Datos|64\n");
  EXPECT_EQ(boxes.Boxes()[1].owner, &form);
  EXPECT_FALSE(form.isVisible());
}

TEST_F(ConfBDTest, AnEmptyFieldIsRefusedAndNoStopsTheSave) {
  const std::string original = "[conexion]\nipserver=a\nusuario=b\nclave=c\nrutabd=d\n";
  WriteConfig(original);
  TFrmConfBD form;
  Show(form);
  QLineEdit* edits[] = {form.txtservidor, form.txtUsuario, form.txtClave, form.txtruta};
  for (QLineEdit* empty : edits) {
    boxes.Clear();
    for (QLineEdit* edit : edits) edit->setText(QStringLiteral("x"));
    empty->clear();
    form.btnGuardar->click();
    EXPECT_EQ(test::Describe(boxes.Boxes()), "Faltan Datos|Faltan Completar Datos|48\n")
        << empty->objectName().toStdString();
    EXPECT_EQ(boxes.Boxes()[0].owner, &form);
    EXPECT_TRUE(empty->text().isEmpty());
    EXPECT_EQ(form.txtruta->text().isEmpty(), empty == form.txtruta);
  }
  EXPECT_EQ(ConfigText(), original);

  boxes.Clear();
  form.txtruta->setText(QStringLiteral("x"));
  boxes.SetNextAnswer(IDNO);
  form.btnGuardar->click();
  EXPECT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(ConfigText(), original);
  EXPECT_TRUE(form.isVisible());
}

TEST_F(ConfBDTest, KeysSaveOrCloseAsTheButtonsDo) {
  WriteConfig("[conexion]\nipserver=a\nusuario=b\nclave=c\nrutabd=d\n");
  {
    TFrmConfBD form;
    Show(form);
    form.txtservidor->setText(QStringLiteral("por-F9"));
    boxes.SetNextAnswer(IDYES);
    QTest::keyClick(form.txtUsuario, Qt::Key_F9);
    EXPECT_NE(ConfigText().find("ipserver=por-F9"), std::string::npos);
    EXPECT_FALSE(form.isVisible());
  }
  {
    boxes.Clear();
    TFrmConfBD form;
    Show(form);
    form.txtruta->setText(QStringLiteral("por-Enter"));
    form.txtruta->setFocus();
    boxes.SetNextAnswer(IDYES);
    QTest::keyClick(form.txtruta, Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), form.btnGuardar);
    EXPECT_TRUE(boxes.Boxes().empty());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_NE(ConfigText().find("rutabd=por-Enter"), std::string::npos);
    EXPECT_EQ(boxes.Boxes().size(), 2u);
  }
  {
    boxes.Clear();
    TFrmConfBD form;
    Show(form);
    form.txtClave->setText(QStringLiteral("no-se-guarda"));
    QTest::keyClick(form.txtClave, Qt::Key_Escape);
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(ConfigText().find("no-se-guarda"), std::string::npos);
  }
}

TEST_F(ConfBDTest, AMissingConfigIniIsReportedOnOpeningAndOnSavingAndNothingIsWritten) {
  TFrmConfBD form;
  Show(form);
  const std::string iniBox =
      "Archivo .INI|Archivo .INI no existe, créelo y vuelva a intentarlo|16\n";
  EXPECT_EQ(test::Describe(boxes.Boxes()), iniBox);
  EXPECT_TRUE(form.txtservidor->text().isEmpty());
  EXPECT_TRUE(form.txtruta->text().isEmpty());
  EXPECT_TRUE(form.isVisible());

  boxes.Clear();
  Fill(form, "a", "b", "c", "d");
  boxes.SetNextAnswer(IDYES);
  form.btnGuardar->click();
  auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 3u) << test::Describe(shown);
  EXPECT_EQ(shown[0].flags, 36);
  EXPECT_EQ(test::Describe({shown[1]}), iniBox);
  EXPECT_EQ(shown[2].caption, u"Dunmar");  // the failed first write, no success box
  EXPECT_FALSE(std::filesystem::exists(ConfigPath()));
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.txtruta->text(), QStringLiteral("d"));
}

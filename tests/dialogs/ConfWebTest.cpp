// The web settings dialog against the table parametros.
#include <QTest>

#include "dialogs/UConfWeb.h"
#include "tests/dialogs/DialogTest.h"

using namespace fesko;
using namespace fesko::dlg;

namespace {

class ConfWebTest : public test::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    OpenDatabase();
  }
  std::string Parametros() {
    return Sql(
        "set heading off;\nselect '[' || appweburl || '|' || tiempoupdapp || ']' from "
        "parametros;");
  }
};

}  // namespace

TEST_F(ConfWebTest, StoresTheUrlInCapitalsAndTheTimeWithoutBlanks) {
  {
    TFrmConfWeb form(*data);
    Show(form);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Configuración Web"));
    EXPECT_EQ(form.txtWeb->text(), QStringLiteral("http://127.0.0.1:8081/"));
    EXPECT_EQ(form.txttiempo->text(), QStringLiteral("1"));
    EXPECT_EQ(form.txtWeb->width(), 223);
    EXPECT_EQ(form.txttiempo->width(), 41);
    form.txtWeb->setText(QStringLiteral(" https://dunmar.example/taller/ "));
    form.txttiempo->setText(QStringLiteral(" 15 "));
    boxes.SetNextAnswer(IDYES);
    QTest::keyClick(form.txttiempo, Qt::Key_F9);
    EXPECT_FALSE(form.isVisible());
  }
  EXPECT_NE(Parametros().find("[HTTPS://DUNMAR.EXAMPLE/TALLER/|15]"), std::string::npos)
      << Parametros();
  EXPECT_EQ(
      test::Describe(boxes.Boxes()),
      "Guardar Datos|¿Esta Seguro que Quiere Guardar los Parametros\r\nde Configuracion "
      "Web?|36\n"
      "Actualización Exitosa|Se Actualizaron Exitosamente los Datos de Configuracion Web|64\n");
  EXPECT_FALSE(data->transaccion.Active());

  TFrmConfWeb again(*data);
  Show(again);
  EXPECT_EQ(again.txtWeb->text(), QStringLiteral("HTTPS://DUNMAR.EXAMPLE/TALLER/"));
  EXPECT_EQ(again.txttiempo->text(), QStringLiteral("15"));
}

TEST_F(ConfWebTest, EmptyFieldsAndNoLeaveTheTableAlone) {
  TFrmConfWeb form(*data);
  Show(form);
  form.txttiempo->clear();
  form.btnguardar->click();
  EXPECT_EQ(test::Describe(boxes.Boxes()), "Faltan Datos|Faltan Completar Datos|48\n");
  form.txttiempo->setText(QStringLiteral("5"));
  form.txtWeb->clear();
  form.btnguardar->click();
  form.txtWeb->setText(QStringLiteral("http://otro/"));
  boxes.SetNextAnswer(IDNO);
  form.btnguardar->click();
  EXPECT_EQ(boxes.Boxes().size(), 3u);
  EXPECT_TRUE(form.isVisible());
  EXPECT_NE(Parametros().find("[http://127.0.0.1:8081/|1]"), std::string::npos);
}

TEST_F(ConfWebTest, WithoutAParametrosRowTheEditsOpenEmptyAndASaveStillReportsSuccess) {
  Sql("delete from parametros;");
  TFrmConfWeb form(*data);
  Show(form);
  EXPECT_TRUE(form.txtWeb->text().isEmpty());
  EXPECT_TRUE(form.txttiempo->text().isEmpty());
  form.txtWeb->setText(QStringLiteral("http://x/"));
  form.txttiempo->setText(QStringLiteral("3"));
  boxes.SetNextAnswer(IDYES);
  form.btnguardar->click();
  EXPECT_EQ(boxes.Boxes().back().caption, u"Actualización Exitosa");
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(Parametros().find('['), std::string::npos);
}

TEST_F(ConfWebTest, ADatabaseErrorIsShownAndTheDialogKeepsItsTexts) {
  TFrmConfWeb form(*data);
  Show(form);
  // The dialog does not check that the time is a number; the database refuses it.
  form.txttiempo->setText(QStringLiteral(" cinco "));
  boxes.SetNextAnswer(IDYES);
  form.btnguardar->click();
  auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 2u) << test::Describe(shown);
  EXPECT_EQ(shown[1].caption, u"error de consulta");
  EXPECT_EQ(shown[1].flags, 16);
  EXPECT_TRUE(shown[1].text.starts_with(u"error en la actualizacion de datos\r\nMensaje: "))
      << WideToUtf8(shown[1].text);
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.txttiempo->text(), QStringLiteral(" cinco "));
  EXPECT_FALSE(data->transaccion.Active());
  EXPECT_NE(Parametros().find("[http://127.0.0.1:8081/|1]"), std::string::npos);

  // Showing fails the same way when the table cannot be read.
  boxes.Clear();
  data->service.Close();
  Sql("drop table parametros;");
  data->service.Open();
  TFrmConfWeb broken(*data);
  Show(broken);
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_TRUE(boxes.Boxes()[0].text.starts_with(u"error en la actualizacion de datos\r\n"));
  EXPECT_TRUE(broken.txtWeb->text().isEmpty());
  EXPECT_TRUE(broken.isVisible());
}

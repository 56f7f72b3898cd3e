// The convention every operator dialog follows: the keyboard, the title, the boxes' owners,
// and the upper-casing of stored settings.
#include <QApplication>
#include <QLabel>
#include <QTest>

#include "dialogs/DialogConvention.h"
#include "dialogs/UConfBD.h"
#include "tests/dialogs/DialogTest.h"

using namespace fesko;
using namespace fesko::dlg;

namespace {

class ConventionTest : public test::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    WriteConfig("[conexion]\nipserver=localhost\nusuario=fesko\nclave=pw\nrutabd=/db/taller.fdb\n");
  }
};

}  // namespace

TEST(TrimUpper, TrimsBlanksAndControlsThenCapitalisesWindows1252Letters) {
  EXPECT_EQ(TrimUpper(" \t http://dunmar.example/app/ \r\n"), "HTTP://DUNMAR.EXAMPLE/APP/");
  EXPECT_EQ(TrimUpper(" 15 "), "15");
  // á é í ó ú ñ ü ç -> Á É Í Ó Ú Ñ Ü Ç; š œ ž ÿ -> Š Œ Ž Ÿ
  EXPECT_EQ(TrimUpper("\xE1\xE9\xED\xF3\xFA\xF1\xFC\xE7"), "\xC1\xC9\xCD\xD3\xDA\xD1\xDC\xC7");
  EXPECT_EQ(TrimUpper("\x9A\x9C\x9E\xFF"), "\x8A\x8C\x8E\x9F");
  // No single-byte capital: sharp s, micro sign, division sign and the symbols stay.
  EXPECT_EQ(TrimUpper("\xDF\xB5\xF7\x80"), "\xDF\xB5\xF7\x80");
  EXPECT_EQ(TrimUpper("   "), "");
}

TEST_F(ConventionTest, TheWindowHasItsTitleFixedSizeAndOnlyACloseBox) {
  TFrmConfBD form;
  Show(form);
  EXPECT_EQ(form.lb2->text(), form.windowTitle());
  EXPECT_TRUE(form.lb2->font().bold());
  EXPECT_EQ(form.lb2->font().pixelSize(), 16);
  EXPECT_EQ(form.lb2->width(), form.width());
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
  EXPECT_EQ(form.btnSalir->text(), QStringLiteral("Salir [Esc]"));
  EXPECT_EQ(form.btnGuardar->text(), QStringLiteral("Guardar Datos [F9]"));
}

TEST_F(ConventionTest, EnterMovesOnLikeTabAndPressesAFocusedButton) {
  TFrmConfBD form;
  Show(form);
  // The dialog opens on its first edit, not on the exit button an Enter at once would press.
  EXPECT_EQ(QApplication::focusWidget(), form.txtservidor);
  for (QWidget* next :
       {static_cast<QWidget*>(form.txtUsuario), static_cast<QWidget*>(form.txtClave),
        static_cast<QWidget*>(form.txtruta), static_cast<QWidget*>(form.btnGuardar)}) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), next);
  }
  // Enter in the last edit only moved the focus: nothing was asked or saved.
  EXPECT_TRUE(boxes.Boxes().empty());

  // The keypad's Enter is Enter too; on the button it presses it, which asks the question.
  QTest::keyClick(form.btnGuardar, Qt::Key_Enter, Qt::KeypadModifier);
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].flags, 36);
  EXPECT_EQ(boxes.Boxes()[0].owner, nullptr);  // questions belong to the application window
  EXPECT_TRUE(form.isVisible());               // answered No

  // Shift+Enter on a button is not a press: the focus moves on instead.
  form.btnGuardar->setFocus();
  QTest::keyClick(form.btnGuardar, Qt::Key_Return, Qt::ShiftModifier);
  EXPECT_EQ(QApplication::focusWidget(), form.btnSalir);
  EXPECT_EQ(boxes.Boxes().size(), 1u);
}

TEST_F(ConventionTest, F9AndEscActOnReleaseFromAnyControl) {
  TFrmConfBD form;
  Show(form);
  form.txtClave->setFocus();
  QTest::keyPress(form.txtClave, Qt::Key_F9);
  EXPECT_TRUE(boxes.Boxes().empty());  // nothing until the key comes up
  QTest::keyRelease(form.txtClave, Qt::Key_F9);
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].caption, u"Guardar Datos");

  // Esc closes without a question, and the press alone does not close.
  boxes.Clear();
  QTest::keyPress(form.txtruta, Qt::Key_Escape);
  EXPECT_TRUE(form.isVisible());
  QTest::keyRelease(form.txtruta, Qt::Key_Escape);
  EXPECT_FALSE(form.isVisible());
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(ConventionTest, AReleaseWhosePressWentToABoxDoesNothing) {
  // The Esc that closes a box comes up over the dialog; it must not close the dialog as well,
  // which would lose what the operator typed.
  TFrmConfBD form;
  Show(form);
  form.txtruta->setFocus();
  QTest::keyRelease(form.txtruta, Qt::Key_Escape);
  QTest::keyRelease(form.txtruta, Qt::Key_F9);
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(ConventionTest, AnErrorEscapingAHandlerGoesToTheStandardBoxAndTheDialogStays) {
  TFrmConfBD form;
  Show(form);
  std::filesystem::permissions(ConfigPath(), std::filesystem::perms::owner_read);
  form.txtClave->setText(QStringLiteral("nueva"));
  boxes.SetNextAnswer(IDYES);
  form.btnGuardar->click();
  auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 2u) << test::Describe(shown);
  EXPECT_EQ(shown[1].caption, u"Dunmar");
  EXPECT_EQ(shown[1].flags, 16);
  EXPECT_EQ(WideToUtf8(shown[1].text), "Unable to write to " + ConfigPath().string());
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(ConfigText().find("nueva"), std::string::npos);
}

// The tray menu: its entries, and each entry opening a fresh dialog with its mode and name.
#include <QAction>
#include <QApplication>
#include <QPointer>
#include <QTimer>

#include "agent/TrayMenu.h"
#include "dialogs/UConfBD.h"
#include "dialogs/UConfWeb.h"
#include "dialogs/UInicDatosEmpresa.h"
#include "dialogs/UInicEstados.h"
#include "dialogs/UniciarTodo.h"
#include "tests/dialogs/DialogTest.h"

using namespace fesko;
using namespace fesko::dlg;

namespace {

class TrayMenuTest : public test::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    WriteConfig("[conexion]\nipserver=localhost\nusuario=fesko\n");
    OpenDatabase();
    salir_ = menu_.addAction(QStringLiteral("Salir"));
    salir_->setObjectName(QStringLiteral("CerrarGestor1"));
    FillTrayMenu(menu_, *data, [] { return WideString(u"http://127.0.0.1:1/"); });
  }

  QAction* Entry(const char* name) {
    auto* action = menu_.findChild<QAction*>(QString::fromLatin1(name));
    EXPECT_NE(action, nullptr) << name;
    return action;
  }

  // Triggers the entry and hands the modal dialog it opens to `inspect`, then closes it.
  // Returns the dialog, which must be gone by then.
  QPointer<QWidget> Open(const char* name, const std::function<void(QWidget*)>& inspect) {
    QPointer<QWidget> seen;
    bool opened = false;
    QTimer::singleShot(0, [&] {
      seen = QApplication::activeModalWidget();
      if (seen) {
        opened = true;
        inspect(seen);
        seen->close();
      }
    });
    Entry(name)->trigger();
    EXPECT_TRUE(opened) << name << " opened no modal dialog";
    return seen;
  }

  static std::vector<std::string> Captions(const QMenu* menu) {
    std::vector<std::string> captions;
    for (const QAction* action : menu->actions()) {
      captions.push_back(action->objectName().toStdString() + "=" + action->text().toStdString() +
                         (action->isVisible() ? "" : " (hidden)"));
    }
    return captions;
  }

  QMenu menu_;
  QAction* salir_;
};

}  // namespace

TEST_F(TrayMenuTest, TheEntriesStandInOrderWithTheirExactCaptions) {
  EXPECT_EQ(Captions(&menu_),
            (std::vector<std::string>{
                "MostarVentana1=Configurar Base de Datos", "ConfiguracinWeb1=Configuración Web",
                "InicializarBasedeDatos1=Inicializar Base de Datos", "CerrarGestor1=Salir"}));
  QMenu* submenu = menu_.actions()[2]->menu();
  ASSERT_NE(submenu, nullptr);
  EXPECT_EQ(Captions(submenu),
            (std::vector<std::string>{
                "InicializarDatosdelaEmpresa1=Inicializar Datos de la Empresa",
                "InicializarEstadodelasReparaciones1=Inicializar Estado ",
                "InicializarMonedas1=Inicializar Monedas",
                "InicializarClientes1=Inicializar Clientes",
                "InicializarReparaciones1=Inicializar Reparaciones",
                "InicialiarEstadosReparaciones1=Inicialiar Estados de Reparaciones",
                "InicializarTodo1=Inicializar Todo (hidden)",
            }));
}

TEST_F(TrayMenuTest, EachEntryOpensItsDialogWithItsModeAndName) {
  EXPECT_FALSE(Open("MostarVentana1", [](QWidget* w) {
    EXPECT_NE(dynamic_cast<TFrmConfBD*>(w), nullptr);
    EXPECT_EQ(w->parentWidget(), nullptr);  // owned by the application
  }));
  EXPECT_FALSE(Open("ConfiguracinWeb1",
                    [](QWidget* w) { EXPECT_NE(dynamic_cast<TFrmConfWeb*>(w), nullptr); }));
  EXPECT_FALSE(Open("InicializarDatosdelaEmpresa1", [](QWidget* w) {
    auto* form = dynamic_cast<TFrmIniDatosEmpresa*>(w);
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->Modo(), 1);
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Inicializar Empresa"));
  }));
  struct ListEntry {
    const char* name;
    int mode;
    std::u16string_view dataSet;
  };
  for (const ListEntry& entry :
       {ListEntry{"InicializarEstadodelasReparaciones1", 5, u"Estados de Reparaciones"},
        ListEntry{"InicializarMonedas1", 2, u"Monedas"},
        ListEntry{"InicializarClientes1", 3, u"Clientes"},
        ListEntry{"InicializarReparaciones1", 4, u"Reparaciones"},
        ListEntry{"InicialiarEstadosReparaciones1", 1, u"Estados"}}) {
    EXPECT_FALSE(Open(entry.name, [&](QWidget* w) {
      auto* form = dynamic_cast<TFrmInicEstados*>(w);
      ASSERT_NE(form, nullptr) << entry.name;
      EXPECT_EQ(form->Modo(), entry.mode) << entry.name;
      EXPECT_EQ(form->Nombre(), entry.dataSet) << entry.name;
    }));
  }
  EXPECT_FALSE(Open("InicializarTodo1",
                    [](QWidget* w) { EXPECT_NE(dynamic_cast<TFrmIniciarTodo*>(w), nullptr); }));
  // Every dialog read the database without a complaint.
  EXPECT_TRUE(boxes.Boxes().empty()) << test::Describe(boxes.Boxes());
}

TEST_F(TrayMenuTest, EveryOpeningGivesAFreshDialog) {
  Open("MostarVentana1", [](QWidget* w) {
    auto* form = dynamic_cast<TFrmConfBD*>(w);
    EXPECT_EQ(form->txtUsuario->text(), QStringLiteral("fesko"));
    form->txtUsuario->setText(QStringLiteral("escrito y no guardado"));
  });
  Open("MostarVentana1", [](QWidget* w) {
    EXPECT_EQ(dynamic_cast<TFrmConfBD*>(w)->txtUsuario->text(), QStringLiteral("fesko"));
  });
}

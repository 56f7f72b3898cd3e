#include "agent/TrayMenu.h"

#include <QAction>
#include <memory>

#include "base/ApplicationErrors.h"
#include "dialogs/UConfBD.h"
#include "dialogs/UConfWeb.h"
#include "dialogs/UInicDatosEmpresa.h"
#include "dialogs/UInicEstados.h"
#include "dialogs/UniciarTodo.h"

namespace fesko {
namespace {

using dlg::ToQString;

// Creates the dialog with the application as owner, lets `setup` prepare it, shows it modally
// and destroys it when it closes. An error in creating it goes to the standard error box.
template <typename Dialog, typename Create, typename Setup>
void OpenDialog(Create create, Setup setup) {
  RunHandler([&] {
    std::unique_ptr<Dialog> dialog = create();
    setup(*dialog);
    dialog->ShowModal();
  });
}

QAction* AddEntry(QMenu& menu, QAction* before, const char* name, std::u16string_view caption,
                  std::function<void()> open) {
  auto* action = new QAction(ToQString(caption), &menu);
  action->setObjectName(QString::fromLatin1(name));
  QObject::connect(action, &QAction::triggered, &menu, [open = std::move(open)] { open(); });
  menu.insertAction(before, action);
  return action;
}

}  // namespace

void FillTrayMenu(QMenu& PopupMenu1, db::TDataModule1& data, std::function<WideString()> baseUrl) {
  QAction* salir = PopupMenu1.actions().isEmpty() ? nullptr : PopupMenu1.actions().front();
  db::TDataModule1* module = &data;

  AddEntry(PopupMenu1, salir, "MostarVentana1", u"Configurar Base de Datos", [] {
    OpenDialog<dlg::TFrmConfBD>([] { return std::make_unique<dlg::TFrmConfBD>(); },
                                [](dlg::TFrmConfBD&) {});
  });
  AddEntry(PopupMenu1, salir, "ConfiguracinWeb1", dlg::kConfWebCaption, [module] {
    OpenDialog<dlg::TFrmConfWeb>([module] { return std::make_unique<dlg::TFrmConfWeb>(*module); },
                                 [](dlg::TFrmConfWeb&) {});
  });

  auto* submenu = new QMenu(ToQString(u"Inicializar Base de Datos"), &PopupMenu1);
  submenu->setObjectName(QStringLiteral("InicializarBasedeDatos1"));
  submenu->menuAction()->setObjectName(submenu->objectName());
  PopupMenu1.insertMenu(salir, submenu);

  AddEntry(*submenu, nullptr, "InicializarDatosdelaEmpresa1", dlg::kCompanyDesignCaption,
           [module, baseUrl] {
             OpenDialog<dlg::TFrmIniDatosEmpresa>(
                 [&] { return std::make_unique<dlg::TFrmIniDatosEmpresa>(*module, baseUrl()); },
                 [](dlg::TFrmIniDatosEmpresa& dialog) { dialog.SetModo(1); });
           });
  // Mode and data-set name of each list entry. "Inicializar Estado " ends with a blank, and
  // the repair states are mode 5 while "Inicialiar Estados de Reparaciones" opens mode 1.
  struct ListEntry {
    const char* name;
    std::u16string_view caption;
    int mode;
    std::u16string_view dataSet;
  };
  static constexpr ListEntry kListEntries[] = {
      {"InicializarEstadodelasReparaciones1", u"Inicializar Estado ", 5,
       u"Estados de Reparaciones"},
      {"InicializarMonedas1", dlg::kCurrenciesCaption, 2, u"Monedas"},
      {"InicializarClientes1", dlg::kClientsCaption, 3, u"Clientes"},
      {"InicializarReparaciones1", dlg::kRepairsCaption, 4, u"Reparaciones"},
      {"InicialiarEstadosReparaciones1", u"Inicialiar Estados de Reparaciones", 1, u"Estados"},
  };
  for (const ListEntry& entry : kListEntries) {
    AddEntry(*submenu, nullptr, entry.name, entry.caption, [module, baseUrl, &entry] {
      OpenDialog<dlg::TFrmInicEstados>(
          [&] { return std::make_unique<dlg::TFrmInicEstados>(*module, baseUrl()); },
          [&](dlg::TFrmInicEstados& dialog) {
            dialog.SetModo(entry.mode);
            dialog.SetNombre(WideString(entry.dataSet));
          });
    });
  }
  // Present but never shown: the operator cannot reach this dialog from the menu.
  QAction* todo =
      AddEntry(*submenu, nullptr, "InicializarTodo1", dlg::kIniciarTodoCaption, [module, baseUrl] {
        OpenDialog<dlg::TFrmIniciarTodo>(
            [&] { return std::make_unique<dlg::TFrmIniciarTodo>(*module, baseUrl()); },
            [](dlg::TFrmIniciarTodo&) {});
      });
  todo->setVisible(false);
}

}  // namespace fesko

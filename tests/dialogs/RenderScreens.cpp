// render_screens OUT_DIR: draws the main window, the tray menu and every operator dialog, filled
// from a demo workshop database, into PNG files for the README. Runs on Qt's offscreen
// platform; a painted title bar stands in for the window manager's, which offscreen has none.
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QPainter>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "agent/TrayMenu.h"
#include "agent/UPpal.h"
#include "base/ConfigFile.h"
#include "dialogs/UConfBD.h"
#include "dialogs/UConfWeb.h"
#include "dialogs/UInicDatosEmpresa.h"
#include "dialogs/UInicEstados.h"
#include "dialogs/UniciarTodo.h"
#include "tests/support/StandIn.h"
#include "tests/support/TestDatabase.h"

using namespace fesko;

namespace {

QString g_out;

void Save(const QImage& image, const char* name) {
  QString path = g_out + QStringLiteral("/") + QString::fromLatin1(name) + QStringLiteral(".png");
  if (!image.save(path))
    std::fprintf(stderr, "render_screens: cannot write %s\n", qPrintable(path));
  std::printf("%s\n", qPrintable(path));
}

// The window's client area under a plain title bar carrying its caption.
void SaveWindow(QWidget& window, const char* name) {
  window.show();
  QApplication::processEvents();
  QPixmap client = window.grab();
  constexpr int kBar = 24;
  QImage image(client.width(), client.height() + kBar, QImage::Format_ARGB32);
  image.fill(QColor(0x3a, 0x5a, 0x8c));
  QPainter painter(&image);
  QFont font = window.font();
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRect(8, 0, client.width() - 16, kBar), Qt::AlignVCenter | Qt::AlignLeft,
                   window.windowTitle());
  painter.drawText(QRect(0, 0, client.width() - 8, kBar), Qt::AlignVCenter | Qt::AlignRight,
                   QStringLiteral("\u2715"));
  painter.drawPixmap(0, kBar, client);
  painter.end();
  Save(image, name);
  window.close();
}

void SaveMenu(QMenu& menu, const char* name) {
  menu.ensurePolished();
  menu.adjustSize();
  QImage image = menu.grab().toImage();
  QPainter painter(&image);
  painter.setPen(QColor(0x90, 0x90, 0x90));
  painter.drawRect(image.rect().adjusted(0, 0, -1, -1));
  painter.end();
  Save(image, name);
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  if (argc != 2) {
    std::fprintf(stderr, "usage: render_screens OUT_DIR\n");
    return 2;
  }
  g_out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(g_out);

  test::StandIn standIn;
  std::string database = test::CreateDatabase("screens", true);
  test::RunIsql(database, "update parametros set appweburl = '" + standIn.Base() + "';");

  char folder[] = "/tmp/fesko-screens-XXXXXX";
  SetApplicationFolder(::mkdtemp(folder));
  std::ofstream(std::filesystem::path(folder) / "config.ini")
      << "[conexion]\nipserver=localhost\nusuario=" << test::DbUser()
      << "\nclave=" << test::DbPassword() << "\nrutabd=" << test::PathOf(database) << "\n";

  db::TDataModule1 data;
  data.service.SetDatabaseName(database);
  data.service.SetParam("user_name", test::DbUser());
  data.service.SetParam("Password", test::DbPassword());
  data.service.Open();
  data.Service1.SetDatabaseName(database);
  data.Service1.SetParam("user_name", test::DbUser());
  data.Service1.SetParam("password", test::DbPassword());
  data.Service1.Open();

  {
    TFrmPpal main(data);
    SaveWindow(main, "main-window");
    QMenu menu;
    menu.addAction(QStringLiteral("Salir"));
    FillTrayMenu(menu, data, [&] { return standIn.BaseUrl(); });
    SaveMenu(menu, "tray-menu");
    SaveMenu(*menu.actions()[2]->menu(), "tray-menu-initialise");
  }
  {
    dlg::TFrmConfBD form;
    SaveWindow(form, "database-settings");
  }
  {
    dlg::TFrmConfWeb form(data);
    SaveWindow(form, "web-settings");
  }
  {
    dlg::TFrmIniDatosEmpresa form(data, standIn.BaseUrl());
    form.SetModo(1);
    SaveWindow(form, "company");
  }
  struct List {
    int mode;
    const char16_t* name;
    const char* file;
  };
  for (const List& list :
       {List{1, u"Estados", "list-budget-states"}, List{3, u"Clientes", "list-clients"},
        List{4, u"Reparaciones", "list-repairs"}}) {
    dlg::TFrmInicEstados form(data, standIn.BaseUrl());
    form.SetModo(list.mode);
    form.SetNombre(list.name);
    SaveWindow(form, list.file);
  }
  {
    dlg::TFrmIniciarTodo form(data, standIn.BaseUrl());
    SaveWindow(form, "initialise-everything");
  }
  std::filesystem::remove_all(folder);
  data.Service1.Close();
  data.service.Close();
  std::error_code ignored;
  std::filesystem::remove(test::PathOf(database), ignored);
  return 0;
}

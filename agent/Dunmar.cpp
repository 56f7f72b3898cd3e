// Dunmar: the program's entry. Creates the data module, connects both connections with the
// settings of config.ini, creates the hidden main window and runs the message loop.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "agent/InstanceLock.h"
#include "agent/QtMessageBox.h"
#include "agent/StopSignals.h"
#include "agent/UPpal.h"
#include "base/ApplicationErrors.h"
#include "base/ConfigFile.h"
#include "base/MessageBox.h"
#include "database/Datamodule.h"

namespace {

constexpr char kPlatformVariable[] = "QT_QPA_PLATFORM";
constexpr char kUserNameParam[] = "user_name";

// Without a desktop the program still syncs, on Qt's offscreen platform.
void ChoosePlatform() {
  auto set = [](const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
  };
  if (!set(kPlatformVariable) && !set("DISPLAY") && !set("WAYLAND_DISPLAY")) {
    ::setenv(kPlatformVariable, fesko::kOffscreenPlatform, 1);
    fesko::LogLine(
        "Dunmar: no desktop (neither DISPLAY nor WAYLAND_DISPLAY is set); running offscreen");
  }
}

// Qt's own warnings (no runtime folder, no tray host) go to the program's log, each line with
// its date and time like every other line there; a fatal one still ends the program after it.
void LogQtMessages() {
  qInstallMessageHandler(
      [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
        fesko::LogLine(qFormatLogMessage(type, context, message).toStdString());
      });
}

// --version and --help answer and end the process, as on any Linux program; every other
// argument is ignored.
bool AnsweredInformationRequest(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--version") {
      std::printf("Dunmar %s\n", FESKO_VERSION);
      return true;
    }
    if (argument == "--help") {
      std::printf(
          "Uso: Dunmar [--help | --version]\n"
          "Sincroniza la base de datos del taller con la web desde el área de notificación.\n"
          "Lee la conexión a la base de datos de %s/config.ini.\n"
          "Sin escritorio (ni DISPLAY ni WAYLAND_DISPLAY) corre sin ventanas y escribe sus "
          "mensajes en la salida de errores.\n",
          fesko::ApplicationFolder().c_str());
      return true;
    }
  }
  return false;
}

void SayAlreadyRunning() {
  const std::string text = "Fesko ya está en marcha con el config.ini de " +
                           fesko::ApplicationFolder() + ". Esta copia se cierra sin hacer nada.";
  fesko::MessageBox(fesko::Utf8ToWide(text), fesko::AnsiToWide(fesko::kApplicationTitle),
                    fesko::MB_OK | fesko::MB_ICONINFORMATION);
}

void Connect(fesko::db::TDataModule1& data) {
  using fesko::kConnectionSection;
  using fesko::ReadConfigString;
  auto ini = fesko::OpenConfigFile(fesko::kConfigFileName);
  std::string ipserver = ReadConfigString(ini.get(), kConnectionSection, fesko::kServerKey);
  std::string usuario = ReadConfigString(ini.get(), kConnectionSection, fesko::kUserKey);
  std::string clave = ReadConfigString(ini.get(), kConnectionSection, fesko::kPasswordKey);
  std::string rutabd = ReadConfigString(ini.get(), kConnectionSection, fesko::kDatabasePathKey);
  fesko::FreeConfigFile(ini);
  std::string database_name = ipserver + ":" + rutabd;

  data.service.SetDatabaseName(database_name);
  data.service.SetParam(kUserNameParam, usuario);
  data.service.SetParam("Password", clave);
  data.service.Open();

  data.Service1.SetDatabaseName(database_name);
  data.Service1.SetParam(kUserNameParam, usuario);
  data.Service1.SetParam("password", clave);
  data.Service1.Open();
}

}  // namespace

int main(int argc, char** argv) {
  if (AnsweredInformationRequest(argc, argv)) return 0;
  fesko::InstallStopSignals();
  LogQtMessages();
  ChoosePlatform();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromLatin1(fesko::kApplicationTitle));
  // A tray agent: closing a box while the main window is hidden must not end the program.
  QApplication::setQuitOnLastWindowClosed(false);
  fesko::InstallQtMessageBoxes();
  // One agent per workshop: a second start in the same folder (the autostart entry and the
  // service both enabled, or a start from the menu) would upload every change twice and write
  // its markers over the first's.
  fesko::TInstanceLock lock(fesko::ApplicationFolder());
  if (lock.HeldElsewhere()) {
    SayAlreadyRunning();
    return 0;
  }
  try {
    auto data = std::make_unique<fesko::db::TDataModule1>();
    // The client library puts its own handler (which shuts the library down under the
    // program's feet) in front of ours when it is loaded or first attaches; ours goes back on
    // top after each.
    fesko::InstallStopSignals();
    Connect(*data);
    fesko::InstallStopSignals();
    // A stop signal during start-up ends the program as soon as start-up's pass has let go.
    if (fesko::StopRequested()) return 0;
    auto window = std::make_unique<fesko::TFrmPpal>(*data);
    if (fesko::StopRequested()) return 0;
    fesko::CloseOnStopSignals(window.get());
    int status = QApplication::exec();
    window.reset();
    data.reset();
    return status;
  } catch (const std::exception& error) {
    fesko::ShowFatalError(error);
    return 1;
  }
}

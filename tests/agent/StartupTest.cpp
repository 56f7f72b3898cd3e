#include <gtest/gtest.h>
#include <signal.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/Process.h"
#include "tests/support/TestDatabase.h"

using namespace fesko::test;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Starts a copy of Dunmar with the config.ini given (none when empty), without a desktop.
class StartupTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { database_ = new std::string(CreateDatabase("startup")); }
  static void TearDownTestSuite() { delete database_; }

  std::unique_ptr<ChildProcess> Start(const std::string& config) {
    exe_ = CopyToFreshFolder(DUNMAR_EXECUTABLE, "fesko-startup");
    if (!config.empty()) {
      std::ofstream(fs::path(exe_).parent_path() / "config.ini") << config;
    }
    return std::make_unique<ChildProcess>(
        exe_, std::vector<std::string>{"DISPLAY=", "WAYLAND_DISPLAY=", "QT_QPA_PLATFORM="});
  }
  static std::string GoodConfig(const std::string& password = DbPassword()) {
    return "[conexion]\nipserver=localhost\nusuario=" + DbUser() + "\nclave=" + password +
           "\nrutabd=" + PathOf(*database_) + "\n";
  }
  void TearDown() override {
    if (!exe_.empty()) fs::remove_all(fs::path(exe_).parent_path());
  }

  std::string exe_;
  static std::string* database_;
};

std::string* StartupTest::database_ = nullptr;

}  // namespace

TEST_F(StartupTest, WithoutConfigIniItSaysSoThenFailsWithTheApplicationErrorBox) {
  auto dunmar = Start("");
  ASSERT_EQ(dunmar->WaitForExit(20s), 1) << dunmar->Stderr();
  std::string err = dunmar->Stderr();
  auto ini_box = err.find("[Archivo .INI] Archivo .INI no existe, créelo y vuelva a intentarlo");
  auto fatal_box = err.find("[Application Error] Exception EMDOFirebirdError");
  EXPECT_NE(ini_box, std::string::npos) << err;
  EXPECT_NE(fatal_box, std::string::npos) << err;
  EXPECT_LT(ini_box, fatal_box);
  EXPECT_NE(err.find("running offscreen"), std::string::npos);
}

TEST_F(StartupTest, AnEmptyConexionSectionFailsWithoutTheIniBox) {
  auto dunmar = Start("[conexion]\nipserver=\n");
  ASSERT_EQ(dunmar->WaitForExit(20s), 1);
  std::string err = dunmar->Stderr();
  EXPECT_EQ(err.find("Archivo .INI"), std::string::npos) << err;
  EXPECT_NE(err.find("for file \":\""), std::string::npos) << err;  // the name is ":" alone
}

TEST_F(StartupTest, ARefusedConnectionEndsWithTheServersMessage) {
  auto wrong_password = Start(GoodConfig("no-es-la-clave"));
  ASSERT_EQ(wrong_password->WaitForExit(20s), 1);
  std::string err = wrong_password->Stderr();
  EXPECT_NE(err.find("Dunmar: EMDOFirebirdError: Your user name and password are not defined"),
            std::string::npos)
      << err;

  auto unreachable =
      Start("[conexion]\nipserver=127.0.0.1/3999\nusuario=a\nclave=b\nrutabd=/x.fdb\n");
  ASSERT_EQ(unreachable->WaitForExit(30s), 1);
  err = unreachable->Stderr();
  EXPECT_NE(err.find("[Application Error] Exception EMDOFirebirdError"), std::string::npos) << err;
  EXPECT_NE(err.find("Unable to complete network request to host \"127.0.0.1\""), std::string::npos)
      << err;
}

TEST_F(StartupTest, AGoodConfigRunsHiddenUntilTheMainWindowClosesThenExitsZero) {
  auto dunmar = Start(GoodConfig());
  // Quoted values and blanks around them are read as the profile rules say.
  EXPECT_EQ(dunmar->WaitForExit(3s), -1) << dunmar->Stderr();
  EXPECT_TRUE(dunmar->Running());
  // SIGTERM, SIGINT and SIGHUP close the main window, which ends the program like "Salir".
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    if (signal != SIGTERM) dunmar = Start(GoodConfig());
    EXPECT_EQ(dunmar->WaitForExit(3s), -1) << dunmar->Stderr();
    dunmar->Signal(signal);
    EXPECT_EQ(dunmar->WaitForExit(20s), 0) << signal << dunmar->Stderr();
    EXPECT_EQ(dunmar->Stderr().find("Error"), std::string::npos) << dunmar->Stderr();
    // Every line it wrote, Qt's own warnings too, starts with the date and time.
    std::istringstream lines(dunmar->Stderr());
    for (std::string line; std::getline(lines, line);) {
      std::string shape = line.substr(0, 20);
      for (char& c : shape) c = std::isdigit(static_cast<unsigned char>(c)) ? '9' : c;
      EXPECT_EQ(shape, "9999-99-99 99:99:99 ") << line;
    }
  }
}

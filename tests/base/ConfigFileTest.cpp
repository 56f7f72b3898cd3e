#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "base/ConfigFile.h"
#include "base/MessageBox.h"
#include "tests/support/Workshop.h"

using namespace fesko;
namespace fs = std::filesystem;

namespace {

class ConfigFileTest : public ::testing::Test {
 protected:
  void WriteFile(const std::string& contents,
                 fs::perms perms = fs::perms::owner_read | fs::perms::owner_write) {
    ws_.WriteConfig(contents);
    fs::permissions(folder_ / "config.ini", perms);
  }
  std::string ReadFile() { return ws_.ConfigText(); }
  test::Workshop ws_{"ini", {.config = nullptr, .web = false, .database = false}};
  const fs::path folder_ = ws_.folder;
};

}  // namespace

TEST(ProfileRules, SectionsAndKeysIgnoreCaseAndValuesLoseBlanksAndOnePairOfQuotes) {
  std::string ini =
      "[Conexion]\r\n ipserver = 192.168.1.10 \r\nUsuario=\"SYSDBA\"\r\nclave=' secreta '\r\n"
      "rutabd=\"C:\\datos\\taller.fdb'\r\nvacio=\r\ncomillas=\"\"\"x\"\"\"\r\n"
      "[nueva_reparacion]\r\nCodigo=17\r\n";
  EXPECT_EQ(ProfileValue(ini, "conexion", "IPSERVER"), "192.168.1.10");
  EXPECT_EQ(ProfileValue(ini, "CONEXION", "usuario"), "SYSDBA");
  EXPECT_EQ(ProfileValue(ini, "conexion", "clave"), " secreta ");  // quotes keep inner blanks
  EXPECT_EQ(ProfileValue(ini, "conexion", "rutabd"), "\"C:\\datos\\taller.fdb'");  // no pair
  EXPECT_EQ(ProfileValue(ini, "conexion", "vacio"), "");
  EXPECT_EQ(ProfileValue(ini, "conexion", "comillas"), "\"\"x\"\"");  // one pair only
  EXPECT_EQ(ProfileValue(ini, "Nueva_Reparacion", "codigo"), "17");
  EXPECT_EQ(ProfileValue(ini, "conexion", "codigo"), "");  // keys belong to their section
  EXPECT_EQ(ProfileValue(ini, "otra", "ipserver"), "");
  EXPECT_EQ(ProfileValue("[s]\nk=" + std::string(3000, 'x') + "\n", "s", "k").size(), 2047u);
}

TEST(ProfileRules, WritingReplacesInPlaceOrAddsKeyOrSection) {
  std::string ini = "[conexion]\r\nipserver=a\r\n\r\n[fecha]\r\nFecha=01/12/2026\r\n";
  EXPECT_EQ(ProfileWithValue(ini, "CONEXION", "IPSERVER", "b"),
            "[conexion]\r\nIPSERVER=b\r\n\r\n[fecha]\r\nFecha=01/12/2026\r\n");
  EXPECT_EQ(ProfileWithValue(ini, "conexion", "usuario", "fesko"),
            "[conexion]\r\nipserver=a\r\nusuario=fesko\r\n\r\n[fecha]\r\nFecha=01/12/2026\r\n");
  EXPECT_EQ(ProfileWithValue(ini, "fecha", "hora", "10:00:00"),
            "[conexion]\r\nipserver=a\r\n\r\n[fecha]\r\nFecha=01/12/2026\r\nhora=10:00:00\r\n");
  EXPECT_EQ(ProfileWithValue("[a]\nx=1\n", "cliente", "ultimo_cliente", "5"),
            "[a]\nx=1\n[cliente]\nultimo_cliente=5\n");
  EXPECT_EQ(ProfileWithValue("", "s", "k", "v"), "[s]\nk=v\n");
}

TEST_F(ConfigFileTest, AMissingFileIsReportedOnceAndReadsEmpty) {
  ScriptedMessageBoxes boxes;
  auto ini = OpenConfigFile("config.ini");
  EXPECT_EQ(ini, nullptr);
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].text, u"Archivo .INI no existe, créelo y vuelva a intentarlo");
  EXPECT_EQ(boxes.Boxes()[0].caption, u"Archivo .INI");
  EXPECT_EQ(boxes.Boxes()[0].flags, 16);
  EXPECT_EQ(ReadConfigString(ini.get(), "conexion", "ipserver"), "");
  EXPECT_THROW(WriteConfigString(ini.get(), "conexion", "ipserver", "x"), Exception);
  FreeConfigFile(ini);
  EXPECT_FALSE(fs::exists(folder_ / "config.ini"));  // never created by opening
}

TEST_F(ConfigFileTest, WritesReplaceTheFileWholeKeepingItsPermissions) {
  WriteFile("[conexion]\nclave=vieja\n", fs::perms::owner_read | fs::perms::owner_write);
  auto ini = OpenConfigFile("config.ini");
  ASSERT_NE(ini, nullptr);
  WriteConfigString(ini.get(), "Conexion", "Clave", "nueva");
  WriteConfigString(ini.get(), "cliente", "ultimo_cliente", "42");
  EXPECT_EQ(ReadConfigString(ini.get(), "conexion", "clave"), "nueva");
  EXPECT_EQ(ReadConfigString(ini.get(), "CLIENTE", "Ultimo_Cliente"), "42");
  EXPECT_EQ(ReadFile(), "[conexion]\nClave=nueva\n[cliente]\nultimo_cliente=42\n");
  struct stat st {};
  ASSERT_EQ(::stat((folder_ / "config.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);  // the password never becomes readable to others
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
  FreeConfigFile(ini);
}

TEST_F(ConfigFileTest, AFileTheWriteCreatesIsOwnerOnlyWhateverTheUmask) {
  WriteFile("[conexion]\n");
  auto ini = OpenConfigFile("config.ini");
  ASSERT_NE(ini, nullptr);
  fs::remove(folder_ / "config.ini");  // gone between the open and the write
  mode_t saved = ::umask(0);
  WriteConfigString(ini.get(), "conexion", "clave", "secreta");
  ::umask(saved);
  struct stat st {};
  ASSERT_EQ(::stat((folder_ / "config.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A mode the technician chose is kept: the program does not decide who else may read it.
  fs::permissions(folder_ / "config.ini",
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  WriteConfigString(ini.get(), "ultimo_cliente", "cliente", "7");
  ASSERT_EQ(::stat((folder_ / "config.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  FreeConfigFile(ini);
}

TEST_F(ConfigFileTest, ARefusedWriteRaisesAndLeavesTheFileAsItWas) {
  WriteFile("[conexion]\nipserver=a\n", fs::perms::owner_read);
  auto ini = OpenConfigFile("config.ini");
  ASSERT_NE(ini, nullptr);
  EXPECT_EQ(test::Catch<Exception>([&] {
              WriteConfigString(ini.get(), "conexion", "ipserver", "b");
            }).Message(),
            u"Unable to write to " + AnsiToWide((folder_ / "config.ini").string()));
  EXPECT_EQ(ReadFile(), "[conexion]\nipserver=a\n");
  // A value with a line break would write a second key: refused the same way.
  fs::permissions(folder_ / "config.ini", fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_THROW(WriteConfigString(ini.get(), "conexion", "ipserver", "b\r\n[otra]"), Exception);
  EXPECT_EQ(ReadConfigString(ini.get(), "conexion", "ipserver"), "a");
  FreeConfigFile(ini);
}

TEST_F(ConfigFileTest, SeveralValuesWrittenAsOneGiveTheSameTextAndAreAllOrNothing) {
  const std::string start = "[conexion]\r\nipserver=a\r\n\r\n[ultimo_cliente]\r\ncliente=3\r\n";
  const std::vector<ConfigEntry> markers = {
      {"ULTIMO_CLIENTE", "cliente", "9"},           // replaced where it stands
      {"presupuesto", "fecha", "02/01/2020"},       // a new section
      {"presupuesto", "hora", "10:00:00"},          // a key added to the section just made
      {"conexion", "rutabd", "/datos/taller.fdb"},  // a key added after the section's last line
  };
  WriteFile(start);
  auto ini = OpenConfigFile("config.ini");
  ASSERT_NE(ini, nullptr);
  for (const ConfigEntry& entry : markers) {
    WriteConfigString(ini.get(), entry.section, entry.key, entry.value);
  }
  std::string one_at_a_time = ReadFile();
  WriteFile(start);
  WriteConfigStrings(ini.get(), markers);
  EXPECT_EQ(ReadFile(), one_at_a_time);

  // A refused entry anywhere in the list, or a refused file, leaves every value as it was.
  WriteFile(start);
  std::vector<ConfigEntry> broken = markers;
  broken.back().value = "x\n[otra]";
  EXPECT_THROW(WriteConfigStrings(ini.get(), broken), Exception);
  EXPECT_EQ(ReadFile(), start);
  fs::permissions(folder_ / "config.ini", fs::perms::owner_read);
  EXPECT_THROW(WriteConfigStrings(ini.get(), markers), Exception);
  EXPECT_EQ(ReadFile(), start);
  FreeConfigFile(ini);
}

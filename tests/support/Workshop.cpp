#include "tests/support/Workshop.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <fstream>

#include "base/ConfigFile.h"
#include "base/FormatSettings.h"

namespace fesko::test {

void Load(db::TMDOQuery& query, std::initializer_list<std::string_view> lines) {
  query.Close();
  query.SQL().Clear();
  for (std::string_view line : lines) query.SQL().Add(line);
}

std::unique_ptr<db::TDataModule1> ConnectedDataModule(const std::string& attachment) {
  auto data = std::make_unique<db::TDataModule1>();
  Connect(data->service, attachment);
  return data;
}

Workshop::Workshop(const std::string& name, const WorkshopSetup& setup)
    : name_(name), setup_(setup) {
  FormatSettings() = DefaultFormatSettings();
  std::string pattern = "/tmp/fesko-" + name + "-XXXXXX";
  folder = ::mkdtemp(pattern.data());
  SetApplicationFolder(folder.string());
  if (setup.config) WriteConfig(setup.config);
  if (setup.web) StartWeb();
  if (setup.database) OpenDatabase();
}

Workshop::~Workshop() {
  data.reset();
  web.reset();
  SetApplicationFolder("");
  std::error_code ignored;  // a test may have left the folder read-only
  std::filesystem::permissions(folder, std::filesystem::perms::owner_all, ignored);
  std::filesystem::remove_all(folder, ignored);
}

void Workshop::StartWeb() {
  web = std::make_unique<StandIn>();
  ASSERT_TRUE(web->Running()) << "the stand-in web service did not start";
}

void Workshop::OpenDatabase() {
  database = CreateDatabase(name_, setup_.demo);
  if (setup_.rows) Sql(setup_.rows);
  if (setup_.web) {
    Sql("update parametros set appweburl = '" + web->Base() +
        "', tiempoupdapp = " + std::to_string(setup_.poll_minutes) + ";");
  }
  data = ConnectedDataModule(database);
  if (setup_.events) Connect(data->Service1, database);
}

std::unique_ptr<db::TDataModule1> Workshop::OpenTerminal(const std::string& sql) const {
  auto terminal = ConnectedDataModule(database);
  terminal->transaccion.StartTransaction();
  for (std::size_t at = 0, end; at < sql.size(); at = end + 1) {
    end = std::min(sql.find(';', at), sql.size());
    if (sql.find_first_not_of(" \n", at) >= end) continue;
    terminal->Consulta.SQL().Clear();
    terminal->Consulta.SQL().Add(sql.substr(at, end - at));
    terminal->Consulta.ExecSQL();
  }
  return terminal;
}

void Workshop::WriteConfig(const std::string& contents) const {
  std::ofstream(ConfigPath(), std::ios::binary) << contents;
}

AnsiString Workshop::Marker(const char* section, const char* key) const {
  auto ini = OpenConfigFile("config.ini");
  AnsiString value = ReadConfigString(ini.get(), section, key);
  FreeConfigFile(ini);
  return value;
}

void Workshop::SetMarker(const char* section, const char* key, const AnsiString& value) const {
  auto ini = OpenConfigFile("config.ini");
  WriteConfigString(ini.get(), section, key, value);
  FreeConfigFile(ini);
}

}  // namespace fesko::test

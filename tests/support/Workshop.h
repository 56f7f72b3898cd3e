// A workshop as the tests meet it: the program's folder with its config.ini, the stand-in web
// service, a fresh workshop database that points at it, and the data module connected; with the
// small helpers every suite needs around them.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "base/TextKinds.h"
#include "database/Datamodule.h"
#include "tests/support/StandIn.h"
#include "tests/support/TestDatabase.h"

namespace fesko::test {

// Attaches a connection of either side to `attachment`.
template <typename Connection>
void Connect(Connection& connection, const std::string& attachment,
             const std::string& user = DbUser(), const std::string& password = DbPassword()) {
  connection.SetDatabaseName(attachment);
  connection.SetParam("user_name", user);
  connection.SetParam("password", password);
  connection.Open();
}

// Closes `query` and gives it the statement `lines`.
void Load(db::TMDOQuery& query, std::initializer_list<std::string_view> lines);

// A data module with its query side attached to `attachment`.
std::unique_ptr<db::TDataModule1> ConnectedDataModule(const std::string& attachment);

struct WorkshopSetup {
  const char* config = "[conexion]\nipserver=localhost\n";  // nullptr: no config.ini
  bool web = true;             // the stand-in, and the database's web address pointing at it
  int poll_minutes = 5;        // the database's poll interval, when there is a stand-in
  bool demo = false;           // workshop/demo.sql's rows
  const char* rows = nullptr;  // more rows, Windows-1252 SQL
  bool database = true;        // false: the test opens it when it needs it (OpenDatabase)
  bool events = false;         // the event side attached too
};

// Made in a test's SetUp; every part is gone when it is destroyed, the folder included.
class Workshop {
 public:
  explicit Workshop(const std::string& name, const WorkshopSetup& setup = {});
  ~Workshop();
  Workshop(const Workshop&) = delete;
  Workshop& operator=(const Workshop&) = delete;

  // A fresh database with the setup's rows and the data module attached to it.
  void OpenDatabase();
  void StartWeb();

  // Runs SQL against the database through isql and returns what isql printed.
  std::string Sql(const std::string& sql) const { return RunIsql(database, sql); }

  std::filesystem::path ConfigPath() const { return folder / "config.ini"; }
  std::string ConfigText() const { return ReadFile(ConfigPath()); }
  void WriteConfig(const std::string& contents) const;
  AnsiString Marker(const char* section, const char* key) const;
  void SetMarker(const char* section, const char* key, const AnsiString& value) const;

  // A second terminal of the workshop that ran `sql` (statements ended by ';') in a transaction
  // it keeps open until the test commits it.
  std::unique_ptr<db::TDataModule1> OpenTerminal(const std::string& sql) const;

  WideString BaseUrl() const { return web ? web->BaseUrl() : WideString(); }

  std::filesystem::path folder;
  std::unique_ptr<StandIn> web;
  std::string database;
  std::unique_ptr<db::TDataModule1> data;

 private:
  std::string name_;
  WorkshopSetup setup_;
};

}  // namespace fesko::test

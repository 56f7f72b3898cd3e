// The ground of the dialog tests: a fresh workshop database with known rows, the data module
// connected to it, config.ini in a folder of the test's own, the stand-in web service when a
// test sends, and scripted message boxes.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>
#include <filesystem>
#include <memory>
#include <string>

#include "base/MessageBox.h"
#include "database/Datamodule.h"
#include "tests/support/StandIn.h"

namespace fesko::test {

// The rows every database of these tests starts with, as Windows-1252 SQL.
extern const char kWorkshopRows[];

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A fresh database with kWorkshopRows and the data module attached to it.
  void OpenDatabase();
  // Runs SQL against the test's database and returns what isql printed.
  std::string Sql(const std::string& sql);
  void StartStandIn();
  WideString BaseUrl() const { return standIn ? standIn->BaseUrl() : WideString(); }

  std::filesystem::path ConfigPath() const { return folder_ / "config.ini"; }
  void WriteConfig(const std::string& contents) const;
  std::string ReadConfig() const;

  // Shows `dialog` as the active window; its show handler has run on return.
  static void Show(QWidget& dialog);

  std::unique_ptr<db::TDataModule1> data;
  std::unique_ptr<StandIn> standIn;
  ScriptedMessageBoxes boxes;
  std::string database;

 private:
  std::filesystem::path folder_;
};

// The boxes as "caption|text|flags" lines, for readable comparisons.
std::string Describe(const std::vector<ScriptedMessageBoxes::Box>& boxes);

}  // namespace fesko::test

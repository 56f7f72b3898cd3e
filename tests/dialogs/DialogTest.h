// The ground of the dialog tests: a fresh workshop database with known rows, the data module
// connected to it, config.ini in a folder of the test's own, the stand-in web service when a
// test sends, and scripted message boxes.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>
#include <string>
#include <vector>

#include "base/MessageBox.h"
#include "tests/support/Workshop.h"

namespace fesko::test {

// The rows every database of these tests starts with, as Windows-1252 SQL.
extern const char kWorkshopRows[];

// A workshop without config.ini, whose database (with kWorkshopRows) and stand-in the tests open
// when they need them.
class DialogTest : public ::testing::Test, public Workshop {
 protected:
  DialogTest();

  // Shows `dialog` as the active window; its show handler has run on return.
  static void Show(QWidget& dialog);

  ScriptedMessageBoxes boxes;
};

// The boxes as "caption|text|flags" lines, for readable comparisons.
std::string Describe(const std::vector<ScriptedMessageBoxes::Box>& boxes);

}  // namespace fesko::test

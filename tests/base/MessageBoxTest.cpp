#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "base/MessageBox.h"

using namespace fesko;

TEST(MessageBoxSeam, ScriptedBoxesRecordEveryBoxAndAnswerQuestionsInOrder) {
  ScriptedMessageBoxes boxes;
  boxes.SetNextAnswer(IDYES);
  EXPECT_EQ(MessageBox(u"¿Guardar?", u"Confirmar", MB_YESNO | MB_ICONQUESTION), IDYES);
  EXPECT_EQ(MessageBox(u"¿Otra vez?", u"Confirmar", 36), IDNO);  // the queue is empty
  EXPECT_EQ(MessageBox(u"Hecho", u"Listo", MB_ICONINFORMATION), IDOK);
  auto shown = boxes.Boxes();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].flags, 36);
  EXPECT_EQ(shown[2].text, u"Hecho");
  EXPECT_EQ(shown[2].caption, u"Listo");
  EXPECT_EQ(shown[2].flags, 64);
}

TEST(MessageBoxSeam, WithoutAPersonBoxesGoToStandardErrorAndQuestionsAreRefused) {
  testing::internal::CaptureStderr();
  int answer = MessageBox(u"¿Seguro?", u"Pregunta", MB_YESNO | MB_ICONQUESTION);
  int ok = MessageBox(u"Falló", u"Error", MB_ICONERROR);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(answer, IDNO);
  EXPECT_EQ(ok, IDOK);
  EXPECT_NE(err.find("[Pregunta] ¿Seguro?"), std::string::npos);
  EXPECT_NE(err.find("[Error] Falló"), std::string::npos);
  // Every line starts with the date and time; a line only logged has no caption.
  testing::internal::CaptureStderr();
  LogLine("anotado");
  err += testing::internal::GetCapturedStderr();
  std::regex stamped(
      R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (\[Pregunta\] ¿Seguro\?|\[Error\] Falló|anotado)$)");
  std::istringstream lines(err);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    EXPECT_TRUE(std::regex_match(line, stamped)) << line;
  }
  EXPECT_EQ(count, 3);
}

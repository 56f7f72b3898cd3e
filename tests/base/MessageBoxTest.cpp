#include <gtest/gtest.h>

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
  std::istringstream lines(err);
  int count = 0;
  for (std::string line; std::getline(lines, line); ++count) {
    // "YYYY-MM-DD HH:MM:SS " and then the box or the line.
    bool stamped = line.size() > 20 && line[4] == '-' && line[7] == '-' && line[10] == ' ' &&
                   line[13] == ':' && line[16] == ':' && line[19] == ' ';
    EXPECT_TRUE(stamped) << line;
    std::string rest = stamped ? line.substr(20) : line;
    EXPECT_TRUE(rest == "[Pregunta] ¿Seguro?" || rest == "[Error] Falló" || rest == "anotado")
        << line;
  }
  EXPECT_EQ(count, 3);
}

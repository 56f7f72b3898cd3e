#include "base/ApplicationErrors.h"

#include "base/Errors.h"
#include "base/MessageBox.h"

namespace fesko {
namespace {
constexpr std::u16string_view kFatalCaption = u"Application Error";
}  // namespace

void ShowException(const std::exception& error) {
  MessageBox(ErrorMessage(error), AnsiToWide(kApplicationTitle), MB_OK | MB_ICONERROR);
}

void ShowFatalError(const std::exception& error) {
  WideString text = u"Exception " + AnsiToWide(ErrorClassName(error)) + u" in module " +
                    AnsiToWide(kApplicationTitle) + u".\r\n" + ErrorMessage(error);
  std::string line = std::string(kApplicationTitle) + ": " + ErrorClassName(error) + ": " +
                     WideToUtf8(ErrorMessage(error));
  LogLine(line);
  MessageBox(text, WideString(kFatalCaption), MB_OK | MB_ICONERROR);
}

}  // namespace fesko

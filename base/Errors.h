// The root of the program's own error types. Every error carries its message as wide text and
// names its class, because the fatal-error box and the listener's report show the class name.
#pragma once

#include <exception>
#include <string>

#include "base/TextKinds.h"

namespace fesko {

class Exception : public std::exception {
 public:
  explicit Exception(WideString message);
  const WideString& Message() const noexcept { return message_; }
  // The message in UTF-8, for standard error and for test failure output.
  const char* what() const noexcept override { return utf8_.c_str(); }
  virtual const char* ClassName() const noexcept { return "Exception"; }

 private:
  WideString message_;
  std::string utf8_;
};

// A failure of a data set or of a database component's own checks.
class EDatabaseError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EDatabaseError"; }
};

// A text that does not convert to the value asked for.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EConvertError"; }
};

// Class name and message of any error, for the boxes that report errors of any type.
const char* ErrorClassName(const std::exception& error) noexcept;
WideString ErrorMessage(const std::exception& error);

// Formats a message in the style of the runtime's Format: each "%s" or "%d" in order takes the
// next argument, "%%" is a percent sign.
WideString FormatMessage(std::u16string_view pattern, std::initializer_list<WideString> args);

}  // namespace fesko

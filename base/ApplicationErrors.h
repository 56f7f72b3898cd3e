// The two boxes that report errors no unit of work handled: the application's standard error
// box (a window's handler failed; the program runs on) and the fatal "Application Error" box
// (start-up failed, or an event handler failed).
#pragma once

#include <exception>

namespace fesko {

// The executable's name, which error boxes show as the application title.
inline constexpr char kApplicationTitle[] = "Dunmar";

// The error's message, an error icon, the application title "Dunmar".
void ShowException(const std::exception& error);

// Runs a handler of a window or dialog: an error that escapes it goes to the standard error box
// and the program runs on, with the window as the handler left it.
template <typename Fn>
void RunHandler(Fn&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    ShowException(error);
  }
}

// "Application Error" with the error's class and message; also written to standard error, so a
// run without a desktop says why it stopped.
void ShowFatalError(const std::exception& error);

}  // namespace fesko

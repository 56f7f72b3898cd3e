// The message-box seam. The program asks every question and reports every failure through
// MessageBox; the Qt layer installs the real boxes, tests install a scripted one. Flags and
// results keep the platform's numbers, because the program's behaviour is written in them.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string_view>
#include <vector>

#include "base/TextKinds.h"

namespace fesko {

enum MessageBoxFlags : int {
  MB_OK = 0x00,
  MB_YESNO = 0x04,
  MB_ICONERROR = 0x10,
  MB_ICONQUESTION = 0x20,
  MB_ICONWARNING = 0x30,
  MB_ICONINFORMATION = 0x40,
};

enum MessageBoxResult : int { IDOK = 1, IDYES = 6, IDNO = 7 };

// The window a box belongs to; opaque here, a QWidget* in the Qt layer. Null means the
// application's main window.
using MessageBoxOwner = void*;

using MessageBoxHandler = std::function<int(const WideString& text, const WideString& caption,
                                            int flags, MessageBoxOwner owner)>;

// Shows a modal box and returns the button pressed.
int MessageBox(const WideString& text, const WideString& caption, int flags,
               MessageBoxOwner owner = nullptr);

// Installs the implementation; an empty handler restores the default, which writes the box to
// standard error and answers at once (OK, or No to a question) as nobody can press a button.
void SetMessageBoxHandler(MessageBoxHandler handler);

// Writes one line to standard error after the date and time, as every line the program writes
// there starts.
void LogLine(std::string_view line);

// Writes a box to standard error, as "[caption] text" after the date and time, and returns the
// answer a box without a person gets.
int MessageBoxToStderr(const WideString& text, const WideString& caption, int flags);

// Records every box shown and answers questions from a queue (No when the queue is empty).
// Installs itself for its lifetime.
class ScriptedMessageBoxes {
 public:
  struct Box {
    WideString text;
    WideString caption;
    int flags;
    MessageBoxOwner owner;
  };

  ScriptedMessageBoxes();
  ~ScriptedMessageBoxes();
  ScriptedMessageBoxes(const ScriptedMessageBoxes&) = delete;
  ScriptedMessageBoxes& operator=(const ScriptedMessageBoxes&) = delete;

  void SetNextAnswer(int result);
  // Runs while a box is "open", as a modal box lets the UI thread do work meanwhile.
  void SetOnShow(std::function<void(const Box&)> hook);
  std::vector<Box> Boxes() const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Box> boxes_;
  std::deque<int> answers_;
  std::function<void(const Box&)> on_show_;
};

}  // namespace fesko

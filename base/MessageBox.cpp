#include "base/MessageBox.h"

#include <cstdio>
#include <ctime>
#include <string>

namespace fesko {
namespace {

std::mutex g_handler_mutex;
MessageBoxHandler g_handler;

}  // namespace

void LogLine(std::string_view text) {
  char stamp[32] = {};
  std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S ", &local);
  // Appended, not concatenated onto a literal: GCC 12 at -O3 warns falsely (-Wrestrict) about
  // prepending to a temporary string.
  std::string line(stamp);
  line += text;
  if (!line.ends_with('\n')) line += '\n';
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

int MessageBoxToStderr(const WideString& text, const WideString& caption, int flags) {
  std::string line(1, '[');
  line += WideToUtf8(caption);
  line += "] ";
  line += WideToUtf8(text);
  LogLine(line);
  return (flags & 0x0F) == MB_YESNO ? IDNO : IDOK;
}

int MessageBox(const WideString& text, const WideString& caption, int flags,
               MessageBoxOwner owner) {
  MessageBoxHandler handler;
  {
    std::lock_guard lock(g_handler_mutex);
    handler = g_handler;
  }
  if (handler) return handler(text, caption, flags, owner);
  return MessageBoxToStderr(text, caption, flags);
}

void SetMessageBoxHandler(MessageBoxHandler handler) {
  std::lock_guard lock(g_handler_mutex);
  g_handler = std::move(handler);
}

ScriptedMessageBoxes::ScriptedMessageBoxes() {
  SetMessageBoxHandler(
      [this](const WideString& text, const WideString& caption, int flags, MessageBoxOwner owner) {
        Box box{text, caption, flags, owner};
        std::function<void(const Box&)> hook;
        int answer = IDOK;
        {
          std::lock_guard lock(mutex_);
          boxes_.push_back(box);
          hook = on_show_;
          if ((flags & 0x0F) == MB_YESNO) {
            answer = IDNO;
            if (!answers_.empty()) {
              answer = answers_.front();
              answers_.pop_front();
            }
          }
        }
        if (hook) hook(box);
        return answer;
      });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() {
  SetMessageBoxHandler(nullptr);
}

void ScriptedMessageBoxes::SetNextAnswer(int result) {
  std::lock_guard lock(mutex_);
  answers_.push_back(result);
}

void ScriptedMessageBoxes::SetOnShow(std::function<void(const Box&)> hook) {
  std::lock_guard lock(mutex_);
  on_show_ = std::move(hook);
}

std::vector<ScriptedMessageBoxes::Box> ScriptedMessageBoxes::Boxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

void ScriptedMessageBoxes::Clear() {
  std::lock_guard lock(mutex_);
  boxes_.clear();
  answers_.clear();
}

}  // namespace fesko

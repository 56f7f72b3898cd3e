#include "agent/QtMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include "base/MessageBox.h"

namespace fesko {
namespace {

QString ToQString(const WideString& text) {
  QString s = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return s;
}

int ShowQtBox(const WideString& text, const WideString& caption, int flags, MessageBoxOwner owner) {
  QMessageBox box(owner ? static_cast<QWidget*>(owner) : nullptr);
  box.setWindowTitle(ToQString(caption));
  box.setText(ToQString(text));
  switch (flags & 0xF0) {
    case MB_ICONERROR:
      box.setIcon(QMessageBox::Critical);
      break;
    case MB_ICONQUESTION:
      box.setIcon(QMessageBox::Question);
      break;
    case MB_ICONWARNING:
      box.setIcon(QMessageBox::Warning);
      break;
    case MB_ICONINFORMATION:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      break;
  }
  if ((flags & 0x0F) == MB_YESNO) {
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
  }
  box.setStandardButtons(QMessageBox::Ok);
  box.exec();
  return IDOK;
}

}  // namespace

bool RunningOffscreen() {
  return QGuiApplication::platformName() == QLatin1String(kOffscreenPlatform);
}

void InstallQtMessageBoxes() {
  if (RunningOffscreen()) {
    SetMessageBoxHandler([](const WideString& text, const WideString& caption, int flags,
                            MessageBoxOwner) { return MessageBoxToStderr(text, caption, flags); });
  } else {
    SetMessageBoxHandler(ShowQtBox);
  }
}

}  // namespace fesko

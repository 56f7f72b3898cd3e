#include "dialogs/DialogConvention.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>

#include "base/ApplicationErrors.h"
#include "base/MessageBox.h"
#include "base/TextHelpers.h"

namespace fesko::dlg {

const std::u16string_view kMissingInputText = u"Faltan Completar Datos";
const std::u16string_view kMissingInputCaption = u"Faltan Datos";
const std::u16string_view kSaveCaption = u"Guardar Datos";
const std::u16string_view kSaveButtonCaption = u"Guardar Datos [F9]";
const std::u16string_view kRegisteredCaption = u"Registración Exitosa";

namespace {

constexpr std::u16string_view kExitCaption = u"Salir [Esc]";
constexpr int kEnter = 13;
constexpr int kEscKey = Qt::Key_Escape;  // virtual key 27
constexpr int kF9Key = Qt::Key_F9;       // virtual key 120
constexpr int kTitleHeight = 24;

QFont DialogFont() {
  return QFont(QStringLiteral("MS Sans Serif"), 8);
}

}  // namespace

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

WideString ToWide(const QString& text) {
  return WideString(reinterpret_cast<const char16_t*>(text.utf16()),
                    static_cast<std::size_t>(text.size()));
}

AnsiString ToAnsi(const QString& text) {
  return WideToAnsi(ToWide(text));
}

QString FromAnsi(std::string_view ansi) {
  return ToQString(AnsiToWide(ansi));
}

void EnterAsTab(char16_t& key, QWidget& form) {
  if (key != kEnter) return;
  key = 0;
  // The dialog's own next-control request: Tab sent to the form moves its focus on.
  QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
  QCoreApplication::sendEvent(&form, &tab);
}

AnsiString TrimUpper(std::string_view text) {
  AnsiString out(Trim(text));
  for (char& c : out) c = UpperAnsi(c);
  return out;
}

QPushButton* MakeButton(QWidget* parent, const char* name, std::u16string_view caption, int icon) {
  auto* button = new QPushButton(ToQString(caption), parent);
  button->setIcon(button->style()->standardIcon(static_cast<QStyle::StandardPixmap>(icon)));
  button->setObjectName(QString::fromLatin1(name));
  // Enter on a focused button is handled by the dialog's key preview, not by Qt's default
  // button, which would fire from any edit.
  button->setAutoDefault(false);
  button->setDefault(false);
  return button;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, std::u16string_view label, QRect geometry,
                    int label_width) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(geometry);
  auto* caption = new QLabel(ToQString(label), parent);
  caption->setObjectName(edit->objectName() + QStringLiteral("Label"));
  if (label_width > 0) {
    caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    caption->setGeometry(geometry.x() - label_width - 6, geometry.y(), label_width,
                         geometry.height());
  } else {
    caption->setGeometry(geometry.x(), geometry.y() - 16, geometry.width(), 16);
  }
  return edit;
}

QLabel* MakeLabel(QWidget* parent, const char* name, std::u16string_view text, QPoint position) {
  auto* label = new QLabel(ToQString(text), parent);
  label->setObjectName(QString::fromLatin1(name));
  label->move(position);
  label->adjustSize();
  return label;
}

TOperatorDialog::TOperatorDialog(QWidget* owner, std::u16string_view caption,
                                 const char* title_name, std::u16string_view title, QSize client,
                                 const char* exit_name)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setWindowTitle(ToQString(caption));
  setFont(DialogFont());
  setFixedSize(client);
  setModal(true);

  title_ = new QLabel(ToQString(title), this);
  title_->setObjectName(QString::fromLatin1(title_name));
  title_->setAlignment(Qt::AlignCenter);
  QFont title_font(QStringLiteral("Arial"));
  title_font.setPixelSize(16);
  title_font.setBold(true);
  title_->setFont(title_font);
  QPalette palette = title_->palette();
  palette.setColor(QPalette::WindowText, Qt::blue);
  title_->setPalette(palette);
  title_->setGeometry(0, 4, client.width(), kTitleHeight);

  exit_ = MakeButton(this, exit_name, kExitCaption, QStyle::SP_DialogCloseButton);
  connect(exit_, &QPushButton::clicked, this, [this] { ExitAction(); });

  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  qApp->installEventFilter(this);
}

TOperatorDialog::~TOperatorDialog() {
  qApp->removeEventFilter(this);
}

int TOperatorDialog::ShowModal() {
  return exec();
}

void TOperatorDialog::SetMainButton(QPushButton* button) {
  main_ = button;
  connect(button, &QPushButton::clicked, this, [this] { RunHandler([this] { MainAction(); }); });
}

void TOperatorDialog::ExitAction() {
  close();
}

bool TOperatorDialog::Ask(std::u16string_view text, std::u16string_view caption) {
  return MessageBox(WideString(text), WideString(caption), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void TOperatorDialog::Inform(std::u16string_view text, std::u16string_view caption) {
  MessageBox(WideString(text), WideString(caption), MB_OK | MB_ICONINFORMATION, this);
}

void TOperatorDialog::Warn(std::u16string_view text, std::u16string_view caption) {
  MessageBox(WideString(text), WideString(caption), MB_OK | MB_ICONWARNING, this);
}

void TOperatorDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_ || event->spontaneous()) return;
  shown_ = true;
  RunHandler([this] { FormShow(); });
  // The operator types as soon as the dialog is up: unless FormShow chose a control, the focus
  // starts on the first one in tab order, never on the exit button, which Enter would press.
  if (focusWidget() == nullptr || focusWidget() == exit_) {
    for (QWidget* w = nextInFocusChain(); w != this; w = w->nextInFocusChain()) {
      if (w != exit_ && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled() &&
          w->isVisibleTo(this)) {
        w->setFocus(Qt::TabFocusReason);
        break;
      }
    }
  }
}

bool TOperatorDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (!widget || widget->window() != this) return false;
  auto& key = static_cast<QKeyEvent&>(*event);
  return event->type() == QEvent::KeyPress ? FormKeyPress(widget, key) : FormKeyUp(key);
}

bool TOperatorDialog::FormKeyPress(QWidget* target, QKeyEvent& key) {
  switch (key.key()) {
    case kEscKey:
    case kF9Key:
      // Esc would otherwise close the dialog at once, before its release is seen.
      if (!key.isAutoRepeat()) pressed_.insert(key.key());
      return true;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      Qt::KeyboardModifiers held =
          key.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
      if (auto* button = qobject_cast<QAbstractButton*>(target); button && held == 0) {
        button->click();
        return true;
      }
      // With Ctrl or Alt the key types no Enter character; it does nothing.
      if (held & (Qt::ControlModifier | Qt::AltModifier)) return true;
      char16_t character = kEnter;
      EnterAsTab(character, *this);
      return true;
    }
    default:
      return false;
  }
}

bool TOperatorDialog::FormKeyUp(QKeyEvent& key) {
  if (key.key() != kEscKey && key.key() != kF9Key) return false;
  if (key.isAutoRepeat()) return true;
  if (pressed_.erase(key.key()) == 0) return true;
  // Whatever the buttons' state: a dialog left busy by a failure can still be closed or retried.
  if (key.key() == kEscKey) {
    ExitAction();
  } else {
    RunHandler([this] { MainAction(); });
  }
  return true;
}

}  // namespace fesko::dlg

// What every operator dialog shares: the window (fixed size, title label, exit button), the
// keyboard (F9 and Esc act on release, Enter moves on like Tab except on a button), the three
// boxes (question, success, missing input) and the error road of its handlers.
#pragma once

#include <QDialog>
#include <QPushButton>
#include <functional>
#include <set>
#include <string_view>

#include "base/TextKinds.h"
#include "database/MDOErrors.h"

class QLabel;
class QLineEdit;
class QKeyEvent;

namespace fesko::dlg {

// Text across the Qt edge.
QString ToQString(std::u16string_view text);
WideString ToWide(const QString& text);
// An edit's text as the ANSI bytes the database and config.ini hold.
AnsiString ToAnsi(const QString& text);
QString FromAnsi(std::string_view ansi);

// When `key` is Enter (13) it is consumed (set to 0) and `form` moves the focus to its next
// control, as Tab would. Any other character passes unchanged.
void EnterAsTab(char16_t& key, QWidget& form);

// Removes blanks and control characters from both ends, then capitalises with the Windows-1252
// rules of the system's upper-casing (accented letters included, no letter changes length).
AnsiString TrimUpper(std::string_view text);

// Texts several dialogs share.
extern const std::u16string_view kMissingInputText;
extern const std::u16string_view kMissingInputCaption;
extern const std::u16string_view kSaveCaption;
extern const std::u16string_view kSaveButtonCaption;
extern const std::u16string_view kRegisteredCaption;
using db::kQueryErrorCaption;

class TOperatorDialog : public QDialog {
 public:
  // A dialog of `client` size with `caption` in its title bar and the label `title_name` showing
  // `title` across its top. The exit button (named `exit_name`) is made here; the dialog places
  // it.
  TOperatorDialog(QWidget* owner, std::u16string_view caption, const char* title_name,
                  std::u16string_view title, QSize client, const char* exit_name);
  ~TOperatorDialog() override;

  // Shows the dialog modally; FormShow runs once as it appears.
  int ShowModal();

  QLabel* TitleLabel() const { return title_; }
  QPushButton* ExitButton() const { return exit_; }

 protected:
  // Fills the dialog as it is shown; errors go to the standard error box.
  virtual void FormShow() = 0;
  // The main action, for its button and for F9.
  virtual void MainAction() = 0;
  // Wires the main button to MainAction.
  void SetMainButton(QPushButton* button);
  // The exit action: only closes the dialog.
  void ExitAction();

  // A Yes/No question owned by the application window; true on Yes.
  bool Ask(std::u16string_view text, std::u16string_view caption);
  // Success (information) and missing-input (warning) boxes, owned by this dialog.
  void Inform(std::u16string_view text, std::u16string_view caption);
  void Warn(std::u16string_view text, std::u16string_view caption);

  // Key preview: the dialog sees every key before its controls.
  bool FormKeyPress(QWidget* target, QKeyEvent& key);
  bool FormKeyUp(QKeyEvent& key);

  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QLabel* title_;
  QPushButton* exit_;
  QPushButton* main_ = nullptr;
  bool shown_ = false;
  // Keys pressed while this dialog had the keyboard: a release acts only after its own press,
  // so an Esc that closed a box does not close the dialog too.
  std::set<int> pressed_;
};

// A button with a picture (`icon`, a QStyle::StandardPixmap), placed by its owner.
QPushButton* MakeButton(QWidget* parent, const char* name, std::u16string_view caption, int icon);
// An edit at `geometry` in `parent` with its label to the left, `label_width` wide, or above it
// when `label_width` is 0.
QLineEdit* MakeEdit(QWidget* parent, const char* name, std::u16string_view label, QRect geometry,
                    int label_width);
// A plain label at `position`.
QLabel* MakeLabel(QWidget* parent, const char* name, std::u16string_view text, QPoint position);

}  // namespace fesko::dlg

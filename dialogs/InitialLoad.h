// What the initial-load dialogs share: the busy notice that stands while a load blocks the
// window, the trimming of a finished document, and the one call that sends it.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <initializer_list>

#include "base/TextKinds.h"
#include "web/Services.h"

namespace fesko::dlg {

// Shared by the list and initialise-everything dialogs.
extern const std::u16string_view kListShowError;
extern const std::u16string_view kListShowErrorCaption;
extern const std::u16string_view kListSendError;

// "Inicializando, Espere...", hidden until a load starts.
QLabel* MakeBusyNotice(QWidget* parent, const char* name, QPoint position);

// Busy: the notice shows and the buttons are disabled; idle: the reverse. The notice is
// repainted at once, because the upload that follows holds the thread until it returns.
void SetBusy(QLabel* notice, std::initializer_list<QPushButton*> buttons, bool busy);

// The document without the blanks and control characters around it; trimmed where it stands.
WideString TrimDocument(WideString document);

// Converts the account number to an integer (EConvertError when it is none) and sends the
// document to `service` on a fresh port. The reply is not examined.
void Upload(web::Service service, const WideString& base_url, const AnsiString& account,
            const WideString& document);

}  // namespace fesko::dlg

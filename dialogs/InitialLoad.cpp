#include "dialogs/InitialLoad.h"

#include "base/FormatSettings.h"
#include "base/TextHelpers.h"
#include "database/MDOErrors.h"
#include "dialogs/DialogConvention.h"

namespace fesko::dlg {

const std::u16string_view kListShowError = u"Error en la busqueda de estados";
const std::u16string_view kListShowErrorCaption = db::kQueryErrorCaptionCapitalised;
const std::u16string_view kListSendError = u"error en la busqueda de estados";

namespace {
constexpr std::u16string_view kBusyText = u"Inicializando, Espere...";
const QColor kTeal(0, 128, 128);
}  // namespace

QLabel* MakeBusyNotice(QWidget* parent, const char* name, QPoint position) {
  QLabel* notice = MakeLabel(parent, name, kBusyText, position);
  QFont font(QStringLiteral("Arial Narrow"));
  font.setPixelSize(15);
  notice->setFont(font);
  QPalette palette = notice->palette();
  palette.setColor(QPalette::WindowText, kTeal);
  notice->setPalette(palette);
  notice->adjustSize();
  notice->hide();
  return notice;
}

void SetBusy(QLabel* notice, std::initializer_list<QPushButton*> buttons, bool busy) {
  notice->setVisible(busy);
  for (QPushButton* button : buttons) button->setEnabled(!busy);
  notice->repaint();
}

WideString TrimDocument(WideString document) {
  std::u16string_view kept = Trim(document);
  std::size_t start = static_cast<std::size_t>(kept.data() - document.data());
  document.resize(start + kept.size());
  document.erase(0, start);
  return document;
}

void Upload(web::Service service, const WideString& base_url, const AnsiString& account,
            const WideString& document) {
  int idcompra = StrToInt(account);
  web::OpenServicePort(service, base_url).Execute(idcompra, document);
}

}  // namespace fesko::dlg

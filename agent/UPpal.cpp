#include "agent/UPpal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace fesko {
namespace {
constexpr int kStoredPollInterval = 6000000;
}

TFrmPpal::TFrmPpal(db::TDataModule1& data)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      data_(data) {
  setObjectName(QStringLiteral("FrmPpal"));
  setWindowTitle(QStringLiteral("Fesko15318"));
  setFixedSize(260, 90);
  txtcuenta = new QLineEdit(this);
  txtcuenta->setObjectName(QStringLiteral("txtcuenta"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(txtcuenta);
  Timer1 = new TTimer(kStoredPollInterval, this);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
  RunHandler([this] { FormCreate(); });
}

TFrmPpal::~TFrmPpal() = default;

void TFrmPpal::FormCreate() {}

void TFrmPpal::closeEvent(QCloseEvent* event) {
  // There is no close-to-tray: closing the main window ends the program.
  event->accept();
  QCoreApplication::quit();
}

}  // namespace fesko

#include "agent/TrayState.h"

#include <QTime>
#include <algorithm>
#include <cstddef>

namespace fesko {
namespace {
constexpr char kTrayHint[] = "Fesko 15318";
// Each trouble's line, by the order of TTrayState::Trouble; %1 is since when, %2 its detail.
constexpr const char* kLines[] = {
    "Sin conexión con la base de datos desde las %1",
    "El servicio web no responde desde las %1",
    "Configuración inválida desde las %1: %2",
    "Error local desde las %1",
};
}  // namespace

void TTrayState::Mark(Trouble trouble, bool stands, const QString& detail) {
  const auto at = static_cast<std::size_t>(trouble);
  if (stands == !since_[at].isEmpty()) return;
  since_[at] = stands ? QTime::currentTime().toString(QStringLiteral("HH:mm")) : QString();
  detail_[at] = stands ? detail : QString();
}

bool TTrayState::AnyTrouble() const {
  return std::ranges::any_of(since_, [](const QString& since) { return !since.isEmpty(); });
}

QString TTrayState::Hint() const {
  QString hint = QString::fromLatin1(kTrayHint);
  for (std::size_t at = 0; at < since_.size(); ++at) {
    if (since_[at].isEmpty()) continue;
    QString line = QString::fromUtf8(kLines[at]).arg(since_[at]);
    hint += u'\n' + (line.contains(QStringLiteral("%2")) ? line.arg(detail_[at]) : line);
  }
  return hint;
}

}  // namespace fesko

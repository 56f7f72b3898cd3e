// The troubles that stand, since when, and the tooltip that tells them under the program's name.
#pragma once

#include <QString>
#include <array>

namespace fesko {

class TTrayState {
 public:
  // In the order their lines follow the name.
  enum class Trouble { DatabaseLost, WebFailing, Settings, Local };

  // The trouble stands from now on (an earlier start and detail are kept) or is over.
  void Mark(Trouble trouble, bool stands, const QString& detail = {});
  bool AnyTrouble() const;
  // The program's name, then one line for each trouble that stands.
  QString Hint() const;

 private:
  static constexpr int kTroubles = 4;
  std::array<QString, kTroubles> since_;  // HH:mm, empty while it does not stand
  std::array<QString, kTroubles> detail_;
};

}  // namespace fesko

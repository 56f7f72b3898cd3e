// The reply of the download service: the budget states decided on the web, as code/state pairs
// between "<Orden>" and "<Estado>" tags in the returned text.
#pragma once

#include <vector>

#include "base/TextKinds.h"

namespace fesko::web {

// One code/state pair of the download reply, trimmed, as the web service sent it.
struct BudgetStateChange {
  WideString code;
  WideString state;
};

// The pairs of a download reply, in order. Empty when the reply is empty, carries an error
// text, or holds no "<Orden>". The scan stops at the first pair whose tags are missing or out
// of order, so a malformed reply can never keep it going.
std::vector<BudgetStateChange> ScanDownloadReply(WideString reply);

}  // namespace fesko::web

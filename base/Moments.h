// Arithmetic on the moments the sync markers hold: which of two comes first, and a moment some
// seconds before another, across midnight and month ends.
#pragma once

#include "base/FormatSettings.h"

namespace fesko {

long SecondsOf(const TimeOfDay& time);

bool Earlier(const DateAndTime& a, const DateAndTime& b);

DateAndTime SecondsBefore(const DateAndTime& moment, long seconds);

}  // namespace fesko

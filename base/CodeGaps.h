// The codes a new-row marker passed without a row to send. Codes are handed out before their
// transaction commits, so a lower code can commit after a higher one was sent; until then its
// code is a gap, looked for again by every new-row pass. Each gap keeps the server moment it was
// first seen, so that one a rolled-back insert or a deleted row left is dropped in time.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/FormatSettings.h"

namespace fesko {

struct CodeGap {
  int first = 0;
  int last = 0;
  DateAndTime seen;
  friend bool operator==(const CodeGap&, const CodeGap&) = default;
};

// Ranges of codes, none overlapping, in ascending order.
class CodeGaps {
 public:
  const std::vector<CodeGap>& Ranges() const { return ranges_; }
  bool empty() const { return ranges_.empty(); }
  bool Contains(int code) const;
  friend bool operator==(const CodeGaps&, const CodeGaps&) = default;

  // Adds first..last, seen at `seen`; nothing when first > last. The codes must not be gaps yet.
  void Add(int first, int last, const DateAndTime& seen);
  // Takes one code out of its range, splitting it where needed.
  void Remove(int code);
  // Drops every code from `code` up.
  void KeepBelow(int code);
  // A range first seen after `now` was seen before the clock went back: it counts as first seen
  // `now`, so that it is neither kept until the clock comes round again nor given up at once.
  void SeenNoLaterThan(const DateAndTime& now);
  // Drops the ranges first seen before `oldest`, all but the codes in `keep`.
  void DropSeenBefore(const DateAndTime& oldest, const std::set<int>& keep);

  // The text form in config.ini, whatever the locale: groups separated by ";", each the ranges
  // first seen at one moment, separated by ",", then "@" and the moment as "yyyy-mm-dd hh:mm:ss";
  // a range is "first-last" or one code. "" is no gap. Example:
  //   4-1101,1103@2026-12-09 22:55:00;1200@2026-12-09 22:56:10
  std::string Text() const;
  // Raises EConvertError for a text that is not of that form, or whose ranges overlap: a gap
  // read as absent would lose its row for good.
  static CodeGaps Parse(std::string_view text);

 private:
  std::vector<CodeGap> ranges_;
};

}  // namespace fesko

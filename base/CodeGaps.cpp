#include "base/CodeGaps.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <tuple>

#include "base/Errors.h"
#include "base/Moments.h"
#include "base/TextHelpers.h"

namespace fesko {
namespace {

constexpr std::u16string_view kInvalidGaps = u"'%s' is not a valid list of code gaps";

[[noreturn]] void RaiseInvalid(std::string_view text) {
  throw EConvertError(FormatMessage(kInvalidGaps, {AnsiToWide(text)}));
}

// A decimal integer taking the whole text, or false.
bool WholeInteger(std::string_view text, int& value) {
  text = Trim(text, kBlanksAndLineEnds);
  if (text.empty()) return false;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

bool ReadMoment(std::string_view text, DateAndTime& moment) {
  text = Trim(text, kBlanksAndLineEnds);
  // yyyy-mm-dd hh:mm:ss
  if (text.size() != 19 || text[4] != '-' || text[7] != '-' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':') {
    return false;
  }
  auto part = [&](std::size_t at, std::size_t length, int& value) {
    return WholeInteger(text.substr(at, length), value);
  };
  CalendarDate& d = moment.Date;
  TimeOfDay& t = moment.Time;
  return part(0, 4, d.Year) && part(5, 2, d.Month) && part(8, 2, d.Day) && part(11, 2, t.Hour) &&
         part(14, 2, t.Minute) && part(17, 2, t.Second) && IsValidDate(d) && IsValidTime(t);
}

bool ReadRange(std::string_view text, int& first, int& last) {
  text = Trim(text, kBlanksAndLineEnds);
  std::size_t dash = text.empty() ? std::string_view::npos : text.find('-', 1);
  if (dash == std::string_view::npos) return WholeInteger(text, first) && (last = first, true);
  return WholeInteger(text.substr(0, dash), first) && WholeInteger(text.substr(dash + 1), last) &&
         first <= last;
}

auto MomentKey(const DateAndTime& m) {
  return std::tuple(m.Date.Year, m.Date.Month, m.Date.Day, SecondsOf(m.Time));
}

}  // namespace

bool CodeGaps::Contains(int code) const {
  auto after = std::upper_bound(ranges_.begin(), ranges_.end(), code,
                                [](int c, const CodeGap& gap) { return c < gap.first; });
  return after != ranges_.begin() && std::prev(after)->last >= code;
}

void CodeGaps::Add(int first, int last, const DateAndTime& seen) {
  if (first > last) return;
  auto at = std::lower_bound(ranges_.begin(), ranges_.end(), first,
                             [](const CodeGap& gap, int c) { return gap.first < c; });
  ranges_.insert(at, {first, last, seen});
}

void CodeGaps::Remove(int code) {
  auto after = std::upper_bound(ranges_.begin(), ranges_.end(), code,
                                [](int c, const CodeGap& gap) { return c < gap.first; });
  if (after == ranges_.begin() || std::prev(after)->last < code) return;
  auto gap = std::prev(after);
  CodeGap upper{code, gap->last, gap->seen};
  if (gap->first == code) {
    gap = ranges_.erase(gap);
  } else {
    gap->last = code - 1;
    ++gap;
  }
  if (code < upper.last) {
    upper.first = code + 1;
    ranges_.insert(gap, upper);
  }
}

void CodeGaps::KeepBelow(int code) {
  while (!ranges_.empty() && ranges_.back().first >= code) ranges_.pop_back();
  if (!ranges_.empty() && ranges_.back().last >= code) ranges_.back().last = code - 1;
}

void CodeGaps::SeenNoLaterThan(const DateAndTime& now) {
  for (CodeGap& gap : ranges_) {
    if (Earlier(now, gap.seen)) gap.seen = now;
  }
}

void CodeGaps::DropSeenBefore(const DateAndTime& oldest, const std::set<int>& keep) {
  std::vector<CodeGap> kept;
  kept.reserve(ranges_.size());
  for (const CodeGap& gap : ranges_) {
    if (!Earlier(gap.seen, oldest)) {
      kept.push_back(gap);
      continue;
    }
    // Codes whose rows are about to be sent stay until they are.
    for (auto code = keep.lower_bound(gap.first); code != keep.end() && *code <= gap.last; ++code) {
      if (!kept.empty() && kept.back().last + 1 == *code && kept.back().seen == gap.seen) {
        kept.back().last = *code;
      } else {
        kept.push_back({*code, *code, gap.seen});
      }
    }
  }
  ranges_ = std::move(kept);
}

std::string CodeGaps::Text() const {
  std::map<decltype(MomentKey(DateAndTime{})), std::vector<const CodeGap*>> groups;
  for (const CodeGap& gap : ranges_) groups[MomentKey(gap.seen)].push_back(&gap);
  std::string out;
  char buffer[64];
  for (const auto& [key, gaps] : groups) {
    if (!out.empty()) out += ';';
    for (std::size_t i = 0; i < gaps.size(); ++i) {
      if (i > 0) out += ',';
      out += std::to_string(gaps[i]->first);
      if (gaps[i]->last != gaps[i]->first) out += '-' + std::to_string(gaps[i]->last);
    }
    const DateAndTime& seen = gaps.front()->seen;
    std::snprintf(buffer, sizeof buffer, "@%04d-%02d-%02d %02d:%02d:%02d", seen.Date.Year,
                  seen.Date.Month, seen.Date.Day, seen.Time.Hour, seen.Time.Minute,
                  seen.Time.Second);
    out += buffer;
  }
  return out;
}

CodeGaps CodeGaps::Parse(std::string_view text) {
  CodeGaps gaps;
  if (Trim(text, kBlanksAndLineEnds).empty()) return gaps;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = std::min(text.find(';', start), text.size());
    std::string_view group = text.substr(start, end - start);
    std::size_t at = group.rfind('@');
    DateAndTime seen;
    if (at == std::string_view::npos || !ReadMoment(group.substr(at + 1), seen)) {
      RaiseInvalid(text);
    }
    std::string_view ranges = group.substr(0, at);
    std::size_t from = 0;
    while (from <= ranges.size()) {
      std::size_t comma = std::min(ranges.find(',', from), ranges.size());
      int first = 0, last = 0;
      if (!ReadRange(ranges.substr(from, comma - from), first, last)) RaiseInvalid(text);
      gaps.ranges_.push_back({first, last, seen});
      from = comma + 1;
    }
    start = end + 1;
  }
  std::sort(gaps.ranges_.begin(), gaps.ranges_.end(),
            [](const CodeGap& a, const CodeGap& b) { return a.first < b.first; });
  for (std::size_t i = 1; i < gaps.ranges_.size(); ++i) {
    if (gaps.ranges_[i].first <= gaps.ranges_[i - 1].last) RaiseInvalid(text);
  }
  return gaps;
}

}  // namespace fesko

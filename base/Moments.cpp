#include "base/Moments.h"

#include <chrono>
#include <tuple>

namespace fesko {

long SecondsOf(const TimeOfDay& time) {
  return time.Hour * 3600L + time.Minute * 60L + time.Second;
}

bool Earlier(const DateAndTime& a, const DateAndTime& b) {
  auto key = [](const DateAndTime& m) {
    return std::tuple(m.Date.Year, m.Date.Month, m.Date.Day, SecondsOf(m.Time));
  };
  return key(a) < key(b);
}

DateAndTime SecondsBefore(const DateAndTime& moment, long seconds) {
  using namespace std::chrono;
  long second_of_day = SecondsOf(moment.Time) - seconds;
  long days_back = second_of_day >= 0 ? 0 : (-second_of_day + 86399) / 86400;
  second_of_day += days_back * 86400;
  year_month_day date{sys_days{year{moment.Date.Year} / moment.Date.Month / moment.Date.Day} -
                      days{days_back}};
  return {{static_cast<int>(date.year()), static_cast<int>(static_cast<unsigned>(date.month())),
           static_cast<int>(static_cast<unsigned>(date.day()))},
          {static_cast<int>(second_of_day / 3600), static_cast<int>(second_of_day / 60 % 60),
           static_cast<int>(second_of_day % 60)}};
}

}  // namespace fesko

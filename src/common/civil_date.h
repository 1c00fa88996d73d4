#pragma once
// Days since 1970-01-01 of a proleptic Gregorian date and back, for clocks
// that count local time without a zone (the survey's times, provisioning's
// clock check, the simulated repeater's clock).

#include <cstdint>

struct CivilDate {
  int year = 1970, month = 1, day = 1;
};

constexpr std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy =
      (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr CivilDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  CivilDate c;
  c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  c.year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (c.month <= 2));
  return c;
}

// Whole days and the milliseconds into the last one, for negative counts too.
constexpr std::int64_t FloorDiv(std::int64_t a, std::int64_t b) { return a >= 0 ? a / b : (a - b + 1) / b; }

// A count of milliseconds since 1970-01-01 00:00 as date and time of day.
struct CivilMoment {
  CivilDate date;
  int hour = 0, minute = 0, second = 0, msec = 0;
};

constexpr CivilMoment CivilFromMs(std::int64_t ms) {
  const std::int64_t days = FloorDiv(ms, 86400000);
  const std::int64_t rest = ms - days * 86400000;
  CivilMoment m;
  m.date = CivilFromDays(days);
  m.hour = static_cast<int>(rest / 3600000);
  m.minute = static_cast<int>(rest / 60000 % 60);
  m.second = static_cast<int>(rest / 1000 % 60);
  m.msec = static_cast<int>(rest % 1000);
  return m;
}

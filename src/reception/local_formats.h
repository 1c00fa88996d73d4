#pragma once
// Local date and time texts, as the log window, the table and the log files
// show them: the short date and the long time (with seconds, without time
// zone) of the system locale, and its decimal separator. Tests build one for
// a fixed locale; the clock is injectable so that output can be compared.

#include <QLocale>
#include <QString>
#include <cstdint>
#include <string>

struct LocalTime {
  int year = 2000, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0;
  int msec = 0;
  bool operator==(const LocalTime&) const = default;
};

// Milliseconds on the local calendar (1970-01-01 00:00 local = 0), no zone:
// sortable and comparable when both sides are local, and turned back into
// the same local date and time.
std::int64_t LocalMs(const LocalTime& t);
LocalTime FromLocalMs(std::int64_t ms);

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime Now() const = 0;
};

// The PC's local time. The time zone is looked at once per second, not per call.
class SystemClock : public Clock {
 public:
  LocalTime Now() const override;
};

// Always the same moment (tests, `--now`).
class FixedClock : public Clock {
 public:
  explicit FixedClock(LocalTime t) : m_time(t) {}
  LocalTime Now() const override { return m_time; }
  void Set(LocalTime t) { m_time = t; }

 private:
  LocalTime m_time;
};

// Parses "YYYY-MM-DD hh:mm[:ss]"; false on any other text or an invalid date.
bool ParseLocalTime(const std::string& text, LocalTime& out);

class LocalFormats {
 public:
  // The formats of the system locale.
  static LocalFormats System();
  // The formats of `locale` (tests use a fixed one).
  explicit LocalFormats(const QLocale& locale);
  // Explicit Qt date/time patterns, e.g. "dd.MM.yyyy", "HH:mm:ss".
  LocalFormats(QString shortDatePattern, QString longTimePattern, QChar decimalSeparator);

  std::string ShortDate(const LocalTime& t) const;
  std::string LongTime(const LocalTime& t) const;
  char DecimalSeparator() const { return m_decimal; }

  const QString& LongTimePattern() const { return m_timePattern; }

 private:
  QLocale m_locale;
  QString m_datePattern;
  QString m_timePattern;
  char m_decimal = '.';
  // Most texts are asked for many times within one second or one day.
  mutable LocalTime m_lastDate{0, 0, 0};
  mutable std::string m_lastDateText;
  mutable LocalTime m_lastTime{0, 0, 0, -1};
  mutable std::string m_lastTimeText;
};

// The date and time texts of "now", as the decoders write them.
class TimeTexts {
 public:
  TimeTexts(const Clock& clock, const LocalFormats& formats) : m_clock(clock), m_formats(formats) {}
  LocalTime Now() const { return m_clock.Now(); }
  std::string Date(const LocalTime& t) const { return m_formats.ShortDate(t); }
  std::string Time(const LocalTime& t) const { return m_formats.LongTime(t); }
  // "date, time: " as a telegram's log line starts; made once per second.
  const std::string& LinePrefix(const LocalTime& t) const;
  const LocalFormats& Formats() const { return m_formats; }

 private:
  const Clock& m_clock;
  const LocalFormats& m_formats;
  mutable LocalTime m_prefixTime;
  mutable std::string m_prefix;
};

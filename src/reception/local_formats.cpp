#include "local_formats.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QTime>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "civil_date.h"
#include "platform_system.h"

std::int64_t LocalMs(const LocalTime& t) {
  const std::int64_t days = DaysFromCivil(t.year, t.month, t.day);
  return ((days * 24 + t.hour) * 60 + t.minute) * 60000 + std::int64_t{t.second} * 1000 + t.msec;
}

LocalTime FromLocalMs(std::int64_t ms) {
  const CivilMoment m = CivilFromMs(ms);
  return LocalTime{m.date.year, m.date.month, m.date.day, m.hour, m.minute, m.second, m.msec};
}

LocalTime SystemClock::Now() const {
  platform::CivilTime t;
  if (!platform::LocalNow(t)) {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate d = now.date();
    const QTime tm = now.time();
    return {d.year(), d.month(), d.day(), tm.hour(), tm.minute(), tm.second(), tm.msec()};
  }
  return {t.year, t.month, t.day, t.hour, t.minute, t.second, t.msec};
}

bool ParseLocalTime(const std::string& text, LocalTime& out) {
  int y, mo, d, h, mi, s = 0;
  char tail = 0;
  const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail);
  if (n == 5) {
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d%c", &y, &mo, &d, &h, &mi, &tail) != 5) return false;
    s = 0;
  } else if (n != 6) {
    return false;
  }
  if (!QDate::isValid(y, mo, d) || !QTime::isValid(h, mi, s)) return false;
  out = LocalTime{y, mo, d, h, mi, s, 0};
  return true;
}

namespace {
// The long time format "with seconds, without time zone": Qt's long formats
// end in a time zone ("t"), which the program never shows.
QString StripTimeZone(QString pattern) {
  pattern.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*$")));
  pattern.remove(QRegularExpression(QStringLiteral("^\\s*t+\\s*")));
  return pattern.trimmed();
}
}  // namespace

LocalFormats LocalFormats::System() { return LocalFormats(QLocale::system()); }

LocalFormats::LocalFormats(const QLocale& locale)
    : m_locale(locale),
      m_datePattern(locale.dateFormat(QLocale::ShortFormat)),
      m_timePattern(StripTimeZone(locale.timeFormat(QLocale::LongFormat))) {
  const QString dec = locale.decimalPoint();
  m_decimal = dec.size() == 1 && dec[0].unicode() < 128 ? static_cast<char>(dec[0].unicode()) : '.';
}

LocalFormats::LocalFormats(QString shortDatePattern, QString longTimePattern, QChar decimalSeparator)
    : m_locale(QLocale::c()),
      m_datePattern(std::move(shortDatePattern)),
      m_timePattern(std::move(longTimePattern)),
      m_decimal(static_cast<char>(decimalSeparator.unicode() < 128 ? decimalSeparator.unicode() : '.')) {}

std::string LocalFormats::ShortDate(const LocalTime& t) const {
  if (t.year != m_lastDate.year || t.month != m_lastDate.month || t.day != m_lastDate.day ||
      m_lastDateText.empty()) {
    m_lastDateText = m_locale.toString(QDate(t.year, t.month, t.day), m_datePattern).toStdString();
    m_lastDate = t;
  }
  return m_lastDateText;
}

const std::string& TimeTexts::LinePrefix(const LocalTime& t) const {
  if (m_prefix.empty() || t.second != m_prefixTime.second || t.minute != m_prefixTime.minute ||
      t.hour != m_prefixTime.hour || t.day != m_prefixTime.day || t.month != m_prefixTime.month ||
      t.year != m_prefixTime.year) {
    m_prefix = Date(t);
    m_prefix += ", ";
    m_prefix += Time(t);
    m_prefix += ": ";
    m_prefixTime = t;
  }
  return m_prefix;
}

std::string LocalFormats::LongTime(const LocalTime& t) const {
  if (t.hour != m_lastTime.hour || t.minute != m_lastTime.minute || t.second != m_lastTime.second ||
      m_lastTimeText.empty()) {
    m_lastTimeText = m_locale.toString(QTime(t.hour, t.minute, t.second), m_timePattern).toStdString();
    m_lastTime = t;
  }
  return m_lastTimeText;
}

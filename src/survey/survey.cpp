#include "survey.h"

#include <QDateTime>
#include <algorithm>
#include <cstdio>

#include "civil_date.h"
#include "field_decoders.h"
#include "hex.h"

namespace survey {

namespace {

// The local UTC offset of a moment, in seconds. Asking the time zone is
// slow, and a survey's rows mostly share an hour, so the last hour is kept.
int LocalOffsetSeconds(const LocalTime& t) {
  static thread_local std::int64_t cachedHour = -1;
  static thread_local int cachedOffset = 0;
  const std::int64_t hour = DaysFromCivil(t.year, t.month, t.day) * 24 + t.hour;
  if (hour != cachedHour) {
    const QDateTime local(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));  // local time
    cachedOffset = local.isValid() ? local.offsetFromUtc() : 0;
    cachedHour = hour;
  }
  return cachedOffset;
}

}  // namespace

std::string IsoTime(const LocalTime& t, bool withMs) {
  const int offset = LocalOffsetSeconds(t);
  const int a = offset < 0 ? -offset : offset;
  char text[48];
  if (withMs)
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.msec, offset < 0 ? '-' : '+', a / 3600, a / 60 % 60);
  else
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, offset < 0 ? '-' : '+', a / 3600, a / 60 % 60);
  return text;
}

std::string IdText(std::uint32_t id) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) text += HexByte(static_cast<std::uint8_t>(id >> shift));
  return text;
}

void PathStats::Add(std::uint8_t rssi, std::int64_t at) {
  if (count == 0) {
    min = max = rssi;
    first = at;
  }
  ++count;
  last = rssi;
  min = std::min(min, rssi);
  max = std::max(max, rssi);
  sum += rssi;
  lastHeard = at;
}

Path MeterRecord::PathKind() const {
  if (direct.count && repeated.count) return Path::kBoth;
  return repeated.count ? Path::kRepeaterOnly : Path::kDirectOnly;
}

std::int64_t MeterRecord::FirstSeen() const {
  if (!direct.count) return repeated.first;
  if (!repeated.count) return direct.first;
  return std::min(direct.first, repeated.first);
}

std::int64_t MeterRecord::LastSeen() const {
  if (!direct.count) return repeated.lastHeard;
  if (!repeated.count) return direct.lastHeard;
  return std::max(direct.lastHeard, repeated.lastHeard);
}

Survey::Survey(std::size_t maxMeters) : m_max(maxMeters) {}

void Survey::OnFrameFacts(std::string_view, const FrameFacts& facts, const LocalTime& now) {
  if (facts.hasId && facts.kind != FrameFacts::Kind::kWrongCI) Add(facts, LocalMs(now));
}

namespace {

std::uint32_t SlotOf(std::uint32_t id, Role role, std::size_t mask) {
  const std::uint64_t key = std::uint64_t{id} << 1 | static_cast<std::uint64_t>(role);
  return static_cast<std::uint32_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & static_cast<std::uint32_t>(mask);
}

}  // namespace

MeterRecord* Survey::Find(std::uint32_t id, Role role) {
  if (m_slots.empty()) m_slots.assign(1024, 0);
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t s = SlotOf(id, role, mask);; s = (s + 1) & mask) {
    const std::uint32_t index = m_slots[s];
    if (index == 0) break;
    MeterRecord& r = m_records[index - 1];
    if (r.id == id && r.role == role) return &r;
  }
  if (m_records.size() >= m_max) return nullptr;

  if ((m_records.size() + 1) * 2 > m_slots.size()) {
    m_slots.assign(m_slots.size() * 2, 0);
    const std::size_t newMask = m_slots.size() - 1;
    for (std::size_t i = 0; i < m_records.size(); ++i) {
      std::size_t s = SlotOf(m_records[i].id, m_records[i].role, newMask);
      while (m_slots[s]) s = (s + 1) & newMask;
      m_slots[s] = static_cast<std::uint32_t>(i + 1);
    }
  }
  const std::size_t newMask = m_slots.size() - 1;
  std::size_t s = SlotOf(id, role, newMask);
  while (m_slots[s]) s = (s + 1) & newMask;
  MeterRecord& r = m_records.emplace_back();
  r.id = id;
  r.role = role;
  m_slots[s] = static_cast<std::uint32_t>(m_records.size());
  return &r;
}

void Survey::Add(const FrameFacts& facts, std::int64_t at) {
  if (!facts.hasId || facts.kind == FrameFacts::Kind::kWrongCI) return;
  ++m_generation;
  MeterRecord* r = Find(facts.id, facts.kind == FrameFacts::Kind::kAnswer ? Role::kRepeater : Role::kMeter);
  if (!r) {
    ++m_notTracked;
    return;
  }
  r->manufacturer[0] = facts.manufacturer[0];
  r->manufacturer[1] = facts.manufacturer[1];
  if (facts.hasType) r->medium = facts.medium;
  (facts.repeated ? r->repeated : r->direct).Add(facts.rssi, at);
}

void Survey::Clear() {
  m_records.clear();
  m_slots.clear();
  m_notTracked = 0;
  ++m_generation;
}

const char* const kColumnNames[kColumnCount] = {"id",
                                                "manufacturer",
                                                "medium",
                                                "role",
                                                "direct_count",
                                                "direct_rssi_last",
                                                "direct_rssi_min",
                                                "direct_rssi_mean",
                                                "direct_rssi_max",
                                                "repeated_count",
                                                "repeated_rssi_last",
                                                "repeated_rssi_min",
                                                "repeated_rssi_mean",
                                                "repeated_rssi_max",
                                                "first_seen",
                                                "last_seen",
                                                "path"};

const char* PathName(Path p) {
  switch (p) {
    case Path::kRepeaterOnly:
      return "repeater only";
    case Path::kBoth:
      return "both";
    default:
      return "direct only";
  }
}

namespace {

std::string Mean1(double mean) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", mean);
  return text;
}

const PathStats* StatsOf(const MeterRecord& r, Column c) {
  if (c >= Column::kDirectCount && c <= Column::kDirectMax) return &r.direct;
  if (c >= Column::kRepeatedCount && c <= Column::kRepeatedMax) return &r.repeated;
  return nullptr;
}

// The column's position within a path's five: count, last, min, mean, max.
int PathField(Column c) {
  const int i = static_cast<int>(c);
  return i <= static_cast<int>(Column::kDirectMax) ? i - static_cast<int>(Column::kDirectCount)
                                                   : i - static_cast<int>(Column::kRepeatedCount);
}

}  // namespace

double RepeaterGain(const MeterRecord& r) { return r.direct.Mean() - r.repeated.Mean(); }

std::string PathText(const MeterRecord& r) {
  if (r.PathKind() != Path::kBoth) return PathName(r.PathKind());
  const double diff = RepeaterGain(r);
  std::string d = Mean1(diff);
  if (d == "-0.0") d = "0.0";
  return std::string("both (") + (diff >= 0 && d[0] != '-' ? "+" : "") + d + ")";
}

bool CellIsNumber(Column c) { return c >= Column::kDirectCount && c <= Column::kRepeatedMax; }

bool CellIsEmpty(const MeterRecord& r, Column c) {
  const PathStats* s = StatsOf(r, c);
  return s && s->count == 0 && PathField(c) != 0;
}

std::string CellText(const MeterRecord& r, Column c) {
  if (const PathStats* s = StatsOf(r, c)) {
    const int field = PathField(c);
    if (field == 0) return std::to_string(s->count);
    if (s->count == 0) return std::string();
    switch (field) {
      case 1:
        return std::to_string(s->last);
      case 2:
        return std::to_string(s->min);
      case 3:
        return Mean1(s->Mean());
      default:
        return std::to_string(s->max);
    }
  }
  switch (c) {
    case Column::kId:
      return IdText(r.id);
    case Column::kManufacturer:
      return ManufacturerText(r.manufacturer[0], r.manufacturer[1]);
    case Column::kMedium:
      return MediumText(r.medium);
    case Column::kRole:
      return r.role == Role::kRepeater ? "repeater" : "meter";
    case Column::kFirstSeen:
      return IsoTime(FromLocalMs(r.FirstSeen()), false);
    case Column::kLastSeen:
      return IsoTime(FromLocalMs(r.LastSeen()), false);
    case Column::kPath:
      return PathName(r.PathKind());
    default:
      return std::string();
  }
}

namespace {

// A sortable number for the numeric columns; -1 for a path never heard.
double SortValue(const MeterRecord& r, Column c) {
  if (const PathStats* s = StatsOf(r, c)) {
    const int field = PathField(c);
    if (field == 0) return s->count;
    if (s->count == 0) return -1;
    switch (field) {
      case 1:
        return s->last;
      case 2:
        return s->min;
      case 3:
        return s->Mean();
      default:
        return s->max;
    }
  }
  switch (c) {
    case Column::kFirstSeen:
      return static_cast<double>(r.FirstSeen());
    case Column::kLastSeen:
      return static_cast<double>(r.LastSeen());
    case Column::kRole:
      return static_cast<double>(r.role);
    case Column::kMedium:
      return r.medium;
    case Column::kPath:
      // Grouped by path; "both" by how much the repeater gains.
      return static_cast<int>(r.PathKind()) * 1000.0 + (r.PathKind() == Path::kBoth ? RepeaterGain(r) : 0.0);
    default:
      return 0;
  }
}

}  // namespace

std::vector<int> SortedRows(const std::vector<MeterRecord>& records, Column by, bool descending,
                            std::uint32_t minCount) {
  std::vector<int> rows;
  rows.reserve(records.size());
  for (std::size_t i = 0; i < records.size(); ++i)
    if (records[i].Count() >= minCount) rows.push_back(static_cast<int>(i));
  auto key = [&](int i) { return std::pair(records[i].id, records[i].role); };
  auto tie = [&](int a, int b) { return key(a) < key(b); };
  if (by == Column::kId || by == Column::kCount) {
    std::sort(rows.begin(), rows.end(), [&](int a, int b) { return descending ? tie(b, a) : tie(a, b); });
    return rows;
  }
  if (by == Column::kManufacturer) {
    // The three letters sort as the 16-bit code does only within a letter
    // range, so compare the texts.
    std::vector<std::string> text(records.size());
    for (int i : rows) text[i] = ManufacturerText(records[i].manufacturer[0], records[i].manufacturer[1]);
    std::sort(rows.begin(), rows.end(), [&](int a, int b) {
      if (text[a] != text[b]) return descending ? text[b] < text[a] : text[a] < text[b];
      return tie(a, b);
    });
    return rows;
  }
  std::vector<double> value(records.size());
  for (int i : rows) value[i] = SortValue(records[i], by);
  std::sort(rows.begin(), rows.end(), [&](int a, int b) {
    if (value[a] != value[b]) return descending ? value[b] < value[a] : value[a] < value[b];
    return tie(a, b);
  });
  return rows;
}

namespace {

void AppendCell(std::string& out, const std::string& cell, const std::string& separator) {
  const bool quote = (!separator.empty() && cell.find(separator) != std::string::npos) ||
                     cell.find_first_of("\"\r\n") != std::string::npos;
  if (!quote) {
    out += cell;
    return;
  }
  out += '"';
  for (char ch : cell) {
    if (ch == '"') out += '"';
    out += ch;
  }
  out += '"';
}

}  // namespace

std::string DelimitedText(const std::vector<MeterRecord>& records, const std::vector<int>& rows,
                          const std::string& separator, const char* lineEnd) {
  std::string out;
  out.reserve((rows.size() + 1) * 160);
  for (int c = 0; c < kColumnCount; ++c) {
    if (c) out += separator;
    out += kColumnNames[c];
  }
  out += lineEnd;
  for (int i : rows) {
    for (int c = 0; c < kColumnCount; ++c) {
      if (c) out += separator;
      AppendCell(out, CellText(records[i], static_cast<Column>(c)), separator);
    }
    out += lineEnd;
  }
  return out;
}

}  // namespace survey

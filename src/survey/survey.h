#pragma once
// The site survey: per meter ID, how often and how strongly each path was
// heard, directly and through the repeater. Fed by the receive path as a
// FrameObserver, so it sees every frame whatever the log and table show.
// Memory is bounded: one fixed-size record per meter, a fixed number of them.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "frame_facts.h"

namespace survey {

// The survey's times are LocalMs: sortable, and turned back into the same
// local date and time for output.
using ::FromLocalMs;
using ::LocalMs;
// "2026-12-08T21:12:16+01:00" (with ".123" before the offset when `withMs`).
std::string IsoTime(const LocalTime& t, bool withMs);

// The ID's 8 hex digits, as the table's "Meter ID " column.
std::string IdText(std::uint32_t id);

struct PathStats {
  std::uint32_t count = 0;
  // Halved signal values as the table shows them: dBm without the minus
  // sign, so the smaller number is the stronger signal and `min` the best.
  std::uint8_t last = 0, min = 0, max = 0;
  std::uint64_t sum = 0;
  std::int64_t first = 0, lastHeard = 0;  // LocalMs

  void Add(std::uint8_t rssi, std::int64_t at);
  double Mean() const { return count ? static_cast<double>(sum) / count : 0.0; }
};

enum class Role : std::uint8_t { kMeter, kRepeater };
enum class Path : std::uint8_t { kDirectOnly, kRepeaterOnly, kBoth };

struct MeterRecord {
  std::uint32_t id = 0;
  std::uint8_t manufacturer[2] = {0, 0};  // as last heard
  std::uint8_t medium = 0;
  Role role = Role::kMeter;
  PathStats direct, repeated;

  Path PathKind() const;
  std::uint32_t Count() const { return direct.count + repeated.count; }
  std::int64_t FirstSeen() const;
  std::int64_t LastSeen() const;
};

class Survey : public FrameObserver {
 public:
  static constexpr std::size_t kMaxMeters = 100000;

  explicit Survey(std::size_t maxMeters = kMaxMeters);

  void OnFrameFacts(std::string_view frame, const FrameFacts& facts, const LocalTime& now) override;
  // One frame's facts; frames without an ID and refused wrong-CI frames do not count.
  void Add(const FrameFacts& facts, std::int64_t at);
  void Clear();

  // In the order first heard.
  const std::vector<MeterRecord>& Records() const { return m_records; }
  // Telegrams of meters that found no free record.
  std::uint64_t NotTracked() const { return m_notTracked; }
  // Changes with every counted telegram and every Clear: a view redraws only then.
  std::uint64_t Generation() const { return m_generation; }
  std::size_t MaxMeters() const { return m_max; }

 private:
  MeterRecord* Find(std::uint32_t id, Role role);

  std::size_t m_max;
  std::vector<MeterRecord> m_records;
  // Open addressing over record index + 1 (0 = free), at most half full.
  std::vector<std::uint32_t> m_slots;
  std::uint64_t m_notTracked = 0;
  std::uint64_t m_generation = 0;
};

// The columns of the CSV file, the JSON objects and the window's table, in this order.
enum class Column {
  kId,
  kManufacturer,
  kMedium,
  kRole,
  kDirectCount,
  kDirectLast,
  kDirectMin,
  kDirectMean,
  kDirectMax,
  kRepeatedCount,
  kRepeatedLast,
  kRepeatedMin,
  kRepeatedMean,
  kRepeatedMax,
  kFirstSeen,
  kLastSeen,
  kPath,
  kCount
};
constexpr int kColumnCount = static_cast<int>(Column::kCount);
extern const char* const kColumnNames[kColumnCount];

// "direct only", "repeater only", "both".
const char* PathName(Path p);
// How many dB stronger the repeated copy is than the direct one, on the
// means: the direct value minus the repeated one (positive: the repeater helps).
double RepeaterGain(const MeterRecord& r);
// The derived column as the window shows it: "both" followed by
// RepeaterGain with one decimal and its sign, e.g. "both (+3.5)".
std::string PathText(const MeterRecord& r);

// A cell's text; empty for a path never heard. The mean has one decimal.
std::string CellText(const MeterRecord& r, Column c);
// Whether the cell is a number (JSON writes it as one) or absent (null).
bool CellIsNumber(Column c);
bool CellIsEmpty(const MeterRecord& r, Column c);

// Indices into `records` of those heard at least `minCount` times, sorted by
// `by` (then by ID and role). A path never heard sorts before any value.
std::vector<int> SortedRows(const std::vector<MeterRecord>& records, Column by, bool descending,
                            std::uint32_t minCount);

// Delimited text with a header row of kColumnNames; cells holding the
// separator or a quote are quoted.
std::string DelimitedText(const std::vector<MeterRecord>& records, const std::vector<int>& rows,
                          const std::string& separator, const char* lineEnd);

}  // namespace survey

#pragma once
// DecodeTelegram: what the operator sees of one received frame. A log line
// for every accepted telegram, the selected repeater's frames handed to the
// answer decoder, and repeated meters written into the telegram table.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame_facts.h"
#include "local_formats.h"
#include "log_sink.h"
#include "string_grid.h"

// The controls the decoder reads, taken at the moment of decoding.
struct DecodeOptions {
  bool discardWrongCI = true;  // Check_wrongCI, "Discard if wrong CI"
  bool onlyRepeater = false;   // Check_onlyRepeater, "Show only service data"
  std::string repeaterId;      // Edit_repeaterID
  std::string newId;           // Edit_newID
  bool noNew = false;          // Check_noNew, "Do not add new"
  // Further IDs whose frames are repeater answers: the repeaters being provisioned.
  std::vector<std::string> answerIds;
};

// Telegram table columns and their titles.
enum TableColumn : int {
  kColNumber = 0,
  kColMeterId,
  kColManufacturer,
  kColAuxId,
  kColControl,
  kColMedium,
  kColRssi,
  kColTime,
  kColDate,
  kColNotes,
  kColTelegram,
  kTableColumns
};
extern const char* const kTableTitles[kTableColumns];

// A fresh telegram table: titles and one empty data row.
StringGrid MakeTelegramTable();

// Meter ID -> row of the telegram table, rebuilt whenever someone else
// changed the table (delete, clear, import), so a busy site with a thousand
// meters costs one probe of a small flat table per telegram instead of a scan
// (a node-based map cost a cache miss or two per telegram at line rate).
class MeterRowIndex {
 public:
  // The last (highest) data row whose column 1 equals `meterId`, or 0.
  int Find(const StringGrid& table, std::string_view meterId);
  // The decoder wrote `meterId` into `row`.
  void Written(const StringGrid& table, std::string_view meterId, int row);

 private:
  struct Slot {
    std::string id;
    int row = 0;  // 0: free
  };
  void Rebuild(const StringGrid& table);
  // The slot holding `id`, or the free one where it belongs.
  Slot& Probe(std::string_view id);
  // Row `row` for `id` where it is higher than the one held (later rows win).
  void Raise(std::string_view id, int row);
  std::vector<Slot> m_slots;  // open addressing, a power of two long
  size_t m_used = 0;
  std::uint64_t m_version = ~std::uint64_t{0};
};

struct TelegramContext {
  LogSink& log;
  StringGrid& table;
  const TimeTexts& time;
  // The selected repeater's frames (DecodeRepeaterAnswer).
  std::function<void(std::string_view frame)> repeaterAnswer;
  // First status bar panel ("Last read device: ...").
  std::function<void(const std::string& text)> setStatus;
  // A table row was written: the chart is rebuilt from the table.
  std::function<void(int row)> rowWritten;
  MeterRowIndex* index = nullptr;  // optional
  // The time of the receive event being decoded: every frame of one event
  // has the same, and the clock is read once per event. Empty: read it per frame.
  std::optional<LocalTime> eventTime = std::nullopt;
  FrameObserver* observer = nullptr;  // optional: told of every frame first
  // False when nobody will read the table (a decode with no table file):
  // the decoder then leaves the table, the status text and rowWritten alone,
  // which is over half of its work per telegram. The log is the same.
  bool updateTable = true;
  // True when only the observer reads the frames (the survey): the decoder
  // logs nothing of them and leaves the table alone. A failure of the
  // receive path is still logged.
  bool onlyObserver = false;
};

// The CI values accepted when "Discard if wrong CI" is on.
bool IsAcceptedCI(std::uint8_t ci);

// Meter ID text of a frame: ID bytes at offsets 8, 7, 6, 5 as 8 hex digits;
// empty when the frame is too short to carry them.
std::string MeterIdText(std::string_view frame);

void DecodeTelegram(std::string_view frame, const DecodeOptions& options, TelegramContext& ctx);

// Integer value of a cell as the grid routines read it: optional sign and
// decimal digits only; anything else gives `fallback`.
int CellToInt(const std::string& text, int fallback);

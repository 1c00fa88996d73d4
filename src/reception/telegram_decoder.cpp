#include "telegram_decoder.h"

#include <algorithm>
#include <charconv>
#include <exception>

#include "field_decoders.h"
#include "hex.h"
#include "plain_text.h"

const char* const kTableTitles[kTableColumns] = {
    "No. ",       "Meter ID ", "MFR ",  "Aux ID ", "Control fields ", "Medium ",
    "RSSI, dBm ", "Time ",     "Date ", "Notes ",  "Full telegram "};

StringGrid MakeTelegramTable() {
  StringGrid grid(kTableColumns, 2);
  for (int c = 0; c < kTableColumns; ++c) grid.SetCell(c, 0, kTableTitles[c]);
  return grid;
}

int CellToInt(const std::string& text, int fallback) {
  return ParseDecimalText(text, {.plusSign = true}).value_or(fallback);
}

namespace {
std::uint64_t IdHash(std::string_view id) {
  std::uint64_t h = 0xCBF29CE484222325ULL;
  for (char c : id) h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
  return h ^ (h >> 32);
}
}  // namespace

MeterRowIndex::Slot& MeterRowIndex::Probe(std::string_view id) {
  const size_t mask = m_slots.size() - 1;
  for (size_t i = IdHash(id) & mask;; i = (i + 1) & mask) {
    Slot& slot = m_slots[i];
    if (slot.row == 0 || TextsEqual(slot.id, id)) return slot;
  }
}

void MeterRowIndex::Raise(std::string_view id, int row) {
  // At most half full, so a probe ends soon and always finds a free slot.
  if (m_slots.empty() || 2 * (m_used + 1) > m_slots.size()) {
    std::vector<Slot> old = std::move(m_slots);
    m_slots.assign(std::max<size_t>(64, 2 * old.size()), Slot());
    m_used = 0;
    for (Slot& s : old)
      if (s.row != 0) {
        Slot& to = Probe(s.id);
        to = std::move(s);
        ++m_used;
      }
  }
  Slot& slot = Probe(id);
  if (slot.row == 0) {
    slot.id.assign(id.data(), id.size());
    ++m_used;
  }
  if (slot.row < row) slot.row = row;
}

void MeterRowIndex::Rebuild(const StringGrid& table) {
  for (Slot& s : m_slots) s.row = 0;
  m_used = 0;
  for (int r = 1; r < table.RowCount(); ++r) {
    const std::string& id = table.Cell(kColMeterId, r);
    if (!id.empty()) Raise(id, r);
  }
  m_version = table.Version();
}

int MeterRowIndex::Find(const StringGrid& table, std::string_view meterId) {
  if (m_version != table.Version()) Rebuild(table);
  if (m_slots.empty()) return 0;
  return Probe(meterId).row;
}

void MeterRowIndex::Written(const StringGrid& table, std::string_view meterId, int row) {
  // Only our own write happened since the last lookup when the index was
  // current before it; otherwise the next Find rebuilds anyway.
  if (!meterId.empty() && row > 0) Raise(meterId, row);
  m_version = table.Version();
}

bool IsAcceptedCI(std::uint8_t ci) {
  switch (ci) {
    case 0x71:
    case 0x72:
    case 0x78:
    case 0x7A:
    case 0x8D:
    case 0xA0:
    case 0xA2:
      return true;
    default:
      return false;
  }
}

std::string MeterIdText(std::string_view frame) {
  if (frame.size() < 11) return std::string();  // the ID ends at offset 8, before the signal byte
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string id(8, '0');
  for (size_t k = 0; k < 4; ++k) {
    const std::uint8_t b = ByteAt(frame, 8 - k);
    id[2 * k] = kDigits[b >> 4];
    id[2 * k + 1] = kDigits[b & 0x0F];
  }
  return id;
}

namespace {

// Texts built per frame, kept from one frame to the next so that a warm
// receive path allocates nothing.
struct Scratch {
  std::string hex;
  std::string notes;
  std::string status;
  std::string line;
};

Scratch& DecodeScratch() {
  thread_local Scratch scratch;
  return scratch;
}

void PutHex2(char* at, std::uint8_t value) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  at[0] = kDigits[value >> 4];
  at[1] = kDigits[value & 0x0F];
}

std::string_view DecimalText(char (&buffer)[16], int value) {
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  (void)ec;
  return std::string_view(buffer, static_cast<size_t>(end - buffer));
}

void PutHex8(char* at, std::uint32_t value) {
  for (int k = 0; k < 4; ++k) PutHex2(at + 2 * k, static_cast<std::uint8_t>(value >> (24 - 8 * k)));
}

void LogWrongCI(std::string_view frame, std::uint8_t ci, std::string_view hex, const LocalTime& now,
                TelegramContext& ctx) {
  std::string& line = DecodeScratch().line;
  line.assign("Wrong CI-field - ");
  line += HexByte(ci);
  line += ", full frame below, at ";
  line += ctx.time.Time(now);
  line += ", ";
  line += ctx.time.Date(now);
  ctx.log.AppendLine(line);
  ctx.log.AppendTelegramLine({}, frame, hex);
}

// The meter's row: the last one holding its ID, or a new one; 0 when
// "Do not add new" keeps a meter out.
int RowOf(std::string_view meterId, const DecodeOptions& options, TelegramContext& ctx) {
  StringGrid& table = ctx.table;
  int row = 0;
  if (ctx.index) {
    row = ctx.index->Find(table, meterId);
  } else {
    for (int r = 1; r < table.RowCount(); ++r)
      if (table.Cell(kColMeterId, r) == meterId) row = r;
  }
  if (row != 0 || options.noNew) return row;
  const bool onlyEmptyRow = table.RowCount() == 2 && table.Cell(kColNumber, 1).empty();
  if (table.RowCount() > 2 || !onlyEmptyRow) table.SetRowCount(table.RowCount() + 1);
  return table.RowCount() - 1;
}

void WriteRow(int row, std::string_view meterId, const FrameFacts& f, std::string_view hex,
              const LocalTime& now, TelegramContext& ctx) {
  StringGrid& table = ctx.table;
  char number[16];
  table.SetCellText(kColNumber, row, DecimalText(number, CellToInt(table.Cell(kColNumber, row - 1), 0) + 1));
  table.SetCellText(kColMeterId, row, meterId);
  char control[] = "C=0x??, Stat=0x??, SIG=0x??";
  PutHex2(control + 4, f.c);
  PutHex2(control + 15, f.status);
  PutHex2(control + 25, f.config1);
  table.SetCellText(kColControl, row, std::string_view(control, sizeof control - 1));
  table.SetCellText(kColManufacturer, row, ManufacturerText(f.manufacturer[0], f.manufacturer[1]));
  table.SetCellText(kColMedium, row, MediumText(f.medium));
  char aux[8];
  if (f.hasAux) PutHex8(aux, f.auxId);
  table.SetCellText(kColAuxId, row, f.hasAux ? std::string_view(aux, sizeof aux) : std::string_view());
  char rssi[16];
  table.SetCellText(kColRssi, row, DecimalText(rssi, f.rssi));
  table.SetCellText(kColTelegram, row, hex);
  table.SetCellText(kColTime, row, ctx.time.Time(now));
  table.SetCellText(kColDate, row, ctx.time.Date(now));
  std::string& notes = DecodeScratch().notes;
  notes.clear();
  if (f.ci == 0x78)
    notes.assign("Not encrypted (no header)");
  else
    AppendEncryptionText(notes, f.config1, f.config2);
  table.SetCellText(kColNotes, row, notes);
}

// A repeated meter's telegram into its row of the table.
void TableTelegram(const FrameFacts& f, std::string_view hex, const DecodeOptions& options,
                   const LocalTime& now, TelegramContext& ctx) {
  char idText[8];
  PutHex8(idText, f.id);
  const std::string_view meterId(idText, sizeof idText);
  if (!f.repeated) return;
  const int row = RowOf(meterId, options, ctx);
  if (row == 0) return;
  try {
    WriteRow(row, meterId, f, hex, now, ctx);
  } catch (const std::exception& e) {
    ctx.log.AppendLine(ctx.time.Date(now) + ": " + e.what());
    return;
  }
  if (ctx.index) ctx.index->Written(ctx.table, meterId, row);
  if (ctx.setStatus) {
    std::string& status = DecodeScratch().status;
    status.assign("Last read device: ");
    status += meterId;
    ctx.setStatus(status);
  }
  if (ctx.rowWritten) ctx.rowWritten(row);
}

}  // namespace

void DecodeTelegram(std::string_view frame, const DecodeOptions& options, TelegramContext& ctx) {
  const LocalTime now = ctx.eventTime ? *ctx.eventTime : ctx.time.Now();
  const FrameFacts facts = ReadFrameFacts(frame, options);
  if (ctx.observer) ctx.observer->OnFrameFacts(frame, facts, now);
  if (ctx.onlyObserver) return;
  std::string& hexText = DecodeScratch().hex;
  hexText.clear();
  AppendHexText(hexText, frame);
  const std::string_view hex = hexText;

  if (facts.kind == FrameFacts::Kind::kWrongCI) return LogWrongCI(frame, facts.ci, hex, now, ctx);
  const bool answer = facts.kind == FrameFacts::Kind::kAnswer;
  if (!options.onlyRepeater || answer) ctx.log.AppendTelegramLine(ctx.time.LinePrefix(now), frame, hex);
  if (answer) {
    if (ctx.repeaterAnswer) ctx.repeaterAnswer(frame);
    return;
  }
  if (facts.kind == FrameFacts::Kind::kTelegram && ctx.updateTable)
    TableTelegram(facts, hex, options, now, ctx);
}

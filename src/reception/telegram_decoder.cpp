#include "telegram_decoder.h"

#include <charconv>
#include <exception>

#include "field_decoders.h"
#include "hex.h"

const char* const kTableTitles[kTableColumns] = {
    "No. ",   "Meter ID ",  "MFR ",  "Aux ID ", "Control fields ", "Medium ",
    "RSSI, dBm ", "Time ", "Date ", "Notes ", "Full telegram "};

StringGrid MakeTelegramTable() {
  StringGrid grid(kTableColumns, 2);
  for (int c = 0; c < kTableColumns; ++c) grid.SetCell(c, 0, kTableTitles[c]);
  return grid;
}

int CellToInt(const std::string& text, int fallback) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  int value = 0;
  const auto [ptr, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || ptr != last || first == last) return fallback;
  return value;
}

void MeterRowIndex::Rebuild(const StringGrid& table) {
  m_rows.clear();
  for (int r = 1; r < table.RowCount(); ++r) {
    const std::string& id = table.Cell(kColMeterId, r);
    if (!id.empty()) m_rows[id] = r;  // later rows win
  }
  m_version = table.Version();
}

int MeterRowIndex::Find(const StringGrid& table, const std::string& meterId) {
  if (m_version != table.Version()) Rebuild(table);
  const auto it = m_rows.find(meterId);
  return it == m_rows.end() ? 0 : it->second;
}

void MeterRowIndex::Written(const StringGrid& table, const std::string& meterId, int row) {
  // Only our own write happened since the last lookup when the index was
  // current before it; otherwise the next Find rebuilds anyway.
  auto& slot = m_rows[meterId];
  if (slot < row) slot = row;
  m_version = table.Version();
}

bool IsAcceptedCI(std::uint8_t ci) {
  switch (ci) {
    case 0x71: case 0x72: case 0x78: case 0x7A: case 0x8D: case 0xA0: case 0xA2:
      return true;
    default:
      return false;
  }
}

namespace {

// The telegram proper lies between the length byte and the signal-strength
// byte; a field counts only when it lies wholly inside it, so a short frame
// never has its signal or end byte read as a header field.
bool HasField(std::string_view frame, size_t lastOffset) { return lastOffset + 3 <= frame.size(); }

std::string Hex2(std::string_view frame, size_t offset) { return HexByte(ByteAt(frame, offset)); }

}  // namespace

std::string MeterIdText(std::string_view frame) {
  if (!HasField(frame, 8)) return std::string();
  std::string id;
  id.reserve(8);
  for (size_t off : {8u, 7u, 6u, 5u}) id += Hex2(frame, off);
  return id;
}

void DecodeTelegram(std::string_view frame, const DecodeOptions& options, TelegramContext& ctx) {
  const LocalTime now = ctx.eventTime ? *ctx.eventTime : ctx.time.Now();
  std::string hex = HexText(frame);

  const bool hasCI = HasField(frame, 11);
  const std::uint8_t ci = hasCI ? ByteAt(frame, 11) : 0;
  if (options.discardWrongCI && hasCI && !IsAcceptedCI(ci)) {
    ctx.log.AppendLine("Wrong CI-field - " + HexByte(ci) + ", full frame below, at " + ctx.time.Time(now) +
                       ", " + ctx.time.Date(now));
    ctx.log.AppendLine(hex);
    return;
  }

  const std::string meterId = MeterIdText(frame);
  const bool isRepeater =
      !meterId.empty() && (meterId == options.repeaterId || meterId == options.newId);

  if (!options.onlyRepeater || isRepeater) {
    std::string line = ctx.time.Date(now);
    line += ", ";
    line += ctx.time.Time(now);
    line += ": ";
    line += hex;
    ctx.log.AppendLine(line);
  }

  if (isRepeater) {
    if (ctx.repeaterAnswer) ctx.repeaterAnswer(frame);
    return;
  }
  if (meterId.empty() || !hasCI) return;  // too short to be a meter's telegram

  StringGrid& table = ctx.table;
  int row = 0;
  if (ctx.index) {
    row = ctx.index->Find(table, meterId);
  } else {
    for (int r = 1; r < table.RowCount(); ++r)
      if (table.Cell(kColMeterId, r) == meterId) row = r;
  }
  if (row == 0 && options.noNew) return;

  std::uint8_t status = 0, config1 = 0, config2 = 0;
  bool hasHeader = false;
  switch (ci) {
    case 0x7A:
      hasHeader = HasField(frame, 15);
      if (hasHeader) status = ByteAt(frame, 13), config1 = ByteAt(frame, 14), config2 = ByteAt(frame, 15);
      break;
    case 0x72:
      hasHeader = HasField(frame, 23);
      if (hasHeader) status = ByteAt(frame, 21), config1 = ByteAt(frame, 22), config2 = ByteAt(frame, 23);
      break;
    case 0x78:
      hasHeader = HasField(frame, 22);
      if (hasHeader) status = ByteAt(frame, 21), config1 = ByteAt(frame, 22);
      break;
    default:
      break;
  }
  if (!hasHeader || (config1 & 0x01) == 0) return;

  if (row == 0) {
    const bool onlyEmptyRow = table.RowCount() == 2 && table.Cell(kColNumber, 1).empty();
    if (table.RowCount() > 2 || !onlyEmptyRow) table.SetRowCount(table.RowCount() + 1);
    row = table.RowCount() - 1;
  }

  try {
    table.SetCell(kColNumber, row, std::to_string(CellToInt(table.Cell(kColNumber, row - 1), 0) + 1));
    table.SetCell(kColMeterId, row, meterId);
    table.SetCell(kColControl, row,
                  "C=0x" + Hex2(frame, 2) + ", Stat=0x" + HexByte(status) + ", SIG=0x" + HexByte(config1));
    table.SetCell(kColManufacturer, row, ManufacturerText(ByteAt(frame, 3), ByteAt(frame, 4)));
    table.SetCell(kColMedium, row, MediumText(ByteAt(frame, 10)));
    table.SetCell(kColAuxId, row,
                  ci == 0x72 ? Hex2(frame, 15) + Hex2(frame, 14) + Hex2(frame, 13) + Hex2(frame, 12)
                             : std::string());
    table.SetCell(kColRssi, row, std::to_string(ByteAt(frame, frame.size() - 2) >> 1));
    table.SetCell(kColTelegram, row, std::move(hex));
    table.SetCell(kColTime, row, ctx.time.Time(now));
    table.SetCell(kColDate, row, ctx.time.Date(now));
    table.SetCell(kColNotes, row,
                  ci == 0x78 ? std::string("Not encrypted (no header)") : EncryptionText(config1, config2));
  } catch (const std::exception& e) {
    ctx.log.AppendLine(ctx.time.Date(now) + ": " + e.what());
    return;
  }
  if (ctx.index) ctx.index->Written(table, meterId, row);
  if (ctx.setStatus) ctx.setStatus("Last read device: " + meterId);
  if (ctx.rowWritten) ctx.rowWritten(row);
}

#include "command_frame.h"

#include <algorithm>
#include <charconv>

#include "plain_text.h"

namespace {

constexpr std::uint8_t kStart = 0x68;
constexpr std::uint8_t kEnd = 0x16;
constexpr std::uint8_t kManufacturerLow = 0x8D;  // VLM, least significant byte first
constexpr std::uint8_t kManufacturerHigh = 0x59;

// The length byte L = N + 10 must fit in one byte.
constexpr size_t kMaxCustomBytes = 255 - 10 - 5;

void Put(Bytes& out, std::initializer_list<int> bytes) {
  for (int b : bytes) out.push_back(static_cast<char>(b & 0xFF));
}

std::optional<Bytes> FlagRecord(const CommandControls& c) {
  // Edit_flag may be empty or hold something that is no number: sending a
  // made-up flag would be a command the operator never typed, so refuse.
  const std::optional<int> number = ParseDecimal(c.flag);
  if (!number) return std::nullopt;
  const int low = *number & 0xFF;
  if (low < 1 || low > 64) return std::nullopt;
  Bytes r;
  Put(r, {0x0F, 0xFF, 0x05, 0x04, low, c.flagSet ? 1 : 0, 0x00, 0x00});
  return r;
}

std::optional<Bytes> CalibrationRecord(const CommandControls& c) {
  const std::optional<int> v = ParseDecimal(c.calibration);
  const std::optional<std::uint16_t> word = v ? CalibrationWord(*v, c.calibrationOn) : std::nullopt;
  if (!word) return std::nullopt;
  Bytes r;
  Put(r, {0x0F, 0xFF, 0x32, 0x02, *word & 0xFF, *word >> 8});
  return r;
}

std::optional<Bytes> NewIdRecord(std::string_view newId, std::uint8_t version) {
  if (newId.size() != 8) return std::nullopt;
  BcdId id{};
  IdToBcd(newId, id);
  Bytes r;
  Put(r, {0x07, 0x79, id[3], id[2], id[1], id[0], kManufacturerLow, kManufacturerHigh, version, 0x00});
  return r;
}

}  // namespace

void IdToBcd(std::string_view idText, BcdId& out) {
  if (idText.size() != 8) return;
  for (size_t k = 0; k < 4; ++k) {
    const int hi = static_cast<unsigned char>(idText[2 * k]) - 0x30;
    const int lo = static_cast<unsigned char>(idText[2 * k + 1]) - 0x30;
    out[k] = static_cast<std::uint8_t>((hi * 16 + lo) & 0xFF);
  }
}

bool IsIdText(std::string_view idText) {
  return idText.size() == 8 &&
         std::all_of(idText.begin(), idText.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
}

std::optional<int> ParseDecimal(std::string_view text) { return ParseDecimalText(text, {.plusSign = true}); }

std::uint8_t VersionByte(std::string_view text) {
  return static_cast<std::uint8_t>(ParseDecimal(text).value_or(3) & 0xFF);
}

std::optional<std::uint8_t> WirelessModeCode(std::string_view text) {
  if (text == "Mode T+C") return 0x00;
  if (text == "Mode T") return 0x01;
  if (text == "Mode S") return 0x03;
  if (text == "Mode C") return 0x05;
  return std::nullopt;
}

std::string WirelessModeText(int code) {
  for (const char* text : {"Mode T+C", "Mode T", "Mode S", "Mode C"})
    if (WirelessModeCode(text) == code) return text;
  return "code " + std::to_string(code);
}

const char* AnswerModeName(std::uint8_t code) {
  switch (code) {
    case 0:
      return "T1+C";
    case 1:
      return "T1";
    case 3:
      return "S1";
    case 5:
      return "C";
    default:
      return nullptr;
  }
}

std::optional<std::uint16_t> CalibrationWord(int value, bool on) {
  if (value < 0 || value > kMaxCalibration) return std::nullopt;
  return static_cast<std::uint16_t>(value | (on ? 0x8000 : 0));
}

std::string CalibrationWordText(std::uint16_t word) {
  return std::to_string(word & 0x7FFF) + ((word & 0x8000) ? " on" : " off");
}

std::string CalibrationRangeError(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) digits.remove_prefix(1);
  const bool number = !digits.empty() && std::all_of(digits.begin(), digits.end(),
                                                     [](char ch) { return ch >= '0' && ch <= '9'; });
  if (!number) return {};
  // Digits that do not even fit an int are out of range too.
  const std::optional<int> v = ParseDecimal(text);
  if (v && CalibrationWord(*v, false)) return {};
  return "the clock calibration is 0 to " + std::to_string(kMaxCalibration) + ", not '" + std::string(text) +
         "'";
}

std::optional<LocalTime> DecodeDateTimeBytes(const std::array<std::uint8_t, 4>& b) {
  LocalTime t;
  t.minute = b[0] & 0x3F;
  t.hour = b[1] & 0x1F;
  t.day = b[2] & 0x1F;
  t.month = b[3] & 0x0F;
  const int y = ((b[2] & 0xE0) >> 5) | ((b[3] & 0xF0) >> 1);
  // EncodeDateTimeRecord folds 2001.. to 1.. and 1901..2000 to 1..100.
  t.year = y < 100 ? 2000 + y : 1900 + y;
  if (t.minute > 59 || t.hour > 23 || t.day < 1 || t.month < 1 || t.month > 12) return std::nullopt;
  return t;
}

std::optional<Bytes> EncodeDateTimeRecord(const LocalTime& t, LogSink& log) {
  int y;
  if (t.year > 2000)
    y = t.year - 2000;
  else if (t.year >= 1901)
    y = t.year - 1900;
  else if (t.year >= 0 && t.year < 100)
    y = t.year;
  else {
    log.AppendLine(kIncorrectYear);
    return std::nullopt;
  }
  Bytes r;
  Put(r, {0x04, 0x6D, t.minute, t.hour, (y % 8) * 32 + t.day, ((y / 8) % 16) * 16 + t.month});
  return r;
}

int InnerLength(CommandKind kind, size_t customBytes) {
  switch (kind) {
    case CommandKind::RxStartHour:
    case CommandKind::RxHours:
      return 8;
    case CommandKind::RxWindow:
    case CommandKind::DateTime:
    case CommandKind::ClockCalibration:
      return 11;
    case CommandKind::Flag:
      return 13;
    case CommandKind::NewId:
      return 15;
    case CommandKind::WirelessMode:
      return 10;
    case CommandKind::CustomData:
      return 5 + static_cast<int>(customBytes);
  }
  return 0;
}

Bytes BuildCommandFrame(CommandKind kind, std::string_view data, const FrameInputs& in, CommandState& state) {
  const std::uint8_t access = state.NextAccessNumber();
  const CommandControls& c = in.controls;
  const std::uint8_t version = VersionByte(c.version);

  std::optional<Bytes> records;
  switch (kind) {
    case CommandKind::RxStartHour:
      records = Bytes{0x01, 0x22, static_cast<char>(c.rxStartHour)};
      break;
    case CommandKind::RxHours:
      records = Bytes{0x01, 0x26, static_cast<char>(c.rxHours)};
      break;
    case CommandKind::RxWindow:
      records.emplace();
      Put(*records, {0x0F, 0xFF, 0x6D, 0x02, c.rxStartHour, c.rxHours});
      break;
    case CommandKind::DateTime:
      records = EncodeDateTimeRecord(in.clock.Now(), in.log);
      break;
    case CommandKind::Flag:
      records = FlagRecord(c);
      break;
    case CommandKind::ClockCalibration:
      records = CalibrationRecord(c);
      break;
    case CommandKind::NewId:
      records = NewIdRecord(data, version);
      break;
    case CommandKind::WirelessMode:
      if (const auto code = WirelessModeCode(c.wirelessMode)) {
        records.emplace();
        Put(*records, {0x0F, 0xFF, 0x20, 0x01, *code});
      }
      break;
    case CommandKind::CustomData:
      if (!data.empty() && data.size() <= kMaxCustomBytes) records = Bytes(data);
      break;
  }
  if (!records) return Bytes();

  const int n = InnerLength(kind, records->size());
  // A wireless mode frame always goes out framed, whatever "BMT" says.
  const bool framed = kind == CommandKind::WirelessMode || !c.bmt;
  const BcdId& a = state.repeaterAddress;

  Bytes frame;
  frame.reserve(static_cast<size_t>(n) + 13);
  if (framed) Put(frame, {kStart});
  Put(frame, {n + 10, 0x06, kManufacturerLow, kManufacturerHigh, a[3], a[2], a[1], a[0], version, 0x00, n,
              0x7A, access, 0x00, 0x00, 0x00});
  frame += *records;
  if (framed) Put(frame, {kEnd});
  return frame;
}

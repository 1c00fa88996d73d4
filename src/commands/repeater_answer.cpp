#include "repeater_answer.h"

#include <cstdint>
#include <exception>
#include <string>

#include "command_frame.h"
#include "field_decoders.h"
#include "hex.h"
#include "telegram_decoder.h"

namespace {

// A frame is 0x68, L, telegram, signal strength, 0x16: the telegram ends three
// bytes before the end of the frame.
class AnswerFrame {
 public:
  explicit AnswerFrame(std::string_view frame) : m_frame(frame) {}

  // True when the `size` bytes from `offset` all lie inside the telegram.
  bool Has(size_t offset, size_t size) const { return offset + size + 2 <= m_frame.size(); }
  std::uint8_t At(size_t offset) const { return ByteAt(m_frame, offset); }
  unsigned Word(size_t offset) const { return At(offset) + 256u * At(offset + 1); }

  bool Matches(size_t offset, std::initializer_list<std::uint8_t> marker) const {
    if (!Has(offset, marker.size())) return false;
    size_t i = offset;
    for (std::uint8_t b : marker)
      if (At(i++) != b) return false;
    return true;
  }

  // Hex pairs of the bytes at the given offsets, in the order given.
  std::string Pairs(std::initializer_list<size_t> offsets) const {
    std::string out;
    for (size_t off : offsets) out += HexByte(At(off));
    return out;
  }

 private:
  std::string_view m_frame;
};

void DecodeStatus(const AnswerFrame& f, LogSink& log, char decimalSeparator) {
  if (f.Has(20, 1)) log.AppendLine("START HOUR = " + std::to_string(f.At(20)));
  if (f.Has(21, 1)) log.AppendLine("WORK HOURS RX = " + std::to_string(f.At(21)));
  if (f.Has(23, 1))
    if (const char* mode = AnswerModeName(f.At(23))) log.AppendLine(std::string("Wireless mode: ") + mode);

  if (f.Matches(24, {0x0F, 0xFF, 0x05}) && f.Has(28, 4))
    log.AppendLine("Flags (32 total): " + f.Pairs({31, 30, 29, 28}));

  if (f.Matches(32, {0x04, 0x6D}) && f.Has(34, 4)) {
    log.AppendLine("Current repeater time in HEX: 0x" + f.Pairs({34, 35, 36, 37}));
    std::string text;
    DateTimeText(f.At(34), f.At(35), f.At(36), f.At(37), "6D", text);
    log.AppendLine("Current repeater time decoded: " + text);
  }

  if (f.Matches(38, {0x0F, 0xFF}) && f.Has(40, 4)) {
    log.AppendLine("Clock calibration in HEX: 0x" + f.Pairs({40, 41, 42, 43}));
    const CalibrationShown c = ShowCalibration(f.Word(42));
    log.AppendLine("Clock calibration: " + std::to_string(c.value) +
                   (c.flag ? ", with Flag" : ", without Flag"));
  }

  if (f.Matches(44, {0x02, 0x24}) && f.Has(46, 2))
    log.AppendLine("Work time left: " + std::to_string(f.Word(46)) + " s");

  if (f.Matches(48, {0x02, 0x46}) && f.Has(50, 2))
    log.AppendLine("Battery status: " + BatteryVoltsText(f.Word(50), decimalSeparator) + " V");

  log.AppendLine("");
}

}  // namespace

CalibrationShown ShowCalibration(unsigned word) {
  const int v = static_cast<int>(word);
  return v <= 512 ? CalibrationShown{v, false} : CalibrationShown{v - 32768, true};
}

const char* RepeaterErrorText(unsigned code) {
  switch (code) {
    case 0x16:
      return "Repeater full, no more IDs allowed";
    case 0x17:
      return "ID not found or already active";
    case 0x18:
      return "Invalid input data";
    default:
      return "Not recognized error";
  }
}

std::string BatteryVoltsText(unsigned millivolts, char decimalSeparator) {
  // Four significant digits: from 10 V on, the last digit is rounded away
  // (half up) and shown as 0.
  unsigned mv = millivolts;
  if (mv >= 10000) mv = (mv + 5) / 10 * 10;
  std::string frac = std::to_string(mv % 1000);
  frac.insert(0, 3 - frac.size(), '0');
  return std::to_string(mv / 1000) + decimalSeparator + frac;
}

void DecodeRepeaterAnswer(std::string_view frame, LogSink& log, const TimeTexts& time) {
  const AnswerFrame f(frame);
  const LocalTime now = time.Now();
  log.AppendLine("");
  log.AppendLine(time.Date(now) + ", " + time.Time(now));
  const std::string maker = f.Has(3, 2) ? ManufacturerText(f.At(3), f.At(4)) : std::string();
  log.AppendLine("Repeater " + MeterIdText(frame) + ", " + maker + ": " + HexText(frame));

  try {
    if (f.Matches(16, {0x01, 0xFD})) {
      if (f.Has(19, 1)) log.AppendLine(std::string("Error telegram - ") + RepeaterErrorText(f.At(19)));
    } else if (f.Matches(16, {0x0F, 0xFF, 0x05})) {
      if (f.Has(20, 4)) log.AppendLine("Flags (32 total): " + f.Pairs({23, 22, 21, 20}));
    } else if (f.Matches(16, {0x0F, 0xFF, 0x06})) {
      DecodeStatus(f, log, time.Formats().DecimalSeparator());
    }
  } catch (const std::exception& e) {
    log.AppendLine(std::string("Exception decoding repeater - ") + e.what());
  }
}

RepeaterReport ParseRepeaterAnswer(std::string_view frame) {
  const AnswerFrame f(frame);
  RepeaterReport r;
  r.id = MeterIdText(frame);
  if (f.Matches(16, {0x01, 0xFD})) {
    if (!f.Has(19, 1)) return r;
    r.kind = RepeaterReport::Kind::Error;
    r.errorCode = f.At(19);
  } else if (f.Matches(16, {0x0F, 0xFF, 0x05})) {
    if (!f.Has(20, 4)) return r;
    r.kind = RepeaterReport::Kind::Flags;
    r.flags = f.Word(20) | (std::uint32_t{f.Word(22)} << 16);
  } else if (f.Matches(16, {0x0F, 0xFF, 0x06})) {
    r.kind = RepeaterReport::Kind::Status;
    if (f.Has(20, 1)) r.rxStartHour = f.At(20);
    if (f.Has(21, 1)) r.rxHours = f.At(21);
    if (f.Has(23, 1) && AnswerModeName(f.At(23))) r.wirelessMode = f.At(23);
    if (f.Matches(24, {0x0F, 0xFF, 0x05}) && f.Has(28, 4))
      r.flags = f.Word(28) | (std::uint32_t{f.Word(30)} << 16);
    if (f.Matches(32, {0x04, 0x6D}) && f.Has(34, 4)) r.clock = {{f.At(34), f.At(35), f.At(36), f.At(37)}};
    if (f.Matches(38, {0x0F, 0xFF}) && f.Has(40, 4)) r.calibration = static_cast<std::uint16_t>(f.Word(42));
  }
  return r;
}

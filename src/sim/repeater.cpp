#include "repeater.h"

#include <algorithm>
#include <vector>

namespace sim {

namespace {

constexpr std::uint8_t kDeviceType = 0x00;
constexpr std::uint8_t kShortHeader = 0x7A;
// Largest calibration step the firmware takes, either way.
constexpr unsigned kMaxCalibration = 512;
constexpr std::uint16_t kEmptyBatteryMillivolts = 3000;

// Offsets in a command frame (framed layout).
constexpr size_t kMfrAt = 3;
constexpr size_t kIdAt = 5;
constexpr size_t kInnerLengthAt = 11;
constexpr size_t kCiAt = 12;
constexpr size_t kRecordsAt = 17;

bool IsMode(unsigned m) { return m == 0 || m == 1 || m == 3 || m == 5; }

std::string Num(unsigned v) { return std::to_string(v); }

// One data record of a command frame, applied to `s` when valid.
struct Step {
  bool ok = false;
  std::uint8_t error = kErrorInvalidInput;
  size_t size = 0;
  std::string what;
  bool isFlag = false;
};

bool Starts(std::string_view r, std::initializer_list<std::uint8_t> marker) {
  if (r.size() < marker.size()) return false;
  size_t i = 0;
  for (std::uint8_t m : marker)
    if (At(r, i++) != m) return false;
  return true;
}

}  // namespace

bool ParseStuckSetting(const std::string& text, StuckSetting& out) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq + 1 >= text.size() || text.size() - eq > 6) return false;
  const std::string name = text.substr(0, eq);
  unsigned v = 0;
  for (size_t i = eq + 1; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + static_cast<unsigned>(text[i] - '0');
  }
  using F = StuckSetting::Field;
  if (name == "rx-start-hour" && v <= 23) return out = {F::RxStartHour, v}, true;
  if (name == "rx-hours" && v >= 1 && v <= 6) return out = {F::RxHours, v}, true;
  if (name == "wireless-mode" && IsMode(v)) return out = {F::WirelessMode, v}, true;
  if (name == "calibration" && v <= 0xFFFF) return out = {F::Calibration, v}, true;
  return false;
}

void SimRepeater::Stick(const StuckSetting& s) {
  m_stuck.push_back(s);
  ApplyStuck(m_state);
}

void SimRepeater::ApplyStuck(RepeaterState& s) const {
  for (const StuckSetting& k : m_stuck) {
    switch (k.field) {
      case StuckSetting::Field::RxStartHour:
        s.rxStartHour = static_cast<std::uint8_t>(k.value);
        break;
      case StuckSetting::Field::RxHours:
        s.rxHours = static_cast<std::uint8_t>(k.value);
        break;
      case StuckSetting::Field::WirelessMode:
        s.wirelessMode = static_cast<std::uint8_t>(k.value);
        break;
      case StuckSetting::Field::Calibration:
        s.calibration = static_cast<std::uint16_t>(k.value);
        break;
    }
  }
}

SimRepeater::SimRepeater(RepeaterState state, std::int64_t nowSeconds)
    : m_state(std::move(state)), m_startSeconds(nowSeconds) {}

Bytes SimRepeater::Header() {
  Bytes t;
  Put(t, 0x44);
  Put(t, kOwnMfrLow);
  Put(t, kOwnMfrHigh);
  t += *IdTextToWire(m_state.id);
  Put(t, m_state.version);
  Put(t, kDeviceType);
  Put(t, kShortHeader);
  Put(t, ++m_accessNumber);
  Put(t, 0x00);  // status
  Put16(t, 0);   // configuration word: sent by the repeater itself, not repeated, not encrypted
  return t;
}

std::uint32_t SimRepeater::FlagWord(int bank) const {
  std::uint32_t word = 0;
  for (int i = 0; i < 32; ++i)
    if (m_state.flags[static_cast<size_t>(bank * 32 + i)]) word |= std::uint32_t{1} << i;
  return word;
}

Bytes SimRepeater::ErrorAnswer(std::uint8_t code) {
  Bytes t = Header();
  for (std::uint8_t b : {std::uint8_t{0x01}, std::uint8_t{0xFD}, std::uint8_t{0x17}, code}) Put(t, b);
  return t;
}

// A flags answer carries 32 flags: those of the bank (0: flags 1-32, 1: flags 33-64).
Bytes SimRepeater::FlagsAnswer(int bank) {
  Bytes t = Header();
  for (std::uint8_t b : {0x0F, 0xFF, 0x05, 0x04}) Put(t, b);
  const std::uint32_t word = FlagWord(bank);
  Put16(t, word & 0xFFFF);
  Put16(t, word >> 16);
  return t;
}

Bytes SimRepeater::StatusAnswer(std::int64_t nowSeconds) {
  Bytes t = Header();
  for (std::uint8_t b : {0x0F, 0xFF, 0x06, 0x04}) Put(t, b);
  Put(t, m_state.rxStartHour);
  Put(t, m_state.rxHours);
  Put(t, 0x00);
  Put(t, m_state.wirelessMode);
  for (std::uint8_t b : {0x0F, 0xFF, 0x05, 0x04}) Put(t, b);
  const std::uint32_t word = FlagWord(0);
  Put16(t, word & 0xFFFF);
  Put16(t, word >> 16);
  Put(t, 0x04);
  Put(t, 0x6D);
  t += EncodeTypeF(ClockAt(nowSeconds));
  for (std::uint8_t b : {0x0F, 0xFF, 0x32, 0x02}) Put(t, b);
  Put16(t, m_state.calibration);
  Put(t, 0x02);
  Put(t, 0x24);
  Put16(t, WorkTimeLeft(nowSeconds));
  Put(t, 0x02);
  Put(t, 0x46);
  // The cell sags slowly while the simulation runs.
  const std::int64_t hours = std::max<std::int64_t>(0, nowSeconds - m_startSeconds) / 3600;
  Put16(t, static_cast<unsigned>(
               std::max<std::int64_t>(kEmptyBatteryMillivolts, m_state.batteryMillivolts - hours)));
  return t;
}

std::uint16_t SimRepeater::WorkTimeLeft(std::int64_t nowSeconds) const {
  const CivilTime c = ClockAt(nowSeconds);
  const int secondOfDay = c.hour * 3600 + c.minute * 60 + c.second;
  const int start = m_state.rxStartHour * 3600;
  const int into = ((secondOfDay - start) % 86400 + 86400) % 86400;
  const int window = m_state.rxHours * 3600;
  return into < window ? static_cast<std::uint16_t>(window - into) : 0;
}

bool SimRepeater::Repeating(std::int64_t nowSeconds) const {
  if (m_state.flags[kFlagSleep - 1]) return false;
  return m_state.flags[kFlagAutoMode - 1] || WorkTimeLeft(nowSeconds) > 0;
}

SimRepeater::Result SimRepeater::HandleFrame(std::string_view frame, std::int64_t nowSeconds) {
  Result result;
  if (frame.size() < kRecordsAt + 1) {
    result.note = "repeater: frame too short for a command";
    return result;
  }
  const std::string to = WireToIdText(frame.substr(kIdAt, 4));
  if (At(frame, kMfrAt) != kOwnMfrLow || At(frame, kMfrAt + 1) != kOwnMfrHigh || to != m_state.id) {
    result.note = "repeater: frame for " + to + ", not for " + m_state.id + ", no answer";
    return result;
  }
  result.forUs = true;
  const size_t recordsEnd = frame.size() - 1;  // before the end byte
  if (At(frame, kCiAt) != kShortHeader || size_t{At(frame, kInnerLengthAt)} != recordsEnd - kCiAt) {
    result.note = "repeater: header not understood (CI or inner length), ignored";
    result.forUs = false;
    return result;
  }

  RepeaterState next = m_state;
  std::int64_t clockOffset = m_clockOffset;
  std::string_view rest = frame.substr(kRecordsAt, recordsEnd - kRecordsAt);
  std::vector<std::string> done;
  bool parameter = false;
  int flagBank = -1;
  std::optional<std::uint8_t> error;

  while (!rest.empty() && !error) {
    Step s;
    if (At(rest, 0) == 0x2F) {  // fill byte
      s = {true, 0, 1, ""};
    } else if (Starts(rest, {0x01, 0x22}) && rest.size() >= 3) {
      const unsigned h = At(rest, 2);
      s.size = 3;
      s.what = "rx start hour " + Num(h);
      if ((s.ok = h <= 23)) next.rxStartHour = static_cast<std::uint8_t>(h);
    } else if (Starts(rest, {0x01, 0x26}) && rest.size() >= 3) {
      const unsigned n = At(rest, 2);
      s.size = 3;
      s.what = "rx hours " + Num(n);
      if ((s.ok = n >= 1 && n <= 6)) next.rxHours = static_cast<std::uint8_t>(n);
    } else if (Starts(rest, {0x0F, 0xFF, 0x6D, 0x02}) && rest.size() >= 6) {
      const unsigned h = At(rest, 4), n = At(rest, 5);
      s.size = 6;
      s.what = "rx window " + Num(h) + " + " + Num(n) + " h";
      if ((s.ok = h <= 23 && n >= 1 && n <= 6)) {
        next.rxStartHour = static_cast<std::uint8_t>(h);
        next.rxHours = static_cast<std::uint8_t>(n);
      }
    } else if (Starts(rest, {0x04, 0x6D}) && rest.size() >= 6) {
      const auto t = DecodeTypeF(rest.substr(2, 4));
      s.size = 6;
      s.what = "date and time";
      if ((s.ok = t.has_value())) {
        s.what += " " + Num(static_cast<unsigned>(t->year)) + "-" + Num(static_cast<unsigned>(t->month)) +
                  "-" + Num(static_cast<unsigned>(t->day)) + " " + Num(static_cast<unsigned>(t->hour)) + ":" +
                  Num(static_cast<unsigned>(t->minute));
        clockOffset = ToSeconds(*t) - nowSeconds;
      }
    } else if (Starts(rest, {0x0F, 0xFF, 0x05, 0x04}) && rest.size() >= 8) {
      const unsigned n = At(rest, 4), state = At(rest, 5);
      s.size = 8;
      s.what = "flag " + Num(n) + (state ? " set" : " clear");
      if ((s.ok = n >= 1 && n <= 64 && state <= 1 && At(rest, 6) == 0 && At(rest, 7) == 0)) {
        next.flags[n - 1] = state == 1;
        flagBank = static_cast<int>((n - 1) / 32);
        s.isFlag = true;
      }
    } else if (Starts(rest, {0x0F, 0xFF, 0x32, 0x02}) && rest.size() >= 6) {
      const unsigned v = At(rest, 4) + 256u * At(rest, 5);
      s.size = 6;
      s.what = "clock calibration " + Num(v & 0x7FFF) + ((v & 0x8000) ? " on" : " off");
      if ((s.ok = (v & 0x7FFF) <= kMaxCalibration)) next.calibration = static_cast<std::uint16_t>(v);
    } else if (Starts(rest, {0x0F, 0xFF, 0x20, 0x01}) && rest.size() >= 5) {
      const unsigned m = At(rest, 4);
      s.size = 5;
      s.what = "wireless mode " + Num(m);
      if ((s.ok = IsMode(m))) next.wirelessMode = static_cast<std::uint8_t>(m);
    } else if (Starts(rest, {0x07, 0x79}) && rest.size() >= 10) {
      const std::string_view wire = rest.substr(2, 4);
      s.size = 10;
      s.what = "new ID " + WireToIdText(wire);
      if (!IsBcdId(wire) || At(rest, 6) != kOwnMfrLow || At(rest, 7) != kOwnMfrHigh) {
        s.ok = false;
      } else if (WireToIdText(wire) == m_state.id || (m_idInUse && m_idInUse(WireToIdText(wire)))) {
        s.error = kErrorIdInUse;
        s.what += " already in use";
      } else {
        s.ok = true;
        next.id = WireToIdText(wire);
        next.version = At(rest, 8);
      }
    } else {
      s.size = rest.size();
      s.what = "unknown record " + HexText(rest);
    }
    if (!s.what.empty()) done.push_back(s.what);
    if (!s.ok) {
      error = s.error;
      break;
    }
    if (!s.what.empty() && !s.isFlag) parameter = true;
    rest.remove_prefix(s.size);
  }
  if (!error && done.empty()) error = kErrorInvalidInput;  // fill bytes only

  std::string what;
  for (const auto& w : done) what += (what.empty() ? "" : ", ") + w;
  if (error) {
    // Nothing of a refused frame is applied: half a command is worse than none.
    result.answer = ErrorAnswer(*error);
    result.note = "repeater: " + (what.empty() ? std::string("no record") : what) +
                  " refused, error answer 0x" +
                  HexText(std::string(1, static_cast<char>(*error))).substr(0, 2);
    return result;
  }
  ApplyStuck(next);
  m_state = next;
  m_clockOffset = clockOffset;
  if (parameter) {
    result.answer = StatusAnswer(nowSeconds);
    result.note = "repeater " + m_state.id + ": " + what + ", status answer";
  } else {
    result.answer = FlagsAnswer(flagBank);
    result.note = "repeater " + m_state.id + ": " + what + ", flags answer";
  }
  return result;
}

}  // namespace sim

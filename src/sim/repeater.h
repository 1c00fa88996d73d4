#pragma once
// The simulated battery repeater: its settings, its clock, and what it does
// with a command frame the Korvex sends on (apply it, answer it).

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "wmbus_codec.h"

namespace sim {

inline constexpr std::uint8_t kErrorIdInUse = 0x17;
inline constexpr std::uint8_t kErrorInvalidInput = 0x18;

struct RepeaterState {
  std::string id = "12345678";
  std::uint8_t rxStartHour = 6;
  std::uint8_t rxHours = 4;
  std::uint8_t wirelessMode = 0;  // 0 T1+C, 1 T1, 3 S1, 5 C
  std::array<bool, 64> flags{};   // flag n is flags[n - 1]
  std::uint16_t calibration = 0;  // bit 15: calibration on
  std::uint16_t batteryMillivolts = 3600;
  std::uint8_t version = 0x01;
  bool operator==(const RepeaterState&) const = default;
};

// A setting that a faulty repeater keeps whatever it is told (tests make a
// repeater's state differ from what was asked with it).
struct StuckSetting {
  enum class Field { RxStartHour, RxHours, WirelessMode, Calibration };
  Field field = Field::RxHours;
  unsigned value = 0;
};

// "rx-start-hour=5", "rx-hours=2", "wireless-mode=3", "calibration=10";
// false on any other text or a value the field cannot hold.
bool ParseStuckSetting(const std::string& text, StuckSetting& out);

class SimRepeater {
 public:
  // Flags with a fixed meaning in the firmware.
  static constexpr int kFlagAutoMode = 1;
  static constexpr int kFlagSleep = 33;

  // `nowSeconds`: local time (ToSeconds) at which the clock starts running.
  SimRepeater(RepeaterState state, std::int64_t nowSeconds);

  // IDs other devices already use: a NewId to one of them is refused (0x17).
  void SetIdInUse(std::function<bool(const std::string& id)> inUse) { m_idInUse = std::move(inUse); }

  struct Result {
    bool forUs = false;           // addressed to this repeater (else: no answer)
    std::optional<Bytes> answer;  // answer telegram, from the C-field on (no signal byte)
    std::string note;             // what the repeater made of it, for the log
  };

  // One command frame in the framed layout (0x68 L ... 0x16), received at local time `nowSeconds`.
  Result HandleFrame(std::string_view frame, std::int64_t nowSeconds);

  // Whether it repeats meter telegrams at `nowSeconds`: not while asleep; in
  // auto mode always, otherwise inside its receive window.
  bool Repeating(std::int64_t nowSeconds) const;

  // Sets the clock as the DateTime command does (a device fresh from the shelf has some time or other).
  void SetClock(const CivilTime& t, std::int64_t nowSeconds) { m_clockOffset = ToSeconds(t) - nowSeconds; }

  // The repeater keeps `s` from now on.
  void Stick(const StuckSetting& s);

  const RepeaterState& State() const { return m_state; }
  CivilTime ClockAt(std::int64_t nowSeconds) const { return FromSeconds(nowSeconds + m_clockOffset); }
  // Seconds left in the current receive window (0 outside it).
  std::uint16_t WorkTimeLeft(std::int64_t nowSeconds) const;

  // The answers, also used by tests to check the layout.
  Bytes StatusAnswer(std::int64_t nowSeconds);
  Bytes FlagsAnswer(int bank);
  Bytes ErrorAnswer(std::uint8_t code);

 private:
  Bytes Header();
  std::uint32_t FlagWord(int bank) const;
  void ApplyStuck(RepeaterState& s) const;

  RepeaterState m_state;
  std::int64_t m_clockOffset = 0;  // repeater clock minus the local time
  std::int64_t m_startSeconds = 0;
  std::uint8_t m_accessNumber = 0;
  std::function<bool(const std::string&)> m_idInUse;
  std::vector<StuckSetting> m_stuck;
};

}  // namespace sim

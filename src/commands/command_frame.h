#pragma once
// Command frames for the selected repeater: a wireless M-Bus telegram (link
// header, short application header, data records) that the Korvex sends on.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "hex.h"
#include "local_formats.h"
#include "log_sink.h"

// Four packed BCD bytes of an 8-digit serial ID, digits 1-2 first.
using BcdId = std::array<std::uint8_t, 4>;

// Serial ID text -> BCD. A text that is not exactly 8 characters leaves `out`
// as it is (the previous repeater stays addressed).
void IdToBcd(std::string_view idText, BcdId& out);
// True for exactly 8 decimal digits: the only IDs that may address a device.
bool IsIdText(std::string_view idText);

// What the running program keeps between commands. The window owns one; each
// test gets a fresh one.
class CommandState {
 public:
  BcdId repeaterAddress{};        // RepeaterAddress, refreshed by every handler
  std::uint8_t accessNumber = 0;  // AccessNumber of the last frame built

  // The access number of the next frame (wraps after 255).
  std::uint8_t NextAccessNumber() { return ++accessNumber; }
};

enum class CommandKind {
  RxStartHour,
  RxHours,
  RxWindow,
  DateTime,
  Flag,
  ClockCalibration,
  NewId,
  WirelessMode,
  CustomData,
};

// The main window's controls the commands read, taken at the moment of the click.
struct CommandControls {
  std::string repeaterId;                 // Edit_repeaterID
  bool bmt = false;                       // Check_bmt ("BMT"): bare frame
  std::string version = "3";              // Edit_version (settings window)
  int rxStartHour = 0;                    // UD_rxstarttime, 0..23
  int rxHours = 1;                        // UD_rxtime, 1..6
  std::string flag = "1";                 // Edit_flag
  bool flagSet = false;                   // CheckBox2 ("Set/Clear flag")
  std::string calibration;                // Edit1
  bool calibrationOn = false;             // Check_onClock ("On/Off")
  std::string wirelessMode = "Mode T+C";  // Combo_wirelessMode
  std::string newId;                      // Edit_newID
  std::string customCommand;              // Edit_send_command
};

inline constexpr char kNotCorrectCommand[] = "Not correct command for sending...";
inline constexpr char kIncorrectYear[] = "Incorrect year of the PC, skipping datetime set...";

// A whole decimal number with an optional sign, nothing else around it.
std::optional<int> ParseDecimal(std::string_view text);

// Version byte of Edit_version: its low 8 bits; text that is not a number counts as 3.
std::uint8_t VersionByte(std::string_view text);

// Code of a Combo_wirelessMode text (compared exactly); nothing for any other text.
std::optional<std::uint8_t> WirelessModeCode(std::string_view text);
// The Combo_wirelessMode text of a code ("Mode S"), or "code N" for one outside the list.
std::string WirelessModeText(int code);
// The mode as the repeater's status answer names it ("S1"); nullptr for other codes.
const char* AnswerModeName(std::uint8_t code);

// Clock calibration: the value in bits 0-14 of the word, bit 15 the on/off switch.
inline constexpr int kMaxCalibration = 32767;
// The word a calibration frame carries; nothing for a value the 15 bits cannot hold.
std::optional<std::uint16_t> CalibrationWord(int value, bool on);
// A word as value and switch: "300 on", "0 off".
std::string CalibrationWordText(std::uint16_t word);
// "the clock calibration is 0 to 32767, not '40000'" for a whole number out
// of range; empty for any other text (a value in range, or no number at all).
std::string CalibrationRangeError(std::string_view text);

// The 6-byte date-and-time record (type F, no seconds). A year from 100 to
// 1900 (or negative) is refused: the log gets kIncorrectYear, the result is empty.
std::optional<Bytes> EncodeDateTimeRecord(const LocalTime& t, LogSink& log);
// The four date-and-time bytes of a record or a status answer (minute, hour,
// day with the low year bits, month with the high ones) read back, with the
// year unfolded the way EncodeDateTimeRecord folds it; nothing for a value
// that is no date and time.
std::optional<LocalTime> DecodeDateTimeBytes(const std::array<std::uint8_t, 4>& b);

// Inner length N of a kind's frame (custom data: 5 + the operator's bytes).
int InnerLength(CommandKind kind, size_t customBytes = 0);

struct FrameInputs {
  const CommandControls& controls;
  const Clock& clock;  // the PC clock, for DateTime
  LogSink& log;        // the year refusal line
};

// Builds the frame of `kind` for state.repeaterAddress. `data` is the new ID
// text for NewId and the operator's bytes for CustomData; other kinds take
// their values from the controls. The access number is consumed first, so a
// rejected build (empty result) still uses one up.
Bytes BuildCommandFrame(CommandKind kind, std::string_view data, const FrameInputs& in, CommandState& state);

#pragma once
// DecodeRepeaterAnswer: the log lines of a frame sent by the selected
// repeater (or under the new ID being assigned): a three-line header, then
// the error answer, the flag word or the status report.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "local_formats.h"
#include "log_sink.h"

// Texts of the error codes of an error answer.
const char* RepeaterErrorText(unsigned code);

// `frame` is one whole frame as cut by the assembler (0x68 ... 0x16). A field
// that does not lie wholly inside the telegram part (up to the byte before
// the signal strength) counts as absent, so a short frame never reads beyond
// its end: a record whose marker or value is cut short is left out.
void DecodeRepeaterAnswer(std::string_view frame, LogSink& log, const TimeTexts& time);

// "3.600": millivolts as volts with three decimals, rounded to at most four
// significant digits (12346 mV -> "12.350"), with the given decimal separator.
std::string BatteryVoltsText(unsigned millivolts, char decimalSeparator);

// The calibration word of a status answer as its line shows it. The
// repeater's firmware decides on/off by a threshold, not by bit 15 alone, so
// 513..32767 show as negative values "with Flag".
struct CalibrationShown {
  int value;
  bool flag;
};
CalibrationShown ShowCalibration(unsigned word);

// What an answer frame reports, as values: the same records at the same
// offsets as DecodeRepeaterAnswer shows them, for code that compares them
// (provisioning). A record that is missing or cut short stays empty.
struct RepeaterReport {
  enum class Kind { None, Error, Flags, Status };
  Kind kind = Kind::None;
  std::string id;  // the sender's meter ID text
  unsigned errorCode = 0;
  std::optional<std::uint32_t> flags;  // the flags answer's word, or the status answer's flags record
  std::optional<std::uint8_t> rxStartHour;
  std::optional<std::uint8_t> rxHours;
  std::optional<std::uint8_t> wirelessMode;
  std::optional<std::array<std::uint8_t, 4>> clock;  // type F bytes, frame order
  std::optional<std::uint16_t> calibration;
};

RepeaterReport ParseRepeaterAnswer(std::string_view frame);

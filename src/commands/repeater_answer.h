#pragma once
// DecodeRepeaterAnswer: the log lines of a frame sent by the selected
// repeater (or under the new ID being assigned): a three-line header, then
// the error answer, the flag word or the status report.

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

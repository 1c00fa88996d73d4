#include "repeater_hook.h"

#include "repeater_answer.h"

std::function<void(std::string_view)> RepeaterHook(LogSink& log, const TimeTexts& time) {
  return [&log, &time](std::string_view frame) { DecodeRepeaterAnswer(frame, log, time); };
}

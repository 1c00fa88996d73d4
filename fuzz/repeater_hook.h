#pragma once
#include <functional>
#include <string_view>

#include "local_formats.h"
#include "log_sink.h"

// The answer decoder, as the window wires it.
std::function<void(std::string_view)> RepeaterHook(LogSink& log, const TimeTexts& time);

#pragma once
#include <string>
#include <vector>

#include "frames.h"
#include "local_formats.h"
#include "log_sink.h"
#include "telegram_decoder.h"

// A decoder wired to plain outputs, a fixed clock and fixed formats.
struct DecoderFixture {
  VectorLogSink log;
  StringGrid table = MakeTelegramTable();
  FixedClock clock{LocalTime{2026, 12, 7, 9, 7, 5}};
  LocalFormats formats{"dd.MM.yyyy", "HH:mm:ss", '.'};
  TimeTexts time{clock, formats};
  std::vector<Bytes> repeaterFrames;
  std::string status;
  std::vector<int> rowsWritten;
  DecodeOptions options;
  MeterRowIndex index;

  TelegramContext Context(bool withIndex = true) {
    TelegramContext ctx{log, table, time, {}, {}, {}};
    ctx.repeaterAnswer = [this](std::string_view f) { repeaterFrames.emplace_back(f); };
    ctx.setStatus = [this](const std::string& s) { status = s; };
    ctx.rowWritten = [this](int row) { rowsWritten.push_back(row); };
    if (withIndex) ctx.index = &index;
    return ctx;
  }
  void Decode(const Bytes& frame) {
    TelegramContext ctx = Context();
    DecodeTelegram(frame, options, ctx);
  }
  static std::string LogLine(const Bytes& frame) { return "07.12.2026, 09:07:05: " + HexText(frame); }
};

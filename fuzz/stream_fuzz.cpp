// A raw byte stream from the air through frame assembly, DecodeTelegram and
// the repeater answer decoder. The first bytes choose the options and how the
// stream is cut into receive events.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "local_formats.h"
#include "receive_handler.h"
#include "repeater_hook.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const std::uint8_t flags = data[0];
  const std::uint8_t chunk = static_cast<std::uint8_t>(data[1] | 1);
  data += 2;
  size -= 2;

  static FixedClock clock(LocalTime{2026, 12, 7, 9, 7, 5});
  static LocalFormats formats("dd.MM.yyyy", "HH:mm:ss", '.');
  static TimeTexts time(clock, formats);
  VectorLogSink log;
  StringGrid table = MakeTelegramTable();
  TelegramContext ctx{log, table, time, {}, {}, {}};
  ctx.repeaterAnswer = RepeaterHook(log, time);
  ReceiveHandler handler(std::move(ctx));

  DecodeOptions options;
  options.discardWrongCI = flags & 1;
  options.onlyRepeater = flags & 2;
  options.noNew = flags & 4;
  // Route the first frame-looking ID to the answer decoder now and then.
  if ((flags & 8) && size >= 9) {
    for (int k = 8; k >= 5; --k) {
      static const char kDigits[] = "0123456789ABCDEF";
      options.repeaterId += kDigits[data[k] >> 4];
      options.repeaterId += kDigits[data[k] & 15];
    }
  }
  const std::string_view stream(reinterpret_cast<const char*>(data), size);
  for (size_t pos = 0; pos < stream.size(); pos += chunk) handler.ReceiveBytes(stream.substr(pos, chunk), options);
  if ((flags & 16) && table.RowCount() > 2) DeleteGridRow(1, table);
  return 0;
}

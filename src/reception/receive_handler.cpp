#include "receive_handler.h"

#include <array>
#include <exception>
#include <string>

void ReceiveHandler::Failed(const char* message) {
  m_assembler.CountDecodeError();
  m_assembler.Reset();
  m_ctx.log.AppendLine(std::string("Exception receiving - ") + message);
}

void ReceiveHandler::Feed(std::string_view bytes, const DecodeOptions& options) {
  if (!m_ctx.index) m_ctx.index = &m_index;
  m_assembler.Feed(bytes, [&](std::string_view frame) { DecodeTelegram(frame, options, m_ctx); });
}

namespace {
// The receive event's time for its frames, while the event lasts.
class EventTime {
 public:
  explicit EventTime(TelegramContext& ctx) : m_ctx(ctx) { ctx.eventTime = ctx.time.Now(); }
  ~EventTime() { m_ctx.eventTime.reset(); }
  EventTime(const EventTime&) = delete;
  EventTime& operator=(const EventTime&) = delete;

 private:
  TelegramContext& m_ctx;
};
}  // namespace

void ReceiveHandler::ReceiveBytes(std::string_view bytes, const DecodeOptions& options) {
  const EventTime time(m_ctx);
  try {
    Feed(bytes, options);
  } catch (const std::exception& e) {
    Failed(e.what());
  } catch (...) {
    Failed("unknown error");
  }
}

void ReceiveHandler::ReceiveEvent(int count, const ReadFn& read, const DecodeOptions& options) {
  std::array<char, 4096> staging;
  const EventTime time(m_ctx);
  try {
    while (count > 0) {
      const int want = std::min<int>(count, static_cast<int>(staging.size()));
      const int got = read(staging.data(), want);
      if (got <= 0) break;
      Feed(std::string_view(staging.data(), static_cast<size_t>(got)), options);
      count -= got;
    }
  } catch (const std::exception& e) {
    Failed(e.what());
  } catch (...) {
    Failed("unknown error");
  }
}

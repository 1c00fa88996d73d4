#pragma once
// The receive path of one port: bytes of each receive event -> frame
// assembly -> DecodeTelegram. The window's Comm1RxChar and the headless
// decoder both run exactly this.

#include <functional>
#include <string_view>

#include "frame_assembler.h"
#include "telegram_decoder.h"

class ReceiveHandler {
 public:
  explicit ReceiveHandler(TelegramContext ctx) : m_ctx(std::move(ctx)) {}

  // Reads up to `max` bytes into `dest`; returns how many were read.
  using ReadFn = std::function<int(char* dest, int max)>;

  // One receive event with `count` bytes waiting: reads them all through
  // `read` (in pieces of the staging area's size) and decodes every frame.
  void ReceiveEvent(int count, const ReadFn& read, const DecodeOptions& options);

  // One receive event whose bytes are already at hand.
  void ReceiveBytes(std::string_view bytes, const DecodeOptions& options);

  // The device went away: bytes held of a torn frame belong to a line that
  // no longer exists, and must not be joined to what a new one sends.
  void DropPending() { m_assembler.Reset(); }

  const FrameAssembler::Counters& Stats() const { return m_assembler.Stats(); }
  const FrameAssembler& Assembler() const { return m_assembler; }
  TelegramContext& Context() { return m_ctx; }

 private:
  void Feed(std::string_view bytes, const DecodeOptions& options);
  void Failed(const char* message);

  TelegramContext m_ctx;
  FrameAssembler m_assembler;
  MeterRowIndex m_index;
};

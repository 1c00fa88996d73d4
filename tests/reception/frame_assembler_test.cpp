#include "frame_assembler.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <vector>

#include "frames.h"

namespace {

struct Collector {
  std::vector<Bytes> frames;
  FrameAssembler::FrameHandler Handler() {
    return [this](std::string_view f) { frames.emplace_back(f); };
  }
};

Bytes RandomFrame(std::mt19937& rng) {
  // Any length 0..255, with 0x68 and 0x16 bytes inside on purpose.
  const int len = std::uniform_int_distribution<int>(0, 255)(rng);
  Bytes telegram;
  for (int i = 0; i + 1 < len; ++i) {
    const int pick = std::uniform_int_distribution<int>(0, 9)(rng);
    telegram.push_back(pick == 0 ? char(0x68) : pick == 1 ? char(0x16) : char(rng() & 0xFF));
  }
  if (len == 0) return Bytes("\x68\x00\x16", 3);
  return WrapFrame(telegram, static_cast<std::uint8_t>(rng()));
}

}  // namespace

// Whatever the chunking, every frame is cut exactly once, in order, in the
// event that brings its end byte, and noise between frames never reaches the
// decoder. Noise never holds 0x68, so no frame can start inside it.
TEST(FrameAssembler, RandomFramesNoiseAndChunking) {
  for (unsigned seed = 1; seed <= 200; ++seed) {
    std::mt19937 rng(seed);
    std::vector<Bytes> sent;
    Bytes stream;
    for (int n = 0; n < 30; ++n) {
      const int noise = std::uniform_int_distribution<int>(0, 3)(rng) == 0 ? int(rng() % 20) : 0;
      for (int i = 0; i < noise; ++i) {
        char b = static_cast<char>(rng() & 0xFF);
        if (b == 0x68) b = 0x00;
        stream.push_back(b);
      }
      sent.push_back(RandomFrame(rng));
      stream += sent.back();
    }
    FrameAssembler assembler;
    Collector got;
    size_t pos = 0;
    while (pos < stream.size()) {
      const size_t take = std::min<size_t>(stream.size() - pos, 1 + rng() % 700);
      assembler.Feed(std::string_view(stream).substr(pos, take), got.Handler());
      pos += take;
    }
    ASSERT_EQ(got.frames, sent) << "seed " << seed;
    EXPECT_EQ(assembler.Stats().framesCut, sent.size());
    EXPECT_EQ(assembler.Stats().overflows, 0u);
    EXPECT_EQ(assembler.Buffered(), 0u);
  }
}

TEST(FrameAssembler, CutsOnTheEventThatBringsTheEndByte) {
  const Bytes frame = WrapFrame(Bytes("\x44\x68\x16\x68", 4), 0xB5);
  FrameAssembler assembler;
  Collector got;
  for (size_t i = 0; i < frame.size(); ++i) {
    assembler.Feed(frame.substr(i, 1), got.Handler());
    EXPECT_EQ(got.frames.size(), i + 1 == frame.size() ? 1u : 0u) << "after byte " << i;
  }
  EXPECT_EQ(got.frames[0], frame);
}

TEST(FrameAssembler, EveryCompleteFrameInOneEvent) {
  const Bytes a = WrapFrame(Bytes("\x01\x02", 2), 1), b = WrapFrame(Bytes("\x03", 1), 2);
  const Bytes empty("\x68\x00\x16", 3);
  FrameAssembler assembler;
  Collector got;
  assembler.Feed(Bytes("\x11\x22\x33", 3) + a + b + empty + a.substr(0, 3), got.Handler());
  EXPECT_EQ(got.frames, (std::vector<Bytes>{a, b, empty}));
  EXPECT_EQ(assembler.Stats().noiseBytes, 3u);
  EXPECT_EQ(assembler.Buffered(), 3u);
  assembler.Feed(a.substr(3), got.Handler());
  EXPECT_EQ(got.frames.back(), a);
}

// A start byte whose end position holds another byte is dropped at once, and
// the good frames behind it are cut in the same event.
TEST(FrameAssembler, BadEndByteResyncsOnTheNextStartByte) {
  const Bytes good1 = WrapFrame(Bytes("\x44\x01", 2), 0x10), good2 = WrapFrame(Bytes("\x44\x02", 2), 0x20);
  Bytes bad = WrapFrame(Bytes("\x44\x03", 2), 0x30);
  bad.back() = 0x15;
  FrameAssembler assembler;
  Collector got;
  assembler.Feed(bad + good1 + good2, got.Handler());
  EXPECT_EQ(got.frames, (std::vector<Bytes>{good1, good2}));
  EXPECT_EQ(assembler.Stats().resyncs, 1u);
  EXPECT_EQ(assembler.Buffered(), 0u);

  // A false start byte whose length reaches beyond the good frames that
  // follow: they are cut once the false end position has arrived.
  Collector late;
  FrameAssembler second;
  Bytes stream = Bytes("\x68\x20", 2) + good1 + good2;
  second.Feed(stream, late.Handler());
  EXPECT_TRUE(late.frames.empty());
  second.Feed(Bytes(40, '\x00'), late.Handler());
  EXPECT_EQ(late.frames, (std::vector<Bytes>{good1, good2}));
}

TEST(FrameAssembler, ErrorInTheHandlerEmptiesBufferAndFramePositions) {
  const Bytes a = WrapFrame(Bytes("\x44\x01", 2), 0x10);
  FrameAssembler assembler;
  int calls = 0;
  auto throwing = [&](std::string_view) {
    ++calls;
    throw std::runtime_error("boom");
  };
  // The throw comes with the first frame; the half frame after it must not
  // survive as a held start byte.
  EXPECT_THROW(assembler.Feed(a + a.substr(0, 4), throwing), std::runtime_error);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(assembler.Buffered(), 0u);
  EXPECT_EQ(assembler.FrameStart(), 0u);
  Collector got;
  assembler.Feed(a, got.Handler());
  EXPECT_EQ(got.frames, std::vector<Bytes>{a});
}

TEST(FrameAssembler, StartByteInsideATelegramDoesNotDisturbTheCut) {
  const Bytes frame = WrapFrame(Bytes("\x68\x68\x05\x16\x68", 5), 0x68);
  FrameAssembler assembler;
  Collector got;
  assembler.Feed(frame.substr(0, 4), got.Handler());
  assembler.Feed(frame.substr(4), got.Handler());
  EXPECT_EQ(got.frames, std::vector<Bytes>{frame});
  EXPECT_EQ(assembler.Stats().resyncs, 0u);
}

TEST(FrameAssembler, NoiseWithoutStartByteIsDroppedAndCounted) {
  FrameAssembler assembler;
  Collector got;
  assembler.Feed(Bytes(2000, '\x55'), got.Handler());
  EXPECT_TRUE(got.frames.empty());
  EXPECT_EQ(assembler.Buffered(), 0u);
  EXPECT_EQ(assembler.Stats().noiseBytes, 2000u);
  // A held, incomplete frame is never over the cap: it is at most 257 bytes.
  assembler.Feed(Bytes("\x68\xFF", 2) + Bytes(250, '\x00'), got.Handler());
  EXPECT_EQ(assembler.Buffered(), 252u);
  EXPECT_EQ(assembler.Stats().overflows, 0u);
}

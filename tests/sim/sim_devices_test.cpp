// The simulated devices as the program sees them: meter frames through the
// program's own decoder, the Korvex's configuration mode and command-frame
// parsing, and the repeater's handling of every command with its answer
// decoded by DecodeRepeaterAnswer.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "field_decoders.h"
#include "korvex.h"
#include "repeater.h"
#include "sim_test_support.h"
#include "traffic.h"

using namespace simtest;

namespace {

// What the program shows for meter `m` when its repeated copy has the raw signal byte `signal`.
struct Expected {
  std::string mfr, medium, aux, notes;
};

Expected ExpectedRow(const sim::SimMeter& m) {
  Expected e;
  e.mfr = m.manufacturer;
  e.medium = MediumText(m.deviceType);
  if (m.ci == 0x72) e.aux = m.secondaryId;
  if (m.ci == 0x78) {
    e.notes = "Not encrypted (no header)";
  } else if (m.encrypted) {
    e.notes = "AES-128, Mode 5 (Dedicated IV). ";
    e.notes += m.blocks >= 10 ? " " + std::to_string(m.blocks) + " blocks to decrypt. "
                              : std::to_string(m.blocks) + " blocks to decrypt. ";
  } else {
    e.notes = "Not encrypted ";
  }
  return e;
}

}  // namespace

TEST(SimMeters, RepeatedFramesDecodeToTheFieldsTheSimulatorMeant) {
  sim::TrafficGenerator traffic(42, 12, 1000, "12345678");
  ProgramSide program;
  std::map<std::string, std::uint8_t> lastRepeatedSignal;
  std::map<std::string, const sim::SimMeter*> byId;
  for (const auto& m : traffic.Meters()) byId[m.id] = &m;
  size_t frames = 0;
  for (int i = 0; i < 300; ++i) {
    const sim::Burst b = traffic.Next(true);
    ASSERT_FALSE(b.repeated.empty());
    program.Feed(b.direct);
    program.Feed(b.repeated);
    frames += 2;
    const std::string id = sim::WireToIdText(b.repeated.substr(5, 4));
    lastRepeatedSignal[id] = static_cast<std::uint8_t>(b.repeated[b.repeated.size() - 2]);
  }
  // Every frame was cut and logged, none was taken for a wrong CI.
  EXPECT_EQ(program.handler.Stats().framesCut, frames);
  EXPECT_EQ(program.log.lines.size(), frames);
  for (const auto& line : program.log.lines) EXPECT_EQ(line.find("Wrong CI"), std::string::npos) << line;

  std::set<int> cis;
  std::set<std::string> inTable;
  for (int row = 1; row < program.table.RowCount(); ++row) {
    const std::string id = program.table.Cell(kColMeterId, row);
    ASSERT_TRUE(byId.count(id)) << id;
    const sim::SimMeter& m = *byId[id];
    cis.insert(m.ci);
    inTable.insert(id);
    const Expected e = ExpectedRow(m);
    EXPECT_EQ(program.table.Cell(kColManufacturer, row), e.mfr) << id;
    EXPECT_EQ(program.table.Cell(kColMedium, row), e.medium) << id;
    EXPECT_EQ(program.table.Cell(kColAuxId, row), e.aux) << id;
    EXPECT_EQ(program.table.Cell(kColNotes, row), e.notes) << id;
    EXPECT_EQ(program.table.Cell(kColRssi, row), std::to_string(lastRepeatedSignal[id] >> 1)) << id;
    EXPECT_NE(program.table.Cell(kColControl, row).find("SIG=0x"), std::string::npos);
  }
  // All header kinds took part; the alarm meter is logged but never listed.
  EXPECT_EQ(cis, (std::set<int>{0x72, 0x78, 0x7A}));
  for (const auto& m : traffic.Meters()) {
    if (m.ci == 0x71)
      EXPECT_FALSE(inTable.count(m.id));
    else
      EXPECT_TRUE(inTable.count(m.id)) << m.id;
  }
}

TEST(SimMeters, DirectFramesAreLoggedButNeverListed) {
  sim::TrafficGenerator traffic(5, 8, 1000, "12345678");
  ProgramSide program;
  for (int i = 0; i < 50; ++i) {
    const sim::Burst b = traffic.Next(false);
    EXPECT_TRUE(b.repeated.empty());
    program.Feed(b.direct);
  }
  EXPECT_EQ(program.log.lines.size(), 50u);
  EXPECT_EQ(program.table.RowCount(), 2);
  EXPECT_EQ(program.table.Cell(kColMeterId, 1), "");
}

TEST(SimMeters, SameSeedSameTrafficOtherSeedOther) {
  const auto run = [](std::uint64_t seed) {
    sim::TrafficGenerator t(seed, 12, 1000, "12345678");
    std::string all;
    for (int i = 0; i < 100; ++i) {
      const auto b = t.Next(true);
      all += std::to_string(b.gapMs) + b.direct + b.repeated;
    }
    return all;
  };
  EXPECT_EQ(run(9), run(9));
  EXPECT_NE(run(9), run(10));
}

TEST(SimMeters, NoMeterTakesTheRepeatersId) {
  // Two meters only, so a clash with the repeater would be likely without the guard.
  for (std::uint64_t seed = 0; seed < 200; ++seed) {
    sim::TrafficGenerator t(seed, 2, 1000, "00000000");
    for (const auto& m : t.Meters()) EXPECT_NE(m.id, "00000000");
  }
}

// The signal byte is dBm without its minus sign: the repeater, usually nearer
// the PC than the meter, mostly gives the smaller number.
TEST(SimMeters, TheRepeatedCopyIsMostlyTheStrongerOne) {
  int stronger = 0, weaker = 0;
  for (std::uint64_t seed = 0; seed < 20; ++seed) {
    sim::TrafficGenerator t(seed, 50, 1000, "12345678");
    for (const auto& m : t.Meters()) (m.repeatedSignal < m.signal ? stronger : weaker) += 1;
  }
  EXPECT_GT(stronger, weaker);
}

// --- the Korvex's configuration mode ------------------------------------------

TEST(SimKorvex, ConfigurationModeSteps) {
  struct Case {
    const char* name;
    std::string input;
    bool quietAtEnd;
    std::string prompts;
    sim::KorvexTransceiver::Mode mode;
    int address;
    int value;  // expected memory[address], -1: untouched (0)
  };
  const std::vector<Case> cases = {
      {"whole exchange", B({0x00, 'M', 0x19, 0x59, 0xFF, 'X'}), false, ">>",
       sim::KorvexTransceiver::Mode::Idle, 0x19, 0x59},
      {"value byte equal to a start byte", B({0x00, 'M', 0x1A, 0x68, 0xFF, 'X'}), false, ">>",
       sim::KorvexTransceiver::Mode::Idle, 0x1A, 0x68},
      {"silence after 00 times out", B({0x00}), true, ">", sim::KorvexTransceiver::Mode::Idle, 0x19, -1},
      {"silence after M times out", B({0x00, 'M'}), true, ">>", sim::KorvexTransceiver::Mode::Idle, 0x19, -1},
      {"invalid step after 00 leaves without prompt", B({0x00, 'Q', 'M'}), false, ">",
       sim::KorvexTransceiver::Mode::Idle, 0x19, -1},
      {"prompt missed by the PC: FF X still leave", B({0x00, 0xFF, 'X'}), false, ">",
       sim::KorvexTransceiver::Mode::Idle, 0x19, -1},
      {"garbage after the value leaves", B({0x00, 'M', 0x1B, 0x12, 0x33}), false, ">>",
       sim::KorvexTransceiver::Mode::Idle, 0x1B, 0x12},
      {"waiting for X after FF", B({0x00, 'M', 0x1C, 0x34, 0xFF}), false, ">>",
       sim::KorvexTransceiver::Mode::Config, 0x1C, 0x34},
      {"FF X outside configuration mode are dropped", B({0xFF, 'X'}), false, "",
       sim::KorvexTransceiver::Mode::Idle, 0x19, -1},
      {"a stray X does not swallow the next request", B({'X', 0x00, 'M', 0x1D, 0x56, 0xFF, 'X'}), false, ">>",
       sim::KorvexTransceiver::Mode::Idle, 0x1D, 0x56},
  };
  for (const Case& c : cases) {
    for (bool byteByByte : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (byteByByte ? ", byte by byte" : ", one piece"));
      sim::KorvexTransceiver k;
      std::string prompts;
      if (byteByByte) {
        for (char ch : c.input) prompts += k.Feed(std::string(1, ch)).prompts;
      } else {
        prompts = k.Feed(c.input).prompts;
      }
      if (c.quietAtEnd) {
        EXPECT_TRUE(k.Idle().prompts.empty());
      }
      EXPECT_EQ(prompts, c.prompts);
      EXPECT_EQ(k.CurrentMode(), c.mode);
      EXPECT_EQ(k.Memory()[static_cast<size_t>(c.address)], c.value < 0 ? 0 : c.value);
    }
  }
}

TEST(SimKorvex, SetInKorvexSequenceStoresTheRepeaterId) {
  // The eight exchanges of "Set in Korvex" for repeater 12345678.
  sim::KorvexTransceiver k;
  const int values[] = {0x59, 0x8D, 0x12, 0x34, 0x56, 0x78, 0x00, 0x00};
  std::string prompts;
  for (int i = 0; i < 8; ++i) prompts += k.Feed(B({0x00, 'M', 25 + i, values[i], 0xFF, 'X'})).prompts;
  EXPECT_EQ(prompts, std::string(16, '>'));
  EXPECT_EQ(k.MemoryRepeaterId(), "12345678");
  EXPECT_EQ(k.Memory()[25], 0x59);
  EXPECT_EQ(k.Memory()[26], 0x8D);
  // The purge before the next command cut off the final "X": the frame that
  // follows ends configuration mode and still counts.
  k.Feed(B({0x00, 'M', 0x20, 0x00, 0xFF}));
  const auto out = k.Feed(CommandFrame(kRepeater, B({0x01, 0x22, 0x05})));
  EXPECT_EQ(out.commandFrames.size(), 1u);
  EXPECT_EQ(k.CurrentMode(), sim::KorvexTransceiver::Mode::Idle);
}

TEST(SimKorvex, CommandFramesInAnyChunkingAndForm) {
  const std::string records = B({0x01, 0x22, 0x05});
  const std::string framed = CommandFrame(kRepeater, records);
  const std::string bare = CommandFrame(kRepeater, records, true);
  ASSERT_EQ(framed, B({0x68, 0x12, 0x06, 0x8D, 0x59, 0x78, 0x56, 0x34, 0x12, 0x03, 0x00,
                       0x08, 0x7A, 0x01, 0x00, 0x00, 0x00, 0x01, 0x22, 0x05, 0x16}));
  // Noise between the frames, a frame with a wrong end byte, a bare frame
  // whose L happens to be 0x68, then both forms again.
  std::string bigRecords(0x68 - 15, '\x2F');
  const std::string bareL68 = CommandFrame(kRepeater, bigRecords, true);
  ASSERT_EQ(static_cast<std::uint8_t>(bareL68[0]), 0x68);
  std::string badEnd = framed;
  badEnd.back() = 0x15;
  const std::string stream = B({0x33, 0x01}) + framed + badEnd + bare + B({0xFF, 'X'}) + bareL68 + framed;
  const std::vector<std::string> want = {framed, framed, "\x68" + bareL68 + "\x16", framed};
  for (size_t chunk : {size_t{1}, size_t{2}, size_t{7}, stream.size()}) {
    SCOPED_TRACE("chunk " + std::to_string(chunk));
    sim::KorvexTransceiver k;
    std::vector<std::string> got;
    for (size_t at = 0; at < stream.size(); at += chunk) {
      auto out = k.Feed(stream.substr(at, chunk));
      EXPECT_TRUE(out.prompts.empty());
      got.insert(got.end(), out.commandFrames.begin(), out.commandFrames.end());
    }
    EXPECT_EQ(got, want);
    EXPECT_FALSE(k.HasPartialInput());
  }
}

TEST(SimKorvex, HalfAFrameIsGivenUpWhenTheLineGoesQuiet) {
  sim::KorvexTransceiver k;
  const std::string framed = CommandFrame(kRepeater, B({0x01, 0x26, 0x02}));
  EXPECT_TRUE(k.Feed(framed.substr(0, 9)).commandFrames.empty());
  EXPECT_TRUE(k.HasPartialInput());
  k.Idle();
  EXPECT_FALSE(k.HasPartialInput());
  // The rest of the old frame is no frame now, the next whole frame is taken.
  EXPECT_TRUE(k.Feed(framed.substr(9)).commandFrames.empty());
  EXPECT_EQ(k.Feed(framed).commandFrames.size(), 1u);
}

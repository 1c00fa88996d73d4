// The simulator on a real pseudo-terminal, read and written from the slave
// side exactly as the program does with a serial port.

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>

#include "sim_runner.h"
#include "sim_test_support.h"

using namespace simtest;

namespace {

// Starts a runner, reads everything it sends until it has finished.
std::string ReadAllOf(sim::SimOptions options) {
  sim::SimulatorRunner runner(std::move(options));
  std::string error;
  EXPECT_TRUE(runner.Start(&error)) << error;
  const int fd = OpenSlave(runner.SlavePath());
  EXPECT_GE(fd, 0);
  // Finished, and every byte it wrote is here.
  const std::string got = ReadUntil(
      fd, [&](const std::string& s) { return runner.Finished() && s.size() >= runner.Stats().bytesSent; },
      kLimitMs);
  EXPECT_TRUE(runner.Finished());
  EXPECT_EQ(got.size(), runner.Stats().bytesSent);
  close(fd);
  return got;
}

std::vector<std::string> Decoded(const std::string& bytes) {
  ProgramSide program;
  program.options.discardWrongCI = false;
  program.Feed(bytes);
  return program.log.lines;
}

}  // namespace

TEST(SimRunner, SameSeedSameBytesWithEveryFault) {
  auto options = FastOptions(7);
  options.count = 40;
  options.noise = 0.3;
  options.badFrames = 0.1;
  options.chunks = true;
  const std::string first = ReadAllOf(options);
  const std::string second = ReadAllOf(options);
  EXPECT_GT(first.size(), 40u * 20);
  EXPECT_EQ(first, second);
  // Pacing changes when the bytes come, not which.
  options.baud = 115200;
  EXPECT_EQ(ReadAllOf(options), first);
  options.seed = 8;
  EXPECT_NE(ReadAllOf(options), first);
}

TEST(SimRunner, CountedTelegramsAllArriveAndDecode) {
  auto options = FastOptions(3);
  options.count = 30;
  options.meters = 5;
  const std::string bytes = ReadAllOf(options);
  ProgramSide program;
  program.Feed(bytes);
  EXPECT_EQ(program.handler.Stats().framesCut, 30u);
  EXPECT_EQ(program.handler.Stats().noiseBytes, 0u);
  EXPECT_EQ(program.log.lines.size(), 30u);
  EXPECT_GE(program.table.RowCount(), 2);
  EXPECT_FALSE(program.table.Cell(kColMeterId, 1).empty()) << ::testing::PrintToString(program.log.lines);
}

TEST(SimRunner, RecordedCaptureReplaysToTheSameBytesAndLines) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string capture = dir.filePath("capture.bin").toStdString();
  auto options = FastOptions(11);
  options.count = 25;
  options.noise = 0.2;
  options.badFrames = 0.1;
  options.recordPath = capture;
  const std::string sent = ReadAllOf(options);

  std::ifstream in(capture, std::ios::binary);
  const std::string recorded((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(recorded, sent);

  auto replay = FastOptions(99);  // the seed plays no part in a replay
  replay.replayPath = capture;
  replay.chunks = true;
  const std::string replayed = ReadAllOf(replay);
  EXPECT_EQ(replayed, sent);
  EXPECT_EQ(Decoded(replayed), Decoded(sent));

  // The same capture written as hex text replays the same.
  const std::string hexCapture = dir.filePath("capture.hex").toStdString();
  std::ofstream(hexCapture) << sim::HexText(sent) << "\n";
  replay.replayPath = hexCapture;
  EXPECT_EQ(ReadAllOf(replay), sent);
}

TEST(SimRunner, MissingReplayFileFailsToStart) {
  auto options = FastOptions(1);
  options.replayPath = "/nonexistent/capture.bin";
  sim::SimulatorRunner runner(options);
  std::string error;
  EXPECT_FALSE(runner.Start(&error));
  EXPECT_NE(error.find("/nonexistent/capture.bin"), std::string::npos);
}

TEST(SimRunner, CommandFrameIsAnsweredOnTheLine) {
  auto options = FastOptions(5);
  options.meters = 0;  // nothing else on the line
  sim::SimulatorRunner runner(options);
  std::string error;
  ASSERT_TRUE(runner.Start(&error)) << error;
  const int fd = OpenSlave(runner.SlavePath());
  ASSERT_GE(fd, 0);
  ProgramSide program;
  program.options.repeaterId = "12345678";
  program.options.newId = "87654321";
  // Framed, split in two writes; then bare; then a new ID.
  const std::string setHour = CommandFrame(kRepeater, B({0x01, 0x22, 0x05}));
  ASSERT_TRUE(WriteAll(fd, setHour.substr(0, 7)));
  ASSERT_TRUE(WriteAll(fd, setHour.substr(7)));
  program.Feed(ReadUntil(
      fd, [](const std::string& s) { return !s.empty() && s.back() == 0x16; }, kLimitMs));
  EXPECT_TRUE(HasLine(program.log.lines, "START HOUR = 5"));
  EXPECT_EQ(runner.Repeater().rxStartHour, 5);

  ASSERT_TRUE(
      WriteAll(fd, CommandFrame(kRepeater, B({0x0F, 0xFF, 0x05, 0x04, 0x21, 0x01, 0x00, 0x00}), true)));
  program.Feed(ReadUntil(
      fd, [](const std::string& s) { return !s.empty() && s.back() == 0x16; }, kLimitMs));
  EXPECT_TRUE(HasLine(program.log.lines, "Flags (32 total): 00000001"));

  ASSERT_TRUE(
      WriteAll(fd, CommandFrame(kRepeater, B({0x07, 0x79, 0x21, 0x43, 0x65, 0x87, 0x8D, 0x59, 0x03, 0x00}))));
  program.Feed(ReadUntil(
      fd, [](const std::string& s) { return !s.empty() && s.back() == 0x16; }, kLimitMs));
  EXPECT_EQ(runner.RepeaterId(), "87654321");
  EXPECT_TRUE(HasLine(program.log.lines, "Repeater 87654321, VLM: ", true));
  EXPECT_EQ(runner.Stats().answers, 3u);
  close(fd);
}

TEST(SimRunner, ConfigurationModeExchangeOnTheLine) {
  auto options = FastOptions(5);
  options.meters = 0;
  options.quietMs = 1000;
  sim::SimulatorRunner runner(options);
  std::string error;
  ASSERT_TRUE(runner.Start(&error)) << error;
  const int fd = OpenSlave(runner.SlavePath());
  ASSERT_GE(fd, 0);
  const auto prompt = [&] {
    return ReadUntil(
        fd, [](const std::string& s) { return !s.empty(); }, 1000);
  };
  // Whole exchange for parameter 27.
  ASSERT_TRUE(WriteAll(fd, B({0x00})));
  EXPECT_EQ(prompt(), ">");
  ASSERT_TRUE(WriteAll(fd, B({'M'})));
  EXPECT_EQ(prompt(), ">");
  ASSERT_TRUE(WriteAll(fd, B({0x1B, 0x12, 0xFF, 'X'})));
  // The PC goes silent after its request; the Korvex times out and takes the next one.
  ASSERT_TRUE(WriteAll(fd, B({0x00})));
  EXPECT_EQ(prompt(), ">");
  ASSERT_TRUE(runner.WaitFor([](const sim::SimStats& s) { return s.quietTimeouts >= 1; }, kLimitMs));
  ASSERT_TRUE(WriteAll(fd, B({0x00})));
  EXPECT_EQ(prompt(), ">");
  // An invalid step leaves configuration mode without a prompt: the "M" after
  // it is no step either, and only the next request is answered.
  ASSERT_TRUE(WriteAll(fd, B({'Q', 'M', 0x00})));
  EXPECT_EQ(prompt(), ">");
  EXPECT_EQ(runner.Stats().prompts, 5u);
  EXPECT_EQ(runner.KorvexMemory()[27], 0x12);
  close(fd);
}

// What was already on its way to the program stays there (the program must
// find the prompt behind it); after the prompt no traffic comes until the
// exchange ends.
TEST(SimRunner, PromptFollowsWhatWasOnTheLineAndHoldsTraffic) {
  auto options = FastOptions(6);  // flat-out traffic: the line is always full
  // The quiet timer is not under test here: a slow test process must not end
  // configuration mode while it reads the quiet after a prompt.
  options.quietMs = 10000;
  sim::SimulatorRunner runner(options);
  std::string error;
  ASSERT_TRUE(runner.Start(&error)) << error;
  const int fd = OpenSlave(runner.SlavePath());
  ASSERT_GE(fd, 0);
  // Up to the prompt and the quiet after it: a 0x3E inside the rest of a
  // telegram is no prompt, and in configuration mode nothing follows one.
  const auto untilPrompt = [&] {
    std::string got = ReadUntil(
        fd, [](const std::string& s) { return !s.empty() && s.back() == '>'; }, kLimitMs);
    // Bounded: should traffic resume, the line never goes quiet, and the
    // checks below fail instead of reading for ever.
    for (std::string more;
         got.size() < 65536 && !(more = ReadUntil(
                                     fd, [](const std::string& s) { return !s.empty(); }, 300))
                                    .empty();)
      got += more;
    return got;
  };
  const auto queued = [&] {
    int n = 0;
    ioctl(fd, FIONREAD, &n);
    return n;
  };
  for (std::uint64_t round = 0; round < 5; ++round) {
    SCOPED_TRACE(round);
    ASSERT_TRUE(runner.WaitFor([&](const sim::SimStats&) { return queued() > 500; }, kLimitMs));
    tcflush(fd, TCIFLUSH);
    ASSERT_TRUE(WriteAll(fd, B({0x00})));
    std::string got = untilPrompt();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.back(), '>');
    ASSERT_TRUE(WriteAll(fd, B({'M'})));
    ASSERT_TRUE(runner.WaitFor([&](const sim::SimStats& s) { return s.prompts == 2 * round + 2; }, kLimitMs));
    EXPECT_EQ(untilPrompt(), ">");  // nothing but the prompt in configuration mode
    ASSERT_TRUE(WriteAll(fd, B({0x19 + static_cast<int>(round), 0x40, 0xFF, 'X'})));
  }
  EXPECT_TRUE(runner.WaitFor([](const sim::SimStats& s) { return s.prompts == 10; }, kLimitMs));
  // The last write is taken a moment after its prompt went out.
  for (int i = 0; i < 300 && runner.KorvexMemory()[0x1D] != 0x40; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(runner.KorvexMemory()[0x1D], 0x40);
  close(fd);
}

// --baud paces what the program writes too; --prompt-delay, --drop-prompt,
// --miss and --deaf. Only lower bounds of time are checked: a loaded machine
// makes things slower, never faster.
TEST(SimRunner, SlowLineLateAndMissingPromptsAndDeafRepeater) {
  using Clock = std::chrono::steady_clock;
  const auto ms = [](Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
  };
  {
    auto options = FastOptions(7);
    options.meters = 0;
    options.baud = 300;  // 33 ms a byte
    options.promptDelayMs = 200;
    options.dropPrompt = 2;
    sim::SimulatorRunner runner(options);
    std::string error;
    ASSERT_TRUE(runner.Start(&error)) << error;
    const int fd = OpenSlave(runner.SlavePath());
    ASSERT_GE(fd, 0);
    // 21 bytes take 700 ms of line time before the repeater has the command.
    auto start = Clock::now();
    ASSERT_TRUE(WriteAll(fd, CommandFrame(kRepeater, B({0x01, 0x22, 0x05}))));
    ASSERT_TRUE(runner.WaitFor([](const sim::SimStats& s) { return s.commandFrames == 1; }, kLimitMs));
    EXPECT_GE(ms(start), 690);
    ASSERT_EQ(ReadUntil(
                  fd, [](const std::string& s) { return s.size() >= 54; }, kLimitMs)
                  .size(),
              54u);
    start = Clock::now();
    ASSERT_TRUE(WriteAll(fd, B({0x00})));
    EXPECT_EQ(ReadUntil(
                  fd, [](const std::string& s) { return !s.empty(); }, kLimitMs),
              ">");
    EXPECT_GE(ms(start), 200 + 33);  // the request's byte time, then the delay
    ASSERT_TRUE(WriteAll(fd, B({'M', 0xFF, 'X', 0x00})));  // the second prompt is dropped
    EXPECT_EQ(ReadUntil(
                  fd, [](const std::string& s) { return !s.empty(); }, kLimitMs),
              ">");
    const sim::SimStats stats = runner.Stats();
    EXPECT_EQ(stats.prompts, 2u);
    EXPECT_EQ(stats.promptsDropped, 1u);
    close(fd);
  }
  for (const bool deaf : {true, false}) {
    SCOPED_TRACE(deaf);
    auto options = FastOptions(8);
    options.meters = 0;
    options.deaf = deaf;
    options.miss = deaf ? 0 : 1;
    sim::SimulatorRunner runner(options);
    std::string error;
    ASSERT_TRUE(runner.Start(&error)) << error;
    const int fd = OpenSlave(runner.SlavePath());
    ASSERT_GE(fd, 0);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(WriteAll(fd, CommandFrame(kRepeater, B({0x01, 0x22, 0x05}))));
    ASSERT_TRUE(runner.WaitFor([](const sim::SimStats& s) { return s.commandsMissed == 3; }, kLimitMs));
    EXPECT_EQ(runner.Repeater().rxStartHour, sim::RepeaterState{}.rxStartHour);
    EXPECT_EQ(runner.Stats().answers, 0u);
    close(fd);
  }
}

TEST(SimRunner, AnswerWaitsForTheEndOfConfigurationMode) {
  auto options = FastOptions(5);
  options.meters = 0;
  options.quietMs = 1000;
  sim::SimulatorRunner runner(options);
  std::string error;
  ASSERT_TRUE(runner.Start(&error)) << error;
  const int fd = OpenSlave(runner.SlavePath());
  ASSERT_GE(fd, 0);
  const auto next = [&] {
    return ReadUntil(
        fd, [](const std::string& s) { return !s.empty(); }, 2000);
  };
  // A command, and at once a configuration request: the answer comes due
  // while the PC is reading prompts.
  ASSERT_TRUE(WriteAll(fd, CommandFrame(kRepeater, B({0x01, 0x22, 0x05})) + B({0x00})));
  EXPECT_EQ(next(), ">");
  ASSERT_TRUE(WriteAll(fd, B({'M'})));
  EXPECT_EQ(next(), ">");
  ASSERT_TRUE(WriteAll(fd, B({0x1F, 0x00, 0xFF, 'X'})));
  ProgramSide program;
  program.options.repeaterId = "12345678";
  program.Feed(ReadUntil(
      fd, [](const std::string& s) { return s.size() >= 54; }, kLimitMs));
  EXPECT_TRUE(HasLine(program.log.lines, "START HOUR = 5")) << ::testing::PrintToString(program.log.lines);
  close(fd);
}

TEST(SimRunner, ReaderMayCloseAndComeBack) {
  auto options = FastOptions(2);
  options.intervalMs = 5;
  sim::SimulatorRunner runner(options);
  std::string error;
  ASSERT_TRUE(runner.Start(&error)) << error;
  int fd = OpenSlave(runner.SlavePath());
  ASSERT_GE(fd, 0);
  EXPECT_GT(ReadUntil(
                fd, [](const std::string& s) { return s.size() > 100; }, kLimitMs)
                .size(),
            100u);
  close(fd);
  // Nobody has the port open while the simulator keeps sending.
  const auto sent = runner.Stats().bytesSent;
  ASSERT_TRUE(runner.WaitFor([&](const sim::SimStats& s) { return s.bytesSent > sent + 200; }, kLimitMs));
  fd = OpenSlave(runner.SlavePath());
  ASSERT_GE(fd, 0);
  ProgramSide program;
  program.Feed(ReadUntil(
      fd, [](const std::string& s) { return s.size() > 500; }, kLimitMs));
  EXPECT_GT(program.handler.Stats().framesCut, 0u);
  close(fd);
}

TEST(SimRunner, UnplugAndReplugMoveTheLink) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  auto options = FastOptions(4);
  options.intervalMs = 5;
  options.linkPath = dir.filePath("ttyKORVEX").toStdString();
  sim::SimulatorRunner runner(options);
  std::string error;
  ASSERT_TRUE(runner.Start(&error)) << error;
  const std::string firstPath = runner.SlavePath();
  char target[256] = {};
  ASSERT_GT(readlink(options.linkPath.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(std::string(target), firstPath);

  const int fd = OpenSlave(options.linkPath);
  ASSERT_GE(fd, 0);
  EXPECT_GT(ReadUntil(
                fd, [](const std::string& s) { return s.size() > 50; }, kLimitMs)
                .size(),
            50u);
  runner.Unplug();
  // The program's side sees the device gone, and the link is gone too.
  pollfd p{fd, POLLIN, 0};
  const auto hungUp = [&] {
    for (int i = 0; i < 100; ++i) {
      if (poll(&p, 1, 100) > 0 && (p.revents & POLLHUP)) return true;
      char buf[4096];
      [[maybe_unused]] ssize_t n = read(fd, buf, sizeof buf);  // what was still on its way
    }
    return false;
  };
  EXPECT_TRUE(hungUp());
  struct stat st;
  EXPECT_NE(lstat(options.linkPath.c_str(), &st), 0);
  close(fd);

  ASSERT_TRUE(runner.Replug(&error)) << error;
  ASSERT_GT(readlink(options.linkPath.c_str(), target, sizeof target - 1), 0);
  const std::string secondPath = runner.SlavePath();
  EXPECT_EQ(std::string(target, strnlen(target, sizeof target)), secondPath);
  const int fd2 = OpenSlave(options.linkPath);
  ASSERT_GE(fd2, 0);
  EXPECT_GT(ReadUntil(
                fd2, [](const std::string& s) { return s.size() > 50; }, kLimitMs)
                .size(),
            50u);
  close(fd2);
  runner.Stop();
  EXPECT_NE(lstat(options.linkPath.c_str(), &st), 0);
}

// The line-rate benchmark times frames from this report: each piece once,
// whole, in line order, paced or not, whatever the faults cut it into.
TEST(SimRunner, EveryPieceWrittenIsReportedOnceInLineOrder) {
  for (int baud : {0, 115200}) {
    SCOPED_TRACE(baud);
    auto options = FastOptions(5);
    options.count = 30;
    options.noise = 0.3;
    options.badFrames = 0.1;
    options.chunks = true;
    options.baud = baud;
    std::mutex mutex;
    std::string reported;
    int pieces = 0;
    options.pieceWritten = [&](const std::string& bytes) {
      std::lock_guard lock(mutex);
      reported += bytes;
      ++pieces;
    };
    const std::string got = ReadAllOf(options);
    std::lock_guard lock(mutex);
    EXPECT_EQ(reported, got);
    EXPECT_GT(pieces, 30);  // chunked frames come in several pieces
  }
}

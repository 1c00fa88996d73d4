// Transmission through the real serial component on a pseudo-terminal: the
// test plays the Korvex on the master side.
#include <gtest/gtest.h>

#include <map>

#include "hand_korvex.h"
#include "hex.h"
#include "pty_pair.h"
#include "repeater_commands.h"
#include "scripted_prompts.h"
#include "serial_command_port.h"
#include "serial_port.h"

namespace {

using Lines = std::vector<std::string>;

// Counts what the program handed to the port, so the device knows how many
// bytes to wait for. Everything goes on to the real port.
class CountingPort : public CommandPort {
 public:
  explicit CountingPort(CommandPort& inner) : m_inner(inner) {}
  bool WriteString(std::string_view bytes) override {
    const bool ok = m_inner.WriteString(bytes);
    if (ok) written += bytes.size();
    return ok;
  }
  bool WriteByte(std::uint8_t byte) override {
    const bool ok = m_inner.WriteByte(byte);
    if (ok) ++written;
    return ok;
  }
  int ReadData(char* dest, int count) override { return m_inner.ReadData(dest, count); }
  void PurgeAll() override { m_inner.PurgeAll(); }
  void Drain() override { m_inner.Drain(); }
  bool WaitForInput(int timeoutMs) override { return m_inner.WaitForInput(timeoutMs); }
  int ReadTimeoutMs() const override { return m_inner.ReadTimeoutMs(); }
  size_t written = 0;

 private:
  CommandPort& m_inner;
};

class CommandPortPty : public ::testing::Test {
 protected:
  CommandPortPty() {
    port.SetDeviceName(pty.SlavePath());
    port.SetDirectWrite(true);
    port.Open();
    controls.repeaterId = "12345678";
  }

  PtyPair pty;
  TSerialPort port;
  SerialCommandPort<TSerialPort> serial{port};
  CountingPort counting{serial};
  HandKorvex korvex{pty};
  std::vector<int> waits;
  CommandState state;
  CommandControls controls;
  VectorLogSink log;
  Lines status;
  FixedClock clock{LocalTime{2026, 12, 7, 9, 7, 0}};
  ScriptedPrompts prompts;
  RepeaterCommands commands{state, CommandEnvironment{
                                       log,
                                       [this](const std::string& s) { status.push_back(s); },
                                       clock,
                                       [this] { return port.IsOpen(); },
                                       counting,
                                       prompts,
                                       [this](int ms) {
                                         waits.push_back(ms);
                                         SleepMilliseconds(ms);
                                       },
                                   }};
};

TEST_F(CommandPortPty, FrameReachesTheLineAndIsLogged) {
  controls.rxStartHour = 5;
  commands.SendParameter(CommandKind::RxStartHour, controls);
  const std::string frame = pty.Receive(21);
  EXPECT_EQ(HexText(frame), "68 12 06 8D 59 78 56 34 12 03 00 08 7A 01 00 00 00 01 22 05 16 ");
  EXPECT_EQ(log.lines, Lines{HexText(frame)});

  controls.customCommand = "01 FD 17";
  controls.bmt = true;
  commands.SendCustomData(controls);
  EXPECT_EQ(HexText(pty.Receive(19)), "12 06 8D 59 78 56 34 12 03 00 08 7A 02 00 00 00 01 FD 17 ");
}

TEST_F(CommandPortPty, WriteToAGoneDeviceFailsQuietly) {
  pty.CloseMaster();
  commands.SendParameter(CommandKind::RxHours, controls);
  // The loss itself is the event thread's to tell; the command only says
  // that its frame did not go out.
  EXPECT_EQ(log.lines, Lines{std::string("Exception - ") + kFrameNotWritten});

  // Leaving configuration mode on a gone line shows no error box either.
  commands.LeaveConfigMode();
  EXPECT_TRUE(prompts.shown.empty()) << prompts.shown[0].text;
}

const std::map<int, std::uint8_t> kIdInMemory = {{25, 0x59}, {26, 0x8D}, {27, 0x12}, {28, 0x34},
                                                 {29, 0x56}, {30, 0x78}, {31, 0x00}, {32, 0x00}};

// A prompt taken as it comes, however late within the read time-out, and
// from behind the end of a telegram that was still on its way.
TEST_F(CommandPortPty, SetInKorvexWithASlowTransceiver) {
  korvex.Start({.promptDelayMs = 80, .aheadOfFirst = "\x41\x16"});
  EXPECT_TRUE(commands.SetInKorvex(controls));
  korvex.StopAfter(counting.written);
  EXPECT_EQ(korvex.Memory(), kIdInMemory);
  std::string bytes;
  for (const auto& [address, value] : kIdInMemory)
    bytes += Bytes{0x00, 'M', char(address), char(value), '\xFF', 'X'};
  EXPECT_EQ(HexText(korvex.Seen()), HexText(bytes));
  std::vector<int> one = {1, 5}, all;
  for (int i = 0; i < 8; ++i) {
    all.insert(all.end(), one.begin(), one.end());
    if (i < 7) all.push_back(50);
  }
  EXPECT_EQ(waits, all);
  EXPECT_EQ(status, Lines{kParameterSaved});
  EXPECT_TRUE(log.lines.empty());
}

TEST_F(CommandPortPty, SetInKorvexWithAnUnansweredThirdPrompt) {
  port.Buffers().SetReadTimeout(300);
  korvex.Start({.dropPrompt = 3});
  EXPECT_FALSE(commands.SetInKorvex(controls));
  korvex.StopAfter(counting.written);
  auto memory = kIdInMemory;
  memory.erase(26);
  EXPECT_EQ(korvex.Memory(), memory);
  EXPECT_EQ(status, Lines{kParameterError});
  EXPECT_EQ(log.lines, Lines{std::string(kKorvexFailedAddresses) + "26"});
}

TEST_F(CommandPortPty, SetInKorvexWithASilentTransceiver) {
  port.Buffers().SetReadTimeout(100);  // eight time-outs in a row
  korvex.Start({.answers = false});
  EXPECT_FALSE(commands.SetInKorvex(controls));
  korvex.StopAfter(counting.written);
  EXPECT_TRUE(korvex.Memory().empty());
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes += Bytes{0x00, '\xFF', 'X'};
  EXPECT_EQ(HexText(korvex.Seen()), HexText(bytes));
  EXPECT_EQ(status, Lines{kParameterError});
}

TEST_F(CommandPortPty, StaleBytesBeforeTheExchangeArePurged) {
  // A telegram half received when the exchange starts must not be taken for a prompt.
  pty.Send(">>>");
  ASSERT_TRUE(WaitUntil([&] { return port.InQueueCount() == 3; }));
  port.Buffers().SetReadTimeout(100);
  korvex.Start({.answers = false});
  EXPECT_FALSE(commands.SetTransceiverParameter(25, 0x59));
  korvex.StopAfter(counting.written);
  EXPECT_EQ(HexText(korvex.Seen()), "00 FF 58 ");
  EXPECT_EQ(status, Lines{kParameterError});
}

}  // namespace

// Transmission through the real serial component on a pseudo-terminal: the
// test plays the Korvex on the master side.
#include <gtest/gtest.h>

#include <map>

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
  size_t written = 0;

 private:
  CommandPort& m_inner;
};

// The Korvex's configuration mode: 0x00 -> ">", "M" -> ">", address, value,
// 0xFF, "X". A silent one answers nothing.
class Korvex {
 public:
  explicit Korvex(PtyPair& pty) : m_pty(pty) {}
  bool answers = true;
  std::string seen;                    // every byte the program sent
  std::map<int, std::uint8_t> memory;  // parameter memory written
  bool prompted = false;               // a prompt went out since the last wait

  void Feed(std::string_view bytes) {
    for (char ch : bytes) {
      const auto b = static_cast<std::uint8_t>(ch);
      seen.push_back(ch);
      switch (m_state) {
        case State::Idle:
          if (b == 0x00) Prompt(State::Config);
          break;
        case State::Config:
          if (b == 'M')
            Prompt(State::Address);
          else if (b == 0xFF)
            m_state = State::Leaving;
          break;
        case State::Address:
          m_address = b, m_state = State::Value;
          break;
        case State::Value:
          memory[m_address] = b, m_state = State::Config;
          break;
        case State::Leaving:
          m_state = b == 'X' ? State::Idle : State::Config;
          break;
      }
    }
  }

 private:
  enum class State { Idle, Config, Address, Value, Leaving };
  void Prompt(State next) {
    if (!answers) return;
    m_pty.Send(">");
    prompted = true;
    m_state = next;
  }
  PtyPair& m_pty;
  State m_state = State::Idle;
  int m_address = 0;
};

class CommandPortPty : public ::testing::Test {
 protected:
  CommandPortPty() {
    port.SetDeviceName(pty.SlavePath());
    port.SetDirectWrite(true);
    port.Open();
    controls.repeaterId = "12345678";
  }

  // The program's waits: the Korvex reads what was sent meanwhile and its
  // prompt reaches the port's input queue before the program reads on.
  void Wait(int ms) {
    waits.push_back(ms);
    while (korvex.seen.size() < counting.written) {
      const std::string got = pty.Receive(counting.written - korvex.seen.size());
      ASSERT_FALSE(got.empty()) << "the device got nothing within the time limit";
      korvex.Feed(got);
    }
    if (korvex.prompted) {
      ASSERT_TRUE(WaitUntil([&] { return port.InQueueCount() > 0; }));
      korvex.prompted = false;
    }
  }
  // Whatever the program sent after its last wait.
  void Drain() { Wait(0), waits.pop_back(); }

  PtyPair pty;
  TSerialPort port;
  SerialCommandPort<TSerialPort> serial{port};
  CountingPort counting{serial};
  Korvex korvex{pty};
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
                                       [this](int ms) { Wait(ms); },
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

TEST_F(CommandPortPty, WriteErrorOfAGoneDeviceIsLogged) {
  pty.CloseMaster();
  commands.SendParameter(CommandKind::RxHours, controls);
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_EQ(log.lines[0].rfind("Exception - Write error (", 0), 0u) << log.lines[0];

  // LeaveConfigMode shows such an error in a message box and carries on.
  commands.LeaveConfigMode();
  ASSERT_EQ(prompts.shown.size(), 1u);
  EXPECT_EQ(prompts.shown[0].text.rfind("Write error (", 0), 0u) << prompts.shown[0].text;
}

TEST_F(CommandPortPty, SetInKorvexWritesTheParameterMemory) {
  commands.SetInKorvex(controls);
  Drain();
  const std::map<int, std::uint8_t> expected = {{25, 0x59}, {26, 0x8D}, {27, 0x12}, {28, 0x34},
                                                {29, 0x56}, {30, 0x78}, {31, 0x00}, {32, 0x00}};
  EXPECT_EQ(korvex.memory, expected);
  std::string bytes;
  for (const auto& [address, value] : expected)
    bytes += Bytes{0x00, 'M', char(address), char(value), '\xFF', 'X'};
  EXPECT_EQ(HexText(korvex.seen), HexText(bytes));
  std::vector<int> one = {40, 40, 1, 5}, all;
  for (int i = 0; i < 8; ++i) {
    all.insert(all.end(), one.begin(), one.end());
    if (i < 7) all.push_back(50);
  }
  EXPECT_EQ(waits, all);
  EXPECT_EQ(status, Lines(8, kParameterSaved));
  EXPECT_TRUE(log.lines.empty());
}

TEST_F(CommandPortPty, SetInKorvexWithASilentTransceiver) {
  korvex.answers = false;
  commands.SetInKorvex(controls);
  Drain();
  EXPECT_TRUE(korvex.memory.empty());
  std::string bytes;
  for (int i = 0; i < 8; ++i) bytes += Bytes{0x00, '\xFF', 'X'};
  EXPECT_EQ(HexText(korvex.seen), HexText(bytes));
  EXPECT_EQ(status, Lines(8, kParameterError));
}

TEST_F(CommandPortPty, StaleBytesBeforeTheExchangeArePurged) {
  // A telegram half received when the exchange starts must not be taken for a prompt.
  pty.Send(">>>");
  ASSERT_TRUE(WaitUntil([&] { return port.InQueueCount() == 3; }));
  korvex.answers = false;
  EXPECT_FALSE(commands.SetTransceiverParameter(25, 0x59));
  Drain();
  EXPECT_EQ(HexText(korvex.seen), "00 FF 58 ");
  EXPECT_EQ(status, Lines{kParameterError});
}

}  // namespace

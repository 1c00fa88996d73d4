#include "repeater_commands.h"

#include <chrono>
#include <exception>
#include <thread>

namespace {
constexpr std::uint8_t kConfigMode = 0x00;
constexpr std::uint8_t kPrompt = '>';
constexpr std::uint8_t kMemoryWrite = 'M';
constexpr std::uint8_t kEndMemoryWrite = 0xFF;
constexpr std::uint8_t kLeaveConfig = 'X';
}  // namespace

void SleepMilliseconds(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

bool RepeaterCommands::CheckRepeaterSelected(const CommandControls& c) {
  if (c.repeaterId.size() == 8) return true;
  m_env.log.AppendLine(kNoRepeaterSelected);
  return false;
}

Bytes RepeaterCommands::Build(CommandKind kind, std::string_view data, const CommandControls& c) {
  return BuildCommandFrame(kind, data, FrameInputs{c, m_env.clock, m_env.log}, m_state);
}

void RepeaterCommands::SendCommandFrame(const Bytes& frame) {
  try {
    std::string hex = HexText(frame);
    // A frame the port did not take whole must not be logged as sent.
    if (!m_env.port.WriteString(frame)) throw CommandWriteError(kFrameNotWritten);
    m_env.log.AppendLine(hex);
  } catch (const std::exception& e) {
    m_env.log.AppendLine(std::string("Exception - ") + e.what());
  }
}

void RepeaterCommands::SendOrRefuse(const Bytes& frame) {
  if (frame.empty())
    m_env.log.AppendLine(kNotCorrectCommand);
  else
    SendCommandFrame(frame);
}

void RepeaterCommands::SendParameter(CommandKind kind, const CommandControls& c) {
  if (!CheckRepeaterSelected(c)) return;
  if (!m_env.ensurePortOpen()) return;
  IdToBcd(c.repeaterId, m_state.repeaterAddress);
  SendOrRefuse(Build(kind, {}, c));
}

void RepeaterCommands::SendWirelessMode(const CommandControls& c) {
  if (!CheckRepeaterSelected(c)) return;
  if (!m_env.ensurePortOpen()) return;
  IdToBcd(c.repeaterId, m_state.repeaterAddress);
  if (!WirelessModeCode(c.wirelessMode)) return;  // a text outside the list: nothing at all
  SendOrRefuse(Build(CommandKind::WirelessMode, {}, c));
}

void RepeaterCommands::SendNewId(const CommandControls& c) {
  if (!CheckRepeaterSelected(c)) return;
  if (!m_env.ensurePortOpen()) return;
  if (c.newId.size() != 8) {
    m_env.log.AppendLine(kNewIdLength);
    return;
  }
  // The frame goes to the repeater's present ID.
  IdToBcd(c.repeaterId, m_state.repeaterAddress);
  SendOrRefuse(Build(CommandKind::NewId, c.newId, c));
}

void RepeaterCommands::SendCustomData(const CommandControls& c) {
  if (!m_env.ensurePortOpen()) return;
  const Bytes data = HexTextToBytes(c.customCommand);
  IdToBcd(c.repeaterId, m_state.repeaterAddress);
  if (data.empty()) return;
  const Bytes frame = Build(CommandKind::CustomData, data, c);
  if (frame.empty()) {  // more bytes than one frame's length byte can count
    m_env.log.AppendLine(kNotCorrectCommand);
    return;
  }
  std::string hex = HexText(frame);
  if (!m_env.port.WriteString(frame)) throw CommandWriteError(kFrameNotWritten);
  m_env.log.AppendLine(hex);
}

bool RepeaterCommands::ConfigFailed() {
  LeaveConfigMode();
  if (m_env.setStatus2) m_env.setStatus2(kParameterError);
  return false;
}

bool RepeaterCommands::AwaitPrompt() {
  char reply = 0;
  return m_env.port.ReadData(&reply, 1) == 1 && static_cast<std::uint8_t>(reply) == kPrompt;
}

bool RepeaterCommands::SetTransceiverParameter(std::uint8_t address, std::uint8_t value) {
  m_env.port.PurgeAll();
  m_env.port.WriteByte(kConfigMode);
  m_env.sleep(40);
  if (!AwaitPrompt()) return ConfigFailed();
  m_env.port.WriteByte(kMemoryWrite);
  m_env.sleep(40);
  if (!AwaitPrompt()) return ConfigFailed();
  const bool addressWritten = m_env.port.WriteByte(address);
  m_env.sleep(1);
  const bool valueWritten = m_env.port.WriteByte(value);
  // A byte the port did not take is no saved parameter.
  if (!addressWritten || !valueWritten) return ConfigFailed();
  LeaveConfigMode();
  if (m_env.setStatus2) m_env.setStatus2(kParameterSaved);
  return true;
}

void RepeaterCommands::LeaveConfigMode() {
  try {
    m_env.port.WriteByte(kEndMemoryWrite);
    m_env.sleep(5);
    m_env.port.WriteByte(kLeaveConfig);
  } catch (const std::exception& e) {
    m_env.prompts.Message("VelRpt", e.what(), Prompts::Icon::None);
  }
}

void RepeaterCommands::SetInKorvex(const CommandControls& c) {
  if (c.repeaterId.size() != 8) {
    m_env.log.AppendLine(kKorvexIdLength);
    return;
  }
  if (!m_env.ensurePortOpen()) return;
  BcdId id{};
  IdToBcd(c.repeaterId, id);
  // Parameter memory 25..32: manufacturer code and ID most significant byte
  // first, then version and device type.
  const std::uint8_t values[8] = {0x59, 0x8D, id[0], id[1], id[2], id[3], 0x00, 0x00};
  for (int i = 0; i < 8; ++i) {
    SetTransceiverParameter(static_cast<std::uint8_t>(25 + i), values[i]);
    if (i < 7) m_env.sleep(50);
  }
}

void RepeaterCommands::Run(CommandKind kind, const CommandControls& c) {
  switch (kind) {
    case CommandKind::WirelessMode:
      SendWirelessMode(c);
      break;
    case CommandKind::NewId:
      SendNewId(c);
      break;
    case CommandKind::CustomData:
      SendCustomData(c);
      break;
    default:
      SendParameter(kind, c);
      break;
  }
}

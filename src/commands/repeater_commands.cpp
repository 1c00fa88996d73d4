#include "repeater_commands.h"

#include <cctype>
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
  if (c.repeaterId.size() != 8) {
    m_env.log.AppendLine(kNoRepeaterSelected);
    return false;
  }
  // Eight characters that are not all digits would address some other device.
  if (!IsIdText(c.repeaterId)) {
    m_env.log.AppendLine(kKorvexIdLength);
    return false;
  }
  return true;
}

namespace {
// Custom data as typed: pairs at 1-2, 4-5, ... with one separator between
// them. A hex digit in a separator's place or a lone last digit means the
// operator typed something else than what the pairs would send.
bool WellFormedCustomText(std::string_view text) {
  if (text.size() > 1 && text.size() % 3 == 1) return false;
  for (size_t i = 2; i < text.size(); i += 3)
    if (std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  return true;
}
}  // namespace

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
  // Bit 15 of the calibration word is the on/off switch: a larger value
  // would switch it behind the operator's back.
  if (kind == CommandKind::ClockCalibration)
    if (const std::string error = CalibrationRangeError(c.calibration); !error.empty()) {
      m_env.log.AppendLine(std::string(kNotSentPrefix) + error);
      return;
    }
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
  if (!IsIdText(c.newId)) {
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
  // An ID of other length keeps the last address; eight characters that
  // are not digits would make a garbled one.
  if (c.repeaterId.size() == 8 && !IsIdText(c.repeaterId)) {
    m_env.log.AppendLine(kKorvexIdLength);
    return;
  }
  IdToBcd(c.repeaterId, m_state.repeaterAddress);
  if (data.empty()) return;
  if (!WellFormedCustomText(c.customCommand)) {
    m_env.log.AppendLine(kNotCorrectCommand);
    return;
  }
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
  return false;
}

// The prompt may take up to the read time-out; it is taken the moment it
// comes. Anything else ahead of it (a telegram the transceiver was still
// delivering) is not the prompt and is thrown away, as the purge would have.
bool RepeaterCommands::AwaitPrompt() {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(m_env.port.ReadTimeoutMs());
  for (;;) {
    char reply = 0;
    while (m_env.port.ReadData(&reply, 1) == 1)
      if (static_cast<std::uint8_t>(reply) == kPrompt) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || !m_env.port.WaitForInput(static_cast<int>(left))) return false;
  }
}

// One byte onto the line; true once it has left the port.
bool RepeaterCommands::Put(std::uint8_t byte) {
  if (!m_env.port.WriteByte(byte)) return false;
  m_env.port.Drain();
  return true;
}

bool RepeaterCommands::Exchange(std::uint8_t address, std::uint8_t value) {
  m_env.port.PurgeAll();
  // The gaps count from the moment a byte has left: at a low rate a byte
  // takes longer on the line than the gap itself.
  if (!Put(kConfigMode) || !AwaitPrompt()) return ConfigFailed();
  if (!Put(kMemoryWrite) || !AwaitPrompt()) return ConfigFailed();
  const bool addressWritten = Put(address);
  m_env.sleep(1);
  // A byte the port did not take is no saved parameter.
  if (!addressWritten || !Put(value)) return ConfigFailed();
  LeaveConfigMode();
  return true;
}

bool RepeaterCommands::SetTransceiverParameter(std::uint8_t address, std::uint8_t value) {
  const bool ok = Exchange(address, value);
  if (m_env.setStatus2) m_env.setStatus2(ok ? kParameterSaved : kParameterError);
  return ok;
}

void RepeaterCommands::LeaveConfigMode() {
  try {
    Put(kEndMemoryWrite);
    m_env.sleep(5);
    Put(kLeaveConfig);
  } catch (const std::exception& e) {
    m_env.prompts.Message("VelRpt", e.what(), Prompts::Icon::None);
  }
}

bool RepeaterCommands::SetInKorvex(const CommandControls& c) {
  if (!IsIdText(c.repeaterId)) {
    m_env.log.AppendLine(kKorvexIdLength);
    return false;
  }
  if (!m_env.ensurePortOpen()) return false;
  BcdId id{};
  IdToBcd(c.repeaterId, id);
  // Parameter memory 25..32: manufacturer code and ID most significant byte
  // first, then version and device type.
  const std::uint8_t values[8] = {0x59, 0x8D, id[0], id[1], id[2], id[3], 0x00, 0x00};
  std::string failed;
  for (int i = 0; i < 8; ++i) {
    const auto address = static_cast<std::uint8_t>(25 + i);
    if (!Exchange(address, values[i])) failed += (failed.empty() ? "" : ", ") + std::to_string(address);
    if (i < 7) m_env.sleep(50);
  }
  // The panel reports the whole ID, not the last of its eight bytes.
  if (m_env.setStatus2) m_env.setStatus2(failed.empty() ? kParameterSaved : kParameterError);
  if (!failed.empty()) m_env.log.AppendLine(std::string(kKorvexFailedAddresses) + failed);
  return failed.empty();
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

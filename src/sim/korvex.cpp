#include "korvex.h"

namespace sim {

namespace {
constexpr std::uint8_t kEnterConfig = 0x00;
constexpr std::uint8_t kMemoryWrite = 'M';
constexpr std::uint8_t kEndMemory = 0xFF;
constexpr std::uint8_t kLeave = 'X';
// A command frame has at least the link header, the short application
// header and its inner length byte: L = N + 10 with N >= 5.
constexpr std::uint8_t kMinL = 15;
constexpr std::uint8_t kLinkC = 0x06;

std::string Hex2(unsigned v) { return HexText(std::string(1, static_cast<char>(v))).substr(0, 2); }
}  // namespace

std::string KorvexTransceiver::MemoryRepeaterId() const {
  std::string wire;
  for (int a = 30; a >= 27; --a) wire.push_back(static_cast<char>(m_memory[a]));
  return WireToIdText(wire);
}

bool KorvexTransceiver::ConfigByte(std::uint8_t b, Output& out) {
  switch (m_mode) {
    case Mode::Idle:
      break;  // not reached: idle bytes go to the frame parser
    case Mode::Config:
      if (b == kMemoryWrite) {
        m_mode = Mode::Address;
        Put(out.prompts, kPrompt);
        out.notes.push_back("config: M, parameter memory write, prompt sent");
      } else if (b == kEndMemory) {
        out.notes.push_back("config: FF, end of parameter memory write");
      } else if (b == kLeave) {
        m_mode = Mode::Idle;
        out.notes.push_back("config: X, configuration mode left");
      } else {
        m_mode = Mode::Idle;
        out.notes.push_back("config: " + Hex2(b) +
                            " is no configuration step, configuration mode left without prompt");
        return false;
      }
      break;
    case Mode::Address:
      m_address = b;
      m_mode = Mode::Value;
      break;
    case Mode::Value:
      m_memory[m_address] = b;
      m_mode = Mode::Written;
      out.notes.push_back("config: parameter " + std::to_string(m_address) + " := 0x" + Hex2(b) +
                          (m_address >= 27 && m_address <= 30
                               ? " (repeater ID in memory now " + MemoryRepeaterId() + ")"
                               : ""));
      break;
    case Mode::Written:
      if (b == kEndMemory) {
        m_mode = Mode::Config;
        out.notes.push_back("config: FF, end of parameter memory write");
      } else if (b == kLeave) {
        m_mode = Mode::Idle;
        out.notes.push_back("config: X, configuration mode left");
      } else {
        m_mode = Mode::Idle;
        out.notes.push_back("config: " + Hex2(b) +
                            " after a parameter write, configuration mode left without prompt");
        return false;
      }
      break;
  }
  return true;
}

void KorvexTransceiver::Drop(size_t n, const char* why, Output& out) {
  FlushNoise(out);
  out.notes.push_back(std::string("dropped ") + HexText(m_pending.substr(0, n)) + "(" + why + ")");
  m_pending.erase(0, n);
}

void KorvexTransceiver::FlushNoise(Output& out) {
  if (m_noise.empty()) return;
  out.notes.push_back("dropped " + HexText(m_noise) + "(not a command frame)");
  m_noise.clear();
}

// Cuts every complete frame out of m_pending. With `quiet` (the line went
// silent) an incomplete rest is given up too.
void KorvexTransceiver::ParseFrames(Output& out, bool quiet) {
  while (!m_pending.empty()) {
    const std::uint8_t first = At(m_pending, 0);
    if (first == kStartByte && (m_pending.size() < 2 || At(m_pending, 1) != kLinkC)) {
      if (m_pending.size() < 2) break;
      const std::uint8_t len = At(m_pending, 1);
      const size_t total = size_t{len} + 3;
      if (len < kMinL) {
        Drop(1, "start byte with a length too short for a command", out);
        continue;
      }
      if (m_pending.size() < total) break;
      if (At(m_pending, total - 1) != kEndByte) {
        // All of it goes: its inside would read as a bare frame or, with its
        // zero bytes, as requests for configuration mode.
        Drop(total, "no end byte where the length puts it", out);
        continue;
      }
      out.commandFrames.push_back(m_pending.substr(0, total));
      out.notes.push_back("framed command frame " + HexText(out.commandFrames.back()));
      m_pending.erase(0, total);
      continue;
    }
    // Bare form: L, then the C-field 0x06 (this also covers a bare frame whose L happens to be 0x68).
    if (first >= kMinL && (m_pending.size() < 2 || At(m_pending, 1) == kLinkC)) {
      if (m_pending.size() < 2) break;
      const size_t total = size_t{first} + 1;
      if (m_pending.size() < total) break;
      Bytes framed;
      Put(framed, kStartByte);
      framed.append(m_pending, 0, total);
      Put(framed, kEndByte);
      out.notes.push_back("bare command frame " + HexText(m_pending.substr(0, total)));
      out.commandFrames.push_back(std::move(framed));
      m_pending.erase(0, total);
      continue;
    }
    // Configuration bytes of a failed exchange (FF X) land here too.
    m_noise.push_back(m_pending[0]);
    m_pending.erase(0, 1);
  }
  if (quiet && !m_pending.empty()) Drop(m_pending.size(), "incomplete frame, line went quiet", out);
  if (quiet) FlushNoise(out);
}

KorvexTransceiver::Output KorvexTransceiver::Feed(std::string_view bytes) {
  Output out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<std::uint8_t>(bytes[i]);
    // A byte that is no configuration step ends configuration mode and is
    // then taken like any other: it may be the start of a command frame
    // that followed an exchange whose end the PC's purge cut off.
    if (m_mode != Mode::Idle && ConfigByte(b, out)) continue;
    // 0x00 asks for configuration mode only between frames: inside a frame
    // it is just data.
    // A single held byte cannot start a frame that goes on with 0x00, so it
    // is no reason to miss the request (it is typically the "X" of an exchange
    // whose prompt the PC did not wait for).
    if (b == kEnterConfig && m_pending.size() <= 1) {
      if (!m_pending.empty()) Drop(1, "not a command frame", out);
      FlushNoise(out);
      m_mode = Mode::Config;
      Put(out.prompts, kPrompt);
      out.notes.push_back("config: 00, configuration mode entered, prompt sent");
      continue;
    }
    m_pending.push_back(static_cast<char>(b));
    ParseFrames(out, false);
  }
  FlushNoise(out);
  return out;
}

KorvexTransceiver::Output KorvexTransceiver::Idle() {
  Output out;
  ParseFrames(out, true);
  FlushNoise(out);
  if (m_mode != Mode::Idle) {
    m_mode = Mode::Idle;
    out.notes.push_back("config: line quiet, configuration mode timed out");
  }
  return out;
}

}  // namespace sim

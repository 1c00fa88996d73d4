#include "traffic.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "text_files.h"

namespace sim {

namespace {
// Different streams of the same seed, so that faults do not shift the traffic.
constexpr std::uint64_t kMeterStream = 0x6D65746572730000ull;
}  // namespace

TrafficGenerator::TrafficGenerator(std::uint64_t seed, int meterCount, int intervalMs,
                                   const std::string& repeaterId)
    : m_rng(seed), m_intervalMs(std::max(0, intervalMs)) {
  SimRandom meterRng(seed ^ kMeterStream);
  m_meters = MakeMeters(std::max(0, meterCount), meterRng, repeaterId);
}

bool TrafficGenerator::IsMeterId(const std::string& id) const {
  return std::any_of(m_meters.begin(), m_meters.end(),
                     [&](const SimMeter& m) { return m.id == id || m.secondaryId == id; });
}

Burst TrafficGenerator::Next(bool repeaterOn) {
  Burst b;
  // Spread evenly around the mean: bounded gaps keep a demo lively.
  b.gapMs =
      m_intervalMs == 0
          ? 0
          : m_intervalMs / 2 + static_cast<int>(m_rng.Below(static_cast<std::uint32_t>(m_intervalMs) + 1));
  if (m_meters.empty()) return b;
  SimMeter& meter = m_meters[m_rng.Below(static_cast<std::uint32_t>(m_meters.size()))];
  const Bytes telegram = NextMeterTelegram(meter, m_rng);
  const auto jitter = [&](std::uint8_t base) {
    return static_cast<std::uint8_t>(std::clamp(base + m_rng.Between(-6, 6), 2, 254));
  };
  b.direct = WrapFrame(telegram, jitter(meter.signal));
  const std::uint8_t repeatedSignal = jitter(meter.repeatedSignal);
  b.repeatDelayMs = m_rng.Between(20, 80);
  if (repeaterOn) b.repeated = WrapFrame(MarkRepeated(telegram), repeatedSignal);
  return b;
}

std::vector<Piece> FaultInjector::Apply(const Bytes& frame, bool corrupt) {
  std::vector<Piece> pieces;
  Bytes bytes;
  if (corrupt && m_rng.Chance(m_options.noise)) {
    const int n = m_rng.Between(1, 8);
    for (int i = 0; i < n; ++i) Put(bytes, m_rng.Byte());
  }
  bytes += frame;
  if (corrupt && !frame.empty() && m_rng.Chance(m_options.badFrames)) {
    std::uint8_t wrong;
    do {
      wrong = m_rng.Byte();
    } while (wrong == kEndByte);
    bytes.back() = static_cast<char>(wrong);
  }
  if (!m_options.chunks || bytes.size() < 2) {
    pieces.push_back({0, std::move(bytes)});
    return pieces;
  }
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t n =
        std::min(bytes.size() - at, size_t{1} + m_rng.Below(static_cast<std::uint32_t>(bytes.size())));
    pieces.push_back({at == 0 ? 0 : m_rng.Between(0, 15), bytes.substr(at, n)});
    at += n;
  }
  return pieces;
}

std::optional<Bytes> LoadCapture(const std::string& path, std::string* error) {
  // The program's one file reader: a FIFO or a device named as the capture
  // is refused rather than waited on or read without end.
  Bytes raw;
  std::string why;
  if (!ReadWholeFile(path, raw, why, kMaxReadFileSize)) {
    if (error) *error = "cannot read capture: " + why;
    return std::nullopt;
  }
  return CaptureFromContent(std::move(raw));
}

Bytes CaptureFromContent(Bytes raw) {
  // Every frame begins with 0x68, which is no hex digit: a raw capture with
  // frames in it never passes for hex text.
  if (auto hex = ParseHex(raw); hex && !raw.empty()) return *hex;
  return raw;
}

std::vector<Bytes> SplitCapture(const Bytes& capture) {
  std::vector<Bytes> units;
  Bytes between;
  size_t i = 0;
  while (i < capture.size()) {
    if (At(capture, i) == kStartByte && i + 1 < capture.size()) {
      const size_t total = size_t{At(capture, i + 1)} + 3;
      if (i + total <= capture.size() && At(capture, i + total - 1) == kEndByte) {
        if (!between.empty()) units.push_back(std::move(between));
        between.clear();
        units.push_back(capture.substr(i, total));
        i += total;
        continue;
      }
    }
    between.push_back(capture[i++]);
  }
  if (!between.empty()) units.push_back(std::move(between));
  return units;
}

}  // namespace sim

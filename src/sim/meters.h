#pragma once
// The simulated meters around the repeater and the telegrams they send.

#include <cstdint>
#include <string>
#include <vector>

#include "sim_random.h"
#include "wmbus_codec.h"

namespace sim {

struct SimMeter {
  std::string manufacturer;  // three letters
  std::string id;            // 8 decimal digits
  std::uint8_t version = 1;
  std::uint8_t deviceType = 7;  // medium
  std::uint8_t ci = 0x7A;       // 0x7A short header, 0x72 long header, 0x78 no header, 0x71 alarm
  std::string secondaryId;      // CI 0x72: the ID of the meter behind the radio module (8 digits)
  bool encrypted = true;        // mode 5 with a block count
  std::uint8_t blocks = 2;      // encrypted 16-byte blocks, 1..15
  std::uint8_t status = 0;
  std::uint8_t accessNumber = 0;
  std::uint32_t volume = 0;  // litres, grows with every telegram
  // Raw signal bytes (twice the dBm value without its minus sign: smaller is
  // stronger) as the Korvex hears the meter directly and through the repeater.
  std::uint8_t signal = 150;
  std::uint8_t repeatedSignal = 150;
};

// `count` meters made from `rng`: mostly CI 0x7A with mode 5 encryption, some
// 0x72 with a secondary ID, a few 0x78, and one alarm meter (0x71) once there
// are at least four. No meter gets `avoidId` (the repeater's).
std::vector<SimMeter> MakeMeters(int count, SimRandom& rng, const std::string& avoidId);

// The next telegram of `meter` as the Korvex passes it on (from the C-field
// on, no CRCs, no signal byte). It advances the meter's access number and
// readings. Payload bytes come from `rng`.
Bytes NextMeterTelegram(SimMeter& meter, SimRandom& rng);

// The same telegram as the repeater sends it on: bit 0 of the first
// configuration byte set (for CI 0x78, which has no header, the byte at the
// position the program reads it from). An alarm telegram goes out unchanged.
Bytes MarkRepeated(const Bytes& telegram);

// Offset of the configuration byte the program reads, counted in the
// telegram from its C-field; 0 when there is none (CI 0x71 and others).
size_t ConfigByteOffset(const Bytes& telegram);

}  // namespace sim

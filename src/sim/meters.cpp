#include "meters.h"

#include <algorithm>
#include <set>

namespace sim {

namespace {

// Letter codes of the simulated makers: invented, any three letters do.
const char* const kMakers[] = {"QWT", "LUX", "ZEN", "ORB", "FYX", "MIK", "TAR", "HEL"};

// Device types with their share of the site.
const std::uint8_t kMedia[] = {0x07, 0x07, 0x07, 0x06, 0x04, 0x08, 0x08, 0x03, 0x02, 0x10, 0x0D};

std::string RandomId(SimRandom& rng) {
  std::string id;
  for (int i = 0; i < 8; ++i) id.push_back(static_cast<char>('0' + rng.Below(10)));
  return id;
}

void PutId(Bytes& out, const std::string& id) { out += *IdTextToWire(id); }

void PutBcd32(Bytes& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    const unsigned two = value % 100;
    value /= 100;
    Put(out, static_cast<std::uint8_t>((two / 10) * 16 + two % 10));
  }
}

// Telegram offsets from the C-field (the program counts from the 0x68 two bytes earlier).
constexpr size_t kCiOffset = 9;

}  // namespace

std::vector<SimMeter> MakeMeters(int count, SimRandom& rng, const std::string& avoidId) {
  std::vector<SimMeter> meters;
  std::set<std::string> used{avoidId};
  for (int i = 0; i < count; ++i) {
    SimMeter m;
    m.manufacturer = kMakers[rng.Below(std::size(kMakers))];
    do {
      m.id = RandomId(rng);
    } while (!used.insert(m.id).second);
    m.version = static_cast<std::uint8_t>(rng.Between(1, 0x50));
    m.deviceType = kMedia[rng.Below(std::size(kMedia))];
    // Fixed share of header kinds so that every site of four or more meters
    // shows each of them.
    const int kind = i % 8;
    if (count >= 4 && i == 3) {
      m.ci = 0x71;
    } else if (kind == 1 || kind == 5) {
      m.ci = 0x72;
    } else if (kind == 6) {
      m.ci = 0x78;
    } else {
      m.ci = 0x7A;
    }
    if (m.ci == 0x72) {
      do {
        m.secondaryId = RandomId(rng);
      } while (!used.insert(m.secondaryId).second);
    }
    m.encrypted = (m.ci == 0x7A || m.ci == 0x72) && rng.Below(5) != 0;
    m.blocks = static_cast<std::uint8_t>(rng.Between(1, 12));
    m.accessNumber = rng.Byte();
    m.volume = rng.Below(900000);
    m.signal = static_cast<std::uint8_t>(rng.Between(60, 230));
    // The repeater usually stands closer to the PC than the meter, but not
    // always. The signal byte is dBm without its minus sign, so the stronger
    // copy is the smaller number.
    m.repeatedSignal = static_cast<std::uint8_t>(std::clamp(m.signal - rng.Between(-30, 70), 40, 250));
    meters.push_back(std::move(m));
  }
  return meters;
}

Bytes NextMeterTelegram(SimMeter& meter, SimRandom& rng) {
  ++meter.accessNumber;
  meter.volume += rng.Below(40);
  Bytes t;
  Put(t, 0x44);  // SND-NR
  Put16(t, PackManufacturer(meter.manufacturer));
  PutId(t, meter.id);
  Put(t, meter.version);
  Put(t, meter.deviceType);
  Put(t, meter.ci);
  if (meter.ci == 0x71) {
    // Alarm: one alarm status byte, then the alarm's cause.
    Put(t, 0x01);
    Put(t, static_cast<std::uint8_t>(rng.Between(1, 4)));
    return t;
  }
  if (meter.ci == 0x78) {
    // No header: volume, then the error flags whose high byte stands where
    // the program reads the configuration byte of a long header.
    Put(t, 0x0C);
    Put(t, 0x13);
    PutBcd32(t, meter.volume);
    Put(t, 0x02);
    Put(t, 0xFD);
    Put(t, 0x17);
    Put(t, meter.status);
    Put(t, 0x00);
    Put(t, 0x04);
    Put(t, 0x6D);
    Put(t, static_cast<std::uint8_t>(rng.Below(60)));
    Put(t, static_cast<std::uint8_t>(rng.Below(24)));
    Put(t, 0x47);
    Put(t, 0x3C);
    return t;
  }
  if (meter.ci == 0x72) {
    PutId(t, meter.secondaryId);
    Put16(t, PackManufacturer(meter.manufacturer));
    Put(t, meter.version);
    Put(t, meter.deviceType);
  }
  Put(t, meter.accessNumber);
  Put(t, meter.status);
  if (meter.encrypted) {
    Put(t, static_cast<std::uint8_t>(meter.blocks << 4));
    Put(t, 0x05);
    // Without the key the payload is noise to everyone, the program included.
    for (int i = 0; i < meter.blocks * 16; ++i) Put(t, rng.Byte());
  } else {
    Put(t, 0x00);
    Put(t, 0x00);
    Put(t, 0x2F);
    Put(t, 0x2F);
    Put(t, 0x0C);
    Put(t, 0x13);
    PutBcd32(t, meter.volume);
    Put(t, 0x02);
    Put(t, 0xFD);
    Put(t, 0x17);
    Put16(t, 0);
  }
  return t;
}

size_t ConfigByteOffset(const Bytes& telegram) {
  if (telegram.size() <= kCiOffset) return 0;
  switch (At(telegram, kCiOffset)) {
    case 0x7A:
      return 12;
    case 0x72:
    case 0x78:
      return 20;
    default:
      return 0;
  }
}

Bytes MarkRepeated(const Bytes& telegram) {
  Bytes copy = telegram;
  const size_t offset = ConfigByteOffset(copy);
  if (offset != 0 && offset < copy.size()) copy[offset] = static_cast<char>(At(copy, offset) | 0x01);
  return copy;
}

}  // namespace sim

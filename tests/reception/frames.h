#pragma once
// Frame builders shared by the reception tests.

#include <cstdint>
#include <string>

#include "hex.h"

// 0x68, L, telegram, signal byte, 0x16.
inline Bytes WrapFrame(const Bytes& telegram, std::uint8_t rssi) {
  Bytes f;
  f.push_back(0x68);
  f.push_back(static_cast<char>(telegram.size() + 1));
  f += telegram;
  f.push_back(static_cast<char>(rssi));
  f.push_back(0x16);
  return f;
}

// A meter telegram from the C-field: manufacturer, BCD ID (8 digits), version,
// device type, CI and a header by CI (status, configuration word), then `tail`.
inline Bytes MeterTelegram(const std::string& id, std::uint8_t ci, std::uint8_t config1,
                           std::uint8_t config2 = 0x05, std::uint8_t status = 0x00,
                           const Bytes& tail = Bytes("\x2F\x2F\x04\x13\x01\x02\x03\x04", 8),
                           std::uint8_t deviceType = 0x07) {
  Bytes t;
  t.push_back(0x44);
  t += Bytes("\x93\x15", 2);  // ELS
  for (int k = 3; k >= 0; --k) t.push_back(static_cast<char>(std::stoi(id.substr(k * 2, 2), nullptr, 16)));
  t.push_back(0x33);
  t.push_back(static_cast<char>(deviceType));
  t.push_back(static_cast<char>(ci));
  if (ci == 0x72 || ci == 0x78) {
    if (ci == 0x72) t += Bytes("\x21\x43\x65\x87\xA5\x11\x01\x07", 8);  // secondary ID 87654321
    else t += Bytes(8, '\x00');
    t.push_back(0x2A);  // access number
    t.push_back(static_cast<char>(status));
    t.push_back(static_cast<char>(config1));
    if (ci == 0x72) t.push_back(static_cast<char>(config2));
  } else {
    t.push_back(0x2A);
    t.push_back(static_cast<char>(status));
    t.push_back(static_cast<char>(config1));
    t.push_back(static_cast<char>(config2));
  }
  return t + tail;
}

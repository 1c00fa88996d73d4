#pragma once
// What one received frame carries, read the way DecodeTelegram reads it, for
// those who watch the receive path without changing what it shows: the site
// survey and the JSON Lines output.

#include <cstdint>
#include <string_view>

#include "local_formats.h"

struct DecodeOptions;

struct FrameFacts {
  enum class Kind {
    kTelegram,  // an accepted telegram of a meter
    kWrongCI,   // refused by "Discard if wrong CI"
    kAnswer,    // the selected repeater's (or the new ID's) own telegram
    kShort,     // too short to carry the fields the decoder needs
  };
  Kind kind = Kind::kShort;
  bool hasId = false;    // C-field, manufacturer and ID
  bool hasType = false;  // version and device type
  bool hasCI = false;
  bool hasHeader = false;  // status and configuration byte (CI 0x7A, 0x72, 0x78)
  bool hasRssi = false;
  bool repeated = false;  // configuration bit 0 set
  std::uint8_t c = 0, version = 0, medium = 0, ci = 0;
  std::uint8_t manufacturer[2] = {0, 0};  // low byte first
  std::uint32_t id = 0;                   // offsets 8, 7, 6, 5 as one number: its hex text is the ID text
  std::uint8_t status = 0, config1 = 0, config2 = 0;
  std::uint8_t rssi = 0;  // the halved value the table shows
};

// Mirrors the decoder's steps: CI check, ID, repeater routing, header by CI.
FrameFacts ReadFrameFacts(std::string_view frame, const DecodeOptions& options);

// Told of every frame the decoder is given, before it writes anything, with
// the moment the decoder stamps it with.
class FrameObserver {
 public:
  virtual ~FrameObserver() = default;
  virtual void OnFrame(std::string_view frame, const DecodeOptions& options, const LocalTime& now) = 0;
};

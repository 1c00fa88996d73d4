#pragma once
// What one received frame carries and where it goes: the one reading of the
// frame layout. DecodeTelegram routes by it, and those who watch the receive
// path without changing what it shows (the site survey, the JSON Lines
// output) are handed the same facts.

#include <cstdint>
#include <string_view>

#include "local_formats.h"

struct DecodeOptions;

struct FrameFacts {
  enum class Kind {
    kTelegram,  // an accepted telegram of a meter
    kWrongCI,   // refused by "Discard if wrong CI"
    kAnswer,    // a repeater's answer: the selected one, the new ID or an ID being provisioned
    kShort,     // too short to carry the fields the decoder needs
  };
  Kind kind = Kind::kShort;
  bool hasId = false;    // C-field, manufacturer and ID
  bool hasType = false;  // version and device type
  bool hasCI = false;
  bool hasHeader = false;  // status and configuration byte (CI 0x7A, 0x72, 0x78)
  bool hasAux = false;     // CI 0x72: the secondary ID
  bool hasRssi = false;
  bool repeated = false;  // configuration bit 0 set
  std::uint8_t c = 0, version = 0, medium = 0, ci = 0;
  std::uint8_t manufacturer[2] = {0, 0};  // low byte first
  std::uint32_t id = 0;                   // offsets 8, 7, 6, 5 as one number: its hex text is the ID text
  std::uint32_t auxId = 0;                // offsets 15, 14, 13, 12, the same way
  std::uint8_t status = 0, config1 = 0, config2 = 0;
  std::uint8_t rssi = 0;  // the halved value the table shows: dBm without its minus sign
};

// The CI check, then the ID against the repeater IDs of `options`, then the
// header by CI: every rule that decides where a frame goes.
FrameFacts ReadFrameFacts(std::string_view frame, const DecodeOptions& options);

// The received power in dBm: the transceiver reports it without its sign.
inline int SignedDbm(std::uint8_t rssi) { return -static_cast<int>(rssi); }

// Told of every frame the decoder is given, before it writes anything, with
// the moment the decoder stamps it with.
class FrameObserver {
 public:
  virtual ~FrameObserver() = default;
  // The facts the decoder routes the frame by.
  virtual void OnFrameFacts(std::string_view frame, const FrameFacts& facts, const LocalTime& now) = 0;
  // For a frame that does not come through the decoder.
  void OnFrame(std::string_view frame, const DecodeOptions& options, const LocalTime& now) {
    OnFrameFacts(frame, ReadFrameFacts(frame, options), now);
  }
};

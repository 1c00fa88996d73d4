#include "field_decoders.h"

#include <array>

std::string ManufacturerText(std::uint8_t low, std::uint8_t high) {
  const unsigned value = high * 256u + low;
  std::string text(3, ' ');
  text[0] = static_cast<char>(64 + (value >> 10));
  text[1] = static_cast<char>(64 + ((value >> 5) & 31));
  text[2] = static_cast<char>(64 + (value & 31));
  return text;
}

const char* MediumText(std::uint8_t deviceType) {
  static constexpr std::array<const char*, 17> kLow = {
      "Other",     "Oil",       "Electricity", "Gas",        "Heat",       "Steam",
      "Hot water", "Water",     "H.C.A",       "Compr. air", "Cool (out)", "Cool (in)",
      "Heat",      "Heat/Cool", "Bus",         "Unknown",    "Cold water"};
  if (deviceType < kLow.size()) return kLow[deviceType];
  switch (deviceType) {
    case 0x62:
      return "Hot water";
    case 0x72:
      return "Cold water";
    case 0x80:
      return "H.C.A";
    default:
      return "Other";
  }
}

std::string EncryptionText(std::uint8_t config1, std::uint8_t config2) {
  std::string text;
  AppendEncryptionText(text, config1, config2);
  return text;
}

void AppendEncryptionText(std::string& text, std::uint8_t config1, std::uint8_t config2) {
  if (config1 == 0 && config2 == 0) {
    text += "Not encrypted ";
    return;
  }
  switch (config2 & 0x0F) {
    case 5:
      text += "AES-128, Mode 5 (Dedicated IV). ";
      break;
    case 4:
      text += "AES-128, Mode 4 (Zero IV). ";
      break;
    case 0:
      text += "Not encrypted ";
      break;
    default:
      break;
  }
  const int blocks = config1 >> 4;
  if (blocks >= 1 && blocks <= 9) {
    text += static_cast<char>('0' + blocks);
    text += " blocks to decrypt. ";
  } else if (blocks >= 10) {
    text += ' ';
    text += static_cast<char>('0' + blocks / 10);
    text += static_cast<char>('0' + blocks % 10);
    text += " blocks to decrypt. ";
  }
}

void DateTimeText(std::uint8_t b1, std::uint8_t b2, std::uint8_t b3, std::uint8_t b4, std::string_view vif,
                  std::string& result) {
  result.clear();
  if (vif != "6D" && vif != "ED") return;
  const int minute = b1 & 0x3F;
  const int hour = b2 & 0x1F;
  const int day = b3 & 0x1F;
  const int month = b4 & 0x0F;
  const int year = ((b3 & 0xE0) >> 5) + ((b4 & 0xF0) >> 1);
  result = std::to_string(hour) + (minute < 10 ? ":0" : ":") + std::to_string(minute) + ", " +
           std::to_string(day) + "." + std::to_string(month) + "." + std::to_string(year);
}

char FilterDigitKey(char key) {
  if ((key >= '0' && key <= '9') || key == 8 || key == 10 || key == 13) return key;
  return 27;
}

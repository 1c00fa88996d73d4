#include <gtest/gtest.h>

#include <cstdio>

#include "field_decoders.h"
#include "hex.h"

TEST(FieldDecoders, ManufacturerText) {
  struct Case { std::uint8_t low, high; const char* text; };
  const Case cases[] = {
      {0x21, 0x04, "AAA"}, {0x8D, 0x59, "VLM"}, {0x93, 0x15, "ELS"}, {0x2D, 0x2C, "KAM"},
      {0x00, 0x80, "`@@"},  // bit 15 set: beyond Z
      {0xFF, 0xFF, "\x7F\x5F\x5F"}, {0x00, 0x00, "@@@"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ManufacturerText(c.low, c.high), c.text) << int(c.low) << " " << int(c.high);
  EXPECT_EQ(ManufacturerText(std::string("\x8D\x59", 2)), "VLM");
}

TEST(FieldDecoders, MediumText) {
  struct Case { std::uint8_t code; const char* text; };
  const Case cases[] = {{0x00, "Other"},      {0x01, "Oil"},        {0x02, "Electricity"}, {0x03, "Gas"},
                        {0x04, "Heat"},       {0x05, "Steam"},      {0x06, "Hot water"},   {0x07, "Water"},
                        {0x08, "H.C.A"},      {0x09, "Compr. air"}, {0x0A, "Cool (out)"},  {0x0B, "Cool (in)"},
                        {0x0C, "Heat"},       {0x0D, "Heat/Cool"},  {0x0E, "Bus"},         {0x0F, "Unknown"},
                        {0x10, "Cold water"}, {0x11, "Other"},      {0x15, "Other"},       {0x62, "Hot water"},
                        {0x72, "Cold water"}, {0x80, "H.C.A"},      {0x81, "Other"},       {0xFF, "Other"}};
  for (const auto& c : cases) EXPECT_STREQ(MediumText(c.code), c.text) << int(c.code);
}

TEST(FieldDecoders, EncryptionText) {
  struct Case { std::uint8_t c1, c2; const char* text; };
  const Case cases[] = {
      {0x00, 0x00, "Not encrypted "},
      {0x00, 0x05, "AES-128, Mode 5 (Dedicated IV). "},
      {0x30, 0x05, "AES-128, Mode 5 (Dedicated IV). 3 blocks to decrypt. "},
      {0x90, 0x05, "AES-128, Mode 5 (Dedicated IV). 9 blocks to decrypt. "},
      {0xA0, 0x05, "AES-128, Mode 5 (Dedicated IV).  10 blocks to decrypt. "},
      {0xF1, 0x25, "AES-128, Mode 5 (Dedicated IV).  15 blocks to decrypt. "},
      {0x10, 0x04, "AES-128, Mode 4 (Zero IV). 1 blocks to decrypt. "},
      {0x20, 0x00, "Not encrypted 2 blocks to decrypt. "},
      {0x50, 0x07, "5 blocks to decrypt. "},
      {0x01, 0x07, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(EncryptionText(c.c1, c.c2), c.text) << int(c.c1) << " " << int(c.c2);
}

TEST(FieldDecoders, DateTimeText) {
  struct Case { std::uint8_t b[4]; const char* vif; const char* text; };
  const Case cases[] = {
      {{0x05, 0x09, 0x47, 0x3C}, "6D", "9:05, 7.12.26"},
      {{0x00, 0x00, 0x01, 0x01}, "6D", "0:00, 1.1.0"},
      {{0x05, 0x09, 0x47, 0x3C}, "ED", "9:05, 7.12.26"},
      {{0xFF, 0xFF, 0xFF, 0xFF}, "6D", "31:63, 31.15.127"},  // flag bits ignored
      {{0x05, 0x09, 0x47, 0x3C}, "6d", ""},
      {{0x05, 0x09, 0x47, 0x3C}, "6C", ""},
  };
  for (const auto& c : cases) {
    std::string result = "stale";
    DateTimeText(c.b[0], c.b[1], c.b[2], c.b[3], c.vif, result);
    EXPECT_EQ(result, c.text) << c.vif;
  }
}

TEST(FieldDecoders, HexToInt) {
  EXPECT_EQ(HexToInt("0000001a"), 26);
  EXPECT_EQ(HexToInt("7FFFFFFF"), 0x7FFFFFFF);
  EXPECT_EQ(HexToInt("FFFFFFFF"), -1);
  EXPECT_EQ(HexToInt("0000000Fxyz"), 15);  // only the first eight count
  EXPECT_THROW(HexToInt("0000000G"), ConversionError);
  EXPECT_THROW(HexToInt("000000 1"), ConversionError);
  EXPECT_THROW(HexToInt("1234"), ConversionError);
}

TEST(FieldDecoders, HexTextToBytes) {
  struct Case { const char* text; Bytes bytes; };
  const Case cases[] = {
      {"01 A2 FF", Bytes("\x01\xA2\xFF", 3)},
      {"0A-0B", Bytes("\x0A\x0B", 2)},
      {"0a0b", Bytes("\x0a", 1)},  // the third character is a separator, the fourth alone
      {"0G 01", Bytes()},
      {"1", Bytes()},
      {"", Bytes()},
      {"01 02 0", Bytes("\x01\x02", 2)},  // a last single character is ignored
      {"00 00", Bytes(2, '\0')},
  };
  for (const auto& c : cases) EXPECT_EQ(HexTextToBytes(c.text), c.bytes) << c.text;
}

TEST(FieldDecoders, HexText) {
  EXPECT_EQ(HexText(Bytes("\x68\x00\x16", 3)), "68 00 16 ");
  EXPECT_EQ(HexText(Bytes()), "");
  EXPECT_EQ(HexText(Bytes("\xab\x0f", 2)), "AB 0F ");
  EXPECT_EQ(HexByte(0x7a), "7A");
  // Every byte value, appended after text already there.
  std::string all, expected = "x";
  for (int v = 0; v < 256; ++v) {
    all.push_back(static_cast<char>(v));
    char two[4];
    std::snprintf(two, sizeof two, "%02X ", v);
    expected += two;
  }
  std::string out = "x";
  AppendHexText(out, all);
  EXPECT_EQ(out, expected);
}

TEST(FieldDecoders, FilterDigitKey) {
  for (char c = '0'; c <= '9'; ++c) EXPECT_EQ(FilterDigitKey(c), c);
  for (char c : {char(8), char(10), char(13)}) EXPECT_EQ(FilterDigitKey(c), c);
  for (char c : {'a', '-', ' ', '+', char(3), char(22), char(127), char(0xE4)}) EXPECT_EQ(FilterDigitKey(c), 27);
}

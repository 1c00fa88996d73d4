// The one decimal reader behind the table's numbers, the command boxes,
// the batch file and the options, and the one Trim.
#include <gtest/gtest.h>

#include <climits>

#include "plain_text.h"
#include "telegram_decoder.h"

namespace {

TEST(PlainText, DecimalTextIsAllDigitsOrNothing) {
  const DecimalRules plus{.plusSign = true};
  struct Case {
    const char* text;
    DecimalRules rules;
    std::optional<int> want;
  };
  const Case cases[] = {
      {"42", {}, 42},
      {"-7", {}, -7},
      {"0032", {}, 32},
      {"+5", {}, std::nullopt},  // the batch file and the options take no sign
      {"+5", plus, 5},           // the window's boxes do
      {"+", plus, std::nullopt},
      {"++5", plus, std::nullopt},
      {"", plus, std::nullopt},
      {" 5", plus, std::nullopt},
      {"5 ", plus, std::nullopt},
      {"5x", {}, std::nullopt},
      {"0x10", {}, std::nullopt},
      {"1e3", {}, std::nullopt},
      {"3.0", {}, std::nullopt},
      {"2147483647", {}, INT_MAX},
      {"2147483648", {}, std::nullopt},  // too big for the type, not wrapped
      {"-2147483649", {}, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseDecimalText(c.text, c.rules), c.want) << "'" << c.text << "'";
  EXPECT_EQ(ParseDecimalText<long long>("2147483648"), 2147483648LL);
  // The table's number column: what does not read gives the fallback.
  EXPECT_EQ(CellToInt("+12", -1), 12);
  EXPECT_EQ(CellToInt("12a", -1), -1);
  EXPECT_EQ(CellToInt("", 0), 0);
}

TEST(PlainText, TrimTakesWhiteSpaceOffBothEndsOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"", ""}, {" \t\r\n\v\f", ""}, {"  a b  ", "a b"}, {"key = value\r", "key = value"}, {"x", "x"},
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(Trim(text), want) << "'" << text << "'";
}

}  // namespace

// The key filters of the digit edits, key by key as typed: FilterDigitKey
// and, for Edit_flag, the range rule on the text before each key. Only
// digits ever reach an edit, and Edit_flag never grows past two digits or
// holds a number above 32 followed by another digit.

#include <QString>
#include <cstdint>
#include <cstdlib>

#include "field_decoders.h"
#include "key_filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  std::string digits;  // an ordinary digit edit
  QString flag;        // Edit_flag (at most 2 characters)
  for (size_t i = 0; i < size; ++i) {
    const char key = static_cast<char>(data[i]);
    const char filtered = FilterDigitKey(key);
    if (filtered != key && filtered != 27) std::abort();
    if (filtered == 27) continue;
    if (filtered == 8) {
      if (!digits.empty()) digits.pop_back();
      if (!flag.isEmpty()) flag.chop(1);
      continue;
    }
    if (filtered < '0' || filtered > '9') continue;  // line feed, carriage return
    digits += filtered;
    if (FlagTextMustRestart(flag)) flag.clear();
    if (flag.size() < 2) flag += QLatin1Char(filtered);
  }
  for (const char c : digits)
    if (c < '0' || c > '9') std::abort();
  if (flag.size() > 2) std::abort();
  // On any text (a paste, say) the rule keeps only 1 to 32 written in ASCII digits.
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  bool plain = !text.isEmpty();
  for (const QChar c : text) plain = plain && c >= QLatin1Char('0') && c <= QLatin1Char('9');
  const bool keeps = plain && text.size() < 10 && text.toLongLong() <= 32;
  if (plain && text.size() < 10 && FlagTextMustRestart(text) == keeps) std::abort();
  if (!plain && !FlagTextMustRestart(text)) std::abort();
  return 0;
}

// Text rules that the passes apply to the lines of the assembler file.
#ifndef ORRINVALE_APP_LINE_TEXT_H_
#define ORRINVALE_APP_LINE_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

// Removes every leading and trailing occurrence of c (tabs are never trimmed
// unless asked for).
inline std::u16string_view trimChar(std::u16string_view text, char16_t c = u' ') {
  size_t first = text.find_first_not_of(c);
  if (first == std::u16string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(c) - first + 1);
}

// Plain signed decimal.
inline std::u16string decimal(int64_t value) {
  std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

inline std::u16string notFoundMessage(std::u16string_view fileName) {
  return u"File '" + std::u16string(fileName) + u"' not found.";
}

#endif  // ORRINVALE_APP_LINE_TEXT_H_

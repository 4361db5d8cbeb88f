// Text rules that the scan and the rewrite apply to the lines of the assembler file.
#ifndef ORRINVALE_APP_LINE_TEXT_H_
#define ORRINVALE_APP_LINE_TEXT_H_

#include <cstdint>
#include <string>
#include <string_view>

// Removes every leading and trailing occurrence of c, for UTF-16 text and for
// the bytes of ASCII text alike.
template <typename Char>
std::basic_string_view<Char> trimAll(std::basic_string_view<Char> text, Char c) {
  size_t first = text.find_first_not_of(c);
  if (first == text.npos) return {};
  return text.substr(first, text.find_last_not_of(c) - first + 1);
}

// Trims spaces unless another character is named; tabs are never trimmed.
inline std::u16string_view trimChar(std::u16string_view text, char16_t c = u' ') {
  return trimAll(text, c);
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

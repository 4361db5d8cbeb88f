// Exact, cheap tests that tell the passes when a line cannot match one of
// their patterns, so that most lines never reach the pattern engine. Each test
// answers "may match" for every line that the pattern matches; a "may match"
// is then settled by the pattern itself. They work on bytes of ASCII text and
// on UTF-16 alike.
//
// Only ASCII letters can match the patterns' letters without regard to case:
// none of the letters of "procedure" and "mp" has a case partner outside ASCII.
#ifndef ORRINVALE_APP_LINE_SHORTCUTS_H_
#define ORRINVALE_APP_LINE_SHORTCUTS_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/pattern.h"

// Lets tests compare the shortcuts with the plain path: every line through
// the pattern engine, every line converted.
void useShortcuts(bool enabled);
bool shortcutsEnabled();

// Tests line against pattern and extracts every match; returns their count.
// The shortcut skips the test, since an extraction that finds nothing says
// the same as a test that fails.
int32_t findAllMatches(Pattern pattern, std::u16string_view line,
                       std::vector<std::u16string>* matches);

namespace line_shortcuts {

template <typename Char>
bool isDigit(Char c) { return c >= '0' && c <= '9'; }

template <typename Char>
Char lowerAscii(Char c) { return c >= 'A' && c <= 'Z' ? static_cast<Char>(c + 32) : c; }

// text[at..] spells word (lower case) in any case, followed by a digit.
template <typename Char>
bool wordThenDigitAt(std::basic_string_view<Char> text, size_t at, std::string_view word) {
  if (text.size() < at + word.size() + 1) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (lowerAscii(text[at + i]) != static_cast<Char>(word[i])) return false;
  return isDigit(text[at + word.size()]);
}

}  // namespace line_shortcuts

// "_Procedure([0-9])+" can match somewhere in text.
template <typename Char>
bool mayHoldReference(std::basic_string_view<Char> text) {
  for (size_t at = text.find(Char('_')); at != text.npos; at = text.find(Char('_'), at + 1))
    if (line_shortcuts::wordThenDigitAt(text, at, "_procedure")) return true;
  return false;
}

// "^( )*_Procedure([0-9])+:.*" can match the trimmed text.
template <typename Char>
bool mayBeLabelLine(std::basic_string_view<Char> trimmed) {
  if (!line_shortcuts::wordThenDigitAt(trimmed, 0, "_procedure")) return false;
  size_t end = 10;
  while (end < trimmed.size() && line_shortcuts::isDigit(trimmed[end])) ++end;
  return end < trimmed.size() && trimmed[end] == Char(':');
}

// "^( )*MP([0-9])+" can match the trimmed text.
template <typename Char>
bool mayBeInvocation(std::basic_string_view<Char> trimmed) {
  return line_shortcuts::wordThenDigitAt(trimmed, 0, "mp");
}

#endif  // ORRINVALE_APP_LINE_SHORTCUTS_H_

// The input language: what a line of the assembler file means. Everything
// that reads the file's lines for meaning (the scan's rules, the block scan's
// shortcuts, the classification kernels' choice of units) takes it from here.
//
// A line ends at CR, LF or a zero unit. It is judged trimmed of spaces
// (U+0020 only; a tab is text) and by its start, the first rule that fits:
//
//   rule          its start (trimmed)               what it records
//   comment       ";"                               nothing
//   macro start   "macro MP", exactly               a procedure's block opens
//   macro end     "}", inside a block               the block closes
//   label line    inside a block, "_Procedure",     the block's label: the key
//                 digits and ":", letters in any    "_Procedure" as found and the
//                 case                              digits if only colons follow,
//                                                   else the whole line
//   invocation    "MP" and a digit, letters in      the line, for the rewrite; it
//                 any case                          names "_Procedure" + digits
//   references    any line not above (an            every "_Procedure" and digits
//                 invocation included)              in it, in any case, credited
//                                                   to the block or the main code
//
// A key is spelled kKeyPrefix and digits; keys compare exactly, letter case
// and leading zeros included.
#ifndef ORRINVALE_APP_LANGUAGE_H_
#define ORRINVALE_APP_LANGUAGE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace language {

inline constexpr std::string_view kKeyPrefix = "_Procedure";
inline constexpr std::string_view kMacroStart = "macro MP";
inline constexpr uint32_t kComment = ';', kMacroEnd = '}', kLabelEnd = ':', kSpace = ' ';
inline constexpr uint32_t kLineFeed = 0x0A, kCarriageReturn = 0x0D;

// The label line's pattern, which confirms the rare label line that is more
// than a label, matched without regard to case. A run of digits is written
// [0-9]+ rather than as a repeated group: the engine then takes the run in
// one step instead of one nested call per digit, so a run of any length
// matches without exhausting the stack.
inline constexpr auto kLabelPatternText = [] {
  constexpr std::string_view kHead = "^ *", kTail = "[0-9]+:.*";
  std::array<char16_t, kHead.size() + kKeyPrefix.size() + kTail.size() + 1> text{};
  size_t n = 0;
  for (std::string_view part : {kHead, kKeyPrefix, kTail})
    for (char c : part) text[n++] = static_cast<char16_t>(c);
  return text;
}();
inline constexpr const char16_t* kLabelPattern = kLabelPatternText.data();

inline constexpr bool isDigit(uint32_t unit) { return unit >= '0' && unit <= '9'; }
inline constexpr uint32_t lowerAscii(uint32_t unit) {
  return unit >= 'A' && unit <= 'Z' ? unit + 32 : unit;
}
inline constexpr bool endsLine(uint32_t unit) {
  return unit == 0 || unit == kLineFeed || unit == kCarriageReturn;
}

// The tests of the rules, on a line given as its units: at(i) is unit i,
// count the units there are (the line's, or a head's that holds all the
// test needs).

// A digit run from unit from: where it ends, and its value, which counts
// only for short runs (a key of up to 19 digits is held as a number).
struct Digits {
  size_t end;
  uint64_t value;
};
template <typename At>
Digits digitsFrom(const At& at, size_t from, size_t count) {
  Digits digits{from, 0};
  for (uint32_t digit; digits.end < count && (digit = at(digits.end) - '0') <= 9; ++digits.end)
    digits.value = digits.value * 10 + digit;
  return digits;
}

// Whether units [from, from + word.size()) spell word exactly, or in any
// case (word in lower case).
template <typename At>
bool spellsExactly(const At& at, size_t from, size_t count, std::string_view word) {
  if (count - from < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (at(from + i) != static_cast<unsigned char>(word[i])) return false;
  return true;
}
template <typename At>
bool spellsInAnyCase(const At& at, size_t from, size_t count, std::string_view word) {
  if (count - from < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (lowerAscii(at(from + i)) != lowerAscii(static_cast<unsigned char>(word[i]))) return false;
  return true;
}

// A reference, and the start of a label line: kKeyPrefix in any case and a
// digit, from unit from.
template <typename At>
bool isReferenceAt(const At& at, size_t from, size_t count) {
  return count - from > kKeyPrefix.size() && isDigit(at(from + kKeyPrefix.size())) &&
         spellsInAnyCase(at, from, count, kKeyPrefix);
}
// Whether a reference from unit from, a '_', may go on past unit count - 1.
template <typename At>
bool referenceGoesOn(const At& at, size_t from, size_t count) {
  for (size_t i = 1; i < kKeyPrefix.size(); ++i) {
    if (from + i == count) return true;
    if (lowerAscii(at(from + i)) != lowerAscii(static_cast<unsigned char>(kKeyPrefix[i])))
      return false;
  }
  return digitsFrom(at, from + kKeyPrefix.size(), count).end == count;
}

// The rules by the start of a trimmed line, whose first unit is first.
template <typename At>
bool isMacroStart(const At& at, size_t first, size_t count) {
  return spellsExactly(at, first, count, kMacroStart);
}
// An invocation's digits start two units after its first.
template <typename At>
bool isInvocation(const At& at, size_t first, size_t count) {
  return count - first >= 3 && lowerAscii(at(first)) == 'm' && lowerAscii(at(first + 1)) == 'p' &&
         isDigit(at(first + 2));
}
inline constexpr size_t kInvocationDigits = 2;
// A label line: a reference at its start and digits ends there with ':'.
template <typename At>
bool isLabelLine(const At& at, size_t first, size_t count, Digits* digits) {
  if (!isReferenceAt(at, first, count)) return false;
  *digits = digitsFrom(at, first + kKeyPrefix.size(), count);
  return digits->end < count && at(digits->end) == kLabelEnd;
}

// The units that can decide a line's meaning, which the block scan's
// kernels pick out 64 at a time; a line that holds none of them where they
// count is passed over whole. A rule is decided by a line's first unit that
// is not a space, where it is one of kLeads, or an 'm' or 'M' followed by
// one of kAfterM ("macro MP", "MP12"); a reference, by a kReferenceStart
// anywhere; a comment needs no unit of its own, since it matters only for
// the references it holds.
inline constexpr uint32_t kReferenceStart = kKeyPrefix[0];
inline constexpr std::array<uint32_t, 1> kLeads{kMacroEnd};
inline constexpr std::array<uint32_t, 2> kMs{'m', 'M'};
inline constexpr std::array<uint32_t, 3> kAfterM{static_cast<unsigned char>(kMacroStart[1]), 'p',
                                                 'P'};

// The block scan's shortcut for a '_': a reference needs no more of its
// line than the line's first unit that is not a space. In a comment it
// counts for nothing; as that first unit inside a block it may start a label
// line, and the line is judged whole; anywhere else it stands alone.
enum class UnderscoreNeeds { Nothing, ItsLine, ItselfAlone };
inline UnderscoreNeeds whatAnUnderscoreNeeds(uint32_t firstUnit, bool atFirst, bool insideMacro) {
  if (firstUnit == kComment) return UnderscoreNeeds::Nothing;
  return atFirst && insideMacro ? UnderscoreNeeds::ItsLine : UnderscoreNeeds::ItselfAlone;
}

}  // namespace language

#endif  // ORRINVALE_APP_LANGUAGE_H_

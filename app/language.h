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
  size_t start, end;
  uint64_t value;
  size_t count() const { return end - start; }
};
template <typename At>
Digits digitsFrom(const At& at, size_t from, size_t count) {
  Digits digits{from, from, 0};
  for (uint32_t digit; digits.end < count && (digit = at(digits.end) - '0') <= 9; ++digits.end)
    digits.value = digits.value * 10 + digit;
  return digits;
}

// How a unit is compared with a letter of a word: exactly, or in any case.
inline constexpr auto kExactly = [](uint32_t unit, char letter) {
  return unit == static_cast<unsigned char>(letter);
};
inline constexpr auto kInAnyCase = [](uint32_t unit, char letter) {
  return lowerAscii(unit) == lowerAscii(static_cast<unsigned char>(letter));
};

// How many of word's letters, from its first, units [from, count) spell.
template <typename At, typename Same>
size_t lettersSpelled(const At& at, size_t from, size_t count, std::string_view word,
                      const Same& same) {
  size_t n = 0;
  while (n < word.size() && from + n < count && same(at(from + n), word[n])) ++n;
  return n;
}
// Whether units [from, from + word.size()) spell word.
template <typename At, typename Same>
bool spells(const At& at, size_t from, size_t count, std::string_view word, const Same& same) {
  return lettersSpelled(at, from, count, word, same) == word.size();
}

// Where units [from, count) hold the first that is not a space, or count;
// and the end of the units before trailing spaces (U+0020 only: tabs and
// everything else count as text).
template <typename At>
size_t skipSpaces(const At& at, size_t from, size_t count) {
  while (from < count && at(from) == kSpace) ++from;
  return from;
}
template <typename At>
size_t trimmedEnd(const At& at, size_t from, size_t count) {
  while (count > from && at(count - 1) == kSpace) --count;
  return count;
}

// A reference, and the start of a label line: kKeyPrefix in any case and a
// digit, from unit from; its digits, from just past the prefix.
template <typename At>
bool isReferenceAt(const At& at, size_t from, size_t count) {
  return count - from > kKeyPrefix.size() && isDigit(at(from + kKeyPrefix.size())) &&
         spells(at, from, count, kKeyPrefix, kInAnyCase);
}
template <typename At>
Digits referenceDigits(const At& at, size_t from, size_t count) {
  return digitsFrom(at, from + kKeyPrefix.size(), count);
}
// Whether units [from, count), from a '_', may be the start of a reference
// that is not yet known to be one: its prefix or its first digit lies past
// them. (Once its first digit is seen, a reference is one, however many
// digits follow.)
template <typename At>
bool referenceUndecided(const At& at, size_t from, size_t count) {
  size_t spelled = lettersSpelled(at, from, count, kKeyPrefix, kInAnyCase);
  if (spelled < kKeyPrefix.size()) return from + spelled == count;
  return from + kKeyPrefix.size() == count;
}

// The rules by the start of a trimmed line, whose first unit is first.
template <typename At>
bool isMacroStart(const At& at, size_t first, size_t count) {
  return spells(at, first, count, kMacroStart, kExactly);
}
// An invocation: "MP" in any case and a digit; its digits follow the "MP".
inline constexpr std::string_view kInvocationStart = "mp";
template <typename At>
bool isInvocation(const At& at, size_t first, size_t count) {
  return count - first > kInvocationStart.size() &&
         spells(at, first, count, kInvocationStart, kInAnyCase) &&
         isDigit(at(first + kInvocationStart.size()));
}
template <typename At>
Digits invocationDigits(const At& at, size_t first, size_t count) {
  return digitsFrom(at, first + kInvocationStart.size(), count);
}
// A label line: a reference at its start and digits ends there with ':'.
template <typename At>
bool isLabelLine(const At& at, size_t first, size_t count, Digits* digits) {
  if (!isReferenceAt(at, first, count)) return false;
  *digits = referenceDigits(at, first, count);
  return digits->end < count && at(digits->end) == kLabelEnd;
}

// Whether the first count units of a line, from its first that is not a
// space, hold all that the rule of its start needs: an invocation's or a
// label's digits end within them.
template <typename At>
bool startDecidedWithin(const At& at, size_t count) {
  if (count <= kKeyPrefix.size()) return false;
  if (isInvocation(at, 0, count)) return invocationDigits(at, 0, count).end < count;
  if (isReferenceAt(at, 0, count)) return referenceDigits(at, 0, count).end < count;
  return true;
}

// What a line does to being inside a block, as a scan that starts part way
// through a file needs to know of the nearest such line before its start:
// after a line that starts with "}" a scan is outside a block, whether the
// line closed one or not; after a macro start, inside. Given the units
// [from, count) from the line's start, which may end before the line does
// unless complete: NeedsMore when they do not decide it.
enum class BlockChange { Closes, Opens, Neither, NeedsMore };
template <typename At>
BlockChange blockChangeOf(const At& at, size_t from, size_t count, bool complete) {
  size_t first = skipSpaces(at, from, count);
  if (first == count) return complete ? BlockChange::Neither : BlockChange::NeedsMore;
  if (at(first) == kMacroEnd) return BlockChange::Closes;
  if (!complete && count - first < kMacroStart.size() &&
      lettersSpelled(at, first, count, kMacroStart, kExactly) == count - first)
    return BlockChange::NeedsMore;
  return isMacroStart(at, first, count) ? BlockChange::Opens : BlockChange::Neither;
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

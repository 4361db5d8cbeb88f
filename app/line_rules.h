// The scan's rules over raw units, one line at a time: comment, macro
// start, macro end, procedure label, references and invocation lines, with
// the keys they name. The block scan hands them the lines that need a look,
// as they lie in its block; nothing is converted but the rare label line
// that is more than a label.
#ifndef ORRINVALE_APP_LINE_RULES_H_
#define ORRINVALE_APP_LINE_RULES_H_

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/edit_list.h"
#include "app/raw_units.h"
#include "app/scan_rules.h"
#include "runtime/pattern.h"
#include "runtime/text_codec.h"

template <int kSize, bool kBigEndian>
class LineRules {
  using U = Units<kSize, kBigEndian>;

 public:
  // format is how units that must become text are decoded.
  LineRules(TextFormat format, ScanState& state, EditList* edits)
      : format_(format), state_(state), edits_(edits) {}

  uint32_t unit(const unsigned char* line, size_t index) const {
    return U::at(line + index * kSize);
  }

  // One line, without its line end: n bytes at line, which start at offset in
  // the file. A line without a '_' names no label: holdsUnderscore false
  // spares the look for one.
  void takeLine(const unsigned char* line, size_t n, int64_t offset, bool holdsUnderscore = true) {
    size_t first = 0, count = n / kSize;
    U::trimSpaces(line, &first, &count);
    if (first == count) return;
    uint32_t lead = unit(line, first);
    if (lead == ';') return;
    if (lead == 'm' || lead == 'M') {
      if (count - first >= 8 && spellsExactly(line, first, "macro MP")) {
        creditPending();
        return startMacro(state_);
      }
      if (count - first >= 3 && lowerAscii(unit(line, first + 1)) == 'p' &&
          isDigit(unit(line, first + 2))) {
        edits_->addInvocation(offset,
                              labelFor(line, first + 2, readDigits(line, first + 2, count)));
      }
    }
    if (state_.insideMacro && lead == '}') {
      creditPending();
      return endMacro(state_);
    }
    if (state_.insideMacro && lead == '_' && isReferenceAt(line, first, count)) {
      Digits digits = readDigits(line, first + 10, count);
      if (digits.end < count && unit(line, digits.end) == ':') {
        creditPending();
        return takeLabelLine(line, first, count, digits);
      }
    }
    if (holdsUnderscore) takeReferences(line, first, count);
  }

  // A reference if "_procedure" and digits start at units[at]; units[count]
  // is beyond the line, and no line end can be part of a match.
  void takeReferenceAt(const unsigned char* units, size_t at, size_t count) {
    if (!isReferenceAt(units, at, count)) return;
    Digits digits = readDigits(units, at + 10, count);
    size_t length = digits.end - at - 10;
    if (length <= kMaxNumberDigits && spellsExactly(units, at, "_Procedure"))
      holdForCredit(digits.value, static_cast<uint32_t>(length));
    else creditReference(state_, labelFor(units, at + 10, digits, units + at * kSize));
  }

  void creditPending() {
    for (PendingNumber& number : pending_) {
      number.entry = indexForNumber(state_.table, number.value, number.digits);
      prefetchCredit(state_, number.entry);
    }
    for (const PendingNumber& number : pending_) creditReference(state_, number.entry);
    pending_.clear();
  }

 private:
  // line[from, from + count) spells word, a lower-case ASCII word, in any case.
  bool spellsInAnyCase(const unsigned char* line, size_t from, size_t count,
                       std::string_view word) const {
    if (count - from < word.size()) return false;
    for (size_t i = 0; i < word.size(); ++i)
      if (lowerAscii(unit(line, from + i)) != static_cast<unsigned char>(word[i])) return false;
    return true;
  }
  bool spellsExactly(const unsigned char* line, size_t from, std::string_view word) const {
    for (size_t i = 0; i < word.size(); ++i)
      if (unit(line, from + i) != static_cast<unsigned char>(word[i])) return false;
    return true;
  }
  // A run of digits from line[from]: where it ends, and its value, which
  // counts only for kMaxNumberDigits digits or fewer.
  struct Digits {
    size_t end;
    uint64_t value;
  };
  Digits readDigits(const unsigned char* line, size_t from, size_t count) const {
    Digits digits{from, 0};
    for (uint32_t digit; digits.end < count && (digit = unit(line, digits.end) - '0') <= 9;
         ++digits.end)
      digits.value = digits.value * 10 + digit;
    return digits;
  }

  // "_procedure" in any case and a digit at line[at].
  bool isReferenceAt(const unsigned char* line, size_t at, size_t count) const {
    if (count - at <= 10 || !isDigit(unit(line, at + 10))) return false;
    if constexpr (kSize == 1) {
      // "procedur" at once: with the case bit set, only its letters in either
      // case give its letters.
      uint64_t word;
      memcpy(&word, line + at + 1, 8);
      uint64_t folded = word | 0x2020202020202020ULL;
      uint64_t wanted;
      memcpy(&wanted, "procedur", 8);
      return folded == wanted && lowerAscii(line[at + 9]) == 'e';
    }
    return spellsInAnyCase(line, at, count, "_procedure");
  }

  void takeLabelLine(const unsigned char* line, size_t first, size_t count, Digits digits) {
    // The usual label, "_Procedure12:" or "_Procedure12::", is read here;
    // any other (other case, more text after the colon) is confirmed by the
    // label pattern, and then its key is the whole line.
    bool onlyColons = true;
    for (size_t i = digits.end; i < count && onlyColons; ++i) onlyColons = unit(line, i) == ':';
    if (onlyColons && spellsExactly(line, first, "_Procedure") &&
        digits.end - first - 10 <= kMaxNumberDigits)
      return enterLabel(state_, labelFor(line, first + 10, digits));
    text_.clear();
    decodeText(format_,
               std::string_view(reinterpret_cast<const char*>(line) + first * kSize,
                                (count - first) * kSize),
               &text_);
    switch (patternMatches(state_.labelPattern, text_)) {
      case 1: return enterLabel(state_, indexFor(state_.table, labelKey(text_)));
      case 0: return takeReferences(line, first, count);
      default: state_.searchFailed = true;  // the line's meaning is unknown
    }
  }

  // Every "_procedure" and digits, in any case, in a line taken whole. A
  // match holds one '_', so each can be tried alone.
  void takeReferences(const unsigned char* line, size_t first, size_t count) {
    for (size_t at = first; at < count; ++at)
      if (unit(line, at) == '_') takeReferenceAt(line, at, count);
  }

  // References by number wait in a batch, so that the table's memory is
  // fetched for all of them at once; the batch is credited before the
  // context can change, and at the end of every block.
  struct PendingNumber {
    uint64_t value;
    uint32_t digits;
    EntryIndex entry;
  };

  void holdForCredit(uint64_t value, uint32_t digits) {
    prefetchNumber(state_.table, value);
    pending_.push_back({value, digits, 0});
    if (pending_.size() == kPendingBatch) creditPending();
  }

  // The entry that "_Procedure" followed by the digits line[from, digits.end)
  // names; prefix is the spelling of "_Procedure" as found, if it may not be
  // exact.
  [[gnu::always_inline]] EntryIndex labelFor(const unsigned char* line, size_t from, Digits digits,
                                             const unsigned char* prefix = nullptr) {
    size_t length = digits.end - from;
    if (!prefix && length <= kMaxNumberDigits)
      return indexForNumber(state_.table, digits.value, static_cast<uint32_t>(length));
    return labelForText(line, from, digits, prefix);
  }
  // labelFor where the key is held as text.
  [[gnu::noinline]] EntryIndex labelForText(const unsigned char* line, size_t from, Digits digits,
                                            const unsigned char* prefix) {
    key_.clear();
    if (prefix) {
      for (size_t i = 0; i < 10; ++i)
        key_.push_back(static_cast<char16_t>(U::at(prefix + i * kSize)));
    } else {
      key_ = u"_Procedure";
    }
    for (size_t i = from; i < digits.end; ++i) key_.push_back(static_cast<char16_t>(unit(line, i)));
    return indexFor(state_.table, key_);
  }

  static constexpr size_t kPendingBatch = 32;
  std::vector<PendingNumber> pending_;
  TextFormat format_;
  ScanState& state_;
  EditList* edits_;
  std::u16string key_, text_;
};

#endif  // ORRINVALE_APP_LINE_RULES_H_

// The language's rules (language.h) applied to raw units, one line at a
// time, and what they record: the keys they name, credited to the context
// they are in. The block scan hands them the lines that need a look, as they
// lie in its block; nothing is converted but the rare label line that is
// more than a label.
#ifndef ORRINVALE_APP_LINE_RULES_H_
#define ORRINVALE_APP_LINE_RULES_H_

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/edit_list.h"
#include "app/language.h"
#include "app/raw_units.h"
#include "app/scan_rules.h"
#include "runtime/contracts.h"
#include "runtime/pattern.h"
#include "runtime/text_codec.h"

template <int kSize, bool kBigEndian>
class LineRules {
  using U = Units<kSize, kBigEndian>;
  using Digits = language::Digits;

 public:
  static constexpr int kUnitSize = kSize;

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
    ORRINVALE_EXPECTS(phase_ == Phase::Lines);
    auto at = unitsOf(line);
    size_t first = language::skipSpaces(at, 0, n / kSize);
    size_t count = language::trimmedEnd(at, first, n / kSize);
    if (first == count) return;
    LineStart start = takeStart(line, first, count, offset);
    if (start.kind == Start::Label) return takeLabelLine(line, first, count, start.digits);
    if (start.kind == Start::Searched && holdsUnderscore) takeReferences(line, first, count);
  }

  // A line longer than the scan's buffer comes in pieces, so that memory
  // stays flat: its head, from its first unit that is not a space, once
  // headReady says that the head holds all that its start's rule needs;
  // then the rest, in pieces that cut no reference before its first digit
  // (a reference whose digits reach a piece's end is held open until they
  // end); then its end. What the rest needs is known from
  // the head: nothing, its references, or whether a label is followed by
  // nothing but colons.
  //
  // Calling order, for each long line: headReady until it says yes, takeHead
  // once, takeRest for each piece after it, endLongLine; creditPending at any
  // time. takeLine and takeReferenceAt are for whole lines, between long ones.
  bool headReady(const unsigned char* line, size_t count) const {
    ORRINVALE_EXPECTS(phase_ == Phase::Lines);
    return language::startDecidedWithin(unitsOf(line), count);
  }
  // Judges the head, count units from the line's first that is not a space,
  // and returns how many of them its start took: the rest begins there.
  size_t takeHead(const unsigned char* line, size_t count, int64_t offset) {
    ORRINVALE_EXPECTS(phase_ == Phase::Lines && headReady(line, count));
    phase_ = Phase::Rest;
    LineStart start = takeStart(line, 0, count, offset);
    switch (start.kind) {
      case Start::Label:
        rest_ = Rest::LabelColons;
        labelKey_.clear();
        labelKey_.reserve(start.digits.end);
        for (size_t i = 0; i < start.digits.end; ++i)
          labelKey_.push_back(static_cast<char>(unit(line, i)));  // a label's units are ASCII
        return start.digits.end;
      case Start::Searched: rest_ = Rest::References; return 0;
      default: rest_ = Rest::Nothing; return count;
    }
  }
  void takeRest(const unsigned char* units, size_t count) {
    ORRINVALE_EXPECTS(phase_ == Phase::Rest);
    if (rest_ == Rest::References) {
      size_t from = openReference_ ? goOnWithOpenReference(units, count) : 0;
      return takeReferences(units, from, count, true);
    }
    // A label line is "_Procedure12:" with colons and spaces after it; the
    // spaces are trimmed, so a colon after one makes it more than a label.
    for (size_t i = 0; i < count && rest_ != Rest::Nothing; ++i) {
      uint32_t next = unit(units, i);
      if (next == language::kSpace) rest_ = Rest::LabelSpaces;
      else if (next != language::kLabelEnd || rest_ == Rest::LabelSpaces) enterLongLabel(true);
    }
  }
  void endLongLine() {
    ORRINVALE_EXPECTS(phase_ == Phase::Rest);
    phase_ = Phase::Lines;
    if (openReference_) closeOpenReference();
    if (rest_ == Rest::LabelColons || rest_ == Rest::LabelSpaces) enterLongLabel(false);
    rest_ = Rest::Nothing;
  }

  // A reference if one starts at units[at]; units[count] is beyond the line,
  // and no line end can be part of a match, unless the line goes on
  // (mayGoOn: a piece of a long line), where digits that reach count may too.
  void takeReferenceAt(const unsigned char* units, size_t at, size_t count, bool mayGoOn = false) {
    ORRINVALE_EXPECTS(at < count);
    auto unitAt = unitsOf(units);
    if (!language::isReferenceAt(unitAt, at, count)) return;
    Digits digits = language::referenceDigits(unitAt, at, count);
    if (mayGoOn && digits.end == count) return holdOpen(units, at, count);
    if (digits.count() <= kMaxNumberDigits &&
        language::spells(unitAt, at, count, language::kKeyPrefix, language::kExactly))
      holdForCredit(digits.value, static_cast<uint32_t>(digits.count()));
    else creditReference(state_, labelFor(units, digits, at));
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
  // The units at line as the language's tests read them.
  auto unitsOf(const unsigned char* line) const {
    return [line](size_t index) { return U::at(line + index * kSize); };
  }

  // What the start of a line makes it; the steps that its start calls for
  // are taken. count may end before the line does (a head): the start then
  // needs no more than headReady asks for.
  enum class Start { Comment, MacroStart, MacroEnd, Label, Searched };
  struct LineStart {
    Start kind;
    Digits digits{};
  };
  LineStart takeStart(const unsigned char* line, size_t first, size_t count, int64_t offset) {
    auto at = unitsOf(line);
    uint32_t lead = at(first);
    if (lead == language::kComment) return {Start::Comment};
    if (language::isMacroStart(at, first, count)) {
      creditPending();
      startMacro(state_);
      return {Start::MacroStart};
    }
    if (language::isInvocation(at, first, count))
      edits_->addInvocation(offset, labelFor(line, language::invocationDigits(at, first, count)));
    if (!insideMacroFor(state_, lead)) return {Start::Searched};
    if (lead == language::kMacroEnd) {
      creditPending();
      endMacro(state_);
      return {Start::MacroEnd};
    }
    Digits digits;
    if (lead == language::kReferenceStart && language::isLabelLine(at, first, count, &digits)) {
      creditPending();
      return {Start::Label, digits};
    }
    return {Start::Searched};
  }

  // The label of a long label line. Followed by nothing but colons, its key
  // is "_Procedure" as found and the digits. Otherwise the key is the whole
  // line, which holds a colon: no reference or invocation can name it, so
  // the line's block is credited to the entry of its start and a colon,
  // which nothing can name either, and the line need not be held.
  void enterLongLabel(bool moreThanALabel) {
    if (moreThanALabel) labelKey_.push_back(static_cast<char>(language::kLabelEnd));
    enterLabel(state_, indexForAscii(state_.table, {labelKey_, {}}));
    std::string().swap(labelKey_);
    rest_ = Rest::Nothing;
  }

  void takeLabelLine(const unsigned char* line, size_t first, size_t count, Digits digits) {
    // A label followed by nothing but colons ("_Procedure12:",
    // "_PROCEDURE12::") is read here; one with more text after the colon is
    // confirmed by the label pattern, and then its key is the whole line.
    auto at = unitsOf(line);
    bool onlyColons = true;
    for (size_t i = digits.end; i < count && onlyColons; ++i)
      onlyColons = at(i) == language::kLabelEnd;
    if (onlyColons) {
      // The key is "_Procedure" as found and the digits, read where they lie.
      bool exact = language::spells(at, first, count, language::kKeyPrefix, language::kExactly);
      return enterLabel(state_, labelFor(line, digits, exact ? kNoUnit : first));
    }
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

  // Every reference in a line taken whole. A match holds one '_', its
  // first unit, so each can be tried alone.
  void takeReferences(const unsigned char* line, size_t first, size_t count, bool mayGoOn = false) {
    constexpr uint32_t kStart = language::kReferenceStart;
    if constexpr (kSize == 1) {
      for (const void* found;
           first < count && (found = memchr(line + first, kStart, count - first));
           first = static_cast<size_t>(static_cast<const unsigned char*>(found) - line) + 1)
        takeReferenceAt(line, static_cast<const unsigned char*>(found) - line, count, mayGoOn);
      return;
    }
    for (size_t at = first; at < count; ++at)
      if (unit(line, at) == kStart) takeReferenceAt(line, at, count, mayGoOn);
  }

  // A reference in a piece of a long line whose digits reach the piece's
  // end: its key, a byte a unit, is held until they end, so that a reference
  // of any length passes through a block of the usual size.
  void holdOpen(const unsigned char* units, size_t at, size_t count) {
    openKey_.clear();
    for (size_t i = at; i < count; ++i) openKey_.push_back(static_cast<char>(unit(units, i)));
    openReference_ = true;
  }
  // The digits that continue the open reference from the start of a piece;
  // returns where they end (the reference is credited there, unless it is
  // the piece's end).
  size_t goOnWithOpenReference(const unsigned char* units, size_t count) {
    size_t end = 0;
    for (uint32_t next; end < count && language::isDigit(next = unit(units, end)); ++end)
      openKey_.push_back(static_cast<char>(next));
    if (end < count) closeOpenReference();
    return end;
  }
  // The key is "_Procedure" as found and the digits, as for a whole line.
  void closeOpenReference() {
    openReference_ = false;
    creditReference(state_, indexForAscii(state_.table, {openKey_, {}}));
    if (openKey_.capacity() > kKeptKeyCapacity) std::string().swap(openKey_);
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

  // The entry that a key names: the key prefix followed by digits, the
  // prefix spelled as the units of line from keyFrom spell it where the key
  // is read as found (a reference), or as the language spells it (kNoUnit).
  static constexpr size_t kNoUnit = ~size_t{0};
  [[gnu::always_inline]] EntryIndex labelFor(const unsigned char* line, Digits digits,
                                             size_t keyFrom = kNoUnit) {
    if (keyFrom == kNoUnit && digits.count() <= kMaxNumberDigits)
      return indexForNumber(state_.table, digits.value, static_cast<uint32_t>(digits.count()));
    return labelForText(line, digits, keyFrom);
  }
  // labelFor where the key is held as text: read where it lies, where its
  // units are bytes; else narrowed to a byte a unit (a key's units are ASCII).
  [[gnu::noinline]] EntryIndex labelForText(const unsigned char* line, Digits digits,
                                            size_t keyFrom) {
    const std::string_view head = keyFrom == kNoUnit ? language::kKeyPrefix : std::string_view();
    const size_t from = keyFrom == kNoUnit ? digits.start : keyFrom;
    if constexpr (kSize == 1)
      return indexForAscii(state_.table,
                           {head, {reinterpret_cast<const char*>(line) + from, digits.end - from}});
    key_.clear();
    key_.reserve(digits.end - from);
    for (size_t i = from; i < digits.end; ++i) key_.push_back(static_cast<char>(unit(line, i)));
    EntryIndex entry = indexForAscii(state_.table, {head, key_});
    if (key_.capacity() > kKeptKeyCapacity) std::string().swap(key_);
    return entry;
  }

  // What the rest of a long line needs.
  enum class Rest { Nothing, References, LabelColons, LabelSpaces };
  Rest rest_ = Rest::Nothing;
  std::string labelKey_;  // a long label line's, while its rest decides
  // A reference of a long line whose digits go on into the next piece.
  bool openReference_ = false;
  std::string openKey_;
  // Where a long line stands in the calling order.
  enum class Phase { Lines, Rest };
  Phase phase_ = Phase::Lines;

  static constexpr size_t kPendingBatch = 32;
  std::vector<PendingNumber> pending_;
  TextFormat format_;
  ScanState& state_;
  EditList* edits_;
  // A key being spelled: kept for the next, unless it was a huge one.
  static constexpr size_t kKeptKeyCapacity = 4096;
  std::string key_;
  std::u16string text_;
};

#endif  // ORRINVALE_APP_LINE_RULES_H_

// The block scan. Each block is classified 64 units at a time into bit masks:
// line ends, spaces, underscores, and the units that a rule may need first on
// a line ("}", and "m" or "M" before "a" or "p"). From these, by bit
// arithmetic, come the units that need a look: the first unit of a line that
// is not a space, where it is one of those, every '_', and every line end
// other than CR LF. Every other line is passed over without a single step of
// its own, and so are its units.
#include "app/block_scan.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "app/line_text.h"
#include "app/raw_units.h"

namespace {

constexpr int64_t kBlockSize = int64_t{1} << 20;
int64_t g_blockSize = kBlockSize;
template <int kSize, bool kBigEndian>
class BlockScanner {
  using U = Units<kSize, kBigEndian>;

 public:
  BlockScanner(TextFile* file, TextFormat format, ScanState& state, EditList* edits,
               const SettledObserver& settled)
      : file_(file), format_(format), state_(state), edits_(edits), settled_(settled) {}

  void run() {
    int64_t bufferStart = filePosition(file_);  // where buffer[0] lies in the file
    // A small file needs no more than itself (and a byte to see its end).
    std::string buffer(static_cast<size_t>(std::clamp<int64_t>(
                           file_->stampAtOpen.size - bufferStart + 1,
                           std::min<int64_t>(4096, g_blockSize), g_blockSize)),
                       '\0');
    size_t filled = 0;                          // bytes held
    for (;;) {
      int64_t got = readBytes(file_, buffer.data() + filled,
                              static_cast<int64_t>(buffer.size() - filled));
      filled += static_cast<size_t>(got);
      const bool atFileEnd = got == 0;
      const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
      size_t units = filled / kSize;
      size_t complete = atFileEnd ? units : completeLines(bytes, units);
      takeLines(bytes, complete, bufferStart, atFileEnd);
      if (atFileEnd) {
        edits_->unitsEnd = bufferStart + static_cast<int64_t>(units * kSize);
        edits_->scannedEnd = bufferStart + static_cast<int64_t>(filled);
        return;
      }
      size_t taken = complete * kSize;
      if (settled_)
        settled_(std::min(edits_->firstInvocation, bufferStart + static_cast<int64_t>(taken)));
      // Keep the unfinished line; a line longer than the buffer makes it grow.
      memmove(buffer.data(), buffer.data() + taken, filled - taken);
      bufferStart += static_cast<int64_t>(taken);
      filled -= taken;
      if (filled == buffer.size()) buffer.resize(2 * buffer.size());
    }
  }

 private:
  uint32_t unit(const unsigned char* line, size_t index) const { return U::at(line + index * kSize); }

  // How many of the first units lines hold whose end is known: up to the
  // last line end, unless that is a CR that an LF may follow in the next block.
  size_t completeLines(const unsigned char* bytes, size_t units) const {
    size_t end = units;
    while (end > 0 && !endsLine(unit(bytes, end - 1))) --end;
    if (end == units && end > 0 && unit(bytes, end - 1) == kCarriageReturn) {
      --end;
      while (end > 0 && !endsLine(unit(bytes, end - 1))) --end;
    }
    return end;
  }

  // Takes every line in the first count units of bytes, which start a line;
  // at the end of the file, the last may lack a line end.
  void takeLines(const unsigned char* bytes, size_t count, int64_t offset, bool atFileEnd) {
    size_t words = (count + 63) / 64;
    ends_.assign(words, 0);
    firstUnits_.assign(words, 0);
    wanted_.assign(words, 0);
    uint64_t lineStartIn = 1;  // the first unit starts a line
    uint64_t spaceCarry = 0;   // a run of leading spaces goes on into the next word
    bool returnBefore = false;
    // Classified a chunk at a time, one word ahead, since a unit's meaning
    // may depend on the first unit of the next word.
    constexpr size_t kChunk = 256;
    UnitMasks chunk[kChunk + 1];
    for (size_t from = 0; from < words; from += kChunk) {
      size_t n = std::min(kChunk, words - from);
      classifyRange(bytes, count, from, std::min(n + 1, words - from), chunk);
      if (from + n == words) chunk[n] = UnitMasks{};
      for (size_t i = 0; i < n; ++i) {
        const UnitMasks& masks = chunk[i];
        const UnitMasks& next = chunk[i + 1];
        size_t word = from + i;
        uint64_t ends = masks.ends();
        // The first unit of every line that is not a space: a line start plus
        // the run of spaces after it carries to that unit.
        uint64_t starts = (ends << 1) | lineStartIn;
        uint64_t sum, total;
        bool carried = __builtin_add_overflow(starts, masks.spaces, &sum);
        carried |= __builtin_add_overflow(sum, spaceCarry, &total);
        uint64_t firstUnits = total & ~masks.spaces;
        lineStartIn = ends >> 63;
        spaceCarry = carried;
        // Line ends to mend are marked where they lie, a word at a time; a
        // word may reach into the next stretch, so its last one counts too.
        if (uint64_t lone = masks.loneEnds(returnBefore, next.feeds & 1)) {
          size_t base = 64 * word;
          mendLineEnd(offset, base + std::countr_zero(lone));
          mendLineEnd(offset, base + 63 - std::countl_zero(lone));
        }
        returnBefore = masks.returns >> 63;
        ends_[word] = ends;
        firstUnits_[word] = firstUnits;
        uint64_t leads =
            masks.leads | (masks.ms & ((masks.followers >> 1) | (next.followers << 63)));
        wanted_[word] = (firstUnits & leads) | masks.underscores;
      }
    }
    // Each wanted unit in file order: a reference, or a line to take whole.
    size_t nextLine = 0;
    for (size_t word = 0; word < words; ++word) {
      for (uint64_t bits = wanted_[word]; bits; bits &= bits - 1) {
        size_t at = 64 * word + std::countr_zero(bits);
        if (at < nextLine) continue;
        if (unit(bytes, at) == '_') {
          // A reference needs no more of its line than its first unit: not
          // in a comment, and not where a label line may start.
          size_t first = firstUnitBefore(at);
          if (unit(bytes, first) == ';') continue;
          if (first != at || !state_.insideMacro) {
            takeReferenceAt(bytes, at, count);
            continue;
          }
        }
        size_t start = lineStart(at), end = lineEnd(at, count);
        takeLine(bytes + start * kSize, (end - start) * kSize,
                 offset + static_cast<int64_t>(start * kSize));
        if (end == count) {
          // Only at the end of the file does a line lack its end.
          edits_->missingLineEnd = true;
          nextLine = count;
          continue;
        }
        nextLine = end + 1;
      }
    }
    creditPending();
    // A last line without a line end that no rule wanted still gets one.
    if (atFileEnd && nextLine < count && !endsLine(unit(bytes, count - 1)))
      edits_->missingLineEnd = true;
  }

  // A line end other than CR LF at unit at of the units from offset.
  void mendLineEnd(int64_t offset, size_t at) {
    edits_->addLineEndToMend(offset + static_cast<int64_t>(at * kSize));
  }

  // Classifies the words [from, from + n) of the count units at bytes into
  // masks; the units of a last, partial word are classified alone.
  static void classifyRange(const unsigned char* bytes, size_t count, size_t from, size_t n,
                            UnitMasks* masks) {
    size_t whole = std::min(n, count / 64 - from);  // from is at most the last word
    U::classifyWords(bytes + 64 * from * kSize, whole, masks);
    if (whole == n) return;
    unsigned char last[64 * kSize] = {};
    size_t units = count - 64 * (from + whole);
    memcpy(last, bytes + 64 * (from + whole) * kSize, units * kSize);
    UnitMasks& tail = masks[whole] = U::classify(last);
    for (uint64_t* m : {&tail.returns, &tail.feeds, &tail.zeros, &tail.spaces, &tail.underscores,
                        &tail.leads, &tail.ms, &tail.followers})
      *m &= bitsBelow(units);
  }

  // Where the line that holds unit at starts: after the last line end before it.
  size_t lineStart(size_t at) const {
    size_t word = at / 64;
    uint64_t before = ends_[word] & bitsBelow(at % 64);
    while (!before) {
      if (word == 0) return 0;
      before = ends_[--word];
    }
    return 64 * word + 63 - std::countl_zero(before) + 1;
  }

  // The first unit that is not a space of the line that holds unit at.
  size_t firstUnitBefore(size_t at) const {
    size_t word = at / 64;
    uint64_t before = firstUnits_[word] & (bitsBelow(at % 64) | (uint64_t{1} << (at % 64)));
    while (!before) before = firstUnits_[--word];  // the block's first line has one
    return 64 * word + 63 - std::countl_zero(before);
  }

  // Where the line that holds unit at ends: its line end, or count.
  size_t lineEnd(size_t at, size_t count) const {
    size_t word = at / 64;
    uint64_t after = ends_[word] & ~bitsBelow(at % 64);
    while (!after) {
      if (++word == ends_.size()) return count;
      after = ends_[word];
    }
    return 64 * word + std::countr_zero(after);
  }

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

  // The entry that "_Procedure" followed by the digits line[from, digits.end)
  // names; prefix is the spelling of "_Procedure" as found, if it may not be
  // exact.
  EntryIndex labelFor(const unsigned char* line, size_t from, Digits digits,
                      const unsigned char* prefix = nullptr) {
    size_t length = digits.end - from;
    if (!prefix && length <= kMaxNumberDigits)
      return indexForNumber(state_.table, digits.value, static_cast<uint32_t>(length));
    key_.clear();
    if (prefix) {
      for (size_t i = 0; i < 10; ++i) key_.push_back(static_cast<char16_t>(U::at(prefix + i * kSize)));
    } else {
      key_ = u"_Procedure";
    }
    for (size_t i = from; i < digits.end; ++i) key_.push_back(static_cast<char16_t>(unit(line, i)));
    return indexFor(state_.table, key_);
  }

  // One line, without its line end: n bytes at line, which start at offset in
  // the file.
  void takeLine(const unsigned char* line, size_t n, int64_t offset) {
    size_t first = 0, count = n / kSize;
    while (first < count && unit(line, first) == ' ') ++first;
    if (first == count) return;
    while (unit(line, count - 1) == ' ') --count;
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
    takeReferences(line, first, count);
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
    // The usual label, "_Procedure12:" or "_Procedure12::", is read here; any
    // other (other case, more text) goes through the rules as text.
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
    scanLine(state_, text_);
  }

  // Every "_procedure" and digits, in any case, in a line taken whole. A
  // match holds one '_', so each can be tried alone.
  void takeReferences(const unsigned char* line, size_t first, size_t count) {
    for (size_t at = first; at < count; ++at)
      if (unit(line, at) == '_') takeReferenceAt(line, at, count);
  }

  // A reference if "_procedure" and digits start at units[at]; units[count]
  // is beyond the line, and no line end can be part of a match.
  void takeReferenceAt(const unsigned char* units, size_t at, size_t count) {
    if (!isReferenceAt(units, at, count)) return;
    Digits digits = readDigits(units, at + 10, count);
    size_t length = digits.end - at - 10;
    if (length <= kMaxNumberDigits && spellsExactly(units, at, "_Procedure"))
      holdForCredit(digits.value, static_cast<uint32_t>(length));
    else
      creditReference(state_, labelFor(units, at + 10, digits, units + at * kSize));
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

  void creditPending() {
    for (PendingNumber& number : pending_) {
      number.entry = indexForNumber(state_.table, number.value, number.digits);
      prefetchCredit(state_, number.entry);
    }
    for (const PendingNumber& number : pending_) creditReference(state_, number.entry);
    pending_.clear();
  }

  static constexpr size_t kPendingBatch = 32;
  std::vector<PendingNumber> pending_;
  TextFile* file_;
  TextFormat format_;
  ScanState& state_;
  EditList* edits_;
  const SettledObserver& settled_;
  // A bit per unit of the block: line ends, the first unit of each line that
  // is not a space, and the units that need a look.
  std::vector<uint64_t> ends_, firstUnits_, wanted_;
  std::u16string key_, text_;
};

}  // namespace

bool blockScanReads(TextFormat format) { return rawUnitsShowAscii(format); }

void useBlockSize(int64_t bytes) { g_blockSize = bytes > 0 ? bytes : kBlockSize; }

void scanByBlocks(TextFile* file, TextFormat format, ScanState& state, EditList* edits,
                  const SettledObserver& settled) {
  withUnitsOf(format, [&]<int kSize, bool kBigEndian>() {
    BlockScanner<kSize, kBigEndian>(file, format, state, edits, settled).run();
  });
}

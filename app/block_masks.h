// A block of units as bit masks, a bit per unit: where its lines end, the
// first unit of each line that is not a space, and the units that need a
// look. Each block is classified 64 units at a time; from the kernel's masks
// come, by bit arithmetic, the units that need a look: the first unit of a
// line that is not a space, where it is one that a rule may need first
// ("}", and "m" or "M" before "a" or "p"), every '_', and every line end
// other than CR LF. Every other line is passed over without a single step of
// its own, and so are its units.
#ifndef ORRINVALE_APP_BLOCK_MASKS_H_
#define ORRINVALE_APP_BLOCK_MASKS_H_

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "app/edit_list.h"
#include "app/raw_units.h"
#include "runtime/contracts.h"

template <int kSize, bool kBigEndian>
class BlockMasks {
  using U = Units<kSize, kBigEndian>;

 public:
  // Classifies the count units at bytes, which start a line at offset in the
  // file, and marks in *edits the stretches whose line ends need mending.
  void classify(const unsigned char* bytes, size_t count, int64_t offset, EditList* edits) {
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
          int64_t base = offset + static_cast<int64_t>(64 * word * kSize);
          edits->addLineEndToMend(base + std::countr_zero(lone) * kSize);
          edits->addLineEndToMend(base + (63 - std::countl_zero(lone)) * kSize);
        }
        returnBefore = masks.returns >> 63;
        ends_[word] = ends;
        firstUnits_[word] = firstUnits;
        uint64_t leads =
            masks.leads | (masks.ms & ((masks.followers >> 1) | (next.followers << 63)));
        wanted_[word] = (firstUnits & leads) | masks.underscores;
      }
    }
  }

  // The wanted units' bits, a word of 64 units each.
  const std::vector<uint64_t>& wanted() const { return wanted_; }

  // Whether a unit in [from, end) is wanted. Past the first unit of a line
  // that is not a space, only a '_' is.
  bool wantedWithin(size_t from, size_t end) const {
    if (from >= end) return false;
    size_t word = from / 64, lastWord = (end - 1) / 64;
    uint64_t bits = wanted_[word] & ~bitsBelow(from % 64);
    while (word < lastWord && !bits) bits = wanted_[++word];
    if (word == lastWord) bits &= ~uint64_t{0} >> (63 - (end - 1) % 64);
    return bits != 0;
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

  // The first unit that is not a space of the line that holds unit at, which
  // is one or comes after one.
  size_t firstUnitBefore(size_t at) const {
    size_t word = at / 64;
    uint64_t before = firstUnits_[word] & (bitsBelow(at % 64) | (uint64_t{1} << (at % 64)));
    while (!before) {
      ORRINVALE_EXPECTS(word > 0);
      before = firstUnits_[--word];
    }
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

 private:
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

  std::vector<uint64_t> ends_, firstUnits_, wanted_;
};

#endif  // ORRINVALE_APP_BLOCK_MASKS_H_

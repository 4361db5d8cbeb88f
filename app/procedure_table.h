// The model that the scan and the rewrite share: for the main code and for every procedure
// label, whether the main code can reach it and which labels it mentions.
#ifndef ORRINVALE_APP_PROCEDURE_TABLE_H_
#define ORRINVALE_APP_PROCEDURE_TABLE_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A key's bytes, given in two pieces that are read as one: a key spelled
// from the file is compared and stored where it lies, without a copy.
struct KeyBytes {
  std::string_view head, tail;
  size_t size() const { return head.size() + tail.size(); }
  bool operator==(std::string_view stored) const {
    return stored.size() == size() && stored.starts_with(head) && stored.ends_with(tail);
  }
};

// Where an entry stands in ProcedureTable::entries.
using EntryIndex = uint32_t;

// The entry of the main code: references made outside every procedure macro.
// It exists in every table, and no key names it.
inline constexpr EntryIndex kMainCode = 0;

// The labels that a context mentions, each held as the index of the entry it
// names: four bytes a label, however long the label. New labels are appended
// and from time to time folded into a set, so that a label mentioned a
// thousand times is still held once (give or take one round of appends).
struct ReferenceSet {
  std::vector<EntryIndex> labels;
  uint32_t foldedSize = 0;  // labels[0, foldedSize) are distinct
  bool settled = false;     // its label's first block has ended
};

void addReference(ReferenceSet& refs, EntryIndex label);
// Sorts, drops repeats and returns spare capacity.
void foldReferences(ReferenceSet& refs);

struct ProcedureEntry {
  int32_t used = 0;  // 1 once found reachable from the main code
  ReferenceSet refs;
};

// The entries, in chunks of 1,024 that never move. An entry is found with one
// look-up in a short list of chunks: a deque's list of small blocks grows long
// enough on a large table for that look-up to miss the cache, and the scan
// meets entries in no order. Growing copies nothing.
class EntryStore {
 public:
  ProcedureEntry& operator[](size_t index) {
    return chunks_[index >> kChunkBits][index & kInChunk];
  }
  const ProcedureEntry& operator[](size_t index) const {
    return chunks_[index >> kChunkBits][index & kInChunk];
  }
  size_t size() const { return size_; }
  void clear() {
    chunks_.clear();
    size_ = 0;
  }
  void emplace_back() {
    if ((size_ >> kChunkBits) == chunks_.size())
      chunks_.push_back(std::make_unique<ProcedureEntry[]>(kInChunk + 1));
    ++size_;
  }

 private:
  static constexpr size_t kChunkBits = 10;
  static constexpr size_t kInChunk = (size_t{1} << kChunkBits) - 1;
  std::vector<std::unique_ptr<ProcedureEntry[]>> chunks_;
  size_t size_ = 0;
};

// The most digits a key may have to be held as a number.
inline constexpr uint32_t kMaxNumberDigits = 19;

// Keys compare exactly, code unit by code unit; letter case matters. The
// table is consulted for every reference in the file, so the usual key,
// "_Procedure" and digits without a leading zero, is found by its number in
// a plain array; other keys of up to 19 digits are hashed as a number and a
// digit count, the rest as text.
class ProcedureTable {
 public:
  ProcedureTable();

  EntryStore entries;

 private:
  friend EntryIndex indexForStored(ProcedureTable&, KeyBytes);
  friend EntryIndex indexForNumber(ProcedureTable&, uint64_t, uint32_t);
  friend void prefetchNumber(const ProcedureTable&, uint64_t);
  friend struct TableKeys;  // the tests read keys back
  friend void clearTable(ProcedureTable&);
  friend EntryIndex addUnnamedEntry(ProcedureTable&);
  friend std::vector<EntryIndex> addEntriesOf(ProcedureTable&, const ProcedureTable&);

  struct Slot {
    uint64_t hash = 0;
    uint64_t key = 0;  // the digits' value, or where the key starts in keyText
    EntryIndex entry = kNoEntry;
    uint32_t keyLength = 0;  // kDigitKey + digit count, or the key's length
  };
  static constexpr uint32_t kDigitKey = 0x80000000u;
  static constexpr EntryIndex kNoEntry = ~EntryIndex{0};

  // Whether digits decimal digits of value begin with a zero (more than one).
  static bool hasLeadingZero(uint64_t value, uint32_t digits) {
    static constexpr auto kPowers = [] {
      std::array<uint64_t, kMaxNumberDigits> powers{};
      uint64_t power = 1;
      for (uint64_t& entry : powers) entry = std::exchange(power, power * 10);
      return powers;
    }();
    return digits > 1 && value < kPowers[digits - 1];
  }
  // indexForNumber for a number not yet in byNumber_.
  EntryIndex entryForNumber(uint64_t value, uint32_t digits);
  EntryIndex find(KeyBytes key, uint64_t hash, uint64_t packed, uint32_t keyLength);
  Slot& slotFor(KeyBytes key, uint64_t hash, uint64_t packed, uint32_t keyLength);
  EntryIndex newEntry();
  void growSlots();

  std::vector<EntryIndex> byNumber_;  // entry of "_Procedure<n>", or kNoEntry
  std::vector<Slot> slots_;           // a power of two, at most half full
  std::string keyText_;               // every text key, back to back, as stored
};

// The entry for key, created with used 0 and no refs if missing. This,
// indexForAscii and indexForNumber are the only ways in, for reading and
// writing alike. A key is held as a byte a unit where its units are ASCII,
// as every key that a reference can name is; any other takes two.
EntryIndex indexFor(ProcedureTable& table, std::u16string_view key);
// indexFor for a key whose units are all ASCII, given a byte a unit.
inline constexpr unsigned char kWideKey = 0x80;  // opens a stored key of wider units
EntryIndex indexForAscii(ProcedureTable& table, KeyBytes key);
inline ProcedureEntry& entryFor(ProcedureTable& table, std::u16string_view key) {
  return table.entries[indexFor(table, key)];
}

// The entry for "_Procedure" followed by digits decimal digits (1 to 19,
// leading zeros included) whose value is value: what indexFor gives for the
// spelled-out key, without spelling it out.
[[gnu::always_inline]] inline EntryIndex indexForNumber(ProcedureTable& table, uint64_t value,
                                                        uint32_t digits) {
  // Called for every reference and invocation: the usual key, met before,
  // is one look in the array, without a call.
  if (value < table.byNumber_.size() && !ProcedureTable::hasLeadingZero(value, digits))
    if (EntryIndex entry = table.byNumber_[value]; entry != ProcedureTable::kNoEntry) return entry;
  return table.entryForNumber(value, digits);
}

// Asks the processor to fetch where indexForNumber will look for value, so
// that a batch of look-ups waits for memory once, not once each.
void prefetchNumber(const ProcedureTable& table, uint64_t value);

// A new entry that no key names.
EntryIndex addUnnamedEntry(ProcedureTable& table);

// Gives into an entry for every key that from has, where it lacks one, and
// returns for each entry of from the entry of into with the same key (the
// main code's for the main code's, and kNoEntry for one that no key names).
// References are not carried over.
std::vector<EntryIndex> addEntriesOf(ProcedureTable& into, const ProcedureTable& from);

// Removes every entry but the main code's, which is reset.
void clearTable(ProcedureTable& table);

#endif  // ORRINVALE_APP_PROCEDURE_TABLE_H_

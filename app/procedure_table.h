// The model that both passes share: for the main code and for every procedure
// label, whether the main code can reach it and which labels it mentions.
#ifndef ORRINVALE_APP_PROCEDURE_TABLE_H_
#define ORRINVALE_APP_PROCEDURE_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// The key under which references made outside every procedure macro are kept.
inline constexpr std::u16string_view MainContextKey = u"1";

// Where an entry stands in ProcedureTable::entries.
using EntryIndex = uint32_t;

// The labels that a context mentions, each held as the index of the entry it
// names: four bytes a label, however long the label. New labels are appended
// and from time to time folded into a sorted set, so that a label mentioned a
// thousand times is still held once (give or take one round of appends).
struct ReferenceSet {
  std::vector<EntryIndex> labels;
  size_t foldedSize = 0;  // labels[0, foldedSize) are sorted and distinct
  bool settled = false;   // folded when its label's first block ended
};

void addReference(ReferenceSet& refs, EntryIndex label);
// Sorts, drops repeats and returns spare capacity.
void foldReferences(ReferenceSet& refs);

struct ProcedureEntry {
  int32_t used = 0;  // 1 once found reachable from the main code
  ReferenceSet refs;
};

// Keys compare exactly, code unit by code unit; letter case matters. The
// table is consulted for every reference in the file, so a lookup should
// touch one cache line: the index is open addressing over full 64-bit
// hashes, and the usual key, "_Procedure" and up to 19 digits, is held in
// its slot as a number and a digit count. Other keys are stored back to back
// in keyText.
struct ProcedureTable {
  explicit ProcedureTable(size_t slots);

  struct Slot {
    uint64_t hash = 0;
    uint64_t key = 0;  // the digits' value, or where the key starts in keyText
    EntryIndex entry = kNoEntry;
    uint32_t keyLength = 0;  // kDigitKey + digit count, or the key's length
  };
  static constexpr uint32_t kDigitKey = 0x80000000u;
  static constexpr EntryIndex kNoEntry = ~EntryIndex{0};

  std::deque<ProcedureEntry> entries;  // a deque: entries never move
  std::vector<Slot> slots;             // a power of two, at most half full
  std::u16string keyText;              // every key, back to back
};

// The entry for key, created with used 0 and no refs if missing. This is the
// only way in, for reading and writing alike.
EntryIndex indexFor(ProcedureTable& table, std::u16string_view key);
inline ProcedureEntry& entryFor(ProcedureTable& table, std::u16string_view key) {
  return table.entries[indexFor(table, key)];
}

// The key of an entry; a search, for tests and diagnostics only.
std::u16string keyOf(const ProcedureTable& table, EntryIndex entry);

// Removes every entry.
void clearTable(ProcedureTable& table);

#endif  // ORRINVALE_APP_PROCEDURE_TABLE_H_

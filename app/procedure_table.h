// The model that both passes share: for the main code and for every procedure
// label, whether the main code can reach it and which labels it mentions.
#ifndef ORRINVALE_APP_PROCEDURE_TABLE_H_
#define ORRINVALE_APP_PROCEDURE_TABLE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

// The key under which references made outside every procedure macro are kept.
inline constexpr std::u16string_view MainContextKey = u"1";

struct ProcedureEntry;

// The labels that a context mentions. Each label is held as the table entry
// that it names, so a label costs one pointer however long it is and however
// often it is mentioned.
using ReferenceSet = std::unordered_set<ProcedureEntry*>;

struct ProcedureEntry {
  int32_t used = 0;  // 1 once found reachable from the main code
  ReferenceSet refs;
};

struct KeyHash {
  using is_transparent = void;
  size_t operator()(std::u16string_view key) const {
    return std::hash<std::u16string_view>()(key);
  }
};

// Keys compare exactly, code unit by code unit; letter case matters.
struct ProcedureTable {
  explicit ProcedureTable(size_t slots) : entries(slots) {}
  std::unordered_map<std::u16string, ProcedureEntry, KeyHash, std::equal_to<>> entries;
};

// The entry for key, created with used 0 and no refs if missing. This is the
// only way in, for reading and writing alike.
ProcedureEntry& entryFor(ProcedureTable& table, std::u16string_view key);

// Removes every entry.
void clearTable(ProcedureTable& table);

#endif  // ORRINVALE_APP_PROCEDURE_TABLE_H_

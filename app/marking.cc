// Marking with an explicit work stack: a chain of a million procedures must
// not cost a million stack frames. Whether a label is marked yet is kept in
// a byte per entry as well: that array stays in the cache, so a label
// mentioned many times costs a trip to its entry only once.
#include "app/marking.h"

#include <cstdint>
#include <vector>

void MarkReachable(ProcedureTable& table, const ReferenceSet& refs) {
  std::vector<uint8_t> marked;
  marked.reserve(table.entries.size());
  for (const ProcedureEntry& entry : table.entries) marked.push_back(entry.used != 0);
  std::vector<const ReferenceSet*> pending{&refs};
  while (!pending.empty()) {
    const ReferenceSet* set = pending.back();
    pending.pop_back();
    for (EntryIndex label : set->labels) {
      // Marking before descending walks each set at most once, so cycles end.
      if (marked[label]) continue;
      marked[label] = 1;
      ProcedureEntry& entry = table.entries[label];
      entry.used = 1;
      if (entry.refs.labels.empty()) continue;
      __builtin_prefetch(entry.refs.labels.data());
      pending.push_back(&entry.refs);
    }
  }
}

void markFromMainCode(ProcedureTable& table) {
  ProcedureEntry& main = table.entries[kMainCode];
  main.used = 1;
  if (!main.refs.labels.empty()) MarkReachable(table, main.refs);
}

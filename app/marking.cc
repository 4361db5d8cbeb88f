// Marking with an explicit work stack: a chain of a million procedures must
// not cost a million stack frames.
#include "app/marking.h"

#include <vector>

void MarkReachable(ProcedureTable& table, const ReferenceSet& refs) {
  std::vector<const ReferenceSet*> pending{&refs};
  while (!pending.empty()) {
    const ReferenceSet* set = pending.back();
    pending.pop_back();
    for (EntryIndex label : set->labels) {
      ProcedureEntry& entry = table.entries[label];
      // Marking before descending walks each set at most once, so cycles end.
      if (entry.used != 0) continue;
      entry.used = 1;
      if (!entry.refs.labels.empty()) pending.push_back(&entry.refs);
    }
  }
}

void markFromMainCode(ProcedureTable& table) {
  ProcedureEntry& main = table.entries[kMainCode];
  main.used = 1;
  if (!main.refs.labels.empty()) MarkReachable(table, main.refs);
}

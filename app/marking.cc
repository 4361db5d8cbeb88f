// Marking with an explicit work stack: a chain of a million procedures must
// not cost a million stack frames.
#include "app/marking.h"

#include <vector>

namespace {
constexpr size_t kAhead = 8;
}  // namespace

void MarkReachable(ProcedureTable& table, const ReferenceSet& refs) {
  std::vector<const ReferenceSet*> pending{&refs};
  while (!pending.empty()) {
    const ReferenceSet* set = pending.back();
    pending.pop_back();
    const std::vector<EntryIndex>& labels = set->labels;
    for (size_t i = 0; i < labels.size(); ++i) {
      // The entries lie anywhere in memory: ask for a few ahead at once.
      if (i + kAhead < labels.size()) __builtin_prefetch(&table.entries[labels[i + kAhead]]);
      ProcedureEntry& entry = table.entries[labels[i]];
      // Marking before descending walks each set at most once, so cycles end.
      if (entry.used != 0) continue;
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

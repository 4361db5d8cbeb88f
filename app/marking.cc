// Marking, breadth first over a queue of entries: a chain of a million
// procedures costs no stack, and the entries next in line, which lie anywhere
// in memory, can be fetched while the current one is walked. Whether a label
// is marked yet is kept in a byte per entry as well: that array stays in the
// cache, so a label mentioned many times costs a trip to its entry only once.
#include "app/marking.h"

#include <cstdint>
#include <vector>

namespace {

// How far ahead of the walk entries, and then their label lists, are fetched.
constexpr size_t kEntriesAhead = 16;
constexpr size_t kListsAhead = 8;

}  // namespace

void markReachable(ProcedureTable& table, const ReferenceSet& refs, LiveFlags* live) {
  LiveFlags& marked = *live;
  std::vector<EntryIndex> queue;
  auto markAll = [&](const std::vector<EntryIndex>& labels) {
    for (EntryIndex label : labels) {
      if (marked[label]) continue;  // marked before: walked once, so cycles end
      marked[label] = 1;
      queue.push_back(label);
    }
  };
  markAll(refs.labels);
  for (size_t next = 0; next < queue.size(); ++next) {
    if (next + kEntriesAhead < queue.size())
      __builtin_prefetch(&table.entries[queue[next + kEntriesAhead]]);
    if (next + kListsAhead < queue.size())
      __builtin_prefetch(table.entries[queue[next + kListsAhead]].refs.labels.data());
    ProcedureEntry& entry = table.entries[queue[next]];
    entry.used = 1;
    markAll(entry.refs.labels);
  }
}

LiveFlags markFromMainCode(ProcedureTable& table) {
  LiveFlags live(table.entries.size());
  for (size_t i = 0; i < live.size(); ++i) live[i] = table.entries[i].used != 0;
  ProcedureEntry& main = table.entries[kMainCode];
  main.used = 1;
  live[kMainCode] = 1;
  if (!main.refs.labels.empty()) markReachable(table, main.refs, &live);
  return live;
}

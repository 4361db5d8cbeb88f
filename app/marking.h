// Reachability marking: sets used on every entry that the main code reaches,
// directly or through the references of procedures it reaches.
#ifndef ORRINVALE_APP_MARKING_H_
#define ORRINVALE_APP_MARKING_H_

#include <cstdint>
#include <vector>

#include "app/procedure_table.h"

// A byte per table entry, 1 where the entry is marked used: what the rewrite
// reads for every invocation line.
using LiveFlags = std::vector<uint8_t>;

// Marks every entry reachable from refs that is not marked yet; live holds
// a byte per entry, the marks so far, and gains the new ones.
void markReachable(ProcedureTable& table, const ReferenceSet& refs, LiveFlags* live);

// Marks the main code itself and everything it reaches; returns the marks.
LiveFlags markFromMainCode(ProcedureTable& table);

#endif  // ORRINVALE_APP_MARKING_H_

// Reachability marking: sets used on every entry that the main code reaches,
// directly or through the references of procedures it reaches.
#ifndef ORRINVALE_APP_MARKING_H_
#define ORRINVALE_APP_MARKING_H_

#include "app/procedure_table.h"

// Marks every entry reachable from refs that is not marked yet.
void markReachable(ProcedureTable& table, const ReferenceSet& refs);

// Marks the main code itself and everything it reaches.
void markFromMainCode(ProcedureTable& table);

#endif  // ORRINVALE_APP_MARKING_H_

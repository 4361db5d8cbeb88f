// The fast rewrite: the scan's edits applied to the file, everything between
// them copied as it is, by the system where it can.
#ifndef ORRINVALE_APP_EDIT_REWRITE_H_
#define ORRINVALE_APP_EDIT_REWRITE_H_

#include "app/edit_list.h"
#include "app/procedure_table.h"
#include "app/rewrite_pass.h"
#include "runtime/text_file.h"

// Writes source, as the scan that made edits read it, to output with the
// edits applied: an invocation of an unused label becomes its comment line
// and a mended line end CR LF. The first copied bytes, which lie before the
// first edit, are in output already. False when source could not be read
// whole.
bool writeWithEdits(TextFile* source, TextFormat format, const EditList& edits,
                    const ProcedureTable& table, int64_t copied, TextFile* output,
                    RemovalCounts* counts);

#endif  // ORRINVALE_APP_EDIT_REWRITE_H_

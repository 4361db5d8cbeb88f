// The first pass: records, for the main code and for every procedure macro,
// which procedure labels it mentions, then marks what the main code reaches.
#ifndef ORRINVALE_APP_SCAN_PASS_H_
#define ORRINVALE_APP_SCAN_PASS_H_

#include <string_view>

#include "app/procedure_table.h"

// Rebuilds and marks table from the named file and prints the macro count, or
// the not-found line when the file cannot be opened. Returns false when the
// file was opened but could not be read whole: the table is then incomplete
// and must not decide what to remove.
bool ScanPass(std::u16string_view fileName, ProcedureTable& table);

#endif  // ORRINVALE_APP_SCAN_PASS_H_

// The first pass: records, for the main code and for every procedure macro,
// which procedure labels it mentions, then marks what the main code reaches.
#ifndef ORRINVALE_APP_SCAN_PASS_H_
#define ORRINVALE_APP_SCAN_PASS_H_

#include <string_view>

#include "app/procedure_table.h"
#include "runtime/text_file.h"

// Rebuilds and marks table from file, which is open under fileName, and
// prints the macro count, or the not-found line when file is null (it could
// not be opened). Returns false when the file could not be read whole: the
// table is then incomplete and must not decide what to remove. The file stays
// open, for the rewrite to read again.
bool ScanPass(std::u16string_view fileName, TextFile* file, ProcedureTable& table);

#endif  // ORRINVALE_APP_SCAN_PASS_H_

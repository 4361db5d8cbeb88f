// The second pass: writes the file back with the invocation lines of every
// procedure that the marking left unused turned into comment lines.
#ifndef ORRINVALE_APP_REWRITE_PASS_H_
#define ORRINVALE_APP_REWRITE_PASS_H_

#include <string>
#include <string_view>

#include "app/procedure_table.h"
#include "runtime/text_file.h"

// Rewrites file, the one the scan read (open under fileName), from its start,
// and prints the summary line, the not-found line (file is null), or the
// could-not-be-written line. A read-only file is left alone in silence.
void RewritePass(std::u16string_view fileName, TextFile* file, ProcedureTable& table);

#endif  // ORRINVALE_APP_REWRITE_PASS_H_

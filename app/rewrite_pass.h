// The second pass: writes the file back with the invocation lines of every
// procedure that the marking left unused turned into comment lines.
#ifndef ORRINVALE_APP_REWRITE_PASS_H_
#define ORRINVALE_APP_REWRITE_PASS_H_

#include <string>
#include <string_view>

#include "app/procedure_table.h"

// Rewrites the named file and prints the summary line, the not-found line, or
// the could-not-be-written line. A read-only file is left alone in silence.
void RewritePass(std::u16string_view fileName, ProcedureTable& table);

#endif  // ORRINVALE_APP_REWRITE_PASS_H_

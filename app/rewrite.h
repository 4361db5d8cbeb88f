// The rewrite: the file the scan read goes into the new file with the scan's
// edits applied (the invocation lines of every procedure that the marking
// left unused turned into comment lines, every line end made CR LF) and
// everything between them copied as it is, by the system where it can. This
// file also holds the spelling of a removed line.
#ifndef ORRINVALE_APP_REWRITE_H_
#define ORRINVALE_APP_REWRITE_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "app/edit_list.h"
#include "app/marking.h"
#include "runtime/output_file.h"
#include "runtime/text_file.h"

struct RemovalCounts {
  int64_t invocations = 0;
  int64_t removed = 0;
};

// Writes source, as the scan that made edits read it, to output with the
// edits applied: an invocation of a label that live does not mark becomes
// its comment line and a mended line end CR LF. The first copied bytes,
// which lie before the first edit, are in output already. False when source
// could not be read whole.
bool rewriteWithEdits(TextFile* source, TextFormat format, const EditList& edits,
                      const LiveFlags& live, int64_t copied, OutputFile* output,
                      RemovalCounts* counts);

// What takes the place of a removed invocation line: before, the line's
// units without leading and trailing spaces, and after ("; " and
// "; AUTOMATICALLY REMOVED" in format), without a line end.
struct RemovedLineParts {
  std::string_view before, after;
};
RemovedLineParts removedLineParts(TextFormat format);
void appendRemovedLine(TextFormat format, std::string_view trimmed, std::string* out);

#endif  // ORRINVALE_APP_REWRITE_H_

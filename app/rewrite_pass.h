// The rewrite: the file the scan read goes into a temporary file that then
// replaces it, with the invocation lines of every procedure that the marking
// left unused turned into comment lines and every line end made CR LF.
// Every other byte goes out exactly as it came. This file holds the frame of
// the rewrite and the spelling of a removed line.
#ifndef ORRINVALE_APP_REWRITE_PASS_H_
#define ORRINVALE_APP_REWRITE_PASS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/procedure_table.h"
#include "runtime/file_replace.h"
#include "runtime/text_file.h"

struct RemovalCounts {
  int64_t invocations = 0;
  int64_t removed = 0;
};

// Writes the new content to output and counts the invocations; false when it
// could not be completed.
using ContentWriter = std::function<bool(TextFile* output, RemovalCounts* counts)>;

// Completes the replacement of source, open under fileName, that start and
// replacement tell of (as beginReplacement left them): write writes the new
// content, which then takes the file's place. Prints the summary line or the
// could-not-be-written line; a read-only file is left alone in silence.
void replaceContent(std::u16string_view fileName, TextFile* source, ReplaceStart start,
                    Replacement& replacement, const ContentWriter& write);

// What takes the place of a removed invocation line: before, the line's
// units without leading and trailing spaces, and after ("; " and
// "; AUTOMATICALLY REMOVED" in format), without a line end.
struct RemovedLineParts {
  std::string_view before, after;
};
RemovedLineParts removedLineParts(TextFormat format);
void appendRemovedLine(TextFormat format, std::string_view trimmed, std::string* out);

#endif  // ORRINVALE_APP_REWRITE_PASS_H_

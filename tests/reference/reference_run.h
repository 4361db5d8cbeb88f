// The reference way through a file: line by line, every line converted to
// text and judged through the patterns, as plain as the rules read. Slow on
// purpose; the tests and the fuzzer compare the tool with it.
#ifndef ORRINVALE_TESTS_REFERENCE_REFERENCE_RUN_H_
#define ORRINVALE_TESTS_REFERENCE_REFERENCE_RUN_H_

#include <string_view>

#include "app/procedure_table.h"
#include "app/scan_rules.h"
#include "runtime/text_file.h"

// The patterns of a reference and of an invocation line, without regard to
// case; the label line's is the tool's own (line_text.h).
inline constexpr const char16_t* kReferencePattern = u"_Procedure[0-9]+";
inline constexpr const char16_t* kInvocationPattern = u"^ *MP[0-9]+";

// The tool's own way, or the reference way.
enum class RunWay { Tool, Reference };

// Scans, marks and rewrites the named file the given way, with the tool's
// console lines.
void runOnFile(std::u16string_view fileName, ProcedureTable& table, RunWay way);

// Applies the rules to one line, trimmed of spaces, through the patterns.
// A line that the patterns cannot judge sets state.searchFailed.
struct ReferenceScan {
  explicit ReferenceScan(ScanState& state);
  void scanLine(std::u16string_view line);

  ScanState& state;
  Pattern labelPattern, referencePattern;
};

// The reference scan of file from its current position to its end.
void scanByLines(TextFile* file, TextFormat format, ScanState& state);

#endif  // ORRINVALE_TESTS_REFERENCE_REFERENCE_RUN_H_

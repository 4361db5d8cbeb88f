// The reference way through a file: line by line, every line converted to
// text and judged through patterns, as plainly as the rules read. It shares
// no rule with the tool: its patterns, trimming, key forming, marking and
// comment are its own, so that a fault in the tool's rules shows as a
// difference instead of being made on both sides. Slow on purpose; the tests
// and the fuzzer compare the tool with it.
#ifndef ORRINVALE_TESTS_REFERENCE_REFERENCE_RUN_H_
#define ORRINVALE_TESTS_REFERENCE_REFERENCE_RUN_H_

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "app/procedure_table.h"
#include "runtime/text_file.h"

// The patterns of a reference and of an invocation line, without regard to
// case.
inline constexpr const char16_t* kReferencePattern = u"_Procedure[0-9]+";
inline constexpr const char16_t* kInvocationPattern = u"^ *MP[0-9]+";

// The tool's own way, or the reference way.
enum class RunWay { Tool, Reference };

// Scans, marks and rewrites the named file the given way, with the tool's
// console lines. The reference way leaves in table the entries, references
// and marks that it found, for tests to read by key.
void runOnFile(std::u16string_view fileName, ProcedureTable& table, RunWay way);

// What the reference scan finds: for each context (u"1" for the main code)
// the labels it mentions, the label lines' keys, and the blocks counted.
struct ReferenceFindings {
  std::map<std::u16string, std::set<std::u16string>> references;
  std::set<std::u16string> labels;
  int64_t macroCount = 0;
  bool searchFailed = false;  // a line the patterns could not judge
};

// The reference scan of file from its current position to its end.
ReferenceFindings scanByLines(TextFile* file, TextFormat format);

#endif  // ORRINVALE_TESTS_REFERENCE_REFERENCE_RUN_H_

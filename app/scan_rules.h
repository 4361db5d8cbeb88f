// The rules of the scan, one trimmed line at a time: comment, macro start,
// macro end, procedure label, lines with references. A block's label line
// switches the context to which later references are credited; its "}"
// switches back to the main code. Both ways of reading the file apply these
// rules; the block scan applies most of them to raw units itself.
#ifndef ORRINVALE_APP_SCAN_RULES_H_
#define ORRINVALE_APP_SCAN_RULES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/procedure_table.h"
#include "runtime/pattern.h"

struct ScanState {
  explicit ScanState(ProcedureTable& table);

  ProcedureTable& table;
  Pattern labelPattern;
  Pattern referencePattern;
  bool insideMacro = false;
  EntryIndex current = kMainCode;  // the context that references are credited to
  int64_t macroCount = 0;
  // A line that the patterns could not judge: the table may lack references,
  // so the scan is incomplete.
  bool searchFailed = false;
  std::vector<std::u16string> matches = std::vector<std::u16string>(1);
  // A number for each stay in a context, and for each entry the stay that
  // last credited it: a label mentioned twice in one block is added once.
  uint32_t stay = 1;
  std::vector<uint32_t> creditedIn;
  // The references of a label's first block, gathered here and given to the
  // label in one piece when the block ends.
  std::vector<EntryIndex> firstBlock;
};

// Applies the rules to one line, trimmed of spaces, through the patterns.
void scanLine(ScanState& state, std::u16string_view line);

// Completes the table after the last line.
void finishScan(ScanState& state);

// The steps of the rules, for a reader that has classified the line itself.
void startMacro(ScanState& state);
void endMacro(ScanState& state);
void enterLabel(ScanState& state, EntryIndex label);
inline void creditReference(ScanState& state, EntryIndex label) {
  if (label >= state.creditedIn.size()) state.creditedIn.resize(2 * (label + 1));
  if (state.creditedIn[label] == state.stay) return;
  state.creditedIn[label] = state.stay;
  ReferenceSet& refs = state.table.entries[state.current].refs;
  // A label's first block repeats nothing: no folding is needed there.
  if (state.current != kMainCode && !refs.settled) state.firstBlock.push_back(label);
  else addReference(refs, label);
}

inline void prefetchCredit(const ScanState& state, EntryIndex label) {
  if (label < state.creditedIn.size()) __builtin_prefetch(&state.creditedIn[label]);
}

// Tests line against pattern and, if it matches, extracts every match;
// returns their count, or kPatternFailed.
int32_t findAllMatches(Pattern pattern, std::u16string_view line,
                       std::vector<std::u16string>* matches);

#endif  // ORRINVALE_APP_SCAN_RULES_H_

// The state of the scan and its steps: a block's label line switches the
// context to which later references are credited; its "}" switches back to
// the main code. The rules that find these lines are in line_rules.h.
#ifndef ORRINVALE_APP_SCAN_RULES_H_
#define ORRINVALE_APP_SCAN_RULES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/language.h"
#include "app/look_back.h"
#include "app/procedure_table.h"
#include "runtime/pattern.h"

struct ScanState {
  explicit ScanState(ProcedureTable& table);

  ProcedureTable& table;
  // Confirms the rare label line that is more than a label.
  Pattern labelPattern;
  bool insideMacro = false;
  EntryIndex current = kMainCode;  // the context that references are credited to
  int64_t macroCount = 0;
  // A line that the patterns could not judge: the table may lack references,
  // so the scan is incomplete.
  bool searchFailed = false;
  // A number for each stay in a context, and for each entry the stay that
  // last credited it: a label mentioned twice in one block is added once.
  uint32_t stay = 1;
  std::vector<uint32_t> creditedIn;
  // The references of a label's first block, gathered here and given to the
  // label in one piece when the block ends.
  std::vector<EntryIndex> firstBlock;
  // A scan that starts part way through a file does not know whether it
  // starts inside a block: only a line that starts with "}" or "_" depends on
  // it, and the first such line finds it out once, by a look back.
  bool insideMacroUnknown = false;
  LookBack* lookBack = nullptr;
};

// Asks once whether the scan started inside a block: by a look back, where
// it started part way through the file.
bool findInsideMacro(ScanState& state);
// Whether the scan is inside a block, for a line whose first unit that is not
// a space is lead.
inline bool insideMacroFor(ScanState& state, uint32_t lead) {
  if (state.insideMacro || !state.insideMacroUnknown) return state.insideMacro;
  // Any other line means the same inside a block as outside.
  if (lead != language::kMacroEnd && lead != language::kReferenceStart) return false;
  return findInsideMacro(state);
}

// The key a label line names: "_Procedure12:" and "_Procedure12::" both name
// _Procedure12; text after the colon stays part of the key.
std::u16string_view labelKey(std::u16string_view labelLine);

// Completes the table after the last line.
void finishScan(ScanState& state);

// Joins the scan of a file's second half, which began in the context
// secondStart (an entry that no key names) and is done, to first, the scan
// of everything before it, which is done too: the entries second names by
// key, their references, and its counts. Returns, for each entry of second's
// table, its entry in first's.
std::vector<EntryIndex> joinSecondHalf(ScanState& first, ScanState& second, EntryIndex secondStart);

// The steps of the rules.
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

#endif  // ORRINVALE_APP_SCAN_RULES_H_

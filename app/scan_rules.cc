// The scan's rules, applied through the patterns.
#include "app/scan_rules.h"

#include <algorithm>

#include "app/line_text.h"

namespace {

// Every context change starts a new stay. A label's references of its first
// block are distinct when the block ends and are settled then, so memory
// holds each label once. Later blocks of the same label, and the main code's
// many stretches, may repeat labels; they are left to the folding as the set
// grows, since re-sorting the whole set at every block end would cost time in
// the set, not in the block.
void switchContext(ScanState& state, EntryIndex context) {
  ReferenceSet& refs = state.table.entries[state.current].refs;
  if (state.current != kMainCode && !refs.settled) {
    refs.labels.assign(state.firstBlock.begin(), state.firstBlock.end());
    refs.foldedSize = static_cast<uint32_t>(refs.labels.size());
    refs.settled = true;
    state.firstBlock.clear();
  }
  state.current = context;
  if (++state.stay == 0) {  // after four billion stays, start counting again
    std::fill(state.creditedIn.begin(), state.creditedIn.end(), 0);
    state.stay = 1;
  }
}

// "_Procedure12:" and "_Procedure12::" both name _Procedure12; text after the
// colon stays part of the key.
std::u16string_view labelKey(std::u16string_view labelLine) {
  return trimChar(trimChar(labelLine, u':'), u' ');
}

}  // namespace

ScanState::ScanState(ProcedureTable& table)
    : table(table),
      labelPattern(createPattern(kLabelPattern, kCaseInsensitive)),
      referencePattern(createPattern(kReferencePattern, kCaseInsensitive)) {}

void finishScan(ScanState& state) { switchContext(state, kMainCode); }

void startMacro(ScanState& state) {
  ++state.macroCount;
  state.insideMacro = true;
}

void endMacro(ScanState& state) {
  switchContext(state, kMainCode);
  state.insideMacro = false;
}

void enterLabel(ScanState& state, EntryIndex label) {
  switchContext(state, label);
  // Nothing is marked before the scan ends, so the entry is unused already;
  // its set is filled when the block ends, and fetched for that now.
  __builtin_prefetch(&state.table.entries[label]);
}

int32_t findAllMatches(Pattern pattern, std::u16string_view line,
                       std::vector<std::u16string>* matches) {
  int32_t matched = patternMatches(pattern, line);
  if (matched != 1) return matched;  // none, or the search failed
  return extractMatches(pattern, line, matches);
}

void scanLine(ScanState& state, std::u16string_view line) {
  if (!line.empty() && line[0] == u';') return;
  if (line.starts_with(u"macro MP")) return startMacro(state);
  if (state.insideMacro && !line.empty() && line[0] == u'}') return endMacro(state);
  if (state.insideMacro) {
    int32_t found = findAllMatches(state.labelPattern, line, &state.matches);
    if (found == kPatternFailed) {
      state.searchFailed = true;
      return;
    }
    for (int32_t i = 0; i < found; ++i)
      enterLabel(state, indexFor(state.table, labelKey(state.matches[i])));
    // A label line is not searched for references: a label never counts as a
    // reference to itself.
    if (found > 0) return;
  }
  int32_t found = findAllMatches(state.referencePattern, line, &state.matches);
  if (found == kPatternFailed) state.searchFailed = true;
  for (int32_t i = 0; i < found; ++i)
    creditReference(state, indexFor(state.table, state.matches[i]));
}

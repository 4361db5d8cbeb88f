// The scan's context: which block references are credited to.
#include "app/scan_rules.h"

#include <algorithm>

#include "app/language.h"
#include "app/line_text.h"
#include "runtime/contracts.h"

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

}  // namespace

std::u16string_view labelKey(std::u16string_view labelLine) {
  return trimChar(trimChar(labelLine, language::kLabelEnd), language::kSpace);
}

ScanState::ScanState(ProcedureTable& table)
    : table(table), labelPattern(createPattern(language::kLabelPattern, kCaseInsensitive)) {}

void finishScan(ScanState& state) { switchContext(state, kMainCode); }

bool findInsideMacro(ScanState& state) {
  state.insideMacroUnknown = false;
  ORRINVALE_EXPECTS(state.lookBack != nullptr);
  state.insideMacro = state.lookBack->startsInsideBlock();
  return state.insideMacro;
}

void startMacro(ScanState& state) {
  ++state.macroCount;
  state.insideMacro = true;
  state.insideMacroUnknown = false;
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

std::vector<EntryIndex> joinSecondHalf(ScanState& first, ScanState& second,
                                       EntryIndex secondStart) {
  // The context that first ended in goes on into second, up to second's
  // first change of context.
  EntryIndex goesOn = first.current;
  finishScan(first);
  finishScan(second);
  std::vector<EntryIndex> entryOf = addEntriesOf(first.table, second.table);
  entryOf[secondStart] = goesOn;
  for (size_t i = 0; i < second.table.entries.size(); ++i) {
    ReferenceSet& from = second.table.entries[i].refs;
    ReferenceSet& into = first.table.entries[entryOf[i]].refs;
    if (!into.labels.empty()) {
      for (EntryIndex label : from.labels) addReference(into, entryOf[label]);
      continue;
    }
    // A label that only second knows takes its set over: memory holds it once.
    for (EntryIndex& label : from.labels) label = entryOf[label];
    into.labels = std::move(from.labels);
    into.foldedSize = 0;  // two of second's entries may be one of first's
  }
  first.macroCount += second.macroCount;
  first.searchFailed |= second.searchFailed;
  return entryOf;
}

// The reference scan. Each trimmed line is classified by the first rule that
// fits: comment, macro start, macro end, procedure label, lines with
// references. A block's label line switches the context to which later
// references are credited; its "}" switches back to the main code.
#include "app/scan_pass.h"

#include <new>
#include <vector>

#include "app/line_shortcuts.h"
#include "app/line_text.h"
#include "app/marking.h"
#include "runtime/console.h"
#include "runtime/pattern.h"
#include "runtime/text_file.h"

namespace {

struct ScanState {
  ProcedureTable& table;
  Pattern labelPattern;
  Pattern referencePattern;
  bool insideMacro = false;
  // The context that references are credited to; null for the main code,
  // whose entry is made on first use, so a file with no references leaves the
  // table as the marking alone makes it.
  ProcedureEntry* current = nullptr;
  int64_t macroCount = 0;
  std::vector<std::u16string> matches = std::vector<std::u16string>(1);
};

ProcedureEntry& currentEntry(ScanState& state) {
  return state.current ? *state.current : entryFor(state.table, MainContextKey);
}

// A procedure's references are complete once its block is left; they are
// folded then, so memory holds each label once. A label that names many
// blocks is folded only at the end of its first: later ones are left to the
// folding as the set grows, since re-sorting the whole set at every block
// end would cost time in the set, not in the block.
void leaveContext(ScanState& state) {
  if (state.current && !state.current->refs.settled) {
    foldReferences(state.current->refs);
    state.current->refs.settled = true;
  }
  state.current = nullptr;
}

// "_Procedure12:" and "_Procedure12::" both name _Procedure12; text after the
// colon stays part of the key.
std::u16string_view labelKey(std::u16string_view labelLine) {
  return trimChar(trimChar(labelLine, u':'), u' ');
}

// Whether scanLine could do anything with the trimmed line, given as the
// bytes of ANSI or UTF-8 text: with no macro start, no block end and no
// procedure label in it, no rule fits.
bool mayMatter(const ScanState& state, std::string_view line) {
  if (line.empty() || line[0] == ';') return false;
  return line.starts_with("macro MP") || (state.insideMacro && line[0] == '}') ||
         mayHoldReference(line);
}

void scanLine(ScanState& state, std::u16string_view line) {
  if (!line.empty() && line[0] == u';') return;
  if (line.starts_with(u"macro MP")) {
    ++state.macroCount;
    state.insideMacro = true;
    return;
  }
  if (state.insideMacro && !line.empty() && line[0] == u'}') {
    leaveContext(state);
    state.insideMacro = false;
    return;
  }
  bool shortcuts = shortcutsEnabled();
  if (state.insideMacro && (!shortcuts || mayBeLabelLine(line))) {
    int32_t found = findAllMatches(state.labelPattern, line, &state.matches);
    for (int32_t i = 0; i < found; ++i) {
      leaveContext(state);
      state.current = &entryFor(state.table, labelKey(state.matches[i]));
      state.current->used = 0;
    }
    // A label line is not searched for references: a label never counts as a
    // reference to itself.
    if (found > 0) return;
  }
  if (!shortcuts || mayHoldReference(line)) {
    int32_t found = findAllMatches(state.referencePattern, line, &state.matches);
    if (found == 0) return;
    for (int32_t i = 0; i < found; ++i) {
      EntryIndex label = indexFor(state.table, state.matches[i]);
      addReference(currentEntry(state).refs, label);
    }
  }
}

}  // namespace

bool ScanPass(std::u16string_view fileName, TextFile* file, ProcedureTable& table) {
  clearTable(table);
  ScanState state{table, createPattern(kLabelPattern, kCaseInsensitive),
                  createPattern(kReferencePattern, kCaseInsensitive)};
  if (!file) {
    printLine(notFoundMessage(fileName));
    return true;
  }
  TextFormat format = readFormat(file);
  // Most lines matter to no rule; in ANSI and UTF-8 that shows on the raw
  // bytes, and such lines are never converted.
  const bool shortcuts = shortcutsEnabled() && asciiIsSingleBytes(format);
  std::u16string line;
  bool readWhole = true;
  try {
    while (!atEnd(file, format)) {
      std::string_view raw = readLineBytes(file, format);
      if (shortcuts && !mayMatter(state, trimAll(raw, ' '))) continue;
      line.clear();
      decodeText(format, raw, &line);
      scanLine(state, trimChar(line));
    }
    markFromMainCode(table);
  } catch (const std::bad_alloc&) {
    readWhole = false;
  }
  readWhole = readWhole && !file->readFailed;
  if (!readWhole) {
    printLine(u"File '" + std::u16string(fileName) + u"' could not be read.");
    return false;
  }
  printLine(u"Found " + decimal(state.macroCount) + u" procedure macros.");
  return true;
}

// The reference way: a scan and a rewrite line by line through the patterns,
// and the driver's sequence around them.
#include "tests/reference/reference_run.h"

#include <new>
#include <string>
#include <vector>

#include "app/driver.h"
#include "app/language.h"
#include "app/line_text.h"
#include "app/marking.h"
#include "app/rewrite.h"
#include "runtime/console.h"
#include "runtime/file_replace.h"
#include "runtime/pattern.h"
#include "runtime/text_file.h"
#include "tests/reference/text_lines.h"

namespace {

// raw, whole units of format, without its leading and trailing spaces,
// compared as encoded units.
std::string_view trimSpaceUnits(TextFormat format, std::string_view raw) {
  std::string space;
  encodeText(format, u" ", &space);
  size_t size = space.size();
  size_t first = 0, end = raw.size() - raw.size() % size;
  while (first < end && raw.compare(first, size, space) == 0) first += size;
  while (end > first && raw.compare(end - size, size, space) == 0) end -= size;
  return raw.substr(first, end - first);
}

// Tests line against pattern and, if it matches, extracts every match;
// returns their count, or kPatternFailed.
int32_t findAllMatches(Pattern pattern, std::u16string_view line,
                       std::vector<std::u16string>* matches) {
  int32_t matched = patternMatches(pattern, line);
  if (matched != 1) return matched;  // none, or the search failed
  return extractMatches(pattern, line, matches);
}

// A line as read, or its replacement, and CR LF in format.
void writeLineTo(OutputFile* output, std::string_view raw, TextFormat format) {
  output->write(raw);
  output->write(lineEndBytes(format));
}

bool writeByLines(TextFile* source, TextFormat format, ProcedureTable& table, OutputFile* output,
                  RemovalCounts* counts) {
  seekFile(source, 0);
  readFormat(source);
  output->write(byteOrderMark(format));
  Pattern invocationPattern = createPattern(kInvocationPattern, kCaseInsensitive);
  std::vector<std::u16string> matches(1);
  std::u16string text, label;
  std::string comment;
  while (!atEnd(source, format)) {
    std::string_view raw = readLineBytes(source, format);
    std::string_view trimmed = trimSpaceUnits(format, raw);
    text.clear();
    decodeText(format, trimmed, &text);
    int32_t found = findAllMatches(invocationPattern, text, &matches);
    if (found == kPatternFailed) return false;  // the line's fate is unknown
    if (found < 1) {
      writeLineTo(output, raw, format);
      continue;
    }
    ++counts->invocations;
    // The digits as written, leading zeros kept: MP012 names _Procedure012.
    label.assign(u"_Procedure");
    label.append(std::u16string_view(matches[0]).substr(2));
    if (entryFor(table, label).used != 0) {
      writeLineTo(output, raw, format);
      continue;
    }
    ++counts->removed;
    // The trimmed line's own units, whatever they are, inside the comment.
    comment.clear();
    appendRemovedLine(format, trimmed, &comment);
    writeLineTo(output, comment, format);
  }
  // A partial unit at the very end is no line: it stays the last bytes.
  char tail[4];
  output->write(std::string_view(tail, static_cast<size_t>(readBytes(source, tail, sizeof tail))));
  return true;
}

void runByLines(std::u16string_view fileName, TextFile* source, TextFormat format,
                ProcedureTable& table) {
  int64_t macroCount = 0;
  bool complete = false;
  try {
    ScanState state(table);
    scanByLines(source, format, state);
    finishScan(state);
    macroCount = state.macroCount;
    complete = !source->readFailed && !state.searchFailed;
    if (complete) markFromMainCode(table);
  } catch (const std::bad_alloc&) {
    complete = false;
  }
  if (!reportScan(fileName, complete, macroCount)) return;
  Replacement replacement(fileName, source);
  ReplaceStart start = replacement.begin();
  finishRewrite(fileName, source, start, replacement,
                [&](OutputFile* output, RemovalCounts* counts) {
                  return writeByLines(source, format, table, output, counts);
                });
}

}  // namespace

ReferenceScan::ReferenceScan(ScanState& state)
    : state(state),
      labelPattern(createPattern(language::kLabelPattern, kCaseInsensitive)),
      referencePattern(createPattern(kReferencePattern, kCaseInsensitive)) {}

void ReferenceScan::scanLine(std::u16string_view line) {
  std::vector<std::u16string> matches(1);
  if (!line.empty() && line[0] == u';') return;
  if (line.starts_with(u"macro MP")) return startMacro(state);
  if (state.insideMacro && !line.empty() && line[0] == u'}') return endMacro(state);
  if (state.insideMacro) {
    int32_t found = findAllMatches(labelPattern, line, &matches);
    if (found == kPatternFailed) {
      state.searchFailed = true;
      return;
    }
    for (int32_t i = 0; i < found; ++i)
      enterLabel(state, indexFor(state.table, labelKey(matches[i])));
    // A label line is not searched for references: a label never counts as a
    // reference to itself.
    if (found > 0) return;
  }
  int32_t found = findAllMatches(referencePattern, line, &matches);
  if (found == kPatternFailed) state.searchFailed = true;
  for (int32_t i = 0; i < found; ++i) creditReference(state, indexFor(state.table, matches[i]));
}

void scanByLines(TextFile* file, TextFormat format, ScanState& state) {
  ReferenceScan scan(state);
  std::u16string line;
  while (!atEnd(file, format)) {
    line.clear();
    decodeText(format, readLineBytes(file, format), &line);
    scan.scanLine(trimChar(line));
  }
}

void runOnFile(std::u16string_view fileName, ProcedureTable& table, RunWay way) {
  if (way == RunWay::Tool) return runOnFile(fileName, table);
  TextFile* source = openForRun(fileName, table);
  if (!source) return;
  runByLines(fileName, source, readFormat(source), table);
  closeFile(source);
}

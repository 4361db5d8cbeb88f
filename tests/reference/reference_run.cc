// The reference way: a scan and a rewrite line by line through patterns, a
// marking by a plain walk, and the driver's sequence around them.
#include "tests/reference/reference_run.h"

#include <new>
#include <string>
#include <vector>

#include "app/driver.h"
#include "runtime/console.h"
#include "runtime/file_replace.h"
#include "runtime/pattern.h"
#include "runtime/text_codec.h"
#include "runtime/text_file.h"
#include "tests/reference/text_lines.h"

namespace {

const std::u16string kMainKey = u"1";
constexpr const char16_t* kLabelLinePattern = u"^ *_Procedure[0-9]+:.*";

std::u16string_view trimAll(std::u16string_view text, char16_t c) {
  while (!text.empty() && text.front() == c) text.remove_prefix(1);
  while (!text.empty() && text.back() == c) text.remove_suffix(1);
  return text;
}

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

class LineScan {
 public:
  explicit LineScan(ReferenceFindings& found)
      : found_(found),
        labelPattern_(createPattern(kLabelLinePattern, kCaseInsensitive)),
        referencePattern_(createPattern(kReferencePattern, kCaseInsensitive)) {
    found_.references[kMainKey];
  }

  // One line, trimmed of spaces: the first rule that fits.
  void take(std::u16string_view line) {
    if (line.starts_with(u';')) return;
    if (line.starts_with(u"macro MP")) {
      ++found_.macroCount;
      insideMacro_ = true;
      return;
    }
    if (insideMacro_ && line.starts_with(u'}')) {
      insideMacro_ = false;
      current_ = kMainKey;
      return;
    }
    if (insideMacro_) {
      int32_t count = findAllMatches(labelPattern_, line, &matches_);
      if (count == kPatternFailed) found_.searchFailed = true;
      if (count > 0) {
        // Colons off both ends first, then spaces; a label is no reference.
        current_ = trimAll(trimAll(matches_[0], u':'), u' ');
        found_.labels.insert(current_);
        found_.references[current_];
        return;
      }
    }
    int32_t count = findAllMatches(referencePattern_, line, &matches_);
    if (count == kPatternFailed) found_.searchFailed = true;
    for (int32_t i = 0; i < count; ++i) found_.references[current_].insert(matches_[i]);
  }

 private:
  ReferenceFindings& found_;
  Pattern labelPattern_, referencePattern_;
  std::vector<std::u16string> matches_ = std::vector<std::u16string>(1);
  bool insideMacro_ = false;
  std::u16string current_ = kMainKey;
};

// Every key the main code reaches, itself included.
std::set<std::u16string> reachedFromMainCode(const ReferenceFindings& found) {
  std::set<std::u16string> reached{kMainKey};
  std::vector<std::u16string> work{kMainKey};
  while (!work.empty()) {
    std::u16string key = work.back();
    work.pop_back();
    auto context = found.references.find(key);
    if (context == found.references.end()) continue;
    for (const std::u16string& label : context->second)
      if (reached.insert(label).second) work.push_back(label);
  }
  return reached;
}

// The findings in the tool's table, so that tests read both ways alike.
void fillTable(const ReferenceFindings& found, const std::set<std::u16string>& reached,
               ProcedureTable& table) {
  auto index = [&](const std::u16string& key) {
    return key == kMainKey ? kMainCode : indexFor(table, key);
  };
  for (const std::u16string& label : found.labels) table.entries[index(label)].used = 0;
  for (const auto& [context, labels] : found.references) {
    EntryIndex from = index(context);
    for (const std::u16string& label : labels) {
      EntryIndex to = index(label);
      addReference(table.entries[from].refs, to);
    }
  }
  for (const std::u16string& key : reached) table.entries[index(key)].used = 1;
}

bool writeByLines(TextFile* source, TextFormat format, const std::set<std::u16string>& reached,
                  OutputFile* output, RemovalCounts* counts) {
  seekFile(source, 0);
  readFormat(source);
  output->write(byteOrderMark(format));
  Pattern invocationPattern = createPattern(kInvocationPattern, kCaseInsensitive);
  std::vector<std::u16string> matches(1);
  std::u16string text;
  std::string line;
  while (!atEnd(source, format)) {
    std::string_view raw = readLineBytes(source, format);
    std::string_view trimmed = trimSpaceUnits(format, raw);
    text.clear();
    decodeText(format, trimmed, &text);
    int32_t found = findAllMatches(invocationPattern, text, &matches);
    if (found == kPatternFailed) return false;  // the line's fate is unknown
    line.assign(raw);
    if (found > 0) {
      ++counts->invocations;
      // The digits as written, leading zeros kept: MP012 names _Procedure012.
      if (!reached.contains(u"_Procedure" + matches[0].substr(2))) {
        ++counts->removed;
        // The trimmed line's own units, whatever they are, inside the comment.
        line.clear();
        encodeText(format, u"; ", &line);
        line.append(trimmed);
        encodeText(format, u"; AUTOMATICALLY REMOVED", &line);
      }
    }
    output->write(line);
    output->write(lineEndBytes(format));
  }
  // A partial unit at the very end is no line: it stays the last bytes.
  char tail[4];
  output->write(std::string_view(tail, static_cast<size_t>(readBytes(source, tail, sizeof tail))));
  return true;
}

void runByLines(std::u16string_view fileName, TextFile* source, TextFormat format,
                ProcedureTable& table) {
  ReferenceFindings found;
  std::set<std::u16string> reached;
  ScanOutcome outcome = ScanOutcome::Unreadable;
  try {
    found = scanByLines(source, format);
    const bool complete = !source->readFailed && !found.searchFailed;
    if (complete) reached = reachedFromMainCode(found);
    fillTable(found, reached, table);
    if (complete) outcome = ScanOutcome::Complete;
  } catch (const std::bad_alloc&) {
    outcome = ScanOutcome::OutOfMemory;
  }
  if (!reportScan(fileName, outcome, found.macroCount)) return;
  Replacement replacement(fileName, source);
  ReplaceStart start = replacement.begin();
  finishRewrite(fileName, source, start, replacement,
                [&](OutputFile* output, RemovalCounts* counts) {
                  return writeByLines(source, format, reached, output, counts);
                });
}

}  // namespace

ReferenceFindings scanByLines(TextFile* file, TextFormat format) {
  ReferenceFindings found;
  LineScan scan(found);
  std::u16string line;
  while (!atEnd(file, format)) {
    line.clear();
    decodeText(format, readLineBytes(file, format), &line);
    scan.take(trimAll(line, u' '));
  }
  return found;
}

void runOnFile(std::u16string_view fileName, ProcedureTable& table, RunWay way) {
  if (way == RunWay::Tool) return runOnFile(fileName, table);
  TextFile* source = openForRun(fileName, table);
  if (!source) return;
  runByLines(fileName, source, readFormat(source), table);
  closeFile(source);
}

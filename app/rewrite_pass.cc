// The frame of every rewrite, and the reference rewrite.
#include "app/rewrite_pass.h"

#include <array>
#include <new>
#include <vector>

#include "app/line_text.h"
#include "app/scan_rules.h"
#include "runtime/console.h"
#include "runtime/pattern.h"

void replaceContent(std::u16string_view fileName, TextFile* source, ReplaceStart start,
                    Replacement& replacement, const ContentWriter& write) {
  RemovalCounts counts;
  bool written = false;
  switch (start) {
    case ReplaceStart::ReadOnly:
      return;  // the file stays as it is, without a word
    case ReplaceStart::Ready: {
      bool complete = false;
      try {
        complete = write(replacement.output, &counts);
      } catch (const std::bad_alloc&) {
        complete = false;  // out of memory: the new content is incomplete
      }
      // A read that failed part way ended the file early; committing would cut it.
      if (complete && !source->readFailed) written = commitReplacement(&replacement);
      else abandonReplacement(&replacement);
      break;
    }
    case ReplaceStart::Failed:
      break;
  }
  if (!written) {
    printLine(u"File '" + std::u16string(fileName) + u"' could not be written.");
    return;
  }
  printLine(u"Removed " + decimal(counts.removed) + u" out of " + decimal(counts.invocations) +
            u" used procedure macros.");
}

RemovedLineParts removedLineParts(TextFormat format) {
  // Encoded once per format.
  static const auto parts = [] {
    std::array<std::array<std::string, 2>, kTextFormatCount> all;
    for (size_t i = 0; i < all.size(); ++i) {
      encodeText(static_cast<TextFormat>(i), u"; ", &all[i][0]);
      encodeText(static_cast<TextFormat>(i), u"; AUTOMATICALLY REMOVED", &all[i][1]);
    }
    return all;
  }();
  const auto& spelled = parts[static_cast<size_t>(format)];
  return {spelled[0], spelled[1]};
}

void appendRemovedLine(TextFormat format, std::string_view trimmed, std::string* out) {
  RemovedLineParts parts = removedLineParts(format);
  out->append(parts.before);
  out->append(trimmed);
  out->append(parts.after);
}

bool writeByLines(TextFile* source, TextFormat format, ProcedureTable& table, TextFile* output,
                  RemovalCounts* counts) {
  seekFile(source, 0);
  readFormat(source);
  writeFormat(output, format);
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
      writeRawLine(output, raw, format);
      continue;
    }
    ++counts->invocations;
    // The digits as written, leading zeros kept: MP012 names _Procedure012.
    label.assign(u"_Procedure");
    label.append(std::u16string_view(matches[0]).substr(2));
    if (entryFor(table, label).used != 0) {
      writeRawLine(output, raw, format);
      continue;
    }
    ++counts->removed;
    // The trimmed line's own units, whatever they are, inside the comment.
    comment.clear();
    appendRemovedLine(format, trimmed, &comment);
    writeRawLine(output, comment, format);
  }
  // A partial unit at the very end is no line: it stays the last bytes.
  char tail[4];
  writeBytes(output, tail, readBytes(source, tail, sizeof tail));
  return true;
}

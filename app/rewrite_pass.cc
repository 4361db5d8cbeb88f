// The rewrite. Lines stream from the original into a temporary file that then
// replaces it, so the file is never held whole in memory and never half
// written. Only where no temporary file can be created is the file rewritten
// in place, from lines collected beforehand.
#include "app/rewrite_pass.h"

#include <new>
#include <vector>

#include "app/line_shortcuts.h"
#include "app/line_text.h"
#include "runtime/console.h"
#include "runtime/file_replace.h"
#include "runtime/pattern.h"
#include "runtime/text_file.h"

namespace {

struct Rewriter {
  explicit Rewriter(ProcedureTable& table) : table(table) {}

  ProcedureTable& table;
  Pattern invocationPattern = createPattern(u"^( )*MP([0-9])+", kCaseInsensitive);
  TextFormat format = TextFormat::Ansi;
  int64_t invocations = 0;
  int64_t removed = 0;
  std::vector<std::u16string> matches = std::vector<std::u16string>(1);
  std::u16string replacement;
  std::u16string label;
  std::u16string line;
  const bool shortcuts = shortcutsEnabled();

  // Writes the line whose bytes in the file are raw.
  void write(TextFile* output, std::string_view raw) {
    // A line that cannot be an invocation goes back as it came, unconverted,
    // where that gives the same bytes as converting it.
    if (shortcuts && asciiIsSingleBytes(format) && !mayBeInvocation(trimAll(raw, ' ')) &&
        roundTripsUnchanged(format, raw))
      return writeRawLine(output, raw, format);
    line.clear();
    decodeText(format, raw, &line);
    std::u16string_view result = transform(line);
    if (shortcuts && result.data() == line.data() && roundTripsUnchanged(format, raw))
      writeRawLine(output, raw, format);
    else
      writeLine(output, result, format);
  }

  // The line to write for text: text itself, or its replacement.
  std::u16string_view transform(std::u16string_view text) {
    std::u16string_view trimmed = trimChar(text);
    if (shortcuts && !mayBeInvocation(trimmed)) return text;
    if (findAllMatches(invocationPattern, trimmed, &matches) < 1) return text;
    ++invocations;
    // The digits as written, leading zeros kept: MP012 names _Procedure012.
    label.assign(u"_Procedure");
    label.append(std::u16string_view(matches[0]).substr(2));
    if (entryFor(table, label).used != 0) return text;
    ++removed;
    replacement.assign(u"; ");
    replacement.append(trimmed);
    replacement.append(u"; AUTOMATICALLY REMOVED");
    return replacement;
  }
};

// Streams input into a temporary file and puts it in place. False when the
// new content could not be completed.
bool rewriteThroughTemporary(TextFile* input, Rewriter& rewriter, Replacement& replacement) {
  writeFormat(replacement.output, rewriter.format);
  try {
    while (!atEnd(input)) rewriter.write(replacement.output, readLineBytes(input, rewriter.format));
  } catch (const std::bad_alloc&) {
    input->readFailed = true;  // out of memory: the new content is incomplete
  }
  // A read that failed part way ended the file early; committing would cut it.
  bool readWhole = !input->readFailed;
  closeFile(input);
  if (!readWhole) {
    abandonReplacement(&replacement);
    return false;
  }
  return commitReplacement(&replacement);
}

// Every line of the file, as raw bytes back to back: one allocation for the
// text instead of one per line.
struct LineList {
  std::string bytes;
  std::vector<size_t> ends;

  std::string_view line(size_t i) const {
    size_t start = i == 0 ? 0 : ends[i - 1];
    return std::string_view(bytes).substr(start, ends[i] - start);
  }
};

// Where no temporary file can be made: collect the lines, then rewrite the
// file in place.
bool rewriteWithoutTemporary(std::u16string_view fileName, TextFile* input,
                             Rewriter& rewriter) {
  LineList lines;
  bool readWhole = true;
  try {
    while (!atEnd(input)) {
      lines.bytes.append(readLineBytes(input, rewriter.format));
      lines.ends.push_back(lines.bytes.size());
    }
  } catch (const std::bad_alloc&) {
    readWhole = false;
  }
  readWhole = readWhole && !input->readFailed;
  closeFile(input);
  if (!readWhole) return false;
  return rewriteInPlace(fileName, [&](TextFile* output) {
    writeFormat(output, rewriter.format);
    for (size_t i = 0; i < lines.ends.size(); ++i) rewriter.write(output, lines.line(i));
  });
}

}  // namespace

void RewritePass(std::u16string_view fileName, ProcedureTable& table) {
  Rewriter rewriter(table);
  TextFile* input = openForReading(fileName);
  if (!input) {
    printLine(notFoundMessage(fileName));
    return;
  }
  rewriter.format = readFormat(input);

  Replacement replacement;
  bool written = false;
  switch (beginReplacement(fileName, &replacement)) {
    case ReplaceStart::ReadOnly:
      closeFile(input);  // the file stays as it is, without a word
      return;
    case ReplaceStart::Ready:
      written = rewriteThroughTemporary(input, rewriter, replacement);
      break;
    case ReplaceStart::InPlace:
      written = rewriteWithoutTemporary(fileName, input, rewriter);
      break;
    case ReplaceStart::Failed:
      closeFile(input);
      break;
  }
  if (!written) {
    printLine(u"File '" + std::u16string(fileName) + u"' could not be written.");
    return;
  }
  printLine(u"Removed " + decimal(rewriter.removed) + u" out of " +
            decimal(rewriter.invocations) + u" used procedure macros.");
}

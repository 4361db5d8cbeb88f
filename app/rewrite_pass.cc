// The rewrite. Lines stream from the file the scan read into a temporary file
// that then replaces it, so the file is never held whole in memory and never
// half written. Only two things change: the invocation lines of unused
// procedures become comments, and every line end becomes CR LF. Every other
// byte goes out exactly as it came, valid in its encoding or not.
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
  Rewriter(ProcedureTable& table, TextFormat format) : table(table), format(format) {
    encodeText(format, u"; ", &commentStart);
    encodeText(format, u"; AUTOMATICALLY REMOVED", &commentEnd);
  }

  ProcedureTable& table;
  const TextFormat format;
  Pattern invocationPattern = createPattern(kInvocationPattern, kCaseInsensitive);
  int64_t invocations = 0;
  int64_t removed = 0;
  std::vector<std::u16string> matches = std::vector<std::u16string>(1);
  std::string commentStart, commentEnd;  // "; " and "; AUTOMATICALLY REMOVED" in format
  std::string comment;
  std::u16string label;
  std::u16string text;
  const bool shortcuts = shortcutsEnabled();

  // Writes the line whose bytes in the file are raw, or its comment.
  void write(TextFile* output, std::string_view raw) {
    std::string_view trimmed = trimSpaceUnits(format, raw);
    if (!removes(trimmed)) return writeRawLine(output, raw, format);
    // The trimmed line's own units, whatever they are, inside the comment.
    comment.assign(commentStart);
    comment.append(trimmed);
    comment.append(commentEnd);
    writeRawLine(output, comment, format);
  }

  // Whether the trimmed line is an invocation of a procedure nobody uses.
  // Counts the invocations and the removals.
  bool removes(std::string_view trimmed) {
    if (shortcuts && asciiIsSingleBytes(format) && !mayBeInvocation(trimmed)) return false;
    text.clear();
    decodeText(format, trimmed, &text);
    if (shortcuts && !mayBeInvocation(std::u16string_view(text))) return false;
    if (findAllMatches(invocationPattern, text, &matches) < 1) return false;
    ++invocations;
    // The digits as written, leading zeros kept: MP012 names _Procedure012.
    label.assign(u"_Procedure");
    label.append(std::u16string_view(matches[0]).substr(2));
    if (entryFor(table, label).used != 0) return false;
    ++removed;
    return true;
  }
};

// Streams the source into the replacement's temporary file and puts it in
// place. False when the new content could not be completed.
bool rewriteThroughTemporary(TextFile* source, Rewriter& rewriter, Replacement& replacement) {
  TextFile* output = replacement.output;
  writeFormat(output, rewriter.format);
  try {
    while (!atEnd(source, rewriter.format))
      rewriter.write(output, readLineBytes(source, rewriter.format));
    // A partial unit at the very end is no line: it stays the last bytes.
    char tail[4];
    writeBytes(output, tail, readBytes(source, tail, sizeof tail));
  } catch (const std::bad_alloc&) {
    source->readFailed = true;  // out of memory: the new content is incomplete
  }
  // A read that failed part way ended the file early; committing would cut it.
  if (source->readFailed) {
    abandonReplacement(&replacement);
    return false;
  }
  return commitReplacement(&replacement);
}

}  // namespace

void RewritePass(std::u16string_view fileName, TextFile* source, ProcedureTable& table) {
  if (!source) {
    printLine(notFoundMessage(fileName));
    return;
  }
  seekFile(source, 0);
  Rewriter rewriter(table, readFormat(source));

  Replacement replacement;
  bool written = false;
  switch (beginReplacement(fileName, source, &replacement)) {
    case ReplaceStart::ReadOnly:
      return;  // the file stays as it is, without a word
    case ReplaceStart::Ready:
      written = rewriteThroughTemporary(source, rewriter, replacement);
      break;
    case ReplaceStart::Failed:
      break;
  }
  if (!written) {
    printLine(u"File '" + std::u16string(fileName) + u"' could not be written.");
    return;
  }
  printLine(u"Removed " + decimal(rewriter.removed) + u" out of " +
            decimal(rewriter.invocations) + u" used procedure macros.");
}

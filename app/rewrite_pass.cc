// The frame of every rewrite, and the spelling of a removed line.
#include "app/rewrite_pass.h"

#include <array>
#include <new>
#include <vector>

#include "app/line_text.h"
#include "runtime/console.h"

void replaceContent(std::u16string_view fileName, TextFile* source, ReplaceStart start,
                    Replacement& replacement, const ContentWriter& write) {
  RemovalCounts counts;
  bool written = false;
  switch (start) {
    case ReplaceStart::ReadOnly: return;  // the file stays as it is, without a word
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
    case ReplaceStart::Failed: break;
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

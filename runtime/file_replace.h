// Replacing a file's content without ever leaving it half written. The new
// content goes to a temporary file beside the original (symlinks followed),
// which takes the original's place by rename once it is complete and on the
// disk. Where the directory refuses new files, the file is rewritten in place
// with its old bytes kept in memory, to be put back if a write fails.
#ifndef ORRINVALE_RUNTIME_FILE_REPLACE_H_
#define ORRINVALE_RUNTIME_FILE_REPLACE_H_

#include <functional>
#include <string>
#include <string_view>

#include "runtime/os.h"
#include "runtime/text_file.h"

enum class ReplaceStart {
  Ready,     // write the new content to Replacement::output, then commit
  InPlace,   // no temporary file possible: use rewriteInPlace
  ReadOnly,  // the file may not be written; leave it alone
  Failed,    // the replacement cannot even start
};

struct Replacement {
  std::string target;     // the real file, symlinks resolved
  std::string temporary;  // the new content until commit
  TextFile* output = nullptr;
};

// A file without any write permission bit counts as read-only for every user,
// root included, as a read-only attribute would.
ReplaceStart beginReplacement(std::u16string_view name, Replacement* replacement);

// Puts the new content in place. False, with the original untouched and the
// temporary file gone, if anything written to output failed.
bool commitReplacement(Replacement* replacement);

// Drops the new content; the original stays as it was.
void abandonReplacement(Replacement* replacement);

// Truncates name and calls write on it, as one step that no end signal
// interrupts. If any write fails, the old bytes are written back and the
// result is false.
bool rewriteInPlace(std::u16string_view name, const std::function<void(TextFile*)>& write);

#endif  // ORRINVALE_RUNTIME_FILE_REPLACE_H_

// Replacing a file's content without ever leaving it half written. The new
// content goes to a temporary file beside the original (symlinks followed),
// which takes the original's place by rename once it is complete, carries the
// original's metadata and is on the disk, and only if the original is still
// exactly the file that was read.
#ifndef ORRINVALE_RUNTIME_FILE_REPLACE_H_
#define ORRINVALE_RUNTIME_FILE_REPLACE_H_

#include <string>
#include <string_view>

#include "runtime/os.h"
#include "runtime/text_file.h"

enum class ReplaceStart {
  Ready,     // write the new content to Replacement::output, then commit
  ReadOnly,  // the file may not be written; leave it alone
  Failed,    // the replacement cannot even start
};

struct Replacement {
  TextFile* source = nullptr;   // the file as read, held open until the rename
  os::FileLocation target;      // where the real file lives
  std::string prefix;           // how temporary files beside it start
  os::TemporaryFile temporary;  // the new content until commit
  TextFile* output = nullptr;
};

// Prepares to replace source, which is open under name. A file without any
// write permission bit counts as read-only for every user, root included, as
// a read-only attribute would; so does one that permissions, a read-only file
// system or the immutable flag keep from being written. Leftover temporary
// files of runs that were killed are removed here.
ReplaceStart beginReplacement(std::u16string_view name, TextFile* source, Replacement* replacement);

// Puts the new content in place. False, with the original untouched and the
// temporary file gone, if anything written to output failed or if the file
// that name names is no longer the source as it was opened. The source may
// be left without its handle (closed before the rename where the system
// requires it); it is closed as usual all the same.
bool commitReplacement(Replacement* replacement);

// Drops the new content; the original stays as it was.
void abandonReplacement(Replacement* replacement);

// Removes the named temporary files of replacements in progress: all that an
// interrupted run must do, since the file it would replace is never written
// in place. Async-signal-safe, for the end-signal handler.
void removeTemporaryFiles();

// The start of the names of temporary files beside a file of this name, so
// that a user recognises them.
std::string temporaryPrefix(const std::string& name);

#endif  // ORRINVALE_RUNTIME_FILE_REPLACE_H_

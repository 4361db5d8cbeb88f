// Replacing a file's content without ever leaving it half written. The new
// content goes to a temporary file beside the original (symlinks followed),
// which takes the original's place by rename once it is complete, carries the
// original's metadata and is on the disk, and only if the original is still
// exactly the file that was read. A replacement's whole life is here:
//
//   Opened ──begin()──► TemporaryCreated ──commit()──► Written ──► Committed
//     │                        │                          │
//     │ (read-only, failed:    └── abandon(), a failure ──┴──► Abandoned
//     │  nothing is created)
//     ▼
//   Opened
//
// Opened: the run holds the file it read. TemporaryCreated: the new file
// exists (without a name where the system allows) and takes the content
// through output(). Written: the content and the metadata are on the disk.
// Committed: the new file has the original's name. Abandoned: the new file is
// gone and the original stays as it was; a replacement that is destroyed
// before it is committed is abandoned.
//
// The first begin() arranges that an end signal (or the console going away)
// removes the temporary files of the replacements in progress and ends the
// process, never in the middle of a rename.
#ifndef ORRINVALE_RUNTIME_FILE_REPLACE_H_
#define ORRINVALE_RUNTIME_FILE_REPLACE_H_

#include <memory>
#include <string>
#include <string_view>

#include "runtime/os.h"
#include "runtime/output_file.h"
#include "runtime/text_file.h"

enum class ReplaceStart {
  Ready,     // write the new content to output(), then commit
  ReadOnly,  // the file may not be written; leave it alone
  Failed,    // the replacement cannot even start
};

class Replacement {
 public:
  enum class State { Opened, TemporaryCreated, Written, Committed, Abandoned };

  // source is the file as the run opened it, under name; it stays the
  // caller's, and open, until after commit or abandon.
  Replacement(std::u16string_view name, TextFile* source) : name_(name), source_(source) {}
  ~Replacement() { abandon(); }
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;

  // Creates the temporary file. A file without any write permission bit
  // counts as read-only for every user, root included, as a read-only
  // attribute would; so does one that permissions, a read-only file system
  // or the immutable flag keep from being written. Leftover temporary files
  // of runs that were killed are removed here.
  ReplaceStart begin();

  // Where the new content goes, while TemporaryCreated.
  OutputFile* output() { return output_.get(); }

  // Puts the new content in place. False, with the original untouched and
  // the temporary file gone, if anything written to output failed or if the
  // file that name names is no longer the source as it was opened. The
  // source may be left without its handle (closed before the rename where
  // the system requires it); it is closed as usual all the same.
  bool commit();

  // Drops the new content; the original stays as it was.
  void abandon();

  State state() const { return state_; }

 private:
  bool writeOut();
  bool nameAndCheck();

  std::u16string name_;
  TextFile* source_;
  State state_ = State::Opened;
  os::FileLocation target_;      // where the real file lives
  std::string prefix_;           // how temporary files beside it start
  os::TemporaryFile temporary_;  // the new file until commit
  std::unique_ptr<OutputFile> output_;
};

// The start of the names of temporary files beside a file of this name, so
// that a user recognises them.
std::string temporaryPrefix(const std::string& name);

#endif  // ORRINVALE_RUNTIME_FILE_REPLACE_H_

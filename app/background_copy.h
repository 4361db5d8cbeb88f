// Copying the beginning of a file into its replacement on a thread of its
// own, while the main thread reads on: the part of the file that the scan has
// passed and that holds no invocation line goes to the new file, its line
// ends mended where the scan saw some to mend, and on its way to the disk,
// before the main thread has even finished reading.
#ifndef ORRINVALE_APP_BACKGROUND_COPY_H_
#define ORRINVALE_APP_BACKGROUND_COPY_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "app/mending_copy.h"
#include "runtime/output_file.h"
#include "runtime/text_file.h"

// Whether this system can copy while the main thread reads the same file,
// and a file of size bytes is large enough to be worth a thread.
bool worthCopyingInBackground(int64_t size);

class BackgroundCopy {
 public:
  // Will copy source, from its first byte, to output, to which nothing has
  // been written yet and which nobody else writes until finish; the file's
  // units are unitSize bytes, mended by mender. Where no thread can be
  // started, nothing is copied.
  BackgroundCopy(TextFile* source, OutputFile* output, int unitSize, LineEndMender mender);
  ~BackgroundCopy();
  BackgroundCopy(const BackgroundCopy&) = delete;
  BackgroundCopy& operator=(const BackgroundCopy&) = delete;

  // The source's bytes before end, which starts a line, go to the new file:
  // as they are, but for the regions that mendRegions marks (as the edit
  // list does), whose line ends are mended.
  void allowUpTo(int64_t end, const std::vector<uint64_t>& mendRegions);

  // Copies what is allowed and not yet copied, ends the thread and returns
  // how far the source is copied, or -1 if a copy failed.
  int64_t finish();

 private:
  void copyLoop();
  bool copy(int64_t from, int64_t end, const std::vector<uint64_t>& mendRegions);

  os::FileHandle source_;
  OutputFile* output_;
  MendingCopier mending_;
  std::vector<char> in_;  // a stretch to mend, as read
  std::mutex lock_;
  std::condition_variable changed_;
  int64_t allowed_ = 0;  // all guarded by lock_
  std::vector<uint64_t> mendRegions_;
  int64_t copied_ = 0;
  bool finishing_ = false;
  bool failed_ = false;
  std::thread thread_;
};

#endif  // ORRINVALE_APP_BACKGROUND_COPY_H_

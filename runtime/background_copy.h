// Copying the beginning of a file into its replacement on a thread of its
// own, while the main thread reads on: the part of the file that is known to
// stay as it is goes to the new file, and on its way to the disk, before the
// main thread has even finished reading.
#ifndef ORRINVALE_RUNTIME_BACKGROUND_COPY_H_
#define ORRINVALE_RUNTIME_BACKGROUND_COPY_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "runtime/text_file.h"

// Whether this system can copy while the main thread reads the same file,
// and a file of size bytes is large enough to be worth a thread.
bool worthCopyingInBackground(int64_t size);

class BackgroundCopy {
 public:
  // Will copy source, from its first byte, to output, to which nothing has
  // been written yet and which nobody else writes until finish. Where no
  // thread can be started, nothing is copied.
  BackgroundCopy(TextFile* source, TextFile* output);
  ~BackgroundCopy();
  BackgroundCopy(const BackgroundCopy&) = delete;
  BackgroundCopy& operator=(const BackgroundCopy&) = delete;

  // The source's bytes before end go to the new file unchanged.
  void settle(int64_t end);

  // Copies what is settled and not yet copied, ends the thread and returns
  // how many bytes output now holds, or -1 if a copy failed.
  int64_t finish();

 private:
  void copyLoop();

  os::FileHandle source_, output_;
  std::mutex lock_;
  std::condition_variable changed_;
  int64_t settled_ = 0;  // all guarded by lock_
  int64_t copied_ = 0;
  bool finishing_ = false;
  bool failed_ = false;
  std::thread thread_;
};

#endif  // ORRINVALE_RUNTIME_BACKGROUND_COPY_H_

// Writing the rewrite's output buffers on a thread of its own, so that the
// system's copying of one buffer into the file overlaps the making of the
// next: on a file of many invocation lines, that copying is a fifth of the
// run.
#ifndef ORRINVALE_APP_OUTPUT_WRITER_H_
#define ORRINVALE_APP_OUTPUT_WRITER_H_

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "runtime/text_file.h"

class OutputWriter {
 public:
  // Between the first send and wait, output must not be used otherwise:
  // the bytes go straight to its handle, at its position.
  explicit OutputWriter(TextFile* output) : output_(output) {}
  ~OutputWriter();
  OutputWriter(const OutputWriter&) = delete;
  OutputWriter& operator=(const OutputWriter&) = delete;

  // Writes n bytes from data, which must stay as they are until the next
  // send or wait returns. The thread starts with the first large send; until
  // then, and where it cannot start, the bytes are written at once.
  void send(const char* data, size_t n);
  // Returns once everything sent is written, with any failure recorded as a
  // write failure of output; then output may be used as usual.
  void wait();

 private:
  void writeLoop();

  TextFile* output_;
  std::mutex lock_;
  std::condition_variable changed_;
  const char* pending_ = nullptr;  // what the thread is to write or writing
  size_t pendingSize_ = 0;
  bool failed_ = false;
  bool finishing_ = false;
  bool noThread_ = false;
  std::thread thread_;
};

#endif  // ORRINVALE_APP_OUTPUT_WRITER_H_

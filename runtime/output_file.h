// The new content's way into its file: the one object that writes to the
// temporary file of a replacement. It owns the file (its handle and buffer)
// and a thread that writes large buffers while the next is made, so that the
// system's copying of one buffer into the file overlaps the making of the
// next; on a file of many invocation lines that copying is a fifth of the
// run. Whoever writes (the background copy, then the rewrite) writes only
// through it, one after the other, never two at once.
#ifndef ORRINVALE_RUNTIME_OUTPUT_FILE_H_
#define ORRINVALE_RUNTIME_OUTPUT_FILE_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "runtime/os.h"
#include "runtime/text_file.h"

class OutputFile {
 public:
  // Takes over file, a new file open for writing, to which nothing is written
  // but through this object until finish.
  explicit OutputFile(TextFile* file) : file_(file) {}
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Room for n more bytes at the end of what is written; used(end) then says
  // how far they were filled. For writers that make their bytes in place.
  [[gnu::always_inline]] char* room(size_t n) {
    if (used_ + n > buffer_.size()) {
      send();
      if (n > buffer_.size()) buffer_.resize(n);
    }
    return buffer_.data() + used_;
  }
  [[gnu::always_inline]] void used(char* end) {
    used_ = static_cast<size_t>(end - buffer_.data());
    if (used_ >= kBufferSize / 2) send();
  }
  void write(std::string_view bytes) {
    if (bytes.empty()) return;
    char* at = room(bytes.size());
    memcpy(at, bytes.data(), bytes.size());
    used(at + bytes.size());
  }

  // Appends n bytes of source from offset, copied by the system where it
  // can (not through the program at all). source's position is left where it
  // may be.
  void copyFrom(os::FileHandle source, int64_t offset, int64_t n);

  // Everything written is in the system's hands and the writer thread has
  // ended; false if anything failed. The file is then the caller's to flush,
  // sync and close.
  bool finish();

  TextFile* file() const { return file_; }

 private:
  static constexpr size_t kBufferSize = size_t{1} << 20;

  void send();
  void waitForWriter();
  void stopWriter();
  void writeLoop();
  void countForWriteBack(int64_t n);

  TextFile* file_;
  // What is being made: buffer_ is filled while the writer writes spare_.
  std::vector<char> buffer_ = std::vector<char>(kBufferSize);
  std::vector<char> spare_ = std::vector<char>(kBufferSize);
  size_t used_ = 0;
  int64_t unsentToDisk_ = 0;  // bytes written since the disk was last set writing
  // The writer thread, which writes one buffer at a time.
  std::mutex lock_;
  std::condition_variable changed_;
  const char* pending_ = nullptr;  // all guarded by lock_
  size_t pendingSize_ = 0;
  bool failed_ = false;
  bool finishing_ = false;
  bool noThread_ = false;
  std::thread thread_;
};

#endif  // ORRINVALE_RUNTIME_OUTPUT_FILE_H_

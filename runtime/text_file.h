// Buffered text files: open, detect the encoding from the byte-order mark,
// read and write bytes through one buffer per file.
// Every open file is registered, so that the end routine can close (and so
// write out) whatever is still open when the program ends.
#ifndef ORRINVALE_RUNTIME_TEXT_FILE_H_
#define ORRINVALE_RUNTIME_TEXT_FILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "runtime/os.h"
#include "runtime/text_codec.h"

// Large enough that system calls cost little next to the work on the bytes.
constexpr int32_t kFileBufferSize = 65536;

enum class FileMode { Reading, Writing };

struct TextFile {
  os::FileHandle handle = os::kNoFile;
  std::unique_ptr<unsigned char[]> buffer;  // null: every call goes to the system
  int32_t bufferSize = kFileBufferSize;
  int32_t remaining = 0;  // Reading: unconsumed bytes; Writing: free bytes
  int32_t filled = 0;     // Reading: valid bytes from the last refill
  FileMode mode = FileMode::Reading;
  // Sticky failures. A read failure ends the file early, so a caller that must
  // not lose data checks it before trusting what it read.
  bool readFailed = false;
  bool writeFailed = false;
  // The file as it was when the run took it over; a replacement checks that
  // nobody has changed it since.
  os::FileStamp stampAtOpen;
};

// Null when the system refuses or the path is not a regular file.
TextFile* openForReading(std::u16string_view name);
// Takes over an already open handle for writing (a fresh temporary file).
TextFile* adoptForWriting(os::FileHandle handle);

// Opens name for reading and waits until no other run of the tool holds it.
// If another run replaced the file meanwhile, the new file is opened: a run
// that waited reads the file anew. The lock lasts until the file is closed.
TextFile* openForReadingExclusively(std::u16string_view name);

// Detects the byte-order mark at the current position and steps over it.
TextFormat readFormat(TextFile* file);

// Writes out buffered output. False if any write to this file has failed so far.
bool flushBuffer(TextFile* file);

// Writes out buffered output and forces it to the disk. False if any write to
// this file has failed so far.
bool flushToDisk(TextFile* file);

// Writes out buffered output and closes. False if any write to this file, or
// the close itself, failed.
bool closeFile(TextFile* file);
void closeAllFiles();

// Logical position: where the next read or write takes effect. A seek that
// fails is recorded as a read failure.
int64_t filePosition(TextFile* file);
void seekFile(TextFile* file, int64_t position);

// Buffered byte access, for callers that need bytes rather than lines.
int64_t readBytes(TextFile* file, void* destination, int64_t n);
void writeBytes(TextFile* file, const void* source, int64_t n);

std::string toSystemPath(std::u16string_view name);

#endif  // ORRINVALE_RUNTIME_TEXT_FILE_H_

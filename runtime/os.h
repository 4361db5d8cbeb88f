// The platform layer: the few file, console and signal calls that the runtime
// needs, each as a plain function. One implementation file per platform
// (os_posix.cc today); nothing above this header touches the system directly.
#ifndef ORRINVALE_RUNTIME_OS_H_
#define ORRINVALE_RUNTIME_OS_H_

#include <cstdint>
#include <string>

namespace os {

using FileHandle = int;
constexpr FileHandle kNoFile = -1;

// Opens an existing regular file read-only. Anything that is not a regular
// file once symlinks are followed (directory, FIFO, device) is refused at once.
FileHandle openExistingForReading(const std::string& path);

// Opens path for writing and truncates it, creating it if missing. Tries
// read-write first, then write-only. Non-regular files are refused.
FileHandle createOrTruncate(const std::string& path);

// Reads up to n bytes, retrying short reads until n or end of file.
// Returns the count read, or -1 on an error.
int64_t readFully(FileHandle file, void* destination, int64_t n);

// Writes all n bytes; false on any error.
bool writeFully(FileHandle file, const void* source, int64_t n);

// Moves the position; whence is one of the SeekFrom values. -1 on failure.
enum class SeekFrom { Start, Current, End };
int64_t seek(FileHandle file, int64_t offset, SeekFrom whence);

// Forces written data to the disk; false on failure.
bool syncFile(FileHandle file);

// Closes the handle; false when the system reports a failure.
bool closeHandle(FileHandle file);

// Facts about a path (symlinks followed) needed to replace it safely.
struct FileFacts {
  bool exists = false;
  bool isRegular = false;
  uint32_t modeBits = 0;  // permission and set-id bits
  uint32_t owner = 0;
  uint32_t group = 0;
};
FileFacts describe(const std::string& path);

// True when the current user may open path for writing (an access check, not
// the file's mode bits alone).
bool canOpenForWriting(const std::string& path);

// Resolves symlinks; empty on failure.
std::string resolvePath(const std::string& path);

// Creates a fresh file with a unique name starting with prefix; on success sets
// *path and returns its handle opened read-write. On failure *denied tells
// whether the directory refuses new files (as opposed to, say, a full disk).
FileHandle createUniqueFile(const std::string& prefix, std::string* path, bool* denied);

// Gives the open file these mode bits and, where permitted, owner and group.
bool copyAttributes(FileHandle file, const FileFacts& facts);

// Atomically replaces target with source, and forces the change of name to
// the disk where the system allows.
bool replaceFile(const std::string& source, const std::string& target);
bool removeFile(const std::string& path);

// The size to which the main thread's stack may grow.
int64_t stackLimit();

// Standard output.
bool standardOutputIsTerminal();
bool writeStandardOutput(const void* bytes, int64_t n);

// The signals after which the process must end: the terminal going away,
// an interrupt, a termination request.
enum class EndSignal { Hangup, Interrupt, Terminate };

// A reader that goes away makes writes to the standard output fail instead of
// ending the process: the tool finishes its work either way.
void ignoreBrokenPipes();

// Blocks the end signals in the calling thread (and so in threads it starts
// later) and starts a thread that calls onSignal for the first one received.
// onSignal runs on that thread; afterwards the process ends by the signal.
void watchEndSignals(void (*onSignal)(EndSignal));

// The two halves of a barrier between the main thread and the signal thread:
// the light one is all the main thread pays per operation; the heavy one
// makes the pair a full barrier. Without system support both are fences.
void lightBarrier();
void heavyBarrier();
void pauseBriefly();
[[noreturn]] void waitForever();

// Ends the process with the given signal's default action.
[[noreturn]] void endBySignal(EndSignal signal);

// Test seam: makes the nth data-changing file call from now on (write, sync,
// close of a written file, replace) fail as a full disk would; 0 disables.
// Returns how many such calls happened since the last reset.
void failNthFileChange(int64_t n);
int64_t fileChangeCount();

}  // namespace os

#endif  // ORRINVALE_RUNTIME_OS_H_

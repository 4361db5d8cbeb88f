// The platform layer: the few file, console and signal calls that the runtime
// needs, each as a plain function. One implementation file per platform
// (os_posix.cc, os_win32.cc); nothing above this header touches the system directly.
#ifndef ORRINVALE_RUNTIME_OS_H_
#define ORRINVALE_RUNTIME_OS_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace os {

// An open file, and a directory that names are resolved in. Opaque above this
// layer: only the platform file knows what value holds.
struct FileHandle {
  intptr_t value = -1;
  bool operator==(const FileHandle&) const = default;
};
inline constexpr FileHandle kNoFile{};
struct DirectoryHandle {
  intptr_t value = -1;
  bool operator==(const DirectoryHandle&) const = default;
};
inline constexpr DirectoryHandle kNoDirectory{};

// Opens an existing regular file read-only. Anything that is not a regular
// file once symlinks are followed (directory, FIFO, device) is refused at once.
FileHandle openExistingForReading(const std::string& path);

// One read of up to n bytes from offset, or from the position where offset
// is -1: the platform's single call, retried where a signal interrupted it.
// Returns the count read (0 at the end of the file), or -1 on an error.
int64_t readOnce(FileHandle file, int64_t offset, void* destination, int64_t n);

// Reads up to n bytes, retrying short reads until n or end of file.
// Returns the count read, or -1 on an error.
int64_t readFully(FileHandle file, void* destination, int64_t n);

// Reads up to n bytes from offset, retrying short reads until n or end of
// file, without using the position (where the system allows: see
// copyRangeKeepsPosition). Returns the count read, or -1 on an error.
int64_t readAt(FileHandle file, int64_t offset, void* destination, int64_t n);

// Writes all n bytes; false on any error.
bool writeFully(FileHandle file, const void* source, int64_t n);

// Appends n bytes of from, starting at offset, to to at its position. The
// system copies them without passing them through the program where it can.
// from's position is left where it may be. False on any failure, or when
// from ends before offset + n.
bool copyRange(FileHandle from, int64_t offset, FileHandle to, int64_t n);
// Whether copyRange leaves from's position alone, so that another thread may
// read from on meanwhile.
bool copyRangeKeepsPosition();

// Asks the system to start writing to the disk what was written to file so
// far, without waiting, so that a later syncFile has less to do. Only a hint:
// nothing happens where the system has no such call.
void startWriteBack(FileHandle file);

// Tells the system that file's cached bytes in [offset, offset + n) will not
// be needed again, so that it can free them now rather than when the file
// goes. Only a hint: nothing happens where the system has no such call.
void dropCached(FileHandle file, int64_t offset, int64_t n);

// Moves the position; whence is one of the SeekFrom values. -1 on failure.
enum class SeekFrom { Start, Current, End };
int64_t seek(FileHandle file, int64_t offset, SeekFrom whence);

// Forces written data and metadata to the disk; false on failure.
bool syncFile(FileHandle file);

// Closes the handle; false when the system reports a failure.
bool closeHandle(FileHandle file);

// What identifies a file's content: which file it is, how long, when last
// written, and when last changed in any way. Two equal stamps mean nobody
// changed the file in between: a program may set the modification time back,
// but no ordinary program can set the change time.
struct FileStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = -1;
  int64_t modifiedSeconds = 0;
  int64_t modifiedNanoseconds = 0;
  int64_t changedSeconds = 0;
  int64_t changedNanoseconds = 0;
  bool operator==(const FileStamp&) const = default;
};
bool stampOf(FileHandle file, FileStamp* stamp);

// True when path (symlinks followed) names the file open as file.
bool namesFile(const std::string& path, FileHandle file);

// Waits until no other run of the tool holds the file, then holds it for as
// long as the handle is open. Locks that other programs hold on the file are
// never waited for. False, at once, where the run must go on without holding
// it: the system has no such lock, or another program's lock covers it.
bool lockExclusive(FileHandle file);

// Where a file really lives: its directory, held open, and its name there,
// with every symlink on the way followed. Every step is relative to a
// directory handle, so paths of any length work.
struct FileLocation {
  DirectoryHandle directory = kNoDirectory;
  std::string name;
};
bool locate(const std::string& path, FileLocation* location);
void release(FileLocation* location);

// The stamp of whatever location names now; false if it names nothing.
bool stampAt(const FileLocation& location, FileStamp* stamp);

// Whether the current user may write the file: Denied for a file without any
// write permission bit (for every user, root included, as a read-only
// attribute would be), for permissions, a read-only file system or an
// immutable file; Failed for anything else (no handles left, an I/O error).
enum class Access { Allowed, Denied, Failed };
Access writeAccess(const FileLocation& location);

// A new, empty file in location's directory, opened read-write and locked so
// that no other run takes it for a dead run's leftover. Where the system can,
// the file has no name until nameTemporary; otherwise name holds it. False,
// creating nothing, where a file could not be removed again (an append-only
// directory).
struct TemporaryFile {
  FileHandle handle = kNoFile;
  std::string name;  // empty while the file is unnamed
};
bool createTemporary(const FileLocation& location, const std::string& prefix,
                     TemporaryFile* temporary);
// Gives an unnamed temporary file a name starting with prefix.
bool nameTemporary(const FileLocation& location, const std::string& prefix,
                   TemporaryFile* temporary);

// Gives destination, while it is still empty, the inode flags of source that
// its owner may set and that say how the file is kept (no dump, no access
// time, compression, no copy-on-write and the like), its extent-size hints
// and its project where the user may, and no others. Flags
// this user or file system cannot set are left: only a hint, as the system
// keeps them.
void copyFileFlags(FileHandle source, FileHandle destination);

// Gives to what has been written to destination the metadata of source:
// owner and group where permitted, extended attributes (access control lists
// among them) and the mode bits, set-id bits included where the owner or the
// group they stand for could be kept. If an access control
// list cannot be copied, the group bits are narrowed to what the owning group
// had, so that the copy is never more open than the source.
bool copyMetadata(FileHandle source, FileHandle destination);

// Renames name over location's file in one step and forces the change of
// name to the disk where the system allows. original is the caller's handle
// of that file: where the system can replace only a file that nobody holds
// open, it is closed first and set to kNoFile.
bool replaceWith(const FileLocation& location, const std::string& name, FileHandle* original);

// Removes name from location's directory. Safe in a signal handler.
bool removeAt(DirectoryHandle directory, const char* name);

// Removes the files in location's directory whose names start with prefix
// and that no process holds locked: leftovers of runs that were killed.
void removeAbandoned(const FileLocation& location, const std::string& prefix);

// Text in the system's ANSI code page, where the system has one (Windows's
// active code page); false where it has none or the conversion fails, and
// the caller then uses its own (Windows-1252).
bool decodeAnsiCodePage(std::string_view bytes, std::u16string* out);
bool encodeAnsiCodePage(std::u16string_view text, std::string* out);
// True unless the ANSI code page has characters of more than one byte.
bool ansiCodePageIsSingleByte();
// The bytes that start a character of two bytes in the ANSI code page.
const std::array<bool, 256>& ansiLeadBytes();

// Standard output. A terminal takes text (given as UTF-8; the platform
// converts it as its console needs); anything else takes bytes as they are.
bool standardOutputIsTerminal();
bool writeTerminal(const std::string& utf8);
bool writeStandardOutput(const void* bytes, int64_t n);

// The signals after which the process must end. Hangup is the terminal going
// away; the others are requests to stop.
enum class EndSignal { Hangup, Interrupt, Terminate, Quit, Alarm, User1, User2 };

// A reader that goes away and a file-size limit make writes fail instead of
// ending the process: the first is no reason to stop, the second is reported
// as a failed write.
void keepWritesFromEndingTheProcess();

// Arranges that an end signal calls onSignal, then ends the process as the
// signal's default action would (or, where the system has no signals, as an
// interrupted console program ends). onSignal runs in a plain signal handler
// (POSIX) or on a thread of the system's own (Windows): it may make only
// async-signal-safe calls, and it never runs inside a deferral below. The
// calling thread is the main thread: an end signal that reaches any other
// thread is passed on to it.
void watchEndSignals(void (*onSignal)(EndSignal));

// Between these two calls the main thread is never interrupted by an end
// signal: one that arrives waits, and takes effect when the deferral ends.
// Deferrals nest.
void deferEndSignals();
void allowEndSignals();

// A deferral for the life of a scope.
class EndSignalsDeferred {
 public:
  EndSignalsDeferred() { deferEndSignals(); }
  ~EndSignalsDeferred() { allowEndSignals(); }
  EndSignalsDeferred(const EndSignalsDeferred&) = delete;
  EndSignalsDeferred& operator=(const EndSignalsDeferred&) = delete;
};

}  // namespace os

#endif  // ORRINVALE_RUNTIME_OS_H_

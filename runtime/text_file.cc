// Buffered text files over the platform layer.
#include "runtime/text_file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Oldest first. Never destroyed, so that closeAllFiles works however late.
std::vector<TextFile*>& openFiles() {
  static auto* files = new std::vector<TextFile*>;
  return *files;
}

// The two files that passed the last checks: a rewrite alternates between
// its input and its output, and nearly every call is for one of them. One
// pair per thread, as helper threads write the output meanwhile.
thread_local const TextFile* g_lastChecked[2] = {nullptr, nullptr};

bool isRegistered(const TextFile* file) {
  const auto& files = openFiles();
  if (std::find(files.begin(), files.end(), file) == files.end()) return false;
  g_lastChecked[1] = g_lastChecked[0];
  g_lastChecked[0] = file;
  return true;
}

inline bool isOpen(const TextFile* file) {
  return file && (file == g_lastChecked[0] || file == g_lastChecked[1] || isRegistered(file));
}

// Failure is a null result, as for any open, even when memory runs out.
TextFile* registerHandle(os::FileHandle handle) {
  if (handle == os::kNoFile) return nullptr;
  auto* file = new (std::nothrow) TextFile;
  if (file) {
    file->handle = handle;
    file->buffer.reset(new (std::nothrow) unsigned char[kFileBufferSize]);
    try {
      openFiles().push_back(file);
      return file;
    } catch (const std::bad_alloc&) {
      delete file;
    }
  }
  os::closeHandle(handle);
  return nullptr;
}

int64_t systemRead(TextFile* file, void* destination, int64_t n) {
  int64_t got = os::readFully(file->handle, destination, n);
  if (got < 0) {
    file->readFailed = true;
    return 0;
  }
  return got;
}

void systemWrite(TextFile* file, const void* source, int64_t n) {
  if (n > 0 && !os::writeFully(file->handle, source, n)) file->writeFailed = true;
}

void writePending(TextFile* file) {
  if (!file->buffer || file->mode != FileMode::Writing) return;
  systemWrite(file, file->buffer.get(), file->bufferSize - file->remaining);
  file->remaining = file->bufferSize;
}

int64_t position(TextFile* file) {
  int64_t system = os::seek(file->handle, 0, os::SeekFrom::Current);
  if (system < 0) {
    file->readFailed = true;
    return -1;
  }
  if (!file->buffer) return system;
  if (file->mode == FileMode::Reading) return system - file->remaining;
  return system + (file->bufferSize - file->remaining);
}

void seekTo(TextFile* file, int64_t target) {
  writePending(file);
  file->mode = FileMode::Reading;
  file->remaining = 0;
  file->filled = 0;
  // Reading on from the wrong place would lose or repeat bytes.
  if (target < 0 || os::seek(file->handle, target, os::SeekFrom::Start) != target)
    file->readFailed = true;
}

int64_t bufferedRead(TextFile* file, void* destination, int64_t n) {
  if (!file->buffer) return systemRead(file, destination, n);
  auto* out = static_cast<unsigned char*>(destination);
  if (file->mode == FileMode::Writing) {
    writePending(file);
    file->mode = FileMode::Reading;
    file->remaining = 0;
    file->filled = 0;
  }
  const unsigned char* next = file->buffer.get() + file->filled - file->remaining;
  if (file->remaining >= n) {
    memcpy(out, next, n);
    file->remaining -= static_cast<int32_t>(n);
    return n;
  }
  int64_t copied = file->remaining;
  memcpy(out, next, copied);
  file->remaining = 0;
  int64_t shortfall = n - copied;
  if (shortfall >= file->bufferSize) {
    file->filled = 0;
    return copied + systemRead(file, out + copied, shortfall);
  }
  int64_t got = systemRead(file, file->buffer.get(), file->bufferSize);
  file->filled = file->remaining = static_cast<int32_t>(got);
  int64_t take = std::min(shortfall, got);
  memcpy(out + copied, file->buffer.get(), take);
  file->remaining -= static_cast<int32_t>(take);
  return copied + take;
}

void switchToWriting(TextFile* file) {
  if (!file->buffer || file->mode == FileMode::Writing) return;
  // Unconsumed read-ahead lies beyond the logical position; step back over it.
  if (file->remaining > 0 && os::seek(file->handle, -file->remaining, os::SeekFrom::Current) < 0)
    file->writeFailed = true;
  file->mode = FileMode::Writing;
  file->remaining = file->bufferSize;
}

void bufferedWrite(TextFile* file, const void* source, int64_t n) {
  if (n <= 0) return;
  if (!file->buffer) return systemWrite(file, source, n);
  switchToWriting(file);
  if (file->remaining > n) {
    memcpy(file->buffer.get() + file->bufferSize - file->remaining, source, n);
    file->remaining -= static_cast<int32_t>(n);
    return;
  }
  writePending(file);
  if (n >= file->bufferSize) {
    systemWrite(file, source, n);
  } else {
    memcpy(file->buffer.get(), source, n);
    file->remaining -= static_cast<int32_t>(n);
  }
}

}  // namespace

std::string toSystemPath(std::u16string_view name) {
  std::string path;
  encodeUtf8(name, &path);
  return path;
}

TextFile* openForReading(std::u16string_view name) {
  return registerHandle(os::openExistingForReading(toSystemPath(name)));
}

TextFile* adoptForWriting(os::FileHandle handle) { return registerHandle(handle); }

TextFile* openForReadingExclusively(std::u16string_view name) {
  const std::string path = toSystemPath(name);
  // The file the name names may change while this run waits; a few rounds
  // settle it unless another program keeps replacing it.
  for (int round = 0; round < 100; ++round) {
    TextFile* file = openForReading(name);
    if (!file) return nullptr;
    os::FileHandle handle = file->handle;
    bool locked = os::lockExclusive(handle);
    if (!locked || os::namesFile(path, handle)) {
      if (!os::stampOf(handle, &file->stampAtOpen)) file->readFailed = true;
      return file;
    }
    closeFile(file);
  }
  return nullptr;
}

TextFormat readFormat(TextFile* file) {
  if (!isOpen(file)) return TextFormat::Ansi;
  int64_t start = position(file);
  if (start < 0) return TextFormat::Ansi;
  unsigned char head[4] = {};
  int64_t got = bufferedRead(file, head, 4);
  // The order matters: FF FE 00 00 must win over FF FE.
  static constexpr TextFormat kCandidates[] = {TextFormat::Utf32Le, TextFormat::Utf16Le,
                                               TextFormat::Utf8, TextFormat::Utf16Be,
                                               TextFormat::Utf32Be};
  TextFormat found = TextFormat::Ansi;
  for (TextFormat candidate : kCandidates) {
    std::string_view mark = byteOrderMark(candidate);
    if (got >= static_cast<int64_t>(mark.size()) && memcmp(head, mark.data(), mark.size()) == 0) {
      found = candidate;
      break;
    }
  }
  seekTo(file, start + static_cast<int64_t>(byteOrderMark(found).size()));
  return found;
}

bool flushBuffer(TextFile* file) {
  if (!isOpen(file)) return false;
  writePending(file);
  return !file->writeFailed;
}

bool flushToDisk(TextFile* file) {
  if (!isOpen(file)) return false;
  writePending(file);
  if (!os::syncFile(file->handle)) file->writeFailed = true;
  return !file->writeFailed;
}

bool closeFile(TextFile* file) {
  if (!isOpen(file)) return false;
  writePending(file);
  // A replaced file's handle may have gone before the rename already.
  bool closed = file->handle == os::kNoFile || os::closeHandle(file->handle);
  bool ok = closed && !file->writeFailed;
  auto& files = openFiles();
  files.erase(std::find(files.begin(), files.end(), file));
  for (const TextFile*& checked : g_lastChecked)
    if (checked == file) checked = nullptr;
  delete file;
  return ok;
}

void closeAllFiles() {
  while (!openFiles().empty()) closeFile(openFiles().front());
}

int64_t filePosition(TextFile* file) { return isOpen(file) ? position(file) : -1; }

void seekFile(TextFile* file, int64_t target) {
  if (isOpen(file)) seekTo(file, target);
}

int64_t readBytes(TextFile* file, void* destination, int64_t n) {
  return isOpen(file) ? bufferedRead(file, destination, n) : 0;
}

void writeBytes(TextFile* file, const void* source, int64_t n) {
  if (isOpen(file)) bufferedWrite(file, source, n);
}

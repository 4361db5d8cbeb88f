// Safe replacement of a file's content.
#include "runtime/file_replace.h"

#include <new>

#include "runtime/run_lock.h"

namespace {

std::string directoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

std::string baseNameOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool readWholeFile(const std::string& path, std::string* bytes) {
  os::FileHandle file = os::openExistingForReading(path);
  if (file == os::kNoFile) return false;
  int64_t size = os::seek(file, 0, os::SeekFrom::End);
  bool ok = size >= 0 && os::seek(file, 0, os::SeekFrom::Start) == 0;
  if (ok) {
    bytes->resize(static_cast<size_t>(size));
    ok = os::readFully(file, bytes->data(), size) == size;
  }
  os::closeHandle(file);
  return ok;
}

bool writeWholeFile(const std::string& path, const std::string& bytes) {
  os::FileHandle file = os::createOrTruncate(path);
  if (file == os::kNoFile) return false;
  bool ok = os::writeFully(file, bytes.data(), static_cast<int64_t>(bytes.size())) &&
            os::syncFile(file);
  return os::closeHandle(file) && ok;
}

}  // namespace

ReplaceStart beginReplacement(std::u16string_view name, Replacement* replacement) {
  replacement->target = os::resolvePath(toSystemPath(name));
  if (replacement->target.empty()) return ReplaceStart::Failed;
  os::FileFacts facts = os::describe(replacement->target);
  if (!facts.isRegular) return ReplaceStart::Failed;
  if ((facts.modeBits & 0222) == 0 || !os::canOpenForWriting(replacement->target))
    return ReplaceStart::ReadOnly;

  // Registered under the run lock at once, so that no signal can leave it behind.
  RunLock lock;
  std::string prefix = directoryOf(replacement->target) + "." +
                       baseNameOf(replacement->target) + ".new-";
  bool denied = false;
  os::FileHandle handle = os::createUniqueFile(prefix, &replacement->temporary, &denied);
  if (handle == os::kNoFile) return denied ? ReplaceStart::InPlace : ReplaceStart::Failed;
  registerTemporaryFile(replacement->temporary);
  if (!os::copyAttributes(handle, facts)) {
    os::closeHandle(handle);
    abandonReplacement(replacement);
    return ReplaceStart::Failed;
  }
  replacement->output = adoptForWriting(handle);
  return ReplaceStart::Ready;
}

bool commitReplacement(Replacement* replacement) {
  // Under the run lock, a signal sees either the temporary file, which it
  // removes, or the finished replacement, never a half-done rename.
  RunLock lock;
  bool written = flushToDisk(replacement->output);
  bool closed = closeFile(replacement->output);
  replacement->output = nullptr;
  if (!written || !closed || !os::replaceFile(replacement->temporary, replacement->target)) {
    abandonReplacement(replacement);
    return false;
  }
  unregisterTemporaryFile(replacement->temporary);
  replacement->temporary.clear();
  return true;
}

void abandonReplacement(Replacement* replacement) {
  RunLock lock;
  if (replacement->output) closeFile(replacement->output);
  replacement->output = nullptr;
  if (replacement->temporary.empty()) return;
  os::removeFile(replacement->temporary);
  unregisterTemporaryFile(replacement->temporary);
  replacement->temporary.clear();
}

bool rewriteInPlace(std::u16string_view name, const std::function<void(TextFile*)>& write) {
  // The lock is held from the truncation to the last byte: a signal waits
  // until the file holds whole content again.
  RunLock lock;
  std::string path = toSystemPath(name);
  std::string oldBytes;
  if (!readWholeFile(path, &oldBytes)) return false;
  TextFile* output = createForWriting(name);
  if (!output) return false;
  bool complete = true;
  try {
    write(output);
  } catch (const std::bad_alloc&) {
    complete = false;
  }
  bool written = flushToDisk(output) && complete;
  bool closed = closeFile(output);
  if (written && closed) return true;
  writeWholeFile(path, oldBytes);
  return false;
}

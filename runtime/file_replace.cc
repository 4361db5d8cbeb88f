// Safe replacement of a file's content.
#include "runtime/file_replace.h"

#include <atomic>
#include <cstring>

namespace {

// The temporary files of replacements in progress, in fixed storage that the
// end-signal handler can walk. They change only while end signals are
// deferred, so the handler never sees one half made.
struct TemporarySlot {
  std::atomic<bool> live{false};
  os::DirectoryHandle directory = os::kNoDirectory;
  char name[256] = {};
};
TemporarySlot g_temporaries[4];

bool registerTemporaryFile(os::DirectoryHandle directory, const std::string& name) {
  if (name.size() >= sizeof(TemporarySlot::name)) return false;
  for (TemporarySlot& slot : g_temporaries) {
    if (slot.live.load()) continue;
    slot.directory = directory;
    memcpy(slot.name, name.c_str(), name.size() + 1);
    slot.live.store(true);
    return true;
  }
  return false;
}

void unregisterTemporaryFile(os::DirectoryHandle directory, const std::string& name) {
  for (TemporarySlot& slot : g_temporaries)
    if (slot.live.load() && slot.directory == directory && name == slot.name)
      slot.live.store(false);
}

// All that an interrupted run must do, since the file it would replace is
// never written in place. Async-signal-safe.
void removeTemporaryFiles(os::EndSignal) {
  for (TemporarySlot& slot : g_temporaries) {
    if (!slot.live.load()) continue;
    os::removeAt(slot.directory, slot.name);
    slot.live.store(false);
  }
}

// Registered with the first replacement: before it there is nothing to
// remove, and the signals keep their usual effect.
void watchEndSignalsOnce() {
  static bool watching = false;
  if (watching) return;
  os::watchEndSignals(removeTemporaryFiles);
  watching = true;
}

}  // namespace

std::string temporaryPrefix(const std::string& name) {
  // Short enough that prefix and suffix stay a valid file name.
  constexpr size_t kLongestKept = 200;
  // Appended piece by piece: GCC 12 warns falsely of an overlap in "." + name.
  std::string prefix(".");
  prefix.append(name, 0, kLongestKept);
  return prefix + ".orrinvale-tmp-";
}

ReplaceStart Replacement::begin() {
  if (!os::locate(toSystemPath(name_), &target_)) return ReplaceStart::Failed;
  os::FileStamp now;
  if (!os::stampAt(target_, &now) || now != source_->stampAtOpen) return ReplaceStart::Failed;
  switch (os::writeAccess(target_)) {
    case os::Access::Allowed: break;
    case os::Access::Denied: return ReplaceStart::ReadOnly;
    case os::Access::Failed: return ReplaceStart::Failed;
  }
  prefix_ = temporaryPrefix(target_.name);
  os::removeAbandoned(target_, prefix_);
  watchEndSignalsOnce();

  // Registered before a signal can end the run, so that none leaves it behind.
  os::EndSignalsDeferred deferred;
  if (!os::createTemporary(target_, prefix_, &temporary_)) return ReplaceStart::Failed;
  state_ = State::TemporaryCreated;
  os::copyFileFlags(source_->handle, temporary_.handle);
  if (!temporary_.name.empty() && !registerTemporaryFile(target_.directory, temporary_.name)) {
    abandon();
    return ReplaceStart::Failed;
  }
  TextFile* file = adoptForWriting(temporary_.handle);
  temporary_.handle = os::kNoFile;  // the file's now, or closed by the failed adoption
  try {
    if (file) output_ = std::make_unique<OutputFile>(file);
  } catch (const std::bad_alloc&) {
    closeFile(file);
  }
  if (!output_) {
    abandon();
    return ReplaceStart::Failed;
  }
  return ReplaceStart::Ready;
}

// Content and metadata on the disk. A signal meanwhile removes the new file.
bool Replacement::writeOut() {
  TextFile* file = output_->file();
  if (!output_->finish() || !os::copyMetadata(source_->handle, file->handle) || !flushToDisk(file))
    return false;
  state_ = State::Written;
  return true;
}

// The short section in which the new file gets a name and is closed, and
// the original is checked; a signal waits for its end.
bool Replacement::nameAndCheck() {
  // Named before the handle goes: an unnamed file is reachable through it alone.
  bool wasUnnamed = temporary_.name.empty();
  temporary_.handle = output_->file()->handle;
  bool named = os::nameTemporary(target_, prefix_, &temporary_);
  temporary_.handle = os::kNoFile;
  if (!named) return false;
  if (wasUnnamed && !registerTemporaryFile(target_.directory, temporary_.name)) {
    os::removeAt(target_.directory, temporary_.name.c_str());
    temporary_.name.clear();
    return false;
  }
  bool closed = closeFile(output_->file());
  output_.reset();
  if (!closed) return false;
  // Another program may have put new content in place or written to the file
  // while this run worked on the old; that content must not be lost. Checked
  // last, right before the rename, so that the moment between is short.
  os::FileStamp now;
  return os::stampAt(target_, &now) && now == source_->stampAtOpen;
}

bool Replacement::commit() {
  if (state_ != State::TemporaryCreated || !writeOut()) {
    abandon();
    return false;
  }
  // A signal sees either the temporary file, which it removes, or the
  // finished replacement, never a half-done rename.
  os::EndSignalsDeferred deferred;
  if (!nameAndCheck() || !os::replaceWith(target_, temporary_.name, &source_->handle)) {
    abandon();
    return false;
  }
  unregisterTemporaryFile(target_.directory, temporary_.name);
  temporary_ = {};
  os::release(&target_);
  state_ = State::Committed;
  return true;
}

void Replacement::abandon() {
  if (state_ != State::TemporaryCreated && state_ != State::Written) {
    os::release(&target_);
    return;
  }
  os::EndSignalsDeferred deferred;
  if (output_) {
    TextFile* file = output_->file();
    output_.reset();  // its writer, if any, is done first
    closeFile(file);
  } else if (temporary_.handle != os::kNoFile) {
    os::closeHandle(temporary_.handle);
  }
  if (!temporary_.name.empty()) {
    os::removeAt(target_.directory, temporary_.name.c_str());
    unregisterTemporaryFile(target_.directory, temporary_.name);
  }
  temporary_ = {};
  os::release(&target_);
  state_ = State::Abandoned;
}

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

}  // namespace

void removeTemporaryFiles() {
  for (TemporarySlot& slot : g_temporaries) {
    if (!slot.live.load()) continue;
    os::removeAt(slot.directory, slot.name);
    slot.live.store(false);
  }
}

std::string temporaryPrefix(const std::string& name) {
  // Short enough that prefix and suffix stay a valid file name.
  constexpr size_t kLongestKept = 200;
  return "." + name.substr(0, kLongestKept) + ".orrinvale-tmp-";
}

ReplaceStart beginReplacement(std::u16string_view name, TextFile* source,
                              Replacement* replacement) {
  replacement->source = source;
  if (!os::locate(toSystemPath(name), &replacement->target)) return ReplaceStart::Failed;
  os::FileStamp now;
  if (!os::stampAt(replacement->target, &now) || now != source->stampAtOpen)
    return ReplaceStart::Failed;
  switch (os::writeAccess(replacement->target)) {
    case os::Access::Allowed: break;
    case os::Access::Denied: return ReplaceStart::ReadOnly;
    case os::Access::Failed: return ReplaceStart::Failed;
  }
  replacement->prefix = temporaryPrefix(replacement->target.name);
  os::removeAbandoned(replacement->target, replacement->prefix);

  // Registered before a signal can end the run, so that none leaves it behind.
  os::EndSignalsDeferred deferred;
  if (!os::createTemporary(replacement->target, replacement->prefix, &replacement->temporary))
    return ReplaceStart::Failed;
  os::copyFileFlags(source->handle, replacement->temporary.handle);
  const std::string& temporaryName = replacement->temporary.name;
  if (!temporaryName.empty() &&
      !registerTemporaryFile(replacement->target.directory, temporaryName)) {
    abandonReplacement(replacement);
    return ReplaceStart::Failed;
  }
  replacement->output = adoptForWriting(replacement->temporary.handle);
  if (!replacement->output) {
    replacement->temporary.handle = os::kNoFile;  // closed by the failed adoption
    abandonReplacement(replacement);
    return ReplaceStart::Failed;
  }
  return ReplaceStart::Ready;
}

namespace {

// Content and metadata on the disk. A signal meanwhile removes the new file.
bool writeOut(Replacement* replacement) {
  TextFile* output = replacement->output;
  return flushBuffer(output) && os::copyMetadata(replacement->source->handle, output->handle) &&
         flushToDisk(output);
}

// The short section in which the new file gets a name, the original is
// checked and the new file takes its place; a signal waits for its end.
bool nameAndCheck(Replacement* replacement) {
  TextFile* output = replacement->output;
  // Named before the handle goes: an unnamed file is reachable through it alone.
  bool wasUnnamed = replacement->temporary.name.empty();
  if (!os::nameTemporary(replacement->target, replacement->prefix, &replacement->temporary))
    return false;
  if (wasUnnamed &&
      !registerTemporaryFile(replacement->target.directory, replacement->temporary.name)) {
    os::removeAt(replacement->target.directory, replacement->temporary.name.c_str());
    replacement->temporary.name.clear();
    return false;
  }
  // Another program may have put new content in place or written to the file
  // while this run worked on the old; that content must not be lost.
  os::FileStamp now;
  if (!os::stampAt(replacement->target, &now) || now != replacement->source->stampAtOpen)
    return false;
  bool closed = closeFile(output);
  replacement->output = nullptr;
  replacement->temporary.handle = os::kNoFile;
  return closed;
}

}  // namespace

bool commitReplacement(Replacement* replacement) {
  if (!writeOut(replacement)) {
    abandonReplacement(replacement);
    return false;
  }
  // A signal sees either the temporary file, which it removes, or the
  // finished replacement, never a half-done rename.
  os::EndSignalsDeferred deferred;
  if (!nameAndCheck(replacement) ||
      !os::replaceWith(replacement->target, replacement->temporary.name,
                       &replacement->source->handle)) {
    abandonReplacement(replacement);
    return false;
  }
  unregisterTemporaryFile(replacement->target.directory, replacement->temporary.name);
  replacement->temporary = {};
  os::release(&replacement->target);
  return true;
}

void abandonReplacement(Replacement* replacement) {
  os::EndSignalsDeferred deferred;
  if (replacement->output) closeFile(replacement->output);
  else if (replacement->temporary.handle != os::kNoFile)
    os::closeHandle(replacement->temporary.handle);
  replacement->output = nullptr;
  if (!replacement->temporary.name.empty()) {
    os::removeAt(replacement->target.directory, replacement->temporary.name.c_str());
    unregisterTemporaryFile(replacement->target.directory, replacement->temporary.name);
  }
  replacement->temporary = {};
  os::release(&replacement->target);
}

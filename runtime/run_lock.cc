// The run lock and the list of temporary files.
#include "runtime/run_lock.h"

#include <algorithm>
#include <vector>

#include "runtime/os.h"

namespace {

// Never destroyed: the signal thread may still use them while the process exits.
std::vector<std::string>& temporaryFiles() {
  static auto* files = new std::vector<std::string>;
  return *files;
}

}  // namespace

std::recursive_mutex& runMutex() {
  static auto* mutex = new std::recursive_mutex;
  return *mutex;
}

void registerTemporaryFile(const std::string& path) {
  RunLock lock(runMutex());
  temporaryFiles().push_back(path);
}

void unregisterTemporaryFile(const std::string& path) {
  RunLock lock(runMutex());
  auto& files = temporaryFiles();
  files.erase(std::remove(files.begin(), files.end(), path), files.end());
}

void removeTemporaryFiles() {
  RunLock lock(runMutex());
  for (const std::string& path : temporaryFiles()) os::removeFile(path);
  temporaryFiles().clear();
}

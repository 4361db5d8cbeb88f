// Counters behind the failure seams, unique names and the buffered copy, for
// the platform files.
#include "runtime/os_shared.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "runtime/os.h"

namespace os {
namespace {

struct FailureSeam {
  std::atomic<int64_t> count{0};
  std::atomic<int64_t> failAt{0};

  bool fires() {
    int64_t now = ++count;
    int64_t chosen = failAt.load();
    return chosen != 0 && now == chosen;
  }
  void reset(int64_t n) {
    count = 0;
    failAt = n;
  }
};

FailureSeam g_fileChanges;
FailureSeam g_opens;
FailureSeam g_seeks;

}  // namespace

bool copyThroughBuffer(FileHandle from, int64_t offset, FileHandle to, int64_t n) {
  std::vector<char> buffer(static_cast<size_t>(std::clamp<int64_t>(n, 0, 1 << 20)));
  while (n > 0) {
    int64_t chunk = std::min<int64_t>(n, static_cast<int64_t>(buffer.size()));
    int64_t got = readAt(from, offset, buffer.data(), chunk);
    if (got <= 0 || !writeFully(to, buffer.data(), got)) return false;
    offset += got;
    n -= got;
  }
  return true;
}

std::string uniqueSuffix(uint64_t entropy) {
  static std::atomic<uint64_t> counter{0};
  uint64_t x = entropy ^ (++counter * 0x9E3779B97F4A7C15ULL);
  x ^= x >> 29;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 32;
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string suffix;
  for (int i = 0; i < 8; ++i, x /= 36) suffix.push_back(kAlphabet[x % 36]);
  return suffix;
}

bool seams::fileChangeFails() { return g_fileChanges.fires(); }
bool seams::openFails() { return g_opens.fires(); }
bool seams::seekFails() { return g_seeks.fires(); }

void failNthFileChange(int64_t n) { g_fileChanges.reset(n); }
int64_t fileChangeCount() { return g_fileChanges.count.load(); }
void failNthOpen(int64_t n) { g_opens.reset(n); }
void failNthSeek(int64_t n) { g_seeks.reset(n); }
int64_t seekCount() { return g_seeks.count.load(); }

}  // namespace os

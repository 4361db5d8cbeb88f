// Unique names and the buffered copy, for the platform files.
#include "runtime/os_shared.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "runtime/os.h"

namespace os {

namespace {

// Up to n bytes, from offset or (where offset is -1) from the position,
// reading on after a short read until n or the end of the file.
int64_t readAll(FileHandle file, int64_t offset, void* destination, int64_t n) {
  char* out = static_cast<char*>(destination);
  int64_t done = 0;
  while (done < n) {
    int64_t got = readOnce(file, offset < 0 ? -1 : offset + done, out + done, n - done);
    if (got < 0) return -1;
    if (got == 0) break;
    done += got;
  }
  return done;
}

}  // namespace

int64_t readFully(FileHandle file, void* destination, int64_t n) {
  return readAll(file, -1, destination, n);
}

int64_t readAt(FileHandle file, int64_t offset, void* destination, int64_t n) {
  return readAll(file, offset, destination, n);
}

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

}  // namespace os

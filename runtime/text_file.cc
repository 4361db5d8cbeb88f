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

#include "runtime/run_lock.h"

namespace {

constexpr uint32_t kLineFeed = 0x0A;
constexpr uint32_t kCarriageReturn = 0x0D;

// Oldest first; never destroyed, since the end routine may run during exit.
std::vector<TextFile*>& openFiles() {
  static auto* files = new std::vector<TextFile*>;
  return *files;
}

// The two files that passed the last checks: a rewrite alternates between
// its input and its output, and nearly every call is for one of them.
const TextFile* g_lastChecked[2] = {nullptr, nullptr};

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

// Unreads the last k bytes taken.
void giveBack(TextFile* file, int64_t k) {
  if (k <= 0) return;
  if (file->buffer && file->mode == FileMode::Reading && k <= file->filled - file->remaining) {
    file->remaining += static_cast<int32_t>(k);
  } else {
    seekTo(file, position(file) - k);
  }
}

template <int kSize, bool kBigEndian>
uint32_t unitValue(const unsigned char* bytes) {
  uint32_t value = 0;
  for (int i = 0; i < kSize; ++i)
    value |= static_cast<uint32_t>(bytes[i]) << (kBigEndian ? 8 * (kSize - 1 - i) : 8 * i);
  return value;
}

bool endsLine(uint32_t unit) { return unit == 0 || unit == kLineFeed || unit == kCarriageReturn; }

// Offset of the first unit in p[0..n) that ends a line (0, LF or CR), or n.
template <int kSize, bool kBigEndian>
int32_t findLineEnd(const unsigned char* p, int32_t n) {
  int32_t i = 0;
  if constexpr (kSize == 1) {
    // Eight bytes at a time: flag the bytes equal to 0, LF or CR. The lowest
    // flag of the zero-byte test is always exact (only bits above a true
    // match can be spurious), which is all a search for the first one needs.
    constexpr uint64_t kOnes = 0x0101010101010101ULL;
    constexpr uint64_t kHighBits = 0x8080808080808080ULL;
    auto zeroBytes = [](uint64_t v) { return (v - kOnes) & ~v & kHighBits; };
#if defined(__SSE2__)
    // Sixteen bytes at a time where the processor has the instructions.
    const __m128i lineFeeds = _mm_set1_epi8(kLineFeed);
    const __m128i returns = _mm_set1_epi8(kCarriageReturn);
    const __m128i zeros = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
      __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      __m128i hits = _mm_or_si128(
          _mm_cmpeq_epi8(bytes, zeros),
          _mm_or_si128(_mm_cmpeq_epi8(bytes, lineFeeds), _mm_cmpeq_epi8(bytes, returns)));
      if (int mask = _mm_movemask_epi8(hits))
        return i + std::countr_zero(static_cast<unsigned>(mask));
    }
#endif
    if constexpr (std::endian::native == std::endian::little) {
      for (; i + 8 <= n; i += 8) {
        uint64_t word;
        memcpy(&word, p + i, 8);
        uint64_t found = zeroBytes(word) | zeroBytes(word ^ (kOnes * kLineFeed)) |
                         zeroBytes(word ^ (kOnes * kCarriageReturn));
        if (found) return i + std::countr_zero(found) / 8;
      }
    }
  }
  while (i < n && !endsLine(unitValue<kSize, kBigEndian>(p + i))) i += kSize;
  return i;
}

// Reads one line and consumes its end. The line is returned as it lies in the
// buffer when it lies there whole; otherwise it is gathered in lineBytes.
template <int kSize, bool kBigEndian>
std::string_view collectLine(TextFile* file) {
  std::string& gathered = file->lineBytes;
  gathered.clear();
  bool inBuffer = true;  // false once the line is (being) gathered
  std::string_view line;
  uint32_t terminator = 0;
  for (;;) {
    // Scan whole units straight in the buffer; fall back to one unit through
    // bufferedRead when the buffer is empty or holds only part of a unit.
    if (file->buffer && file->mode == FileMode::Reading && file->remaining >= kSize) {
      const unsigned char* start = file->buffer.get() + file->filled - file->remaining;
      int32_t whole = file->remaining - file->remaining % kSize;
      int32_t i = findLineEnd<kSize, kBigEndian>(start, whole);
      file->remaining -= i;
      std::string_view piece(reinterpret_cast<const char*>(start), i);
      if (i == whole) {
        gathered.append(piece);
        inBuffer = false;
        continue;
      }
      terminator = unitValue<kSize, kBigEndian>(start + i);
      file->remaining -= kSize;
      if (inBuffer) line = piece;
      else gathered.append(piece);
    } else {
      inBuffer = false;
      unsigned char unit[4];
      int64_t got = bufferedRead(file, unit, kSize);
      if (got < kSize) {
        giveBack(file, got);  // a partial unit is no part of a line
        return gathered;
      }
      terminator = unitValue<kSize, kBigEndian>(unit);
      if (!endsLine(terminator)) {
        gathered.append(reinterpret_cast<const char*>(unit), kSize);
        continue;
      }
    }
    break;
  }
  if (terminator == kCarriageReturn) {
    if (inBuffer && file->remaining >= kSize) {
      // The unit after the CR is in the buffer too: look without a refill.
      const unsigned char* next = file->buffer.get() + file->filled - file->remaining;
      if (unitValue<kSize, kBigEndian>(next) == kLineFeed) file->remaining -= kSize;
    } else {
      // Looking further may refill the buffer under the line: keep a copy.
      if (inBuffer) gathered.assign(line);
      inBuffer = false;
      unsigned char next[4];
      int64_t got = bufferedRead(file, next, kSize);
      if (got != kSize || unitValue<kSize, kBigEndian>(next) != kLineFeed) giveBack(file, got);
    }
  }
  return inBuffer ? line : std::string_view(gathered);
}

std::string_view collectLine(TextFile* file, TextFormat format) {
  switch (format) {
    case TextFormat::Utf16Le: return collectLine<2, false>(file);
    case TextFormat::Utf16Be: return collectLine<2, true>(file);
    case TextFormat::Utf32Le: return collectLine<4, false>(file);
    case TextFormat::Utf32Be: return collectLine<4, true>(file);
    default: return collectLine<1, false>(file);
  }
}

}  // namespace

std::string toSystemPath(std::u16string_view name) {
  std::string path;
  encodeUtf8(name, &path);
  return path;
}

TextFile* openForReading(std::u16string_view name) {
  RunLock lock;
  return registerHandle(os::openExistingForReading(toSystemPath(name)));
}

TextFile* createForWriting(std::u16string_view name) {
  RunLock lock;
  return registerHandle(os::createOrTruncate(toSystemPath(name)));
}

TextFile* adoptForWriting(os::FileHandle handle) {
  RunLock lock;
  return registerHandle(handle);
}

TextFile* openForReadingExclusively(std::u16string_view name) {
  const std::string path = toSystemPath(name);
  // The file the name names may change while this run waits; a few rounds
  // settle it unless another program keeps replacing it.
  for (int round = 0; round < 100; ++round) {
    TextFile* file = openForReading(name);
    if (!file) return nullptr;
    os::FileHandle handle;
    {
      RunLock lock;
      handle = file->handle;
    }
    // Waited for outside the run lock, so that a signal can end the wait.
    bool locked = os::lockExclusive(handle);
    RunLock lock;
    if (!locked || os::namesFile(path, handle)) {
      if (!os::stampOf(handle, &file->stampAtOpen)) file->readFailed = true;
      return file;
    }
    closeFile(file);
  }
  return nullptr;
}

TextFormat readFormat(TextFile* file) {
  RunLock lock;
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

bool atEnd(TextFile* file, TextFormat format) {
  RunLock lock;
  if (!isOpen(file) || file->readFailed) return true;
  int unit = unitSize(format);
  if (file->buffer && file->mode == FileMode::Reading && file->remaining >= unit) return false;
  unsigned char probe[4];
  int64_t got = bufferedRead(file, probe, unit);
  giveBack(file, got);
  return got < unit;
}

void readLine(TextFile* file, TextFormat format, std::u16string* line) {
  RunLock lock;
  line->clear();
  if (!isOpen(file)) return;
  try {
    decodeText(format, collectLine(file, format), line);
  } catch (const std::bad_alloc&) {
    // Out of memory: the line cannot be delivered whole, so reading stops here
    // and the failure is on record for callers that must not lose data.
    line->clear();
    file->readFailed = true;
  }
  if (file->lineBytes.capacity() > (1 << 20)) std::string().swap(file->lineBytes);
}

std::string_view readLineBytes(TextFile* file, TextFormat format) {
  RunLock lock;
  if (!isOpen(file)) return {};
  try {
    return collectLine(file, format);
  } catch (const std::bad_alloc&) {
    file->lineBytes.clear();
    file->readFailed = true;
    return {};
  }
}

void writeFormat(TextFile* file, TextFormat format) {
  RunLock lock;
  if (!isOpen(file)) return;
  std::string_view mark = byteOrderMark(format);
  bufferedWrite(file, mark.data(), static_cast<int64_t>(mark.size()));
}

void writeLine(TextFile* file, std::u16string_view text, TextFormat format) {
  RunLock lock;
  if (!isOpen(file)) return;
  std::string& bytes = file->lineBytes;
  bytes.clear();
  try {
    encodeText(format, text, &bytes);
    bytes.append(lineEndBytes(format));
  } catch (const std::bad_alloc&) {
    file->writeFailed = true;
    return;
  }
  bufferedWrite(file, bytes.data(), static_cast<int64_t>(bytes.size()));
  if (bytes.capacity() > (1 << 20)) std::string().swap(bytes);
}

void writeRawLine(TextFile* file, std::string_view raw, TextFormat format) {
  RunLock lock;
  if (!isOpen(file)) return;
  bufferedWrite(file, raw.data(), static_cast<int64_t>(raw.size()));
  std::string_view end = lineEndBytes(format);
  bufferedWrite(file, end.data(), static_cast<int64_t>(end.size()));
}

bool flushBuffer(TextFile* file) {
  RunLock lock;
  if (!isOpen(file)) return false;
  writePending(file);
  return !file->writeFailed;
}

bool flushToDisk(TextFile* file) {
  RunLock lock;
  if (!isOpen(file)) return false;
  writePending(file);
  if (!os::syncFile(file->handle)) file->writeFailed = true;
  return !file->writeFailed;
}

bool closeFile(TextFile* file) {
  RunLock lock;
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

void copyBytes(TextFile* from, int64_t offset, int64_t n, TextFile* to) {
  RunLock lock;
  if (!isOpen(from) || !isOpen(to) || n <= 0) return;
  switchToWriting(to);
  writePending(to);
  if (from->buffer && from->mode == FileMode::Reading) from->remaining = from->filled = 0;
  else writePending(from);
  if (!os::copyRange(from->handle, offset, to->handle, n)) to->writeFailed = true;
}

void startWriteBack(TextFile* file) {
  RunLock lock;
  if (!isOpen(file)) return;
  writePending(file);
  os::startWriteBack(file->handle);
}

void closeAllFiles() {
  RunLock lock;
  while (!openFiles().empty()) closeFile(openFiles().front());
}

int64_t filePosition(TextFile* file) {
  RunLock lock;
  return isOpen(file) ? position(file) : -1;
}

void seekFile(TextFile* file, int64_t target) {
  RunLock lock;
  if (isOpen(file)) seekTo(file, target);
}

int64_t readBytes(TextFile* file, void* destination, int64_t n) {
  RunLock lock;
  return isOpen(file) ? bufferedRead(file, destination, n) : 0;
}

void writeBytes(TextFile* file, const void* source, int64_t n) {
  RunLock lock;
  if (isOpen(file)) bufferedWrite(file, source, n);
}

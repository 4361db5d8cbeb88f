// Line reading and writing over the buffered text files, as plain as the
// rules read.
#include "tests/reference/text_lines.h"

#include <bit>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr uint32_t kLineFeed = 0x0A;
constexpr uint32_t kCarriageReturn = 0x0D;

// A line that does not lie whole in a file's buffer, gathered.
std::string g_gathered;

// Unreads the last k bytes taken.
void giveBack(TextFile* file, int64_t k) {
  if (k <= 0) return;
  if (file->buffer && file->mode == FileMode::Reading && k <= file->filled - file->remaining) {
    file->remaining += static_cast<int32_t>(k);
  } else {
    seekFile(file, filePosition(file) - k);
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
// buffer when it lies there whole; otherwise it is gathered in g_gathered.
template <int kSize, bool kBigEndian>
std::string_view collectLine(TextFile* file) {
  std::string& gathered = g_gathered;
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
      int64_t got = readBytes(file, unit, kSize);
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
      int64_t got = readBytes(file, next, kSize);
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

bool atEnd(TextFile* file, TextFormat format) {
  if (!file || file->readFailed) return true;
  int unit = unitSize(format);
  if (file->buffer && file->mode == FileMode::Reading && file->remaining >= unit) return false;
  unsigned char probe[4];
  int64_t got = readBytes(file, probe, unit);
  giveBack(file, got);
  return got < unit;
}

void readLine(TextFile* file, TextFormat format, std::u16string* line) {
  line->clear();
  if (!file) return;
  try {
    decodeText(format, collectLine(file, format), line);
  } catch (const std::bad_alloc&) {
    // Out of memory: the line cannot be delivered whole, so reading stops here
    // and the failure is on record for callers that must not lose data.
    line->clear();
    file->readFailed = true;
  }
  if (g_gathered.capacity() > (1 << 20)) std::string().swap(g_gathered);
}

std::string_view readLineBytes(TextFile* file, TextFormat format) {
  if (!file) return {};
  try {
    return collectLine(file, format);
  } catch (const std::bad_alloc&) {
    g_gathered.clear();
    file->readFailed = true;
    return {};
  }
}

void writeFormat(TextFile* file, TextFormat format) {
  if (!file) return;
  std::string_view mark = byteOrderMark(format);
  writeBytes(file, mark.data(), static_cast<int64_t>(mark.size()));
}

void writeLine(TextFile* file, std::u16string_view text, TextFormat format) {
  if (!file) return;
  std::string& bytes = g_gathered;
  bytes.clear();
  try {
    encodeText(format, text, &bytes);
    bytes.append(lineEndBytes(format));
  } catch (const std::bad_alloc&) {
    file->writeFailed = true;
    return;
  }
  writeBytes(file, bytes.data(), static_cast<int64_t>(bytes.size()));
  if (bytes.capacity() > (1 << 20)) std::string().swap(bytes);
}

void writeRawLine(TextFile* file, std::string_view raw, TextFormat format) {
  if (!file) return;
  writeBytes(file, raw.data(), static_cast<int64_t>(raw.size()));
  std::string_view end = lineEndBytes(format);
  writeBytes(file, end.data(), static_cast<int64_t>(end.size()));
}

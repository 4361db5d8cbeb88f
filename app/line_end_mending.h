// Copying units with every line end other than CR LF made CR LF, 64 units
// at a time: the rewrite does it as it copies, and so does the copy that runs
// while the scan reads on.
#ifndef ORRINVALE_APP_LINE_END_MENDING_H_
#define ORRINVALE_APP_LINE_END_MENDING_H_

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "app/raw_units.h"
#include "runtime/text_codec.h"

// Copies the count units at units to out, every line end other than CR LF
// made CR LF. before and after point to the units just before and after
// them, or are null where there are none: a CR or an LF at either edge may be
// half of a CR LF. Returns where the copy ends. out must have room for twice
// the bytes and 16 more, which it may overwrite.
using LineEndMender = char* (*)(const unsigned char* before, const unsigned char* units,
                                size_t count, const unsigned char* after, char* out);

template <int kSize, bool kBigEndian>
char* mendLineEnds(const unsigned char* before, const unsigned char* units, size_t count,
                   const unsigned char* after, char* out) {
  using U = Units<kSize, kBigEndian>;
  bool returnBefore = before && U::at(before) == kCarriageReturn;
  bool feedAfter = after && U::at(after) == kLineFeed;
  unsigned char crlf[2 * kSize] = {};
  crlf[kBigEndian ? kSize - 1 : 0] = kCarriageReturn;
  crlf[kBigEndian ? 2 * kSize - 1 : kSize] = kLineFeed;
  const unsigned char* end = units + count * kSize;
  // The lines between line ends are short: copied 16 bytes at a time where
  // the source has room to read past them, not through a call.
  auto append = [&out, end](const unsigned char* from, size_t n) {
    if (from + n + 16 <= end) {
      for (size_t i = 0; i < n; i += 16) {
#if defined(__SSE2__)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
#else
        memcpy(out + i, from + i, 16);
#endif
      }
    } else {
      memcpy(out, from, n);
    }
    out += n;
  };
  size_t copiedTo = 0;
  // The inWord units from base, whose line ends are masks.
  auto mendWord = [&](size_t base, size_t inWord, const UnitMasks& masks) {
    bool feedNext = base + 64 < count ? U::at(units + (base + 64) * kSize) == kLineFeed : feedAfter;
    uint64_t lone = masks.loneEnds(returnBefore, feedNext, inWord);
    returnBefore = masks.returns >> (inWord - 1) & 1;
    for (; lone; lone &= lone - 1) {
      size_t at = base + std::countr_zero(lone);
      append(units + copiedTo * kSize, (at - copiedTo) * kSize);
      memcpy(out, crlf, sizeof crlf);
      out += sizeof crlf;
      copiedTo = at + 1;
    }
  };
  size_t base = 0;
  if (count >= 64) {
    // Whole words are classified in batches, by the run's kernel; most
    // calls are for a few lines, which need no batch.
    constexpr size_t kBatch = 16;
    UnitMasks batch[kBatch];
    for (; base + 64 <= count; base += 64) {
      size_t word = base / 64 % kBatch;
      if (word == 0)
        U::template classifyWords<true>(units + base * kSize, std::min(kBatch, (count - base) / 64),
                                        batch);
      mendWord(base, 64, batch[word]);
    }
  }
  if (base < count) {
    // A short run is classified alone, padded with units that end nothing.
    unsigned char last[64 * kSize];
    memset(last, ' ', sizeof last);
    memcpy(last, units + base * kSize, (count - base) * kSize);
    mendWord(base, count - base, U::classifyEnds(last));
  }
  append(units + copiedTo * kSize, (count - copiedTo) * kSize);
  return out;
}

inline LineEndMender lineEndMenderFor(TextFormat format) {
  return withUnitsOf(format, []<int kSize, bool kBigEndian>() -> LineEndMender {
    return &mendLineEnds<kSize, kBigEndian>;
  });
}

#endif  // ORRINVALE_APP_LINE_END_MENDING_H_

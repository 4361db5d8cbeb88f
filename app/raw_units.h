// The units of a file as they lie in its bytes, in every width and byte
// order, and their classification 64 at a time into bit masks: the one
// machinery through which the block scan and the rewrite read units. The
// classification is one kernel written over a lane type, with lanes per
// instruction set (plain code, SSE2, AVX-512BW); the kernel is chosen once
// per run (kernel_choice.h), and every classification here runs it.
#ifndef ORRINVALE_APP_RAW_UNITS_H_
#define ORRINVALE_APP_RAW_UNITS_H_

#include <array>
#include <bit>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "app/kernel_choice.h"
#include "app/language.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define ORRINVALE_AVX512 1
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

using language::endsLine;
using language::isDigit;
using language::kCarriageReturn;
using language::kLineFeed;
using language::lowerAscii;
inline uint64_t bitsBelow(size_t bit) { return (uint64_t{1} << bit) - 1; }

// One bit per unit of a run of 64: line ends, spaces, reference starts, and
// the units that decide a rule at a line's start (the language's kLeads,
// and kMs, which lead where one of kAfterM, the followers, comes next).
struct UnitMasks {
  uint64_t returns = 0, feeds = 0, zeros = 0, spaces = 0, underscores = 0, leads = 0, ms = 0,
           followers = 0;
  uint64_t ends() const { return returns | feeds | zeros; }

  // The line ends other than CR LF among the first units (all 64 unless
  // fewer are classified): an LF without a CR before it, a CR without an LF
  // after it, a zero unit. returnBefore and feedAfter tell of the units just
  // before and after them.
  uint64_t loneEnds(bool returnBefore, bool feedAfter, size_t units = 64) const {
    uint64_t loneFeeds = feeds & ~((returns << 1) | uint64_t{returnBefore});
    uint64_t loneReturns = returns & ~((feeds >> 1) | (uint64_t{feedAfter} << (units - 1)));
    return loneFeeds | loneReturns | zeros;
  }
};

// The lanes of each instruction set. A lane type loads kUnits units from p,
// each narrowed to a byte that is the unit itself where it is ASCII and
// above 0x7E otherwise (saturated), so that no wide unit passes for one the
// kernel looks for; equalAny(units) gives a bit per unit equal to one of
// units.
template <int kSize, bool kBigEndian>
uint32_t unitAt(const unsigned char* p) {
  uint32_t value = 0;
  for (int i = 0; i < kSize; ++i)
    value |= static_cast<uint32_t>(p[i]) << (kBigEndian ? 8 * (kSize - 1 - i) : 8 * i);
  return value;
}

// Plain code, on any processor: eight units in a word, a byte each.
template <int kSize, bool kBigEndian>
struct ScalarLanes {
  static constexpr int kUnits = 8;
  explicit ScalarLanes(const unsigned char* p) {
    if constexpr (kSize == 1 && std::endian::native == std::endian::little) {
      memcpy(&bytes, p, 8);  // a byte above 0x7F equals no unit looked for as it is
      return;
    }
    for (int i = 0; i < kUnits; ++i) {
      uint32_t unit = unitAt<kSize, kBigEndian>(p + i * kSize);
      bytes |= uint64_t{unit < 0x80 ? unit : 0x80} << (8 * i);
    }
  }
  template <size_t kCount>
  uint64_t equalAny(const std::array<uint32_t, kCount>& units) const {
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7FULL;
    uint64_t found = 0;  // 0x80 in each byte equal to a unit
    for (uint32_t unit : units) {
      uint64_t x = bytes ^ (0x0101010101010101ULL * unit);
      found |= ~(((x & kLow7) + kLow7) | x | kLow7);
    }
    return (found * 0x0002040810204081ULL) >> 56;  // each byte's top bit, gathered
  }
  uint64_t bytes = 0;
};

#if defined(__SSE2__)
// SSE2, which every x86-64 processor runs: sixteen units.
template <int kSize, bool kBigEndian>
struct Sse2Lanes {
  static constexpr int kUnits = 16;
  explicit Sse2Lanes(const unsigned char* p) : bytes(narrow(p)) {}
  template <size_t kCount>
  uint64_t equalAny(const std::array<uint32_t, kCount>& units) const {
    __m128i found = _mm_setzero_si128();
    for (uint32_t unit : units)
      found = _mm_or_si128(found, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(unit))));
    return static_cast<uint32_t>(_mm_movemask_epi8(found));
  }

  static __m128i load(const unsigned char* p) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if constexpr (kBigEndian && kSize == 2) v = swapBytes(v);
    if constexpr (kBigEndian && kSize == 4) {
      // Whole 32-bit units reversed: halves swapped, then the bytes of each.
      v = swapBytes(_mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1));
    }
    return v;
  }
  static __m128i narrow(const unsigned char* p) {
    if constexpr (kSize == 1) {
      return load(p);
    } else if constexpr (kSize == 2) {
      return _mm_packs_epi16(load(p), load(p + 16));
    } else {
      return _mm_packs_epi16(_mm_packs_epi32(load(p), load(p + 16)),
                             _mm_packs_epi32(load(p + 32), load(p + 48)));
    }
  }
  static __m128i swapBytes(__m128i v) {
    return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
  }
  __m128i bytes;
};
#endif

#if defined(ORRINVALE_AVX512)
// AVX-512BW: sixty-four units, of bytes or little-endian 16-bit units (the
// others go by SSE2, which narrows them as cheaply).
template <int kSize, bool kBigEndian>
struct Avx512Lanes {
  static constexpr bool kRuns = kSize == 1 || (kSize == 2 && !kBigEndian);
  static constexpr int kUnits = 64;
  [[gnu::target("avx512bw")]] explicit Avx512Lanes(const unsigned char* p) {
    if constexpr (kSize == 1) {
      bytes = _mm512_loadu_si512(p);
    } else {
      __m256i low = _mm512_cvtsepi16_epi8(_mm512_loadu_si512(p));
      __m256i high = _mm512_cvtsepi16_epi8(_mm512_loadu_si512(p + 64));
      bytes = _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
    }
  }
  // Only the first units (at most 32) loaded; the others are zero.
  [[gnu::target("avx512bw")]] Avx512Lanes(const unsigned char* p, size_t units) {
    __mmask64 load = (uint64_t{1} << (units * kSize)) - 1;
    __m512i v = _mm512_maskz_loadu_epi8(load, p);
    if constexpr (kSize == 1) bytes = v;
    else bytes = _mm512_castsi256_si512(_mm512_cvtsepi16_epi8(v));
  }
  template <size_t kCount>
  [[gnu::target("avx512bw")]] uint64_t equalAny(const std::array<uint32_t, kCount>& units) const {
    uint64_t found = 0;
    for (uint32_t unit : units)
      found |= _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(static_cast<char>(unit)));
    return found;
  }
  __m512i bytes;
};
#endif

// What the kernel needs of a lane type: kUnits units loaded from a pointer,
// a whole number of times in 64, and a bit per unit equal to any of a few.
template <typename L>
concept LaneType = requires(const unsigned char* p, const L lanes) {
  { L::kUnits } -> std::convertible_to<int>;
  L(p);
  { lanes.equalAny(std::array<uint32_t, 3>{}) } -> std::convertible_to<uint64_t>;
}
&&L::kUnits > 0 && 64 % L::kUnits == 0;

static_assert(LaneType<ScalarLanes<1, false>> && LaneType<ScalarLanes<4, true>>);
#if defined(__SSE2__)
static_assert(LaneType<Sse2Lanes<1, false>> && LaneType<Sse2Lanes<4, true>>);
#endif
#if defined(ORRINVALE_AVX512)
static_assert(LaneType<Avx512Lanes<1, false>> && LaneType<Avx512Lanes<2, false>>);
#endif

// The kernel, written once over any lane type: the 64 units at p classified
// into the masks, the units looked for taken from the language. With
// kEndsOnly, only the line ends (all that mending them needs).
template <LaneType Lanes, int kSize, bool kEndsOnly = false>
[[gnu::always_inline]] inline UnitMasks classifyWith(const unsigned char* p) {
  UnitMasks masks;
  for (int i = 0; i < 64; i += Lanes::kUnits) {
    const Lanes lanes(p + i * kSize);
    masks.returns |= lanes.equalAny(std::array{kCarriageReturn}) << i;
    masks.feeds |= lanes.equalAny(std::array{kLineFeed}) << i;
    masks.zeros |= lanes.equalAny(std::array{0u}) << i;
    if constexpr (kEndsOnly) continue;
    masks.spaces |= lanes.equalAny(std::array{language::kSpace}) << i;
    masks.underscores |= lanes.equalAny(std::array{language::kReferenceStart}) << i;
    masks.leads |= lanes.equalAny(language::kLeads) << i;
    masks.ms |= lanes.equalAny(language::kMs) << i;
    masks.followers |= lanes.equalAny(language::kAfterM) << i;
  }
  return masks;
}

// Units of kSize bytes in the given byte order, and their classification by
// the kernel of this run (or the one named).
template <int kSize, bool kBigEndian>
struct Units {
  static uint32_t at(const unsigned char* p) { return unitAt<kSize, kBigEndian>(p); }

  // Classifies words runs of 64 units from p into masks[0, words); with
  // kEndsOnly, only their line ends (all that mending them needs).
  template <bool kEndsOnly = false>
  static void classifyWords(const unsigned char* p, size_t words, UnitMasks* masks,
                            Kernel kernel = runKernel()) {
    switch (kernel) {
#if defined(ORRINVALE_AVX512)
      case Kernel::Avx512:
        if constexpr (Avx512Lanes<kSize, kBigEndian>::kRuns)
          return classifyWordsAvx512<kEndsOnly>(p, words, masks);
        [[fallthrough]];
#endif
#if defined(__SSE2__)
      case Kernel::Sse2:
        return classifyWordsWith<Sse2Lanes<kSize, kBigEndian>, kEndsOnly>(p, words, masks);
#endif
      default: return classifyWordsWith<ScalarLanes<kSize, kBigEndian>, kEndsOnly>(p, words, masks);
    }
  }

  // Classifies the 64 units at p.
  static UnitMasks classify(const unsigned char* p, Kernel kernel = runKernel()) {
    UnitMasks masks;
    classifyWords(p, 1, &masks, kernel);
    return masks;
  }

  // Only the line ends of the 64 units at p (returns, feeds, zeros): all
  // that mending line ends needs.
  static UnitMasks classifyEnds(const unsigned char* p, Kernel kernel = runKernel()) {
    UnitMasks masks;
    classifyWords<true>(p, 1, &masks, kernel);
    return masks;
  }

  // Where the first line end among the units at bytes lies, or units.
  static size_t firstLineEnd(const unsigned char* bytes, size_t units) {
    constexpr size_t kChunk = 64;
    UnitMasks masks[kChunk];
    for (size_t word = 0; word < units / 64; word += kChunk) {
      size_t n = std::min(kChunk, units / 64 - word);
      classifyWords<true>(bytes + 64 * word * kSize, n, masks);
      for (size_t i = 0; i < n; ++i)
        if (uint64_t ends = masks[i].ends()) return 64 * (word + i) + std::countr_zero(ends);
    }
    size_t at = units / 64 * 64;
    while (at < units && !endsLine(Units::at(bytes + at * kSize))) ++at;
    return at;
  }

  // How many units a first look for a line's end takes at once.
  static constexpr size_t kNearUnits = 16;
  // A bit for each line end among the kNearUnits units at p: where a short
  // line ends, found without a step per unit.
  static uint32_t nearEnds(const unsigned char* p, Kernel kernel = runKernel()) {
    switch (kernel) {
#if defined(ORRINVALE_AVX512)
      case Kernel::Avx512:
        if constexpr (Avx512Lanes<kSize, kBigEndian>::kRuns) return nearEndsAvx512(p);
        [[fallthrough]];
#endif
#if defined(__SSE2__)
      case Kernel::Sse2: return nearEndsWith<Sse2Lanes<kSize, kBigEndian>>(p);
#endif
      default: return nearEndsWith<ScalarLanes<kSize, kBigEndian>>(p);
    }
  }

 private:
  template <LaneType Lanes>
  [[gnu::always_inline]] static uint32_t nearEndsWith(const unsigned char* p) {
    uint64_t ends = 0;
    for (size_t i = 0; i < kNearUnits; i += Lanes::kUnits) {
      const Lanes lanes(p + i * kSize);
      ends |= lanes.equalAny(std::array{kCarriageReturn, kLineFeed, 0u}) << i;
    }
    return static_cast<uint32_t>(ends);
  }

  template <LaneType Lanes, bool kEndsOnly>
  [[gnu::always_inline]] static void classifyWordsWith(const unsigned char* p, size_t words,
                                                       UnitMasks* masks) {
    for (size_t word = 0; word < words; ++word)
      masks[word] = classifyWith<Lanes, kSize, kEndsOnly>(p + 64 * word * kSize);
  }

#if defined(ORRINVALE_AVX512)
  // Everything the kernel calls is drawn into this function, whose
  // instruction set is the lanes'. GCC 12 warns of the deliberately undefined
  // vector inside its own AVX-512 conversion intrinsics where they are
  // inlined; nothing of ours is uninitialised.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
  template <bool kEndsOnly>
  [[gnu::target("avx512bw"), gnu::flatten]] static void classifyWordsAvx512(const unsigned char* p,
                                                                            size_t words,
                                                                            UnitMasks* masks) {
    classifyWordsWith<Avx512Lanes<kSize, kBigEndian>, kEndsOnly>(p, words, masks);
  }
  // The near look with the lanes' first kNearUnits units only: those past
  // them are not loaded, since they may lie beyond the bytes at hand.
  [[gnu::target("avx512bw"), gnu::flatten]] static uint32_t nearEndsAvx512(const unsigned char* p) {
    const Avx512Lanes<kSize, kBigEndian> lanes(p, kNearUnits);
    return static_cast<uint32_t>(lanes.equalAny(std::array{kCarriageReturn, kLineFeed, 0u}) &
                                 bitsBelow(kNearUnits));
  }
#pragma GCC diagnostic pop
#endif
};

// Runs f.template operator()<kSize, kBigEndian>() for format's units.
template <typename Format, typename F>
decltype(auto) withUnitsOf(Format format, F&& f) {
  switch (format) {
    case Format::Utf16Le: return f.template operator()<2, false>();
    case Format::Utf16Be: return f.template operator()<2, true>();
    case Format::Utf32Le: return f.template operator()<4, false>();
    case Format::Utf32Be: return f.template operator()<4, true>();
    default: return f.template operator()<1, false>();
  }
}

#endif  // ORRINVALE_APP_RAW_UNITS_H_

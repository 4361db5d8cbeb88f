// The units of a file as they lie in its bytes, in every width and byte
// order, and their classification 64 at a time into bit masks: the one
// machinery through which the block scan and the rewrite read units. The
// classification is one kernel written over a lane type, with lanes per
// instruction set (plain code, SSE2, AVX-512BW); the kernel is chosen once
// per run in one place: the widest the processor runs, unless
// ORRINVALE_KERNEL names another that it runs.
#ifndef ORRINVALE_APP_RAW_UNITS_H_
#define ORRINVALE_APP_RAW_UNITS_H_

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

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

// The classification kernels, narrowest first.
enum class Kernel { Scalar, Sse2, Avx512 };

inline bool processorRuns(Kernel kernel) {
#if defined(ORRINVALE_AVX512)
  __builtin_cpu_init();  // may run before the program's constructors
#endif
  switch (kernel) {
    case Kernel::Scalar: return true;
#if defined(__SSE2__)
    case Kernel::Sse2: return true;
#endif
#if defined(ORRINVALE_AVX512)
    case Kernel::Avx512: return __builtin_cpu_supports("avx512bw");
#endif
    default: return false;
  }
}

// The kernel of this run: the widest the processor runs, or the one that
// ORRINVALE_KERNEL (scalar, sse2, avx512) names, where it runs it; any
// other value is ignored. A diagnostic, so that every kernel can be run on
// one machine.
inline Kernel chooseKernel() {
  Kernel best = Kernel::Scalar;
  for (Kernel kernel : {Kernel::Sse2, Kernel::Avx512})
    if (processorRuns(kernel)) best = kernel;
  const char* forced = std::getenv("ORRINVALE_KERNEL");
  if (!forced) return best;
  constexpr std::pair<std::string_view, Kernel> kNames[] = {
      {"scalar", Kernel::Scalar}, {"sse2", Kernel::Sse2}, {"avx512", Kernel::Avx512}};
  for (const auto& [name, kernel] : kNames)
    if (forced == name && processorRuns(kernel)) return kernel;
  return best;
}
inline const Kernel kRunKernel = chooseKernel();

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

// The kernel, written once over any lane type: the 64 units at p classified
// into the masks, the units looked for taken from the language. With
// kEndsOnly, only the line ends (all that mending them needs).
template <typename Lanes, int kSize, bool kEndsOnly = false>
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

  // Narrows [*first, *end) of the units at line to leave out leading and
  // trailing spaces (U+0020 only: tabs and everything else stay).
  static void trimSpaces(const unsigned char* line, size_t* first, size_t* end) {
    while (*first < *end && at(line + *first * kSize) == language::kSpace) ++*first;
    while (*end > *first && at(line + (*end - 1) * kSize) == language::kSpace) --*end;
  }

  // Classifies words runs of 64 units from p into masks[0, words); with
  // kEndsOnly, only their line ends (all that mending them needs).
  template <bool kEndsOnly = false>
  static void classifyWords(const unsigned char* p, size_t words, UnitMasks* masks,
                            Kernel kernel = kRunKernel) {
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
  static UnitMasks classify(const unsigned char* p, Kernel kernel = kRunKernel) {
    UnitMasks masks;
    classifyWords(p, 1, &masks, kernel);
    return masks;
  }

  // Only the line ends of the 64 units at p (returns, feeds, zeros): all
  // that mending line ends needs.
  [[gnu::always_inline]] static UnitMasks classifyEnds(const unsigned char* p,
                                                       Kernel kernel = kRunKernel) {
#if defined(__SSE2__)
    if (kernel != Kernel::Scalar) return classifyWith<Sse2Lanes<kSize, kBigEndian>, kSize, true>(p);
#endif
    return classifyWith<ScalarLanes<kSize, kBigEndian>, kSize, true>(p);
  }

  // How many units a first look for a line's end takes at once.
  static constexpr size_t kNearUnits = 16;
  // A bit for each line end among the kNearUnits units at p: where a short
  // line ends, found without a step per unit.
  static uint32_t nearEnds(const unsigned char* p, Kernel kernel = kRunKernel) {
#if defined(__SSE2__)
    if (kernel != Kernel::Scalar) return nearEndsWith<Sse2Lanes<kSize, kBigEndian>>(p);
#endif
    return nearEndsWith<ScalarLanes<kSize, kBigEndian>>(p);
  }

 private:
  template <typename Lanes>
  static uint32_t nearEndsWith(const unsigned char* p) {
    uint64_t ends = 0;
    for (size_t i = 0; i < kNearUnits; i += Lanes::kUnits) {
      const Lanes lanes(p + i * kSize);
      ends |= lanes.equalAny(std::array{kCarriageReturn, kLineFeed, 0u}) << i;
    }
    return static_cast<uint32_t>(ends);
  }

  template <typename Lanes, bool kEndsOnly>
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
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
  template <bool kEndsOnly>
  [[gnu::target("avx512bw"), gnu::flatten]] static void classifyWordsAvx512(const unsigned char* p,
                                                                            size_t words,
                                                                            UnitMasks* masks) {
    classifyWordsWith<Avx512Lanes<kSize, kBigEndian>, kEndsOnly>(p, words, masks);
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

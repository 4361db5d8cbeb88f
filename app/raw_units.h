// The units of a file as they lie in its bytes, in every width and byte
// order, and their classification 64 at a time into bit masks: the one
// machinery through which the block scan and the rewrite read units. The
// classification has a kernel per instruction set (plain code, SSE2,
// AVX-512BW), chosen once per run in one place: the widest the processor
// runs, unless ORRINVALE_KERNEL names another that it runs.
#ifndef ORRINVALE_APP_RAW_UNITS_H_
#define ORRINVALE_APP_RAW_UNITS_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#define ORRINVALE_AVX512 1
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif

inline constexpr uint32_t kLineFeed = 0x0A, kCarriageReturn = 0x0D;

inline bool isDigit(uint32_t unit) { return unit >= '0' && unit <= '9'; }
inline uint32_t lowerAscii(uint32_t unit) { return unit >= 'A' && unit <= 'Z' ? unit + 32 : unit; }
inline bool endsLine(uint32_t unit) {
  return unit == 0 || unit == kLineFeed || unit == kCarriageReturn;
}
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

// One bit per unit of a run of 64. leads are '}'; an 'm' or 'M' leads only
// where an 'a', 'p' or 'P' follows ("macro MP", "MP12"). A comment line
// matters only for the '_' it may hold, which makes it wanted anyway.
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

// Units of kSize bytes in the given byte order. Every classification goes
// through vectors of 8- or 16-bit lanes: wider or big-endian units are
// turned into such lanes first (bytes swapped, 32-bit units narrowed with
// saturation, so that no unit above 0x7FFF can pass for an ASCII one).
template <int kSize, bool kBigEndian>
struct Units {
  static uint32_t at(const unsigned char* p) {
    uint32_t value = 0;
    for (int i = 0; i < kSize; ++i)
      value |= static_cast<uint32_t>(p[i]) << (kBigEndian ? 8 * (kSize - 1 - i) : 8 * i);
    return value;
  }

  // Narrows [*first, *end) of the units at line to leave out leading and
  // trailing spaces (U+0020 only: tabs and everything else stay).
  static void trimSpaces(const unsigned char* line, size_t* first, size_t* end) {
    while (*first < *end && at(line + *first * kSize) == ' ') ++*first;
    while (*end > *first && at(line + (*end - 1) * kSize) == ' ') --*end;
  }

  // Classifies words runs of 64 units from p into masks[0, words).
  static void classifyWords(const unsigned char* p, size_t words, UnitMasks* masks,
                            Kernel kernel = kRunKernel) {
#if defined(ORRINVALE_AVX512)
    // The wide vectors take bytes and 16-bit units in the machine's order;
    // other units need narrowing first, which the narrower vectors do.
    if constexpr (kSize == 1 || (kSize == 2 && !kBigEndian)) {
      if (kernel == Kernel::Avx512) return classifyWordsWide(p, words, masks);
    }
#endif
    for (size_t word = 0; word < words; ++word)
      masks[word] = classify(p + 64 * word * kSize, kernel);
  }

  // Classifies the 64 units at p.
  static UnitMasks classify(const unsigned char* p, Kernel kernel = kRunKernel) {
#if defined(__SSE2__)
    if (kernel != Kernel::Scalar) return classifyVector(p);
#endif
    return classifyScalar(p);
  }

  // The plain kernel: a unit at a time, on any processor.
  static UnitMasks classifyScalar(const unsigned char* p) {
    UnitMasks masks;
    for (int i = 0; i < 64; ++i) {
      uint32_t unit = at(p + i * kSize);
      uint64_t bit = uint64_t{1} << i;
      if (unit == kCarriageReturn) masks.returns |= bit;
      if (unit == kLineFeed) masks.feeds |= bit;
      if (unit == 0) masks.zeros |= bit;
      if (unit == ' ') masks.spaces |= bit;
      if (unit == '_') masks.underscores |= bit;
      if (unit == '}') masks.leads |= bit;
      if ((unit | 0x20) == 'm') masks.ms |= bit;
      if (unit == 'a' || (unit | 0x20) == 'p') masks.followers |= bit;
    }
    return masks;
  }

  // Only the line ends of the 64 units at p (returns, feeds, zeros): all
  // that mending line ends needs.
  __attribute__((always_inline)) static UnitMasks classifyEnds(const unsigned char* p,
                                                               Kernel kernel = kRunKernel) {
#if defined(__SSE2__)
    if (kernel == Kernel::Scalar) return classifyEndsScalar(p);
    const __m128i returns = splat(kCarriageReturn), feeds = splat(kLineFeed),
                  zeros = _mm_setzero_si128();
    UnitMasks masks;
    for (int i = 0; i < 64; i += 2 * kLanes) {
      __m128i a = lanes(p + i * kSize), b = lanes(p + (i + kLanes) * kSize);
      masks.returns |= maskOf(equal(a, returns), equal(b, returns)) << i;
      masks.feeds |= maskOf(equal(a, feeds), equal(b, feeds)) << i;
      masks.zeros |= maskOf(equal(a, zeros), equal(b, zeros)) << i;
    }
    return masks;
#else
    (void)kernel;
    return classifyEndsScalar(p);
#endif
  }
  static UnitMasks classifyEndsScalar(const unsigned char* p) {
    UnitMasks all = classifyScalar(p), ends;
    ends.returns = all.returns;
    ends.feeds = all.feeds;
    ends.zeros = all.zeros;
    return ends;
  }

  // How many units a first look for a line's end takes at once.
  static constexpr size_t kNearUnits = 16 / (kSize == 1 ? 1 : 2);
  // A bit for each line end among the kNearUnits units at p: where a short
  // line ends, found without a step per unit.
  static uint32_t nearEnds(const unsigned char* p, Kernel kernel = kRunKernel) {
#if defined(__SSE2__)
    if (kernel == Kernel::Scalar) return nearEndsScalar(p);
    __m128i units = lanes(p);
    __m128i ends = _mm_or_si128(
        _mm_or_si128(equal(units, splat(kCarriageReturn)), equal(units, splat(kLineFeed))),
        equal(units, _mm_setzero_si128()));
    if constexpr (kByteLanes) return static_cast<uint32_t>(_mm_movemask_epi8(ends));
    else
      return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(ends, _mm_setzero_si128())));
#else
    (void)kernel;
    return nearEndsScalar(p);
#endif
  }
  static uint32_t nearEndsScalar(const unsigned char* p) {
    uint32_t ends = 0;
    for (size_t i = 0; i < kNearUnits; ++i) ends |= uint32_t{endsLine(at(p + i * kSize))} << i;
    return ends;
  }

#if defined(ORRINVALE_AVX512)
  __attribute__((target("avx512bw"))) static void classifyWordsWide(const unsigned char* p,
                                                                    size_t words,
                                                                    UnitMasks* masks) {
    for (size_t word = 0; word < words; ++word) masks[word] = classifyWide(p + 64 * word * kSize);
  }

  // The same with 64-byte vectors, whose compares give bit masks directly.
  __attribute__((target("avx512bw"), always_inline)) static UnitMasks classifyWide(
      const unsigned char* p) {
    UnitMasks masks;
    for (int i = 0; i < 64; i += 64 / kSize) {
      __m512i units = _mm512_loadu_si512(p + i * kSize);
      __m512i folded = _mm512_or_si512(units, splatWide(0x20));
      masks.returns |= equalBits(units, kCarriageReturn) << i;
      masks.feeds |= equalBits(units, kLineFeed) << i;
      masks.zeros |= equalBits(units, 0) << i;
      masks.spaces |= equalBits(units, ' ') << i;
      masks.underscores |= equalBits(units, '_') << i;
      masks.leads |= equalBits(units, '}') << i;
      masks.ms |= equalBits(folded, 'm') << i;
      masks.followers |= (equalBits(units, 'a') | equalBits(folded, 'p')) << i;
    }
    return masks;
  }
  __attribute__((target("avx512bw"), always_inline)) static __m512i splatWide(uint32_t unit) {
    if constexpr (kSize == 1) return _mm512_set1_epi8(static_cast<char>(unit));
    else return _mm512_set1_epi16(static_cast<short>(unit));
  }
  // One bit per unit of vector equal to unit.
  __attribute__((target("avx512bw"), always_inline)) static uint64_t equalBits(__m512i vector,
                                                                               uint32_t unit) {
    if constexpr (kSize == 1) return _mm512_cmpeq_epi8_mask(vector, splatWide(unit));
    else return _mm512_cmpeq_epi16_mask(vector, splatWide(unit));
  }
#endif

#if defined(__SSE2__)
  static constexpr bool kByteLanes = kSize == 1;
  static constexpr int kLanes = kByteLanes ? 16 : 8;

  static UnitMasks classifyVector(const unsigned char* p) {
    const __m128i returns = splat(kCarriageReturn), feeds = splat(kLineFeed),
                  zeros = _mm_setzero_si128(), spaces = splat(' '), underscores = splat('_'),
                  braces = splat('}'), caseBit = splat(0x20), ms = splat('m'), as = splat('a'),
                  ps = splat('p');
    UnitMasks masks;
    for (int i = 0; i < 64; i += 2 * kLanes) {
      // Two vectors at a time, so that 16-bit lanes give one byte of mask each.
      __m128i a = lanes(p + i * kSize), b = lanes(p + (i + kLanes) * kSize);
      auto bits = [&](__m128i wanted) { return maskOf(equal(a, wanted), equal(b, wanted)) << i; };
      masks.returns |= bits(returns);
      masks.feeds |= bits(feeds);
      masks.zeros |= bits(zeros);
      masks.spaces |= bits(spaces);
      masks.underscores |= bits(underscores);
      masks.leads |= bits(braces);
      __m128i aFolded = _mm_or_si128(a, caseBit), bFolded = _mm_or_si128(b, caseBit);
      masks.ms |= maskOf(equal(aFolded, ms), equal(bFolded, ms)) << i;
      masks.followers |= maskOf(_mm_or_si128(equal(a, as), equal(aFolded, ps)),
                                _mm_or_si128(equal(b, as), equal(bFolded, ps)))
                         << i;
    }
    return masks;
  }

  // The kLanes units at p, one per lane, in the machine's byte order.
  static __m128i lanes(const unsigned char* p) {
    __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if constexpr (kSize == 1) {
      return first;
    } else if constexpr (kSize == 2) {
      return kBigEndian ? swapBytes(first) : first;
    } else {
      __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
      if constexpr (kBigEndian) {
        // Whole 32-bit units reversed: halves swapped, then the bytes of each.
        first = swapBytes(_mm_shufflehi_epi16(_mm_shufflelo_epi16(first, 0xB1), 0xB1));
        second = swapBytes(_mm_shufflehi_epi16(_mm_shufflelo_epi16(second, 0xB1), 0xB1));
      }
      return _mm_packs_epi32(first, second);
    }
  }
  static __m128i swapBytes(__m128i v) {
    return _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
  }

  static __m128i splat(uint32_t unit) {
    if constexpr (kByteLanes) return _mm_set1_epi8(static_cast<char>(unit));
    else return _mm_set1_epi16(static_cast<short>(unit));
  }
  static __m128i equal(__m128i a, __m128i b) {
    if constexpr (kByteLanes) return _mm_cmpeq_epi8(a, b);
    else return _mm_cmpeq_epi16(a, b);
  }
  // One bit per unit of two compared vectors.
  static uint64_t maskOf(__m128i a, __m128i b) {
    if constexpr (kByteLanes) {
      return static_cast<uint32_t>(_mm_movemask_epi8(a)) |
             static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(b))) << 16;
    } else {
      return static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(a, b)));
    }
  }
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

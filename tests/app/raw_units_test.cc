// Every classification kernel that this processor runs, the plain one
// included, gives the masks that a look at one unit at a time gives, on
// random and hostile units of every width and byte order.
#include "app/raw_units.h"

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/text_codec.h"

namespace {

// Units that the rules look for, their neighbours, and values that only a
// careless narrowing of wide units would take for them.
constexpr uint32_t kInteresting[] = {
    0x00,  0x0A,  0x0D,   0x20,    '_',     '}',     'm',    'M',    'a',        'A',
    'p',   'P',   ';',    '0',     0x2A,    0x5F00,  0x0A00, 0x0D0D, 0x8000,     0xFF0A,
    0x10A, 0x120, 0xFFFF, 0x1000A, 0x1005F, 0x7F0D0, 0x40,   0x7D,   0x80000020, 0xFFFFFFFF};

template <int kSize, bool kBigEndian>
std::string encodeUnits(const std::vector<uint32_t>& units) {
  std::string bytes;
  for (uint32_t unit : units)
    for (int i = 0; i < kSize; ++i)
      bytes.push_back(static_cast<char>(unit >> (kBigEndian ? 8 * (kSize - 1 - i) : 8 * i)));
  return bytes;
}

// The masks, a unit at a time.
template <int kSize, bool kBigEndian>
UnitMasks oracleMasks(const unsigned char* p) {
  UnitMasks masks;
  for (int i = 0; i < 64; ++i) {
    uint32_t unit = Units<kSize, kBigEndian>::at(p + i * kSize);
    uint64_t bit = uint64_t{1} << i;
    if (unit == '\r') masks.returns |= bit;
    if (unit == '\n') masks.feeds |= bit;
    if (unit == 0) masks.zeros |= bit;
    if (unit == ' ') masks.spaces |= bit;
    if (unit == '_') masks.underscores |= bit;
    if (unit == '}') masks.leads |= bit;
    if (unit == 'm' || unit == 'M') masks.ms |= bit;
    if (unit == 'a' || unit == 'p' || unit == 'P') masks.followers |= bit;
  }
  return masks;
}

template <int kSize, bool kBigEndian>
void expectKernelsAgree(const std::vector<uint32_t>& units, const char* what) {
  using U = Units<kSize, kBigEndian>;
  std::string bytes = encodeUnits<kSize, kBigEndian>(units);
  bytes.append(64 * kSize, ' ');  // room for the look ahead of nearEnds
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t words = units.size() / 64;
  std::vector<UnitMasks> masks(words), endsOnly(words);
  for (Kernel kernel : {Kernel::Scalar, Kernel::Sse2, Kernel::Avx512}) {
    if (!processorRuns(kernel)) continue;
    U::classifyWords(p, words, masks.data(), kernel);
    U::template classifyWords<true>(p, words, endsOnly.data(), kernel);
    for (size_t word = 0; word < words; ++word) {
      const unsigned char* at = p + 64 * word * kSize;
      const UnitMasks &a = oracleMasks<kSize, kBigEndian>(at), &b = masks[word];
      SCOPED_TRACE(testing::Message()
                   << what << ", kernel " << static_cast<int>(kernel) << ", units of " << kSize
                   << (kBigEndian ? " BE" : " LE") << ", word " << word);
      EXPECT_EQ(a.returns, b.returns);
      EXPECT_EQ(a.feeds, b.feeds);
      EXPECT_EQ(a.zeros, b.zeros);
      EXPECT_EQ(a.spaces, b.spaces);
      EXPECT_EQ(a.underscores, b.underscores);
      EXPECT_EQ(a.leads, b.leads);
      EXPECT_EQ(a.ms, b.ms);
      EXPECT_EQ(a.followers, b.followers);
      for (const UnitMasks& ends : {U::classifyEnds(at, kernel), endsOnly[word]}) {
        EXPECT_EQ(ends.returns, a.returns);
        EXPECT_EQ(ends.feeds, a.feeds);
        EXPECT_EQ(ends.zeros, a.zeros);
      }
      for (size_t unit = 0; unit < 64; unit += U::kNearUnits / 2) {
        uint32_t near = 0;
        for (size_t i = 0; i < U::kNearUnits; ++i) {
          uint32_t value = U::at(at + (unit + i) * kSize);
          near |= uint32_t{value == '\r' || value == '\n' || value == 0} << i;
        }
        EXPECT_EQ(U::nearEnds(at + unit * kSize, kernel), near) << unit;
      }
    }
  }
}

TEST(Kernels, EveryKernelGivesTheMasksOfAUnitAtATime) {
  std::mt19937 random(20261208);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(random); };
  for (TextFormat format : {TextFormat::Utf8, TextFormat::Utf16Le, TextFormat::Utf16Be,
                            TextFormat::Utf32Le, TextFormat::Utf32Be}) {
    withUnitsOf(format, [&]<int kSize, bool kBigEndian>() {
      const uint32_t widest = kSize == 4 ? 0xFFFFFFFF : (uint32_t{1} << (8 * kSize)) - 1;
      std::vector<uint32_t> units(64 * 64);
      for (uint32_t& unit : units)
        unit = (pick(3) ? kInteresting[pick(std::size(kInteresting))] : random()) & widest;
      expectKernelsAgree<kSize, kBigEndian>(units, "random units");
      // Every interesting unit at every position of a word, in a field of
      // each of the others.
      for (uint32_t field : kInteresting) {
        std::vector<uint32_t> sweep(64 * std::size(kInteresting), field & widest);
        for (size_t i = 0; i < std::size(kInteresting); ++i)
          for (size_t at = i; at < 64; at += std::size(kInteresting))
            sweep[64 * i + at] = kInteresting[i] & widest;
        expectKernelsAgree<kSize, kBigEndian>(sweep, "a unit in a field of another");
      }
    });
  }
}

}  // namespace

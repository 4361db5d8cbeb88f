// Every classification kernel that this processor runs gives the plain
// kernel's masks, on random and hostile units of every width and byte order.
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

template <int kSize, bool kBigEndian>
void expectKernelsAgree(const std::vector<uint32_t>& units, const char* what) {
  using U = Units<kSize, kBigEndian>;
  std::string bytes = encodeUnits<kSize, kBigEndian>(units);
  bytes.append(64 * kSize, ' ');  // room for the look ahead of nearEnds
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t words = units.size() / 64;
  std::vector<UnitMasks> plain(words), other(words);
  U::classifyWords(p, words, plain.data(), Kernel::Scalar);
  for (Kernel kernel : {Kernel::Sse2, Kernel::Avx512}) {
    if (!processorRuns(kernel)) continue;
    U::classifyWords(p, words, other.data(), kernel);
    for (size_t word = 0; word < words; ++word) {
      const UnitMasks &a = plain[word], &b = other[word];
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
      const unsigned char* at = p + 64 * word * kSize;
      UnitMasks ends = U::classifyEnds(at, kernel), plainEnds = U::classifyEnds(at, Kernel::Scalar);
      EXPECT_EQ(ends.returns, plainEnds.returns);
      EXPECT_EQ(ends.feeds, plainEnds.feeds);
      EXPECT_EQ(ends.zeros, plainEnds.zeros);
      for (size_t unit = 0; unit < 64; unit += U::kNearUnits / 2)
        EXPECT_EQ(U::nearEnds(at + unit * kSize, kernel),
                  U::nearEnds(at + unit * kSize, Kernel::Scalar));
    }
  }
}

TEST(Kernels, EveryKernelGivesThePlainKernelsMasks) {
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

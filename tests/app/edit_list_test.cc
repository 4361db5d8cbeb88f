#include "app/edit_list.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Numbers of every width, with the edges between widths, in enough
// invocations to fill several chunks: each comes back as it went in.
TEST(EditList, InvocationsComeBackInOrderWhateverTheirNumbersWidth) {
  constexpr int64_t kEdges[] = {
      0, 1, 127, 128, 16383, 16384, (int64_t{1} << 56) - 1, int64_t{1} << 56, int64_t{1} << 60};
  constexpr int64_t kLimit = int64_t{1} << 62;  // starts stay far from overflow
  std::mt19937_64 random(7);
  std::vector<Invocation> added;
  EditList edits;
  int64_t start = 0;
  for (size_t i = 0; i < 600000; ++i) {
    int64_t gap;
    if (i < std::size(kEdges)) {
      gap = kEdges[i];
    } else {
      // Mostly gaps of up to 23 bits, now and then one of up to 62.
      int bits =
          i % 1000 == 0 ? 24 + static_cast<int>(random() % 39) : static_cast<int>(random() % 24);
      gap = static_cast<int64_t>(random() & ((uint64_t{1} << bits) - 1));
    }
    if (gap > kLimit - start) gap %= 65536;
    start += gap;
    EntryIndex label = i < std::size(kEdges)
                           ? static_cast<EntryIndex>(kEdges[i] & 0xFFFFFFFF)
                           : static_cast<EntryIndex>((random() >> 32) >> (random() % 33));
    edits.addInvocation(start, label);
    added.push_back({start, label});
  }
  ASSERT_EQ(edits.invocationCount(), added.size());
  EXPECT_EQ(edits.firstInvocation, 0);
  EditList::Reader reader(edits);
  Invocation read;
  for (const Invocation& expected : added) {
    ASSERT_TRUE(reader.next(&read));
    ASSERT_EQ(read.start, expected.start);
    ASSERT_EQ(read.label, expected.label);
  }
  EXPECT_FALSE(reader.next(&read));
}

TEST(EditList, NoInvocationsReadsAsNone) {
  EditList edits;
  Invocation read;
  EXPECT_FALSE(EditList::Reader(edits).next(&read));
}

}  // namespace

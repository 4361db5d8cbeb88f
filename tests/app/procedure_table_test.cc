#include "app/procedure_table.h"

#include <gtest/gtest.h>

#include "tests/app/table_keys.h"

namespace {

TEST(ProcedureTable, AccessCreatesMissingEntriesAndKeysCompareExactly) {
  ProcedureTable table;
  EXPECT_EQ(entryFor(table, u"_Procedure5").used, 0);
  entryFor(table, u"_Procedure5").used = 1;
  EXPECT_EQ(entryFor(table, u"_PROCEDURE5").used, 0);
  EXPECT_EQ(entryFor(table, u"_Procedure5").used, 1);
  EXPECT_EQ(table.entries.size(), 3u);  // the main code's and two
  clearTable(table);
  EXPECT_EQ(table.entries.size(), 1u);
  EXPECT_EQ(entryFor(table, u"_Procedure5").used, 0);
}

TEST(ProcedureTable, DigitKeysKeepTheirExactSpelling) {
  ProcedureTable table;
  const std::u16string keys[] = {
      u"_Procedure12",
      u"_Procedure012",
      u"_Procedure0",
      u"_Procedure00",
      u"_PROCEDURE12",
      u"_Procedure1234567890123456789",  // 19 digits: the most held as a number
      u"_Procedure12345678901234567890",
      u"_Procedure18446744073709551615",
      u"_Procedure99999999999999999999",
      u"_Procedure",
      u"_Procedure12:",
      u"1",
      u""};
  for (size_t i = 0; i < std::size(keys); ++i) {
    EXPECT_EQ(indexFor(table, keys[i]), i + 1);
    entryFor(table, keys[i]).used = static_cast<int32_t>(i);
  }
  for (size_t i = 0; i < std::size(keys); ++i) {
    EXPECT_EQ(indexFor(table, keys[i]), i + 1);
    EXPECT_EQ(keyOf(table, static_cast<EntryIndex>(i + 1)), keys[i]);
  }
  EXPECT_EQ(table.entries.size(), std::size(keys) + 1);
  // By number: the same entries as the spelled-out keys.
  EXPECT_EQ(indexForNumber(table, 12, 2), indexFor(table, u"_Procedure12"));
  EXPECT_EQ(indexForNumber(table, 12, 3), indexFor(table, u"_Procedure012"));
  EXPECT_EQ(indexForNumber(table, 0, 2), indexFor(table, u"_Procedure00"));
}

// Small numbers are looked up in a plain array that grows with the table; a
// number met before the array reached it must keep its entry afterwards.
TEST(ProcedureTable, ANumberKeepsItsEntryWhenTheArrayGrowsOverIt) {
  ProcedureTable table;
  const uint64_t big[] = {2000000, 2000001, 9999999};
  EntryIndex before[3];
  for (int i = 0; i < 3; ++i) before[i] = indexForNumber(table, big[i], 7);
  for (uint64_t n = 1; n <= 300000; ++n)
    indexForNumber(table, n, static_cast<uint32_t>(std::to_string(n).size()));
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(indexForNumber(table, big[i], 7), before[i]);
    std::string digits = std::to_string(big[i]);
    EXPECT_EQ(indexFor(table, u"_Procedure" + std::u16string(digits.begin(), digits.end())),
              before[i]);
  }
  EXPECT_EQ(keyOf(table, before[0]), u"_Procedure2000000");
  EXPECT_EQ(table.entries.size(), 300000u + 3u + 1u);
}

TEST(ReferenceSet, HoldsEachLabelOnceHoweverOftenItIsAdded) {
  ReferenceSet refs;
  for (int round = 0; round < 10000; ++round)
    for (EntryIndex label : {7u, 3u, 7u, 9u, 3u}) addReference(refs, label);
  EXPECT_LE(refs.labels.size(), 3u + 2 * 3u + 32u);  // bounded between folds
  foldReferences(refs);
  EXPECT_EQ(refs.labels, (std::vector<EntryIndex>{3, 7, 9}));
  EXPECT_EQ(refs.labels.capacity(), 3u);
}

}  // namespace

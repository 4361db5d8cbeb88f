#include "app/procedure_table.h"

#include <gtest/gtest.h>

namespace {

TEST(ProcedureTable, AccessCreatesMissingEntriesAndKeysCompareExactly) {
  ProcedureTable table(512);
  EXPECT_EQ(entryFor(table, u"_Procedure5").used, 0);
  entryFor(table, u"_Procedure5").used = 1;
  EXPECT_EQ(entryFor(table, u"_PROCEDURE5").used, 0);
  EXPECT_EQ(entryFor(table, u"_Procedure5").used, 1);
  EXPECT_EQ(table.entries.size(), 2u);
  clearTable(table);
  EXPECT_EQ(entryFor(table, u"_Procedure5").used, 0);
}

TEST(ProcedureTable, DigitKeysKeepTheirExactSpelling) {
  ProcedureTable table(4);
  const std::u16string keys[] = {
      u"_Procedure12", u"_Procedure012", u"_Procedure0", u"_Procedure00", u"_PROCEDURE12",
      u"_Procedure1234567890123456789",  // 19 digits: the most held as a number
      u"_Procedure12345678901234567890", u"_Procedure18446744073709551615",
      u"_Procedure99999999999999999999", u"_Procedure", u"_Procedure12:", u"1", u""};
  for (size_t i = 0; i < std::size(keys); ++i) {
    EXPECT_EQ(indexFor(table, keys[i]), i);
    entryFor(table, keys[i]).used = static_cast<int32_t>(i);
  }
  for (size_t i = 0; i < std::size(keys); ++i) {
    EXPECT_EQ(indexFor(table, keys[i]), i);
    EXPECT_EQ(keyOf(table, static_cast<EntryIndex>(i)), keys[i]);
  }
  EXPECT_EQ(table.entries.size(), std::size(keys));
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

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

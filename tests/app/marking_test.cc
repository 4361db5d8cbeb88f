#include "app/marking.h"

#include <gtest/gtest.h>

namespace {

// The main code is named by the empty key here.
void mention(ProcedureTable& table, std::u16string_view from, std::u16string_view to) {
  EntryIndex target = indexFor(table, to);
  EntryIndex source = from.empty() ? kMainCode : indexFor(table, from);
  addReference(table.entries[source].refs, target);
}

TEST(Marking, FollowsChainsAndStopsAtCycles) {
  ProcedureTable table;
  mention(table, u"", u"_Procedure1");
  mention(table, u"_Procedure1", u"_Procedure2");
  mention(table, u"_Procedure2", u"_Procedure3");
  mention(table, u"_Procedure3", u"_Procedure1");
  mention(table, u"_Procedure3", u"_Procedure3");
  mention(table, u"_Procedure4", u"_Procedure5");  // a dead pair
  mention(table, u"_Procedure5", u"_Procedure4");
  mention(table, u"_Procedure6", u"_Procedure1");  // dead, though it calls a live one
  mention(table, u"", u"_PROCEDURE7");
  markFromMainCode(table);
  EXPECT_EQ(table.entries[kMainCode].used, 1);
  for (auto key : {u"_Procedure1", u"_Procedure2", u"_Procedure3", u"_PROCEDURE7"})
    EXPECT_EQ(entryFor(table, key).used, 1) << testing::PrintToString(std::u16string(key));
  for (auto key : {u"_Procedure4", u"_Procedure5", u"_Procedure6", u"_Procedure7"})
    EXPECT_EQ(entryFor(table, key).used, 0) << testing::PrintToString(std::u16string(key));
}

TEST(Marking, MainCodeWithoutReferencesMarksOnlyItself) {
  ProcedureTable table;
  entryFor(table, u"_Procedure1");
  markFromMainCode(table);
  EXPECT_EQ(table.entries[kMainCode].used, 1);
  EXPECT_EQ(entryFor(table, u"_Procedure1").used, 0);
}

TEST(Marking, AMillionProcedureChainNeedsNoDeepStack) {
  ProcedureTable table;
  const int length = 1000000;
  std::u16string previous;
  for (int i = 1; i <= length; ++i) {
    std::string digits = std::to_string(i);
    std::u16string key = u"_Procedure" + std::u16string(digits.begin(), digits.end());
    mention(table, previous, key);
    previous = key;
  }
  markFromMainCode(table);
  int marked = 0;
  for (size_t i = 0; i < table.entries.size(); ++i) marked += table.entries[i].used;
  EXPECT_EQ(marked, length + 1);
}

}  // namespace

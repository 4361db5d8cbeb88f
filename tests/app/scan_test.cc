// What the scan makes of a file, the same whichever way it is read: the
// reference line by line, or the block scan.
#include "app/split_scan.h"

#include <fstream>
#include <set>

#include <gtest/gtest.h>

#include "app/driver.h"
#include "app/scan_rules.h"
#include "runtime/pattern.h"
#include "runtime/text_file.h"
#include "tests/app/table_keys.h"
#include "tests/test_support.h"

namespace {

using Keys = std::set<std::u16string>;

class ScanTest : public testing::TestWithParam<RunWay> {
 protected:
  void SetUp() override { initPatterns(); }

  // Runs on content (UTF-8 text) and returns what the scan printed.
  std::string scan(const std::string& content) {
    writeBytes(dir.file("Velmarin.asm"), content);
    std::u16string name = utf16(dir.file("Velmarin.asm"));
    std::string printed = captureOutput([&] { runOnFile(name, table, GetParam()); });
    size_t lineEnd = printed.find(std::string("\r\0\n\0", 4));
    return lineEnd == std::string::npos ? printed : printed.substr(0, lineEnd + 4);
  }

  bool has(const std::u16string& key) const {
    for (EntryIndex i = 1; i < table.entries.size(); ++i)
      if (keyOf(table, i) == key) return true;
    return false;
  }
  // The empty key stands for the main code.
  ProcedureEntry& entry(const std::u16string& key) {
    return key.empty() ? table.entries[kMainCode] : entryFor(table, key);
  }
  int used(const std::u16string& key) { return entry(key).used; }

  Keys refs(const std::u16string& key) {
    Keys names;
    for (EntryIndex target : entry(key).refs.labels)
      names.insert(std::u16string(keyOf(table, target)));
    return names;
  }

  ScratchDir dir;
  ProcedureTable table;
};

INSTANTIATE_TEST_SUITE_P(BothWays, ScanTest, testing::Values(RunWay::Reference, RunWay::Tool),
                         runWayName);

TEST_P(ScanTest, EmptyFileLeavesOnlyTheMarkedMainCode) {
  EXPECT_EQ(scan(""), consoleBytes({"Found 0 procedure macros."}));
  EXPECT_EQ(table.entries.size(), 1u);
  EXPECT_EQ(used(u""), 1);
  EXPECT_TRUE(refs(u"").empty());
}

TEST_P(ScanTest, NestedAndUnclosedBlocks) {
  EXPECT_EQ(scan("macro MP1{\n"
                 "call _Procedure8\n"  // before the label: still the main code
                 "_Procedure1:\n"
                 "macro MP2{\n"  // counted, changes nothing
                 "call _Procedure2\n"
                 "}\n"  // ends the block state for both
                 "call _Procedure3\n"
                 "macro MP5{\n"
                 "_Procedure5:\n"
                 "call _Procedure6\n"),  // the file ends inside a block
            consoleBytes({"Found 3 procedure macros."}));
  EXPECT_EQ(refs(u""), (Keys{u"_Procedure8", u"_Procedure3"}));
  EXPECT_EQ(refs(u"_Procedure1"), Keys{u"_Procedure2"});
  EXPECT_EQ(refs(u"_Procedure5"), Keys{u"_Procedure6"});
  EXPECT_EQ(used(u"_Procedure5"), 0);
}

TEST_P(ScanTest, MissingFilePrintsTheNotFoundLineAndEmptiesTheTable) {
  entryFor(table, u"_Procedure1");
  std::string printed = captureOutput([&] { runOnFile(u"no such file.asm", table, GetParam()); });
  EXPECT_EQ(printed, consoleBytes({"File 'no such file.asm' not found.",
                                   "File 'no such file.asm' not found."}));
  EXPECT_EQ(table.entries.size(), 1u);
}

TEST_P(ScanTest, HostileInputIsJustText) {
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>((i * 131) % 256));
  std::string hugeKey = "_Procedure" + std::string(5000, '7');
  scan(binary + "\nmacro MP1{\n" + hugeKey + ":\ncall " + hugeKey + "\n}\ncall " + hugeKey + "\n");
  EXPECT_EQ(used(utf16(hugeKey)), 1);
  EXPECT_EQ(refs(utf16(hugeKey)), Keys{utf16(hugeKey)});
}

// A label line that is more than a label is confirmed by the label pattern;
// where the pattern engine gives up on it (here on nested repetition, as it
// would out of memory or past a limit), the scan is incomplete.
TEST(ScanRules, ALabelLineThePatternCannotJudgeMakesTheScanIncomplete) {
  initPatterns();
  ScratchDir dir;
  for (bool endless : {false, true}) {
    std::string label = "_Procedure3: ";
    label.append(endless ? std::string(40, 'a') : "x");
    writeBytes(dir.file("f.asm"), "macro MP3{\n" + label + "\ncall _Procedure3\n}\n");
    ProcedureTable table;
    ScanState state(table);
    state.labelPattern = createPattern(u"^ *_Procedure[0-9]+: (x|(a+)+!)", kCaseInsensitive);
    TextFile* file = openForReading(utf16(dir.file("f.asm")));
    ASSERT_NE(file, nullptr);
    TextFormat format = readFormat(file);
    EditList edits;
    scanFile(file, format, state, &edits);
    closeFile(file);
    EXPECT_EQ(state.searchFailed, endless);
  }
}

// Another program may append to the file after the run opened it: the scan
// reads to the new end, and the growth splits nothing beyond the size that
// the file had at the open.
TEST(ScanRules, AFileThatGrewAfterItsOpenIsReadToItsNewEnd) {
  initPatterns();
  ScratchDir dir;
  writeBytes(dir.file("f.asm"), "macro MP1{\n_Procedure1:\n}\n");
  ProcedureTable table;
  ScanState state(table);
  TextFile* file = openForReading(utf16(dir.file("f.asm")));
  ASSERT_NE(file, nullptr);
  std::string grown;
  for (int i = 0; i < 1500000; ++i) grown += "MP1\n";
  std::ofstream append(dir.file("f.asm"), std::ios::binary | std::ios::app);
  append << grown;
  append.close();
  if (!append) GTEST_SKIP() << "the system keeps other programs from writing to the open file";
  TextFormat format = readFormat(file);
  EditList edits;
  scanFile(file, format, state, &edits);
  EXPECT_FALSE(file->readFailed);
  closeFile(file);
  EXPECT_EQ(edits.invocationCount(), 1500000u);
}

}  // namespace

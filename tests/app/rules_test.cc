// The rules of the input language, one table each: short lines through the
// real scan and rewrite, and through the reference way, each compared with
// what the rule says, written out here by hand. A failure names the rule,
// the line and the way.
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "app/driver.h"
#include "runtime/pattern.h"
#include "tests/app/table_keys.h"
#include "tests/test_support.h"

namespace {

struct Row {
  std::string line;
  std::string expected;
};

// ASCII as it is; any other unit as \uXXXX, so that expectations stay plain.
std::string printable(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
      out += escaped;
    }
  }
  return out;
}

class Rules : public testing::TestWithParam<RunWay> {
 protected:
  void SetUp() override { initPatterns(); }

  // What the scan made of text: the blocks it counted, then each context
  // that mentions labels, "main" for the main code, with those labels in
  // order, as "blocks 1 | main: _Procedure2 | _Procedure1: _Procedure3".
  std::string scanned(const std::string& text) {
    ProcedureTable table;
    std::string console = runOn(text, table);
    std::map<std::string, std::set<std::string>> contexts;
    for (EntryIndex entry = 0; entry < table.entries.size(); ++entry) {
      for (EntryIndex label : table.entries[entry].refs.labels) {
        std::string name = entry == kMainCode ? "main" : printable(keyOf(table, entry));
        contexts[name].insert(printable(keyOf(table, label)));
      }
    }
    std::string found = "blocks ?";
    for (int blocks = 0; blocks < 10; ++blocks)
      if (console.starts_with(
              consoleBytes({"Found " + std::to_string(blocks) + " procedure macros."})))
        found = "blocks " + std::to_string(blocks);
    for (const auto& [context, labels] : contexts) {
      found += " | " + context + ":";
      for (const std::string& label : labels) found += " " + label;
    }
    return found;
  }

  // The file after a run over text.
  std::string rewritten(const std::string& text) {
    ProcedureTable table;
    runOn(text, table);
    return readBytes(dir.file("Velmarin.asm"));
  }

  void expectScans(const char* rule, const std::string& before, const std::string& after,
                   std::initializer_list<Row> rows) {
    for (const Row& row : rows)
      EXPECT_EQ(scanned(before + row.line + after), row.expected)
          << rule << " rule, line \"" << row.line << "\"";
  }

 private:
  std::string runOn(const std::string& text, ProcedureTable& table) {
    writeBytes(dir.file("Velmarin.asm"), text);
    return captureOutput([&] { runOnFile(utf16(dir.file("Velmarin.asm")), table, GetParam()); });
  }

  ScratchDir dir;
};

INSTANTIATE_TEST_SUITE_P(BothWays, Rules, testing::Values(RunWay::Reference, RunWay::Tool),
                         runWayName);

// A comment is decided by the first unit after spaces; it hides the whole line.
TEST_P(Rules, Comment) {
  expectScans("comment", "", "\n",
              {
                  {"; _Procedure1", "blocks 0"},
                  {";_Procedure1", "blocks 0"},
                  {"   ; _Procedure1 }", "blocks 0"},
                  {";; macro MP1", "blocks 0"},
                  {"\t; _Procedure1", "blocks 0 | main: _Procedure1"},
                  {"x ; _Procedure1", "blocks 0 | main: _Procedure1"},
                  {"_Procedure2 ; _Procedure1", "blocks 0 | main: _Procedure1 _Procedure2"},
                  {"\xEF\xBC\x9B _Procedure1", "blocks 0 | main: _Procedure1"},  // a wide ';'
              });
  // Inside a block a comment neither ends it nor names it.
  expectScans("comment", "macro MP1{\n", "\ncall _Procedure2\n}\ncall _Procedure3\n",
              {
                  {"; }", "blocks 1 | main: _Procedure2 _Procedure3"},
                  {";_Procedure1:", "blocks 1 | main: _Procedure2 _Procedure3"},
                  {"  ;  _Procedure4", "blocks 1 | main: _Procedure2 _Procedure3"},
              });
}

// A macro start is "macro MP" exactly, after spaces alone; it opens a block
// whose label line then names the context.
TEST_P(Rules, MacroStart) {
  const std::string opened = "blocks 1 | _Procedure7: _Procedure8";
  const std::string notOpened = "blocks 0 | main: _Procedure7 _Procedure8";
  expectScans("macro start", "", "\n_Procedure7:\ncall _Procedure8\n}\n",
              {
                  {"macro MP7{", opened},
                  {"macro MP", opened},
                  {"macro MPx", opened},
                  {"macro MP7 ; _Procedure9", opened},
                  {"   macro MP7{   ", opened},
                  {"macro MP7{_Procedure9", opened},
                  {"\tmacro MP7{", notOpened},
                  {"macro mp7{", notOpened},
                  {"Macro MP7{", notOpened},
                  {"MACRO MP7{", notOpened},
                  {"macro  MP7{", notOpened},
                  {"macro\tMP7{", notOpened},
                  {"macroMP7{", notOpened},
                  {"macro M", notOpened},
                  {"; macro MP7{", notOpened},
                  {"x macro MP7{", notOpened},
              });
}

// A macro end is "}" first after spaces, inside a block; the line is not
// searched, and the main code is the context again.
TEST_P(Rules, MacroEnd) {
  const std::string ended = "blocks 1 | main: _Procedure2";
  const std::string open = "blocks 1 | _Procedure1: _Procedure2";
  expectScans("macro end", "macro MP1{\n_Procedure1:\n", "\ncall _Procedure2\n",
              {
                  {"}", ended},
                  {"  }  ", ended},
                  {"}}", ended},
                  {"} _Procedure3", ended},
                  {"};", ended},
                  {"\t}", open},
                  {"x }", open},
                  {"; }", open},
                  {"{", open},
                  {"\xEF\xBD\x9D", open},  // a wide '}'
              });
  // Outside a block a "}" is only text: its references count.
  expectScans("macro end", "", "\n",
              {
                  {"} _Procedure3", "blocks 0 | main: _Procedure3"},
                  {"}", "blocks 0"},
              });
}

// A label line, inside a block, is "_Procedure", digits and ":" in any case;
// its key is the trimmed line less the colons and then the spaces at its
// ends; it names the block and mentions nothing.
TEST_P(Rules, LabelLine) {
  expectScans("label line", "macro MP1{\n", "\ncall _Procedure2\n}\n",
              {
                  {"_Procedure5:", "blocks 1 | _Procedure5: _Procedure2"},
                  {"_Procedure5::", "blocks 1 | _Procedure5: _Procedure2"},
                  {"  _Procedure5:  ", "blocks 1 | _Procedure5: _Procedure2"},
                  {"_Procedure5: :", "blocks 1 | _Procedure5:: _Procedure2"},
                  {"_Procedure5::  ::", "blocks 1 | _Procedure5::: _Procedure2"},
                  {"_procedure5:", "blocks 1 | _procedure5: _Procedure2"},
                  {"_PROCEDURE5:", "blocks 1 | _PROCEDURE5: _Procedure2"},
                  {"_Procedure05:", "blocks 1 | _Procedure05: _Procedure2"},
                  {"_Procedure5: ; entry", "blocks 1 | _Procedure5: ; entry: _Procedure2"},
                  {"_Procedure5:_Procedure6", "blocks 1 | _Procedure5:_Procedure6: _Procedure2"},
                  {"_Procedure5:\t", "blocks 1 | _Procedure5:\\u0009: _Procedure2"},
                  {"_Procedure5 :", "blocks 1 | main: _Procedure2 _Procedure5"},
                  {"_Procedure:", "blocks 1 | main: _Procedure2"},
                  {"_Procedure5", "blocks 1 | main: _Procedure2 _Procedure5"},
                  {"x_Procedure5:", "blocks 1 | main: _Procedure2 _Procedure5"},
                  {"\t_Procedure5:", "blocks 1 | main: _Procedure2 _Procedure5"},
                  {"_Procedure5x:", "blocks 1 | main: _Procedure2 _Procedure5"},
                  {"__Procedure5:", "blocks 1 | main: _Procedure2 _Procedure5"},
              });
  // Outside a block it is a reference; a second label line in a block
  // names the context again.
  expectScans("label line", "", "\n",
              {
                  {"_Procedure4:", "blocks 0 | main: _Procedure4"},
                  {"macro MP1{\n_Procedure1:\ncall _Procedure2\n_Procedure3:\ncall _Procedure4\n}",
                   "blocks 1 | _Procedure1: _Procedure2 | _Procedure3: _Procedure4"},
                  {"macro MP1{\ncall _Procedure2\n_Procedure1:\n}", "blocks 1 | main: _Procedure2"},
              });
}

// A reference is "_Procedure" in any case and a whole run of ASCII digits,
// anywhere in a line that no rule above took, held as spelt.
TEST_P(Rules, Reference) {
  expectScans("reference", "\xEF\xBB\xBF", "\n",
              {
                  {"call _Procedure1", "blocks 0 | main: _Procedure1"},
                  {"x_Procedure12y", "blocks 0 | main: _Procedure12"},
                  {"_Procedure1_Procedure2", "blocks 0 | main: _Procedure1 _Procedure2"},
                  {"_Procedure1,_Procedure1, _Procedure1", "blocks 0 | main: _Procedure1"},
                  {"_PROCEDURE3 _pRoCeDuRe3", "blocks 0 | main: _PROCEDURE3 _pRoCeDuRe3"},
                  {"_Procedure007", "blocks 0 | main: _Procedure007"},
                  {"_Procedure123456789012345678901234",
                   "blocks 0 | main: _Procedure123456789012345678901234"},
                  {"__Procedure1", "blocks 0 | main: _Procedure1"},
                  {"MP1 _Procedure2", "blocks 0 | main: _Procedure2"},
                  {"dd _Procedure1;_Procedure2", "blocks 0 | main: _Procedure1 _Procedure2"},
                  {"_Procedure1:", "blocks 0 | main: _Procedure1"},
                  {"_Procedure", "blocks 0"},
                  {"_Procedure x1", "blocks 0"},
                  {"_Procedur1", "blocks 0"},
                  {"Procedure1", "blocks 0"},
                  {"_Proc\xD0\xB5"
                   "dure1",
                   "blocks 0"},                            // a Cyrillic e
                  {"_Procedure\xD9\xA1", "blocks 0"},      // an Arabic-Indic one
                  {"_Procedure\xEF\xBC\x91", "blocks 0"},  // a wide one
                  {"_\xC5\xBFProcedure1", "blocks 0"},     // a long s
              });
}

// An invocation line is "MP" and a digit, in any case, first after spaces;
// it names "_Procedure" and its digits as spelt. The dead ones become the
// trimmed line between "; " and "; AUTOMATICALLY REMOVED"; every line ends
// in CR LF.
TEST_P(Rules, Invocation) {
  const std::string program = "macro MP1{\n_Procedure1:\n}\ncall _Procedure1\n";
  const std::string written = "macro MP1{\r\n_Procedure1:\r\n}\r\ncall _Procedure1\r\n";
  const Row rows[] = {
      {"MP1", "MP1"},
      {"MP2", "; MP2; AUTOMATICALLY REMOVED"},
      {"  MP2  ", "; MP2; AUTOMATICALLY REMOVED"},
      {"mp2", "; mp2; AUTOMATICALLY REMOVED"},
      {"Mp2 x", "; Mp2 x; AUTOMATICALLY REMOVED"},
      {"MP2;", "; MP2;; AUTOMATICALLY REMOVED"},
      {"MP2\t", "; MP2\t; AUTOMATICALLY REMOVED"},
      {"MP01", "; MP01; AUTOMATICALLY REMOVED"},
      {"MP1x", "MP1x"},
      {"MP12", "; MP12; AUTOMATICALLY REMOVED"},
      {"mP1", "mP1"},
      {"MP", "MP"},
      {"MPx", "MPx"},
      {"MP 2", "MP 2"},
      {"\tMP2", "\tMP2"},
      {"; MP2", "; MP2"},
      {"xMP2", "xMP2"},
      {"macro MP2", "macro MP2"},
      {"M P2", "M P2"},
      {"MP2 ; comment", "; MP2 ; comment; AUTOMATICALLY REMOVED"},
      {"  MP2 \t ", "; MP2 \t; AUTOMATICALLY REMOVED"},
      {"mp1:x", "mp1:x"},
      {"   ", "   "},
      // A comment made before is no invocation line.
      {"; MP2; AUTOMATICALLY REMOVED", "; MP2; AUTOMATICALLY REMOVED"},
  };
  for (const Row& row : rows)
    EXPECT_EQ(rewritten(program + row.line + "\n"), written + row.expected + "\r\n")
        << "invocation rule, line \"" << row.line << "\"";
}

// Reachability: the main code's references, followed through the blocks
// they name, whatever the order; a block that only dead ones name is dead.
TEST_P(Rules, ReachedThroughBlocks) {
  const Row rows[] = {
      {"call _Procedure2\nmacro MP2{\n_Procedure2:\ncall _Procedure3\n}\n"
       "macro MP3{\n_Procedure3:\n}\nmacro MP4{\n_Procedure4:\ncall _Procedure3\n}\n",
       "MP2\r\nMP3\r\n; MP4; AUTOMATICALLY REMOVED\r\n"},
      {"macro MP2{\n_Procedure2:\ncall _Procedure3\n}\nmacro MP3{\n_Procedure3:\ncall "
       "_Procedure2\n}\n",
       "; MP2; AUTOMATICALLY REMOVED\r\n; MP3; AUTOMATICALLY REMOVED\r\n; MP4; AUTOMATICALLY "
       "REMOVED\r\n"},
      // References before a block's label are the main code's.
      {"macro MP2{\ncall _Procedure4\n_Procedure2:\n}\n",
       "; MP2; AUTOMATICALLY REMOVED\r\n; MP3; AUTOMATICALLY REMOVED\r\nMP4\r\n"},
      // A label that no block defines is live when reached.
      {"call _Procedure2\nmacro MP2{\n_Procedure2:\ncall _Procedure4\n}\n",
       "MP2\r\n; MP3; AUTOMATICALLY REMOVED\r\nMP4\r\n"},
      {"macro MP2{\n_PROCEDURE2:\n}\ncall _PROCEDURE2\n",
       "; MP2; AUTOMATICALLY REMOVED\r\n; MP3; AUTOMATICALLY REMOVED\r\n; MP4; AUTOMATICALLY "
       "REMOVED\r\n"},
      // Case and leading zeros make other keys.
      {"call _PROCEDURE2, _Procedure03\nmacro MP2{\n_Procedure2:\n}\n",
       "; MP2; AUTOMATICALLY REMOVED\r\n; MP3; AUTOMATICALLY REMOVED\r\n; MP4; AUTOMATICALLY "
       "REMOVED\r\n"},
  };
  for (const Row& row : rows) {
    std::string after = rewritten(row.line + "MP2\nMP3\nMP4\n");
    EXPECT_TRUE(after.ends_with(row.expected)) << "program:\n" << row.line << "gave:\n" << after;
  }
}

// Line ends: CR LF, LF, CR and a zero unit each end a line; each becomes CR
// LF, and a last line without one gets one.
TEST_P(Rules, LineEnds) {
  const Row rows[] = {
      {"MP2\r\nMP2\nMP2\rMP2", "; MP2; AUTOMATICALLY REMOVED\r\n"},
      {"x\ny\rz\r\n\n", "x\r\ny\r\nz\r\n\r\n"},
      {std::string("a\0b", 3), "a\r\nb\r\n"},
      {"\r\r\n", "\r\n\r\n"},
  };
  for (const Row& row : rows) {
    std::string after = rewritten(row.line);
    if (row.line.starts_with("MP2")) {
      std::string four;
      for (int i = 0; i < 4; ++i) four += row.expected;
      EXPECT_EQ(after, four);
    } else {
      EXPECT_EQ(after, row.expected) << testing::PrintToString(row.line);
    }
  }
}

}  // namespace

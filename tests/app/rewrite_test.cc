#include "app/rewrite.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "app/driver.h"
#include "runtime/os.h"
#include "runtime/pattern.h"
#include "runtime/text_codec.h"
#include "runtime/text_file.h"
#include "tests/test_seams.h"
#include "tests/test_support.h"

namespace {

// Every case runs both ways: the reference rewrite, line by line, and the
// rewrite from the block scan's edits.
class RewriteTest : public testing::TestWithParam<RunWay> {
 protected:
  void SetUp() override { initPatterns(); }

  std::string path() const { return dir.file("Velmarin.asm"); }

  // A whole run over bytes; returns the console output of the rewrite.
  std::string run(const std::string& bytes) {
    writeBytes(path(), bytes);
    return printedByRewrite();
  }

  // A whole run; returns what the rewrite printed (all after the scan's line).
  std::string printedByRewrite() {
    std::string printed = captureOutput([&] { runOnFile(utf16(path()), table, GetParam()); });
    size_t scanLineEnd = printed.find(std::string("\r\0\n\0", 4));
    return scanLineEnd == std::string::npos ? printed : printed.substr(scanLineEnd + 4);
  }

  std::string summary(int removed, int total) {
    return consoleBytes({"Removed " + std::to_string(removed) + " out of " + std::to_string(total) +
                         " used procedure macros."});
  }

  ScratchDir dir;
  ProcedureTable table;
};

INSTANTIATE_TEST_SUITE_P(BothWays, RewriteTest, testing::Values(RunWay::Reference, RunWay::Tool),
                         runWayName);

const std::string kProgram =
    "macro MP12{\r\n_Procedure12:\r\n}\r\n"
    "macro MP7{\r\n_Procedure7:\r\n call _Procedure9\r\n}\r\n"
    "call _Procedure7\r\n";

TEST_P(RewriteTest, EveryFormatComesBackInItsOwnEncoding) {
  const std::u16string text =
      u"; caf\u00E9 \U0001F600\nmacro MP1{\n_Procedure1:\n}\rMP1\r\nMP2 \u00E9\n";
  const std::u16string expected =
      u"; caf\u00E9 \U0001F600\r\nmacro MP1{\r\n_Procedure1:\r\n}\r\n"
      u"; MP1; AUTOMATICALLY REMOVED\r\n; MP2 \u00E9; AUTOMATICALLY REMOVED\r\n";
  for (TextFormat format : {TextFormat::Utf8, TextFormat::Utf16Le, TextFormat::Utf16Be,
                            TextFormat::Utf32Le, TextFormat::Utf32Be}) {
    std::string in(byteOrderMark(format)), out(byteOrderMark(format));
    encodeText(format, text, &in);
    encodeText(format, expected, &out);
    EXPECT_EQ(run(in), summary(2, 2)) << static_cast<int>(format);
    EXPECT_EQ(readBytes(path()), out) << static_cast<int>(format);
  }
  // Without a mark: Windows-1252, every byte kept.
  EXPECT_EQ(run("\x80\x81\xFF\nMP1"), summary(1, 1));
  EXPECT_EQ(readBytes(path()), "\x80\x81\xFF\r\n; MP1; AUTOMATICALLY REMOVED\r\n");
}

// Only the removed invocations and the line ends change. Bytes that are not
// valid in the file's encoding come back as they were, in kept lines and
// inside a comment alike, and a partial unit at the end stays the last bytes.
TEST_P(RewriteTest, EveryByteOutsideTheEditsStaysAsItWas) {
  const std::string nul(1, '\0');
  struct Case {
    std::string in, out;
  };
  auto wide = [](TextFormat format, const std::u16string& text) {
    std::string bytes;
    encodeText(format, text, &bytes);
    return bytes;
  };
  const std::string unit32Le = std::string("\x00\x00\x11\x00", 4);  // above 10FFFF
  const std::string surrogate32Be = std::string("\x00\x00\xD8\x00", 4);
  const TextFormat le32 = TextFormat::Utf32Le, be32 = TextFormat::Utf32Be;
  const TextFormat le16 = TextFormat::Utf16Le;
  const Case cases[] = {
      // Malformed UTF-8 in a kept line and in a removed one; LF and CR alone; a NUL.
      {"\xEF\xBB\xBF; \xE2\x82 \xC0\xAF\nMP2 \xFF\xFE\x80\rx" + nul + "y",
       "\xEF\xBB\xBF; \xE2\x82 \xC0\xAF\r\n; MP2 \xFF\xFE\x80; AUTOMATICALLY "
       "REMOVED\r\nx\r\ny\r\n"},
      // A stray Windows-1252 byte in a UTF-8 string literal.
      {"\xEF\xBB\xBF db 'caf\xE9'\r\n", "\xEF\xBB\xBF db 'caf\xE9'\r\n"},
      // UTF-32 units beyond Unicode and in the surrogate range.
      {std::string(byteOrderMark(le32)) + unit32Le + wide(le32, u"\nMP2 ") + unit32Le,
       std::string(byteOrderMark(le32)) + unit32Le + wide(le32, u"\r\n; MP2 ") + unit32Le +
           wide(le32, u"; AUTOMATICALLY REMOVED\r\n")},
      {std::string(byteOrderMark(be32)) + wide(be32, u"  MP2") + surrogate32Be + wide(be32, u"  "),
       std::string(byteOrderMark(be32)) + wide(be32, u"; MP2") + surrogate32Be +
           wide(be32, u"; AUTOMATICALLY REMOVED\r\n")},
      // Partial units behind a line end, behind text, behind the mark, behind a removal.
      {std::string(byteOrderMark(le16)) + wide(le16, u"A\n") + "z",
       std::string(byteOrderMark(le16)) + wide(le16, u"A\r\n") + "z"},
      {std::string(byteOrderMark(le16)) + wide(le16, u"A") + "z",
       std::string(byteOrderMark(le16)) + wide(le16, u"A\r\n") + "z"},
      {std::string(byteOrderMark(le16)) + "z", std::string(byteOrderMark(le16)) + "z"},
      {std::string(byteOrderMark(le32)) + wide(le32, u"MP2") + "\n" + nul + nul,
       std::string(byteOrderMark(le32)) + wide(le32, u"; MP2; AUTOMATICALLY REMOVED\r\n") + "\n" +
           nul + nul},
  };
  for (const Case& c : cases) {
    run(c.in);
    EXPECT_EQ(readBytes(path()), c.out) << testing::PrintToString(c.in);
    // And a second run leaves its own output exactly as it is.
    printedByRewrite();
    EXPECT_EQ(readBytes(path()), c.out) << testing::PrintToString(c.in);
  }
}

// The rewrite acts on the file the scan read, or on nothing: a file that only
// the rewrite could open would have every invocation judged on an empty table.
TEST_P(RewriteTest, WhatTheScanCouldNotOpenIsNotRewritten) {
  writeBytes(path(), kProgram + "MP12\r\nMP7\r\n");
  failNthOpen(1);
  std::string printed = captureOutput([&] { runOnFile(utf16(path()), table, GetParam()); });
  failNthOpen(0);
  const std::string notFound = "File '" + path() + "' not found.";
  EXPECT_EQ(printed, consoleBytes({notFound, notFound}));
  EXPECT_EQ(readBytes(path()), kProgram + "MP12\r\nMP7\r\n");
}

// A seek that fails would read on from the wrong place: over the mark, a
// whole buffer of the file would be lost.
TEST_P(RewriteTest, AFailedSeekAnywhereKeepsTheFileAndSaysSo) {
  std::string original = "\xEF\xBB\xBF" + kProgram;
  while (original.size() < 3u * kFileBufferSize) original += "MP12\r\n ; filler line\r\n";
  const std::string name = "File '" + path() + "'";
  const std::string unread = consoleBytes({name + " could not be read."});
  const std::string unwritten = consoleBytes({name + " could not be written."});
  for (int failing = 1;; ++failing) {
    writeBytes(path(), original);
    failNthSeek(failing);
    std::string printed = captureOutput([&] { runOnFile(utf16(path()), table, GetParam()); });
    int64_t seeks = seekCount();
    failNthSeek(0);
    if (failing > seeks) {
      EXPECT_NE(readBytes(path()), original);
      EXPECT_GT(failing, 2);
      break;
    }
    EXPECT_TRUE(printed == unread || printed.ends_with(unwritten)) << failing;
    EXPECT_EQ(readBytes(path()), original) << failing;
    EXPECT_EQ(listDirectory(dir.path), std::vector<std::string>{"Velmarin.asm"}) << failing;
  }
}

TEST_P(RewriteTest, EmptyFilesAndBareMarks) {
  for (const std::string& bytes :
       {std::string(), std::string("\xEF\xBB\xBF"), std::string("\xFF\xFE")}) {
    EXPECT_EQ(run(bytes), summary(0, 0));
    EXPECT_EQ(readBytes(path()), bytes);
  }
}

TEST_P(RewriteTest, ReadOnlyFileIsLeftAloneSilently) {
  writeBytes(path(), kProgram + "MP12\r\n");
  chmod(path().c_str(), 0444);
  EXPECT_EQ(printedByRewrite(), "");
  EXPECT_EQ(readBytes(path()), kProgram + "MP12\r\n");
}

TEST_P(RewriteTest, AFailedWriteAnywhereKeepsTheFileAndSaysSo) {
  // Several writes' worth either way (the tool's way writes up to half a
  // mebibyte at once), so that writes fail at the start, in the middle and
  // at the end, and so do the sync and the rename.
  std::string original = kProgram;
  int copies = 0;
  for (; original.size() < (size_t{5} << 18); ++copies)
    original += "MP12\r\nMP7\r\n ; filler line\r\n";
  const std::string failed = consoleBytes({"File '" + path() + "' could not be written."});
  for (int failing = 1;; ++failing) {
    writeBytes(path(), original);
    failNthFileChange(failing);
    std::string printed = printedByRewrite();
    int64_t changes = fileChangeCount();
    failNthFileChange(0);
    EXPECT_EQ(listDirectory(dir.path), std::vector<std::string>{"Velmarin.asm"});
    if (failing > changes) {
      EXPECT_EQ(printed, summary(copies, 2 * copies));
      EXPECT_GT(failing, 6);
      break;
    }
    EXPECT_EQ(printed, failed) << failing;
    EXPECT_EQ(readBytes(path()), original) << failing;
  }
}

TEST_P(RewriteTest, MissingFile) {
  EXPECT_EQ(captureOutput([&] { runOnFile(u"absent.asm", table, GetParam()); }),
            consoleBytes({"File 'absent.asm' not found.", "File 'absent.asm' not found."}));
  EXPECT_FALSE(fileExists(dir.file("absent.asm")));
}

}  // namespace

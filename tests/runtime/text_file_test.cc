#include "runtime/text_file.h"

#include <sys/stat.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "tests/reference/text_lines.h"
#include "tests/test_seams.h"
#include "tests/test_support.h"

namespace {

struct ReadResult {
  TextFormat format;
  std::vector<std::u16string> lines;
  std::string rest;  // what is left after the last line: a partial unit
};

ReadResult readAll(const std::string& path) {
  ReadResult result{TextFormat::Ansi, {}, {}};
  TextFile* file = openForReading(utf16(path));
  if (!file) return result;
  result.format = readFormat(file);
  std::u16string line;
  while (!atEnd(file, result.format)) {
    readLine(file, result.format, &line);
    result.lines.push_back(line);
  }
  char rest[8];
  result.rest.assign(rest, readBytes(file, rest, sizeof rest));
  EXPECT_TRUE(closeFile(file));
  return result;
}

ReadResult readBytesAsText(const std::string& bytes) {
  ScratchDir dir;
  writeBytes(dir.file("f"), bytes);
  return readAll(dir.file("f"));
}

std::string writeAll(TextFormat format, const std::vector<std::u16string>& lines) {
  ScratchDir dir;
  TextFile* file = createForWriting(dir.file("f"));
  EXPECT_NE(file, nullptr);
  writeFormat(file, format);
  for (const auto& line : lines) writeLine(file, line, format);
  EXPECT_TRUE(closeFile(file));
  return readBytes(dir.file("f"));
}

using Lines = std::vector<std::u16string>;
const std::string kNul(1, '\0');

TEST(ReadFormat, DetectsMarksInPrecedenceOrder) {
  struct Case {
    std::string bytes;
    TextFormat format;
    Lines lines;
  };
  const Case cases[] = {
      {"", TextFormat::Ansi, {}},
      {"\xEF\xBB\xBF", TextFormat::Utf8, {}},
      {"\xEF\xBB", TextFormat::Ansi, {u"\u00EF\u00BB"}},
      {"\xFF\xFE"
       "A" +
           kNul + "\r" + kNul + "\n" + kNul,
       TextFormat::Utf16Le,
       {u"A"}},
      {"\xFF\xFE" + kNul + kNul, TextFormat::Utf32Le, {}},
      {"\xFE\xFF", TextFormat::Utf16Be, {}},
      {kNul + kNul + "\xFE\xFF", TextFormat::Utf32Be, {}},
      {kNul + kNul + "\xFE", TextFormat::Ansi, {u"", u"", u"\u00FE"}},
  };
  for (const Case& c : cases) {
    ReadResult result = readBytesAsText(c.bytes);
    EXPECT_EQ(result.format, c.format) << testing::PrintToString(c.bytes);
    EXPECT_EQ(result.lines, c.lines) << testing::PrintToString(c.bytes);
  }
}

TEST(ReadLine, RecognisesEveryLineEndOnRawBytes) {
  struct Case {
    std::string bytes;
    Lines lines;
  };
  const Case cases[] = {
      {"a\r\nb", {u"a", u"b"}},
      {"a\n\nb\n", {u"a", u"", u"b"}},
      {"a\rb", {u"a", u"b"}},
      {"a\r\r\nb", {u"a", u"", u"b"}},
      {"a\n\rb", {u"a", u"", u"b"}},
      {"a\r", {u"a"}},
      {"ab" + kNul + "cd\n", {u"ab", u"cd"}},
      {"\n", {u""}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(readBytesAsText(c.bytes).lines, c.lines) << testing::PrintToString(c.bytes);
}

// The same line structure in every format: a line end is recognised on the
// unit's value, so CR LF inside a wide unit never splits it.
TEST(ReadLine, WideFormatsSplitOnUnitsOnly) {
  const std::u16string text = u"x\u0D0A\u0A0D\U0001F600";
  for (TextFormat format : {TextFormat::Utf8, TextFormat::Utf16Le, TextFormat::Utf16Be,
                            TextFormat::Utf32Le, TextFormat::Utf32Be}) {
    std::string bytes(byteOrderMark(format));
    for (const std::u16string& piece :
         {text, std::u16string(u"\r"), std::u16string(u"b"), std::u16string(u"\r\n"),
          std::u16string(u"\n"), std::u16string(u"c")})
      encodeText(format, piece, &bytes);
    ReadResult result = readBytesAsText(bytes);
    EXPECT_EQ(result.format, format);
    EXPECT_EQ(result.lines, (Lines{text, u"b", u"", u"c"})) << static_cast<int>(format);
  }
}

TEST(ReadLine, PartialUnitAtTheEndIsNoLineAndIsLeftUnread) {
  // Behind a line end, behind text, behind a CR and behind the mark alike.
  struct Case {
    std::string bytes;
    Lines lines;
    std::string rest;
  };
  const std::string wideA = "A" + kNul + kNul + kNul;
  const std::string wideLineFeed = "\n" + kNul + kNul + kNul;
  const Case cases[] = {
      {"\xFF\xFE"
       "A" +
           kNul + "\n" + kNul + "z",
       {u"A"},
       "z"},
      {"\xFF\xFE"
       "z",
       {},
       "z"},
      {"\xFF\xFE"
       "A" +
           kNul + "z",
       {u"A"},
       "z"},
      {"\xFF\xFE"
       "A" +
           kNul + "\r" + kNul + "z",
       {u"A"},
       "z"},
      {"\xFF\xFE" + kNul + kNul + wideA + wideLineFeed + "z\n", {u"A"}, "z\n"},
      {"\xFF\xFE" + kNul + kNul + wideA + "\n" + kNul, {u"A"}, "\n" + kNul},
      {"\xFF\xFE" + kNul + kNul + "A" + kNul + kNul, {}, "A" + kNul + kNul},
  };
  for (const Case& c : cases) {
    ReadResult result = readBytesAsText(c.bytes);
    EXPECT_EQ(result.lines, c.lines) << testing::PrintToString(c.bytes);
    EXPECT_EQ(result.rest, c.rest) << testing::PrintToString(c.bytes);
  }
}

TEST(ReadLine, LongLinesAndLinesAcrossBufferBoundaries) {
  // Every length around the buffer size, so each kind of line end lands on
  // and beside every boundary.
  for (int length = kFileBufferSize - 6; length <= kFileBufferSize + 4; ++length) {
    for (const char* end : {"\n", "\r\n", "\r"}) {
      std::string first(length, 'x');
      const size_t last = 2 * kFileBufferSize + 8;
      ReadResult result = readBytesAsText(first + end + "tail" + end + std::string(last, 'y'));
      ASSERT_EQ(result.lines.size(), 3u) << length;
      EXPECT_EQ(result.lines[0].size(), static_cast<size_t>(length));
      EXPECT_EQ(result.lines[1], u"tail");
      EXPECT_EQ(result.lines[2].size(), last);
    }
  }
  ReadResult wide = readBytesAsText("\xFF\xFE" + std::string(20000, 'a'));
  ASSERT_EQ(wide.lines.size(), 1u);
  EXPECT_EQ(wide.lines[0], std::u16string(10000, u'\u6161'));
}

TEST(WriteLine, WritesMarkTextAndCrLfInTheFormat) {
  EXPECT_EQ(writeAll(TextFormat::Ansi, {u"a", u"b"}), "a\r\nb\r\n");
  EXPECT_EQ(writeAll(TextFormat::Utf8, {u"", u"\u00E9"}), "\xEF\xBB\xBF\r\n\xC3\xA9\r\n");
  EXPECT_EQ(writeAll(TextFormat::Utf16Le, {u""}), std::string("\xFF\xFE\r\0\n\0", 6));
  EXPECT_EQ(writeAll(TextFormat::Utf16Be, {u"A"}), std::string("\xFE\xFF\0A\0\r\0\n", 8));
  EXPECT_EQ(writeAll(TextFormat::Utf32Le, {}), std::string("\xFF\xFE\0\0", 4));
  EXPECT_EQ(writeAll(TextFormat::Utf32Be, {u""}), std::string("\0\0\xFE\xFF\0\0\0\r\0\0\0\n", 12));
}

TEST(WriteLine, WhatIsReadIsWrittenBackByteForByte) {
  const std::string inputs[] = {
      "a\r\nb",                                            // no final line end: one is added
      "\xEF\xBB\xBF\xE2\x82\x41\r\n",                      // malformed UTF-8 comes back as U+FFFD
      std::string("\xFE\xFF\xD8\x00\x00\x0D\x00\x0A", 8),  // unpaired surrogate kept
  };
  const std::string expected[] = {
      "a\r\nb\r\n",
      "\xEF\xBB\xBF\xEF\xBF\xBD"
      "A\r\n",
      std::string("\xFE\xFF\xD8\x00\x00\x0D\x00\x0A", 8),
  };
  for (int i = 0; i < 3; ++i) {
    ReadResult result = readBytesAsText(inputs[i]);
    EXPECT_EQ(writeAll(result.format, result.lines), expected[i]) << i;
  }
}

TEST(Buffer, WritesGoOutOnlyWhenTheNextPieceDoesNotFit) {
  ScratchDir dir;
  TextFile* file = createForWriting(dir.file("f"));
  ASSERT_NE(file, nullptr);
  failNthFileChange(0);
  const std::string first(kFileBufferSize - 1, 'a'), large(kFileBufferSize + 904, 'c');
  writeBytes(file, first.data(), kFileBufferSize - 1);
  EXPECT_EQ(fileChangeCount(), 0);  // fits: buffered
  writeBytes(file, "b", 1);         // exactly the free space: counts as not fitting
  EXPECT_EQ(fileChangeCount(), 1);
  EXPECT_EQ(readBytes(dir.file("f")), first);
  writeBytes(file, large.data(), large.size());  // larger than the buffer: straight through
  EXPECT_EQ(fileChangeCount(), 3);
  EXPECT_TRUE(closeFile(file));
  EXPECT_EQ(readBytes(dir.file("f")), first + "b" + large);
}

TEST(Buffer, SwitchingBetweenReadingAndWritingKeepsThePosition) {
  ScratchDir dir;
  writeBytes(dir.file("f"), std::string(10000, '.'));
  TextFile* file = createForWriting(dir.file("f"));
  ASSERT_NE(file, nullptr);
  writeBytes(file, std::string(10000, '.').data(), 10000);
  seekFile(file, 0);
  char head[10];
  EXPECT_EQ(readBytes(file, head, 10), 10);
  writeBytes(file, "XY", 2);
  EXPECT_EQ(filePosition(file), 12);
  char next[3] = {};
  EXPECT_EQ(readBytes(file, next, 2), 2);
  EXPECT_EQ(filePosition(file), 14);
  writeBytes(file, "Z", 1);
  EXPECT_TRUE(closeFile(file));
  std::string expected(10000, '.');
  expected.replace(10, 2, "XY");
  expected[14] = 'Z';
  EXPECT_EQ(readBytes(dir.file("f")), expected);
}

// What is there but is no file on a disk: a directory, and the platform's
// FIFOs and devices.
std::vector<std::string> notRegularFiles(const ScratchDir& dir) {
  std::filesystem::create_directory(dir.file("dir"));
#if defined(_WIN32)
  return {dir.file("dir"), "NUL", "CON"};
#else
  EXPECT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  return {dir.file("dir"), dir.file("fifo"), "/dev/zero", "/dev/null"};
#endif
}

TEST(Open, RefusesWhatIsNotARegularFileWithoutBlocking) {
  ScratchDir dir;
  for (const std::string& path : notRegularFiles(dir)) {
    EXPECT_EQ(openForReading(utf16(path)), nullptr) << path;
  }
  EXPECT_EQ(openForReading(utf16(dir.file("missing"))), nullptr);
  EXPECT_FALSE(fileExists(dir.file("missing")));
}

TEST(Open, CloseAllWritesOutEveryBuffer) {
  ScratchDir dir;
  TextFile* file = createForWriting(dir.file("f"));
  ASSERT_NE(file, nullptr);
  writeLine(file, u"kept", TextFormat::Ansi);
  TextFile* second = createForWriting(dir.file("g"));
  writeLine(second, u"also", TextFormat::Utf16Le);
  EXPECT_EQ(readBytes(dir.file("f")), "");  // still in the buffer
  closeAllFiles();
  EXPECT_EQ(readBytes(dir.file("f")), "kept\r\n");
  EXPECT_EQ(readBytes(dir.file("g")), std::string("a\0l\0s\0o\0\r\0\n\0", 12));
}

TEST(Write, FailureOfAnyWriteIsReportedByTheClose) {
  ScratchDir dir;
  for (int failing = 1; failing <= 3; ++failing) {
    TextFile* file = createForWriting(dir.file("f"));
    ASSERT_NE(file, nullptr);
    failNthFileChange(failing);
    const std::string piece(kFileBufferSize + 1000, 'x');
    for (int i = 0; i < 3; ++i) writeBytes(file, piece.data(), piece.size());
    EXPECT_FALSE(closeFile(file)) << failing;
  }
  failNthFileChange(0);
}

}  // namespace

// The block scan and the rewrite from its edits against the reference way,
// line by line through the patterns: the same console lines and the same
// bytes, on generated files, across block boundaries, on tiny files and on
// files with many edits. The sizes the work is done in are made small, so
// that kilobytes meet the edges that megabytes meet in the program; the soak
// suite runs the same cases at the program's own sizes.
#include "app/split_scan.h"

#include <algorithm>
#include <random>

#include <gtest/gtest.h>

#include "app/driver.h"
#include "app/edit_list.h"
#include "app/line_text.h"
#include "runtime/os.h"
#include "runtime/pattern.h"
#include "runtime/text_codec.h"
#include "tests/test_seams.h"
#include "tests/test_support.h"

namespace {

// Pieces that the rules care about, near misses, and characters whose case
// folding might trip a careless matcher (long s, Kelvin sign, dotted I).
const std::u16string kPieces[] = {
    u"_Procedure",
    u"_PROCEDURE",
    u"_procedur",
    u"_Pr\u00F6cedure",
    u"_Proc\u0435dure",
    u"MP",
    u"mp",
    u"Mp",
    u"M",
    u"P",
    u"macro MP",
    u"macro mp",
    u"}",
    u";",
    u":",
    u"::",
    u" ",
    u"  ",
    u"\t",
    u"0",
    u"12",
    u"007",
    u"9",
    u"x",
    u"_",
    u"\u017F",
    u"\u212A",
    u"\u0130",
    u"\u00E9",
    u"\U0001F600",
    std::u16string(1, 0xD800),
    u"call ",
    u"dq ",
    u"[",
    u"ma",
    u"a",
    u"p",
    u"\u2028",
    u"\u0085",
};

std::u16string randomLine(std::mt19937& random) {
  std::u16string line;
  int pieces = random() % 8;
  for (int i = 0; i < pieces; ++i) line += kPieces[random() % std::size(kPieces)];
  return line;
}

// A file of generated lines with some structure: blocks, labels, references,
// invocations, every kind of line end, in the given format.
std::string randomFile(std::mt19937& random, TextFormat format) {
  std::u16string text;
  const std::u16string ends[] = {u"\r\n", u"\n", u"\r", std::u16string(1, u'\0'), u"\r\r\n"};
  for (int i = 0, lines = random() % 60; i < lines; ++i) {
    std::string n = std::to_string(random() % 8);
    std::u16string digits(n.begin(), n.end());
    switch (random() % 7) {
      case 0: text += u"macro MP" + digits + u"{"; break;
      case 1: text += u"_Procedure" + digits + u":"; break;
      case 2: text += u"}"; break;
      case 3: text += u"  MP" + digits + u" "; break;
      case 4: text += u" call _Procedure" + digits + u", _PROCEDURE" + digits; break;
      default: text += randomLine(random);
    }
    if (i + 1 < lines || random() % 2) text += ends[random() % std::size(ends)];
  }
  std::string bytes(byteOrderMark(format));
  encodeText(format, text, &bytes);
  return bytes;
}

const TextFormat kFormats[] = {TextFormat::Ansi,    TextFormat::Utf8,    TextFormat::Utf16Le,
                               TextFormat::Utf16Be, TextFormat::Utf32Le, TextFormat::Utf32Be};

class BlockScanTest : public testing::Test {
 protected:
  void SetUp() override { initPatterns(); }

  // Console output and resulting bytes of a whole run over input.
  std::string runOne(const std::string& input, RunWay way) {
    writeBytes(dir.file("Velmarin.asm"), input);
    ProcedureTable table;
    std::string console =
        captureOutput([&] { runOnFile(utf16(dir.file("Velmarin.asm")), table, way); });
    return console + readBytes(dir.file("Velmarin.asm"));
  }

  // Runs input both ways; they must agree. Returns the result.
  std::string agree(const std::string& input) {
    std::string reference = runOne(input, RunWay::Reference);
    std::string tool = runOne(input, RunWay::Tool);
    EXPECT_TRUE(sameBytes(tool, reference)) << testing::PrintToString(input.substr(0, 200));
    return tool;
  }

  // Where two results part, with a little of each there: whole files of
  // megabytes are no message.
  static testing::AssertionResult sameBytes(const std::string& got, const std::string& wanted) {
    if (got == wanted) return testing::AssertionSuccess();
    size_t at =
        std::mismatch(got.begin(), got.end(), wanted.begin(), wanted.end()).first - got.begin();
    return testing::AssertionFailure()
           << "sizes " << got.size() << " and " << wanted.size() << ", first difference at " << at
           << ": " << testing::PrintToString(got.substr(at, 40)) << " instead of "
           << testing::PrintToString(wanted.substr(at, 40));
  }

  // The cases that scale: each runs here with small data, and in the soak
  // suite with the data the program's own sizes need.

  void expectGeneratedFilesToAgree(int files) {
    std::mt19937 random(13);
    int removedSome = 0;
    for (int i = 0; i < files && !HasFailure(); ++i)
      removedSome +=
          agree(randomFile(random, kFormats[i % 6])).find("AUTOMATICALLY") != std::string::npos;
    EXPECT_GT(removedSome, files / 6);  // the files reach the interesting cases
  }

  // Blocks of a few bytes put a block boundary inside every kind of line,
  // line end and unit of the generated files.
  void expectTinyBlocksToAgree(int files) {
    std::mt19937 random(17);
    for (int i = 0; i < files && !HasFailure(); ++i) {
      std::string input = randomFile(random, kFormats[i % 6]);
      std::string reference = runOne(input, RunWay::Reference);
      for (int64_t block : {1, 2, 3, 5, 8, 13}) {
        useBlockSize(block);
        std::string tool = runOne(input, RunWay::Tool);
        useBlockSize(0);
        ASSERT_EQ(tool, reference) << block << " " << testing::PrintToString(input);
      }
    }
  }

  // A file split in two, its second half scanned meanwhile on a thread of
  // its own, gives the same result wherever the split falls: inside a block
  // or outside, before its label or after, just before a "}" or a label line
  // whose meaning depends on the block that the first half ends in, between
  // the CR and the LF of a line end; with tiny blocks as well.
  // Where the helper runs out of memory part way, the main thread scans its
  // half instead, with the same result.
  void expectSplitsAnywhereToAgree(int files, int widestStep, bool helperFails = false) {
    if (!os::copyRangeKeepsPosition()) GTEST_SKIP() << "no split where offsets move the position";
    std::mt19937 random(19);
    for (int i = 0; i < files && !HasFailure(); ++i) {
      std::string input = randomFile(random, kFormats[i % 6]);
      std::string reference = runOne(input, RunWay::Reference);
      for (size_t at = 0; at < input.size(); at += 1 + random() % widestStep) {
        splitScanAt(static_cast<int64_t>(at));
        useBlockSize(at % 2 ? 7 : 0);
        failHelperScans(helperFails);
        std::string tool = runOne(input, RunWay::Tool);
        failHelperScans(false);
        useBlockSize(0);
        splitScanAt(-1);
        ASSERT_EQ(tool, reference) << at << " " << testing::PrintToString(input);
      }
    }
  }

  // Every rule must work on a line that a block's end cuts, and on a CR LF
  // that it splits: the block of the given size is the first read, and ends
  // at the given offset after the mark.
  void expectLinesAcrossABlocksEndToAgree(size_t block) {
    const std::u16string constructs[] = {
        u"\r\n",
        u"MP2 ; an invocation of a dead procedure\r\n",
        u"macro MP5{\r\n_Procedure5:\r\n call _Procedure7\r\n}\r\n",
        u"  call _Procedure3, _pROCEDURE123456789012345678901\n",
        u"_Procedure9: with text after it\r",
    };
    const std::u16string head = u"macro MP1{\r\n_Procedure1:\r\n}\r\ncall _Procedure1\r\n";
    const std::u16string filler = u" mov rax, qword [rbp-8]\r\n";
    for (TextFormat format : {TextFormat::Ansi, TextFormat::Utf16Le, TextFormat::Utf32Be}) {
      const size_t unit = unitSize(format);
      for (const std::u16string& construct : constructs) {
        for (size_t split = 0; split <= construct.size();
             split += std::max<size_t>(1, construct.size() / 5)) {
          // Fill up to where the boundary falls split units into the construct.
          std::u16string text = head;
          size_t wanted = block / unit - split;
          while (text.size() + filler.size() <= wanted) text += filler;
          size_t pad = wanted - text.size();
          text += pad >= 2 ? std::u16string(pad - 2, u'x') + u"\r\n" : std::u16string(pad, u'x');
          text += construct + u"MP1\r\nMP2\r\nMP5\r\nMP9";
          std::string bytes(byteOrderMark(format));
          encodeText(format, text, &bytes);
          agree(bytes);
          if (HasFailure()) return;
        }
      }
    }
  }

  // Programs of many blocks, large enough that their beginning is copied
  // while the scan reads on: in UTF-8 and in UTF-16BE, and with LF alone or
  // CR alone and some CR LF, whose line ends are mended as they are copied.
  void expectLargeProgramsToAgree(int procedures) {
    const std::string program = largeProgram(procedures, 7);
    std::string result = agree(program);
    EXPECT_NE(
        result.find(consoleBytes({"Found " + std::to_string(procedures) + " procedure macros."})),
        std::string::npos);
    std::u16string text = utf16(program);
    std::string wide(byteOrderMark(TextFormat::Utf16Be));
    encodeText(TextFormat::Utf16Be, text, &wide);
    agree(wide);
    for (char lineEnd : {'\n', '\r'}) {
      std::string alone;
      size_t lines = 0;
      for (size_t i = 0; i < program.size(); ++i) {
        if (program[i] != '\r' || program[i + 1] != '\n') {
          alone += program[i];
          continue;
        }
        // Every 97th line keeps its CR LF, so that stretches of both kinds meet.
        alone += ++lines % 97 == 0 ? std::string("\r\n") : std::string(1, lineEnd);
        ++i;
      }
      // Every line end becomes CR LF: the same file as from the CR LF program.
      EXPECT_TRUE(sameBytes(agree(alone), result)) << "line end " << int(lineEnd);
    }
  }

  // Neither line ends to mend nor invocation lines have a cap: many
  // invocations, and many lines with LF alone, come out as the reference
  // makes them.
  void expectManyInvocationsAndLoneLineEndsToAgree(size_t invocationCount, size_t lineCount) {
    std::string invocations = "macro MP1{\n_Procedure1:\n}\ncall _Procedure1\n";
    for (size_t i = 0; i < invocationCount; ++i) invocations += i % 2 ? "MP1\n" : "  mp2 \r";
    std::string result = agree(invocations);
    EXPECT_NE(result.find("; mp2; AUTOMATICALLY REMOVED\r\nMP1\r\n"), std::string::npos);
    const std::string half = std::to_string(invocationCount / 2);
    EXPECT_NE(
        result.find(consoleBytes({"Removed " + half + " out of " + std::to_string(invocationCount) +
                                  " used procedure macros."})),
        std::string::npos);
    std::string lines;
    for (size_t i = 0; i < lineCount; ++i) lines += i % 1000 ? "x\n" : "dq _Procedure1\n";
    agree(lines);
  }

  // The copy that runs while the scan reads on, and the rewrite after it,
  // mend in pieces: a CR LF across every piece's edge of a file that has
  // line ends to mend everywhere and is large enough for that copy stays
  // one line end.
  void expectCrLfAcrossMendedPiecesToAgree(size_t piece, size_t size) {
    std::string text = "macro MP1{\n_Procedure1:\n}\n";
    for (size_t edge = piece; edge < size; edge += piece) {
      while (text.size() + 41 < edge) text += std::string(39, 'x') + "\n";
      text += std::string(edge - 1 - text.size(), 'y') + "\r\n";
    }
    agree(text + "MP1\nMP2\n");
  }

  // Lines longer than a block are judged in pieces as they stream by: every
  // kind of line, with what decides it (a reference, a label's colons, the
  // spaces before an invocation) across the pieces' edges.
  void expectLongLinesToAgree(size_t longUnits) {
    const std::u16string longSpaces(longUnits, u' ');
    // Labels named nowhere else, so that each reference split and lost shows.
    std::u16string references = u"dq ", invocations;
    int named = 0;
    for (; references.size() < longSpaces.size(); ++named) {
      references += u"_Procedure" + decimal(100 + named) + u", x, _pROCEDURE";
      invocations += u"MP" + decimal(100 + named) + u"\r\n";
    }
    const std::u16string colons(longSpaces.size(), u':');
    const std::u16string text =
        u"macro MP2{\r\n_Procedure2:\r\n}\r\nmacro MP3{\r\n_Procedure3:\r\n}\r\n" + references +
        u"3\r\n; " + references + u"11\r\n" +
        // Labels: one followed by colons and spaces alone, one by more.
        u"macro MP4{\r\n_Procedure4" + colons + u"  \r\n call _Procedure5\r\n}" + longSpaces +
        u"\r\nmacro MP6{ " + longSpaces + u"\n  _procedure6" + colons +
        u" :\r\ncall _Procedure7\n}\r\n" +
        // No label line, though it starts like one: a reference.
        u"macro MP12{\r\n_Procedure12" + longSpaces + u"x\r\n}\r\n" +
        // Invocations after long spaces, with long spaces inside and after.
        longSpaces + u"MP8 ; after spaces\r\n mp9" + longSpaces + u"x" + longSpaces + u"\r\n" +
        u"call _Procedure4, "
        u"_procedure6\r\nMP2\r\nMP3\r\nMP4\r\nMP5\r\nMP6\r\nMP7\r\nMP10\r\nMP11\r\nMP12\r\n" +
        invocations + u"dd _Procedure10, " + references;  // the last line has no end
    for (TextFormat format : {TextFormat::Ansi, TextFormat::Utf16Le, TextFormat::Utf32Be}) {
      std::string bytes(byteOrderMark(format));
      encodeText(format, text, &bytes);
      std::string result = agree(bytes);
      std::string counts =
          "Removed 7 out of " + std::to_string(11 + named) + " used procedure macros.";
      EXPECT_NE(result.find(consoleBytes({counts})), std::string::npos);
    }
  }

  // A compiler's address table: one long line holding many references; and
  // a dead invocation line far longer than the rewrite's window, whose
  // comment is written as it streams by.
  void expectAnAddressTableAndAHugeDeadInvocationToAgree(size_t tableBytes, size_t deadBytes) {
    std::string table = "macro MP1{\r\n_Procedure1:\r\n}\r\nmacro MP2{\r\n_Procedure2:\r\n}\r\ndd ";
    for (int i = 0; table.size() < tableBytes; ++i)
      table += "_Procedure" + std::to_string(i % 1000 + 3) + std::string(50, ' ') + ", ";
    table += "_Procedure1\r\nMP1\r\nMP2\r\n";
    EXPECT_NE(agree(table).find(consoleBytes({"Removed 1 out of 2 used procedure macros."})),
              std::string::npos);

    std::string tail;
    while (tail.size() < deadBytes) tail += " x  _Procedure1 ";
    // Its line ends in a CR alone: the next line's first unit is no LF.
    writeBytes(dir.file("Velmarin.asm"), "call _Procedure1\r\n  MP2" + tail + "   \rMP1");
    ProcedureTable table2;
    std::string console =
        captureOutput([&] { runOnFile(utf16(dir.file("Velmarin.asm")), table2, RunWay::Tool); });
    EXPECT_EQ(console, consoleBytes({"Found 0 procedure macros.",
                                     "Removed 1 out of 2 used procedure macros."}));
    tail.pop_back();  // its last space is trimmed
    EXPECT_TRUE(
        sameBytes(readBytes(dir.file("Velmarin.asm")),
                  "call _Procedure1\r\n; MP2" + tail + "; AUTOMATICALLY REMOVED\r\nMP1\r\n"));
  }

  void expectTinyFilesToAgree(size_t everyNthOfThree) {
    const char alphabet[] = {'\r', '\n', '\0', ' ', 'M', 'P', '1', '\xFF', '\xFE'};
    std::vector<std::string> inputs{""};
    for (int length = 1; length <= 3; ++length) {
      std::vector<std::string> longer;
      for (const std::string& shorter : inputs)
        if (shorter.size() == static_cast<size_t>(length - 1))
          for (char c : alphabet) longer.push_back(shorter + c);
      inputs.insert(inputs.end(), longer.begin(), longer.end());
    }
    for (size_t i = 0; i < inputs.size() && !HasFailure(); ++i)
      if (inputs[i].size() < 3 || i % everyNthOfThree == 0) agree(inputs[i]);
  }

  ScratchDir dir;
};

// The work's sizes made small for a test's life.
struct SmallSizes {
  explicit SmallSizes(int64_t bytes) { useSmallSizes(bytes); }
  ~SmallSizes() { useSmallSizes(0); }
  SmallSizes(const SmallSizes&) = delete;
  SmallSizes& operator=(const SmallSizes&) = delete;
};

// The scaled cases at the program's own sizes, run by the soak stage.
class SoakBlockScanTest : public BlockScanTest {};

TEST_F(SoakBlockScanTest, GeneratedFilesGiveTheSameResultEitherWay) {
  expectGeneratedFilesToAgree(3000);
}
TEST_F(SoakBlockScanTest, TinyBlocksGiveTheSameResult) { expectTinyBlocksToAgree(600); }
TEST_F(SoakBlockScanTest, SplitsAnywhereGiveTheSameResult) { expectSplitsAnywhereToAgree(600, 24); }
TEST_F(SoakBlockScanTest, LinesAcrossBlockBoundaries) {
  expectLinesAcrossABlocksEndToAgree(size_t{1} << 20);
}
TEST_F(SoakBlockScanTest, LargeProgramsGiveTheSameResult) {
  expectLargeProgramsToAgree(5000);  // about 12 MB
}
TEST_F(SoakBlockScanTest, MillionsOfInvocationsAndLoneLineEnds) {
  expectManyInvocationsAndLoneLineEndsToAgree(1200000, 10000000);
}
TEST_F(SoakBlockScanTest, CrLfAcrossTheEdgeOfAMendedPiece) {
  expectCrLfAcrossMendedPiecesToAgree(size_t{512} << 10, size_t{12} << 20);
}
TEST_F(SoakBlockScanTest, LinesLongerThanABlockAreJudgedInPieces) {
  expectLongLinesToAgree(size_t{5} << 19);
}
TEST_F(SoakBlockScanTest, AnAddressTableLineAndAHugeDeadInvocation) {
  expectAnAddressTableAndAHugeDeadInvocationToAgree(size_t{64} << 20, 300000000);
}

TEST_F(BlockScanTest, GeneratedFilesGiveTheSameResultEitherWay) {
  expectGeneratedFilesToAgree(200);
}

TEST_F(BlockScanTest, TinyBlocksGiveTheSameResult) { expectTinyBlocksToAgree(60); }

TEST_F(BlockScanTest, SplitsAnywhereGiveTheSameResult) { expectSplitsAnywhereToAgree(12, 36); }
TEST_F(BlockScanTest, AHelperOutOfMemoryLeavesTheResultExact) {
  expectSplitsAnywhereToAgree(6, 36, true);
}

// A second half that meets a "}" or a label line before any block opens in
// it learns whether it starts inside a block by looking back, in steps (of
// 64 KiB in the program, 4 KiB here), for the nearest line that opens a block or starts with "}":
// past lines that decide nothing, to one whose spaces before it are longer than a step, or one that
// a step's edge cuts three units in.
TEST_F(BlockScanTest, ASecondHalfLooksBackForTheBlockItStartsIn) {
  if (!os::copyRangeKeepsPosition()) GTEST_SKIP() << "no split where offsets move the position";
  SmallSizes small(4096);
  const std::u16string spaces(6000, u' '), opening = u"macro MP1{\r\n_Procedure1:\r\n";
  // Exactly units units of lines that decide nothing.
  auto filler = [](size_t units) {
    const std::u16string lines =
        u" call _Procedure2\r\n MP3\r\n; }\r\nx}\r\n macro mp\r\n mov rax, 1\n";
    std::u16string text;
    while (text.size() + lines.size() + 2 <= units) text += lines;
    return text + std::u16string(units - text.size() - 2, u'x') + u"\r\n";
  };
  const std::u16string tails[] = {
      u"}\r\ncall _Procedure1\r\n",
      u"_Procedure4:\r\n call _Procedure5\r\n}\r\ncall _Procedure4\r\n",
      u"_Procedure4 dq 0\r\n}\r\n",
      // A label line only inside a block: outside, both are the main code's.
      u"_Procedure4:\r\n call _Procedure5\r\n}\r\n",
  };
  for (TextFormat format : {TextFormat::Ansi, TextFormat::Utf16Be, TextFormat::Utf32Le}) {
    const size_t step = 4096 / unitSize(format);
    const std::u16string deciders[] = {
        opening + filler(5000),
        spaces + opening + filler(5000),
        opening + spaces + u"}\r\n" + filler(5000),
        opening + u"}\r\n" + filler(5000),
        opening + filler(step + 3 - opening.size()),
    };
    for (const std::u16string& decider : deciders) {
      for (const std::u16string& tail : tails) {
        std::u16string before = u"format ELF64\r\n" + decider;
        std::u16string text = before + tail + u"MP1\r\nMP2\r\nMP3\r\nMP4\r\nMP5\r\n";
        std::string bytes(byteOrderMark(format));
        encodeText(format, text, &bytes);
        // At the last unit before the tail, the line end that the split follows.
        splitScanAt(static_cast<int64_t>(byteOrderMark(format).size() +
                                         (before.size() - 1) * unitSize(format)));
        agree(bytes);
        splitScanAt(-1);
        if (HasFailure()) return;
      }
    }
  }
}

// Every file of up to three units of an alphabet of line ends, marks and
// a rule's pieces; the everyday run takes every third file of three.
TEST_F(BlockScanTest, TinyFilesOfEveryShape) { expectTinyFilesToAgree(3); }
TEST_F(SoakBlockScanTest, TinyFilesOfEveryShape) { expectTinyFilesToAgree(1); }

TEST_F(BlockScanTest, LinesAcrossBlockBoundaries) {
  SmallSizes small(4096);
  expectLinesAcrossABlocksEndToAgree(4096);
}

TEST_F(BlockScanTest, LargeProgramsGiveTheSameResult) {
  SmallSizes small(16 << 10);
  expectLargeProgramsToAgree(200);  // about 480 KB, thirty copy steps
}

TEST_F(BlockScanTest, ManyInvocationsAndLoneLineEnds) {
  SmallSizes small(16 << 10);
  expectManyInvocationsAndLoneLineEndsToAgree(60000, 300000);
}

// The rewrite mends line ends only in the stretches where the scan saw one
// to mend, and copies the others as they are: a CR LF split between such a
// stretch and its neighbour, on either side, stays one line end.
TEST_F(BlockScanTest, CrLfAcrossTheEdgeOfAStretchWithLineEndsToMend) {
  for (TextFormat format : {TextFormat::Ansi, TextFormat::Utf16Be, TextFormat::Utf32Le}) {
    const size_t unit = static_cast<size_t>(unitSize(format));
    for (int shift = -2; shift <= 1; ++shift) {
      for (bool loneFirst : {true, false}) {
        // The CR of one CR LF lands just before, on or after a stretch's edge.
        std::u16string text = loneFirst ? u"MP1\n" : u"";
        size_t carriageReturnAt = kMendRegionSize / unit + shift;
        while (text.size() + 101 < carriageReturnAt) text += std::u16string(99, u'x') + u"\r\n";
        text += std::u16string(carriageReturnAt - text.size() - 1, u'y') + u"\r\n";
        text += std::u16string(60000, u'z') + u"\r\n";
        if (!loneFirst) text += u"MP1\n";
        text += u"MP2\r\nend";
        std::string bytes(byteOrderMark(format));
        encodeText(format, text, &bytes);
        agree(bytes);
        if (HasFailure()) return;
      }
    }
  }
}

// A removed line ends off a region's edge; the stretch copied after it
// ends on the next edge, whatever its start: a lone LF just past that edge,
// or a CR LF split across it, is in the next region's stretch. Either kind
// of region may come first.
TEST_F(BlockScanTest, AStretchAfterARemovedLineEndsOnARegionsEdge) {
  const size_t region = static_cast<size_t>(kMendRegionSize);
  for (bool loneFirst : {false, true}) {
    for (size_t into : {size_t{1}, size_t{7}, region / 2}) {
      std::string text = loneFirst ? "x\n" : "x\r\n";
      text += "MP2 ; removed: the stretch after it starts off an edge\r\n";
      while (text.size() + 30 < region - 2) text += std::string(26, 'w') + "\r\n";
      text += std::string(region - 2 - text.size(), 'v') + "\r\n";
      // The next region: a line end of the other kind, into it.
      text += std::string(into, 'u') + (loneFirst ? "\r\n" : "\n");
      while (text.size() < 3 * region) text += loneFirst ? "t\r\n" : "t\n";
      agree(text + "MP2\r\n");
      if (HasFailure()) return;
    }
  }
}

TEST_F(BlockScanTest, CrLfAcrossTheEdgeOfAMendedPiece) {
  SmallSizes small(4096);
  expectCrLfAcrossMendedPiecesToAgree(4096, 300 << 10);
}

// Lines of many '_' each: what a line's units need of it is found once per
// line, and each kind of line must still be judged as a whole (a comment, a
// label line with references after it, a reference at a line's start inside
// a macro, references before a comment).
TEST_F(BlockScanTest, LinesOfManyUnderscoresAreJudgedAsWholeLines) {
  std::string many;
  for (int i = 0; i < 20000; ++i) many += i % 3 ? "_" : "_Procedure3,_P";
  for (const std::string& line :
       {"; " + many + "_Procedure2", "_Procedure2: " + many + "_Procedure3",
        "  " + many + "_Procedure2", "dd " + many + " ; _Procedure2", "\t" + many,
        many + "\r\n" + many + "_Procedure2"}) {
    std::string input = "macro MP2{\r\n_Procedure2:\r\n}\r\nmacro MP3{\r\n" + line + "\r\n}\r\n" +
                        line + "\nMP2\rMP3\r\n";
    agree(input);
  }
}

TEST_F(BlockScanTest, LinesLongerThanABlockAreJudgedInPieces) {
  SmallSizes small(4096);
  expectLongLinesToAgree(10000);
}

TEST_F(BlockScanTest, AnAddressTableLineAndAHugeDeadInvocation) {
  SmallSizes small(4096);
  expectAnAddressTableAndAHugeDeadInvocationToAgree(256 << 10, 1 << 20);
}

}  // namespace

// The part before the first edit is copied while the scan reads on; a write
// that fails there, as anywhere else, keeps the file and says so.
TEST_F(BlockScanTest, AFailedWriteInTheBackgroundCopyKeepsTheFile) {
  std::string original = "macro MP1{\r\n_Procedure1:\r\n}\r\ncall _Procedure1\r\n";
  SmallSizes small(16 << 10);
  while (original.size() < (size_t{300} << 10)) original += " mov rax, qword [rbp-8]\r\n";
  original += "MP1\r\nMP2\r\n";
  const std::string path = dir.file("Velmarin.asm");
  const std::string failed =
      consoleBytes({"Found 1 procedure macros.", "File '" + path + "' could not be written."});
  for (int failing = 1;; ++failing) {
    writeBytes(path, original);
    ProcedureTable table;
    failNthFileChange(failing);
    std::string printed = captureOutput([&] { runOnFile(utf16(path), table, RunWay::Tool); });
    int64_t changes = fileChangeCount();
    failNthFileChange(0);
    EXPECT_EQ(listDirectory(dir.path), std::vector<std::string>{"Velmarin.asm"}) << failing;
    if (failing > changes) {
      EXPECT_EQ(printed, consoleBytes({"Found 1 procedure macros.",
                                       "Removed 1 out of 2 used procedure macros."}));
      EXPECT_GT(failing, 4);  // the copy's steps among them
      break;
    }
    EXPECT_EQ(printed, failed) << failing;
    EXPECT_EQ(readBytes(path), original) << failing;
    if (HasFailure()) break;
  }
}

// The shortcuts against the plain path, on many generated lines and files.
#include "app/line_shortcuts.h"

#include <random>

#include <gtest/gtest.h>

#include "app/line_text.h"
#include "app/driver.h"
#include "runtime/text_codec.h"
#include "tests/test_support.h"

namespace {

// Pieces that the patterns care about, near misses, and characters whose case
// folding might trip a careless matcher (long s, Kelvin sign, dotted I).
const std::u16string kPieces[] = {
    u"_Procedure", u"_PROCEDURE", u"_procedur", u"_Pr\u00F6cedure", u"_Proc\u0435dure",
    u"MP",         u"mp",         u"Mp",        u"M",              u"P",
    u"macro MP",   u"macro mp",   u"}",         u";",              u":",
    u"::",         u" ",          u"  ",        u"\t",             u"0",
    u"12",         u"007",        u"9",         u"x",              u"_",
    u"\u017F",     u"\u212A",     u"\u0130",    u"\u00E9",         u"\U0001F600",
    std::u16string(1, 0xD800),    u"call ",     u"dq ",            u"[",
};

std::u16string randomLine(std::mt19937& random) {
  std::u16string line;
  int pieces = random() % 8;
  for (int i = 0; i < pieces; ++i) line += kPieces[random() % std::size(kPieces)];
  return line;
}

TEST(LineShortcuts, PreChecksAgreeWithThePatterns) {
  initPatterns();
  Pattern reference = createPattern(kReferencePattern, kCaseInsensitive);
  Pattern label = createPattern(kLabelPattern, kCaseInsensitive);
  Pattern invocation = createPattern(kInvocationPattern, kCaseInsensitive);
  std::mt19937 random(7);
  int references = 0, labels = 0, invocations = 0;
  for (int i = 0; i < 200000; ++i) {
    std::u16string line = randomLine(random);
    if (i % 4 == 0) line = u"_Procedure" + kPieces[random() % std::size(kPieces)] + line;
    std::u16string_view trimmed = trimChar(line);
    ASSERT_EQ(mayHoldReference(trimmed), patternMatches(reference, trimmed) == 1)
        << testing::PrintToString(line);
    ASSERT_EQ(mayBeLabelLine(trimmed), patternMatches(label, trimmed) == 1)
        << testing::PrintToString(line);
    ASSERT_EQ(mayBeInvocation(trimmed), patternMatches(invocation, trimmed) == 1)
        << testing::PrintToString(line);
    references += mayHoldReference(trimmed);
    labels += mayBeLabelLine(trimmed);
    invocations += mayBeInvocation(trimmed);
  }
  // The generator must reach both answers of every check.
  EXPECT_GT(references, 1000);
  EXPECT_GT(labels, 100);
  EXPECT_GT(invocations, 1000);
}

TEST(LineShortcuts, UnchangedLinesGoBackAsTheyWouldAfterConversion) {
  std::mt19937 random(11);
  static const char kAlphabet[] =
      "aZ \t\x80\x81\xC3\xA9\xED\xA0\xF0\x9F\x98\x80\xFF\xFE\x00\xD8\x10\x11";
  const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
  for (TextFormat format : {TextFormat::Ansi, TextFormat::Utf8, TextFormat::Utf16Le,
                            TextFormat::Utf16Be, TextFormat::Utf32Le, TextFormat::Utf32Be}) {
    int roundTrips = 0;
    for (int i = 0; i < 20000; ++i) {
      std::string raw;
      int length = (random() % 6) * unitSize(format);
      for (int k = 0; k < length; ++k) raw.push_back(alphabet[random() % alphabet.size()]);
      std::u16string text;
      std::string again;
      decodeText(format, raw, &text);
      encodeText(format, text, &again);
      ASSERT_EQ(roundTripsUnchanged(format, raw), again == raw)
          << static_cast<int>(format) << testing::PrintToString(raw);
      if (isAsciiText(format, raw)) {
        ASSERT_EQ(text, std::u16string(raw.begin(), raw.end()));
      }
      roundTrips += again == raw;
    }
    EXPECT_GT(roundTrips, 1000) << static_cast<int>(format);
  }
}

// A file of generated lines with some structure: blocks, labels, references,
// invocations, in the given format.
std::string randomFile(std::mt19937& random, TextFormat format) {
  std::u16string text;
  const char16_t* const ends[] = {u"\r\n", u"\n", u"\r"};
  for (int i = 0, lines = random() % 60; i < lines; ++i) {
    std::string n = std::to_string(random() % 8);
    std::u16string digits(n.begin(), n.end());
    switch (random() % 6) {
      case 0: text += u"macro MP" + digits + u"{"; break;
      case 1: text += u"_Procedure" + digits + u":"; break;
      case 2: text += u"}"; break;
      case 3: text += u"  MP" + digits + u" "; break;
      default: text += randomLine(random);
    }
    text += ends[random() % 3];
  }
  std::string bytes(byteOrderMark(format));
  encodeText(format, text, &bytes);
  return bytes;
}

TEST(LineShortcuts, WholeRunsGiveTheSameBytesWithAndWithout) {
  initPatterns();
  ScratchDir dir;
  std::u16string path = utf16(dir.file("Velmarin.asm"));
  std::mt19937 random(13);
  const TextFormat formats[] = {TextFormat::Ansi, TextFormat::Utf8, TextFormat::Utf16Le,
                                TextFormat::Utf16Be, TextFormat::Utf32Le, TextFormat::Utf32Be};
  for (int i = 0; i < 600; ++i) {
    std::string input = randomFile(random, formats[i % 6]);
    std::string results[2];
    for (bool shortcuts : {false, true}) {
      useShortcuts(shortcuts);
      writeBytes(dir.file("Velmarin.asm"), input);
      ProcedureTable table(512);
      std::string console = captureOutput([&] {
        runPasses(path, table);
      });
      results[shortcuts] = console + readBytes(dir.file("Velmarin.asm"));
    }
    useShortcuts(true);
    ASSERT_EQ(results[0], results[1]) << testing::PrintToString(input);
  }
}

}  // namespace

#include "runtime/text_codec.h"

#include <gtest/gtest.h>

namespace {

std::u16string decoded(TextFormat format, const std::string& raw) {
  std::u16string out;
  decodeText(format, raw, &out);
  return out;
}

std::string encoded(TextFormat format, const std::u16string& text) {
  std::string out;
  encodeText(format, text, &out);
  return out;
}

TEST(Utf8, ReplacesEachMaximalIllFormedSubpartOnce) {
  EXPECT_EQ(decoded(TextFormat::Utf8, "\xE2\x82\x41"),
            u"\xFFFD"
            u"A");
  EXPECT_EQ(decoded(TextFormat::Utf8, "\xED\xA0\x80"), u"\xFFFD\xFFFD\xFFFD");
  EXPECT_EQ(decoded(TextFormat::Utf8, "\xC0\xAF"), u"\xFFFD\xFFFD");  // overlong
  EXPECT_EQ(decoded(TextFormat::Utf8, "\xF4\x90\x80\x80"), u"\xFFFD\xFFFD\xFFFD\xFFFD");
  EXPECT_EQ(decoded(TextFormat::Utf8, "\xF0\x9F\x98"), u"\xFFFD");  // truncated
  EXPECT_EQ(decoded(TextFormat::Utf8,
                    "a\xFF"
                    "b"),
            u"a\xFFFD"
            u"b");
  EXPECT_EQ(decoded(TextFormat::Utf8, "\xC3\xA9\xF0\x9F\x98\x80"), u"\u00E9\U0001F600");
}

TEST(Utf8, EncodesPairsAndReplacesUnpairedSurrogates) {
  EXPECT_EQ(encoded(TextFormat::Utf8, u"\U0001F600\u00E9"), "\xF0\x9F\x98\x80\xC3\xA9");
  EXPECT_EQ(encoded(TextFormat::Utf8, std::u16string(1, 0xD800) + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(encoded(TextFormat::Utf8, std::u16string(1, 0xDC00)), "\xEF\xBF\xBD");
}

TEST(Windows1252, EveryByteRoundTrips) {
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all.push_back(static_cast<char>(byte));
  std::u16string text = decoded(TextFormat::Ansi, all);
  ASSERT_EQ(text.size(), all.size());
  EXPECT_EQ(text[0x80 - 1], u'\u20AC');
  EXPECT_EQ(text[0x81 - 1], u'\u0081');
  EXPECT_EQ(text[0x9D - 1], u'\u009D');
  EXPECT_EQ(encoded(TextFormat::Ansi, text), all);
}

TEST(Windows1252, UnrepresentableCharactersBecomeQuestionMarks) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows converts with its own code page and default character";
#endif
  EXPECT_EQ(encoded(TextFormat::Ansi, u"a\u4E2Db\U0001F600c"), "a?b?c");
  EXPECT_EQ(encoded(TextFormat::Ansi, u"\u0080"), "?");
}

TEST(WideFormats, Utf32RejectsOutOfRangeUnitsAndRoundTripsPairs) {
  std::string raw(
      "\x00\x00\x11\x00"
      "\x00\xD8\x00\x00"
      "\x00\xF6\x01\x00",
      12);
  EXPECT_EQ(decoded(TextFormat::Utf32Le, raw), u"\xFFFD\xFFFD\U0001F600");
  EXPECT_EQ(encoded(TextFormat::Utf32Be, u"\U0001F600"), std::string("\x00\x01\xF6\x00", 4));
  EXPECT_EQ(encoded(TextFormat::Utf32Le, std::u16string(1, 0xDBFF)),
            std::string("\xFD\xFF\x00\x00", 4));
  EXPECT_EQ(decoded(TextFormat::Utf16Be, std::string("\x00"
                                                     "A\xD8\x3D\xDE\x00",
                                                     6)),
            u"A\U0001F600");
}

}  // namespace

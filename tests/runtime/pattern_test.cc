#include "runtime/pattern.h"

#include <gtest/gtest.h>

namespace {

using Strings = std::vector<std::u16string>;

class PatternTest : public testing::Test {
 protected:
  void SetUp() override { initPatterns(); }
  Pattern invocation = createPattern(u"^( )*MP([0-9])+", kCaseInsensitive);
  Pattern reference = createPattern(u"_Procedure([0-9])+", kCaseInsensitive);
};

TEST_F(PatternTest, InvocationPatternIsAnchoredCaseInsensitiveAndNeedsADigit) {
  ASSERT_NE(invocation, kNoPattern);
  EXPECT_EQ(patternMatches(invocation, u"MP3"), 1);
  EXPECT_EQ(patternMatches(invocation, u"mp3"), 1);
  EXPECT_EQ(patternMatches(invocation, u"  MP3"), 1);
  EXPECT_EQ(patternMatches(invocation, u"MP"), 0);
  EXPECT_EQ(patternMatches(invocation, u"xMP3"), 0);
  EXPECT_EQ(patternMatches(invocation, u"\tMP3"), 0);
  Strings matches(1);
  EXPECT_EQ(extractMatches(invocation, u"MP12 MP34", &matches), 1);
  EXPECT_EQ(matches, Strings{u"MP12"});
}

TEST_F(PatternTest, ExtractFindsEveryMatchAsSpelledAndResizesExactly) {
  Strings matches(5, u"keep");
  EXPECT_EQ(extractMatches(reference, u"_Procedure", &matches), 0);
  EXPECT_EQ(matches, Strings(5, u"keep"));
  EXPECT_EQ(extractMatches(reference, u"call _Procedure3,_PROCEDURE12", &matches), 2);
  EXPECT_EQ(matches, (Strings{u"_Procedure3", u"_PROCEDURE12"}));
  matches.assign(5, u"old");
  EXPECT_EQ(extractMatches(reference, u"x_Procedure12y", &matches), 1);
  EXPECT_EQ(matches, Strings{u"_Procedure12"});
  EXPECT_EQ(extractMatches(reference, u"\u00E9 \U0001F600 _Procedure5", &matches), 1);
  EXPECT_EQ(matches, Strings{u"_Procedure5"});
}

TEST_F(PatternTest, EmptyMatchesAdvanceByWholeCharacters) {
  Pattern anyX = createPattern(u"x*", kCaseInsensitive);
  Strings matches(1);
  EXPECT_EQ(extractMatches(anyX, u"ab", &matches), 3);
  EXPECT_EQ(matches, Strings(3, u""));
  // A four-byte character is stepped over whole, never split.
  EXPECT_EQ(extractMatches(anyX, u"\U0001F600\u00E9", &matches), 3);
}

TEST_F(PatternTest, NoPatternNeverMatches) {
  Pattern broken = createPattern(u"(", kCaseInsensitive);
  EXPECT_EQ(broken, kNoPattern);
  EXPECT_EQ(createPattern(nullptr, kCaseInsensitive), kNoPattern);
  Strings matches(2, u"same");
  EXPECT_EQ(patternMatches(broken, u"("), 0);
  EXPECT_EQ(extractMatches(broken, u"(", &matches), 0);
  EXPECT_EQ(matches, Strings(2, u"same"));
}

TEST_F(PatternTest, FreedPatternsActAsNoPattern) {
  Pattern temporary = createPattern(u"a", kCaseInsensitive);
  EXPECT_EQ(patternMatches(temporary, u"A"), 1);
  freePattern(temporary);
  EXPECT_EQ(patternMatches(temporary, u"A"), 0);
  freeAllPatterns();
  EXPECT_EQ(patternMatches(invocation, u"MP1"), 0);
  Pattern fresh = createPattern(u"a", kCaseInsensitive);
  EXPECT_NE(fresh, invocation);  // handles are never reused
  EXPECT_EQ(patternMatches(invocation, u"MP1"), 0);
}

TEST_F(PatternTest, DigitRunsBeyondTheStackFailLikeAnyLimitInsteadOfCrashing) {
  Strings matches(1);
  std::u16string thousands = u"_Procedure" + std::u16string(5000, u'4');
  EXPECT_EQ(extractMatches(reference, u"call " + thousands, &matches), 1);
  EXPECT_EQ(matches[0], thousands);
  std::u16string millions = u"_Procedure" + std::u16string(3000000, u'4');
  EXPECT_EQ(patternMatches(reference, millions), 0);
  EXPECT_EQ(extractMatches(reference, millions + u" _Procedure1", &matches), 0);
}

TEST_F(PatternTest, UnpairedSurrogatesInTheSubjectAreSafe) {
  std::u16string subject = u"_Procedure1";
  subject.insert(subject.begin(), char16_t(0xD800));
  Strings matches(1);
  EXPECT_EQ(extractMatches(reference, subject, &matches), 1);
  EXPECT_EQ(matches[0], u"_Procedure1");
}

}  // namespace

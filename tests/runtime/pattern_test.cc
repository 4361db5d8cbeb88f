#include "runtime/pattern.h"

#include <random>

#include <gtest/gtest.h>

#include "app/language.h"
#include "app/line_text.h"
#include "runtime/pattern_engine.h"
#include "runtime/text_codec.h"
#include "tests/reference/reference_run.h"

namespace {

using Strings = std::vector<std::u16string>;

class PatternTest : public testing::Test {
 protected:
  void SetUp() override { initPatterns(); }
  Pattern invocation = createPattern(kInvocationPattern, kCaseInsensitive);
  Pattern reference = createPattern(kReferencePattern, kCaseInsensitive);
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
  freeAllPatterns();
  EXPECT_EQ(patternMatches(temporary, u"A"), 0);
  EXPECT_EQ(patternMatches(invocation, u"MP1"), 0);
  Pattern fresh = createPattern(u"a", kCaseInsensitive);
  EXPECT_NE(fresh, invocation);  // handles are never reused
  EXPECT_EQ(patternMatches(invocation, u"MP1"), 0);
}

// A search that the engine gives up on (here the match limit, with nested
// repetition) says so: taken for "no match", it would hide a reference.
TEST_F(PatternTest, ASearchTheEngineCannotFinishIsAFailureNotANoMatch) {
  Pattern nested = createPattern(u"_Procedure[0-9]+|(a+)+!", kCaseInsensitive);
  std::u16string endless = u"_Procedure1 ";
  endless.append(40, u'a');
  EXPECT_EQ(patternMatches(nested, endless.substr(12)), kPatternFailed);
  Strings matches(1);
  EXPECT_EQ(extractMatches(nested, endless, &matches), kPatternFailed);
  EXPECT_EQ(matches, Strings{u"_Procedure1"});  // whole matches only
  EXPECT_EQ(patternMatches(nested, u"aaaa!"), 1);
  EXPECT_EQ(extractMatches(nested, u"_Procedure2 aa!", &matches), 2);
}

// A digit run costs the engine no stack in proportion to its length, so a
// short match after a very long one is still found.
TEST_F(PatternTest, DigitRunsOfAnyLengthMatch) {
  Pattern label = createPattern(language::kLabelPattern, kCaseInsensitive);
  for (size_t digits : {100000u, 3000000u}) {
    const std::u16string run(digits, u'4');
    Strings matches(1);
    EXPECT_EQ(extractMatches(reference, u"dq _Procedure" + run + u", _Procedure5", &matches), 2);
    EXPECT_EQ(matches, (Strings{u"_Procedure" + run, u"_Procedure5"}));
    EXPECT_EQ(extractMatches(invocation, u"mp" + run + u" ; x", &matches), 1);
    EXPECT_EQ(matches, Strings{u"mp" + run});
    EXPECT_EQ(patternMatches(label, u"_Procedure" + run + u":"), 1);
    EXPECT_EQ(patternMatches(label, u"_Procedure" + run + u"x:"), 0);
  }
}

// The plain way: every search goes to the engine, none is skipped.
Strings engineMatches(const char* pattern, const std::string& subject) {
  pattern_engine::Code* code = pattern_engine::compile(pattern, kCaseInsensitive);
  Strings found;
  size_t start = 0, matchStart, matchEnd;
  while (start <= subject.size() &&
         pattern_engine::find(code, subject, start, &matchStart, &matchEnd) ==
             pattern_engine::Search::Match) {
    std::u16string text;
    decodeUtf8(subject.substr(matchStart, matchEnd - matchStart), &text);
    found.push_back(text);
    start = matchEnd > start ? matchEnd : start + 1;
  }
  pattern_engine::release(code);
  return found;
}

TEST_F(PatternTest, SkippingSearchesWithoutTheFirstCharacterChangesNothing) {
  const char* const patterns[] = {"_Procedure([0-9])+", "k", "ab", "_|x", "(_a|_b)+", "\\d:"};
  const std::string pieces[] = {"_",           "_a",         "_b", "k",  "K", "\xE2\x84\xAA",
                                "_Procedure7", "_procedure", "x",  "1:", " ", "\xC3\xA9",
                                "A",           "a",          "b"};
  std::mt19937 random(3);
  for (const char* text : patterns) {
    std::u16string wide;
    decodeUtf8(text, &wide);
    Pattern pattern = createPattern(wide.c_str(), kCaseInsensitive);
    for (int i = 0; i < 3000; ++i) {
      std::string subject;
      for (int k = random() % 6; k > 0; --k) subject += pieces[random() % std::size(pieces)];
      std::u16string wideSubject;
      decodeUtf8(subject, &wideSubject);
      Strings expected = engineMatches(text, subject);
      Strings matches(1, u"unchanged");
      int32_t count = extractMatches(pattern, wideSubject, &matches);
      ASSERT_EQ(count, static_cast<int32_t>(expected.size())) << text << " on " << subject;
      if (count > 0) {
        ASSERT_EQ(matches, expected) << text << " on " << subject;
      }
      ASSERT_EQ(patternMatches(pattern, wideSubject), count > 0 ? 1 : 0);
    }
  }
}

TEST_F(PatternTest, UnpairedSurrogatesInTheSubjectAreSafe) {
  std::u16string subject = u"_Procedure1";
  subject.insert(subject.begin(), char16_t(0xD800));
  Strings matches(1);
  EXPECT_EQ(extractMatches(reference, subject, &matches), 1);
  EXPECT_EQ(matches[0], u"_Procedure1");
}

}  // namespace

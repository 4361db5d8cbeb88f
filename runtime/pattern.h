// Regular expressions on UTF-16 strings: compile a pattern once, test lines
// against it and collect every match. The engine works on UTF-8; that form
// never leaves this service.
#ifndef ORRINVALE_RUNTIME_PATTERN_H_
#define ORRINVALE_RUNTIME_PATTERN_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Handle of a compiled pattern; 0 is no pattern, which never matches. A
// released handle is never reused, so a stale one also acts as no pattern.
using Pattern = uint32_t;
constexpr Pattern kNoPattern = 0;

// The only option the program uses: letters match in either case.
constexpr int32_t kCaseInsensitive = 1;

void initPatterns();

// Compiles text with the given engine option bits (UTF-8 mode is always
// added). Returns kNoPattern when text is null or does not compile.
Pattern createPattern(const char16_t* text, int32_t options);

// What a search returns when the engine could not finish it (a limit
// exceeded, no memory): the subject may hold a match or not. Never taken for
// "no match", since a reference missed that way would call a live procedure
// dead.
constexpr int32_t kPatternFailed = -1;

// 1 when the pattern matches anywhere in subject, 0 when it does not (also
// for kNoPattern), kPatternFailed when that could not be told.
int32_t patternMatches(Pattern pattern, std::u16string_view subject);

// Stores every non-overlapping match, left to right, in *matches (resized to
// exactly the count when there is one or more) and returns the count. With no
// match, *matches is left as it was. kPatternFailed when the search could not
// be finished; *matches then holds whole matches, but not necessarily all.
int32_t extractMatches(Pattern pattern, std::u16string_view subject,
                       std::vector<std::u16string>* matches);

// Releases every compiled pattern; their handles then act as no pattern.
void freeAllPatterns();

#endif  // ORRINVALE_RUNTIME_PATTERN_H_

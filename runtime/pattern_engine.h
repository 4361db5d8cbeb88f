// The regular-expression library under the pattern service, PCRE 8 or PCRE2,
// chosen when the program is built (one implementation file each). Patterns
// and subjects are UTF-8, offsets are bytes; the service does the rest.
#ifndef ORRINVALE_RUNTIME_PATTERN_ENGINE_H_
#define ORRINVALE_RUNTIME_PATTERN_ENGINE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pattern_engine {

// The library's name as the credit lines give it: "PCRE" or "PCRE2".
const char* libraryName();

struct Code;  // a compiled pattern

// Compiles text in UTF mode with no check of the UTF-8 (it comes from the
// program's own converter); options bit 1 asks for caseless matching.
// Null when the text does not compile.
Code* compile(const std::string& text, int32_t options);
void release(Code* code);

// A byte that every match starts with, or -1. Only an ASCII character that is
// no letter qualifies: in caseless matching k also matches the Kelvin sign,
// and a pattern may turn caseless matching on part way.
int firstByte(const Code* code);
inline bool isPlainByte(uint32_t c) {
  return c > 0 && c < 0x80 && !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
}

// Searches subject from byte start on, seeing the whole subject (so ^ matches
// only at its beginning), within the library's default limits. On a match
// sets *matchStart and *matchEnd. Failed is every error of the library (a
// limit exceeded, no memory): the subject may or may not hold a match.
enum class Search { Match, NoMatch, Failed };
Search find(const Code* code, std::string_view subject, size_t start, size_t* matchStart,
            size_t* matchEnd);

}  // namespace pattern_engine

#endif  // ORRINVALE_RUNTIME_PATTERN_ENGINE_H_

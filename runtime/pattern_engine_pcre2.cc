// The pattern engine on the PCRE2 library (8-bit code units), with its
// just-in-time compiler where the machine has one.
#define PCRE2_CODE_UNIT_WIDTH 8
#include "runtime/pattern_engine.h"

#include <pcre2.h>

namespace pattern_engine {

struct Code {
  pcre2_code* compiled;
  pcre2_match_data* match;  // one per pattern: a pattern is matched on one thread
};

const char* libraryName() { return "PCRE2"; }

Code* compile(const std::string& text, int32_t options) {
  int error = 0;
  PCRE2_SIZE errorOffset = 0;
  // Option bit 1 is PCRE 8's PCRE_CASELESS; PCRE2 numbers it differently.
  uint32_t flags = PCRE2_UTF | PCRE2_NO_UTF_CHECK | ((options & 1) ? PCRE2_CASELESS : 0);
  pcre2_code* compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(),
                                       flags, &error, &errorOffset, nullptr);
  if (!compiled) return nullptr;
  pcre2_match_data* match = pcre2_match_data_create(1, nullptr);
  if (!match) {
    pcre2_code_free(compiled);
    return nullptr;
  }
  // Where the JIT is missing or refuses, the interpreter matches the same.
  pcre2_jit_compile(compiled, PCRE2_JIT_COMPLETE);
  return new Code{compiled, match};
}

void release(Code* code) {
  if (!code) return;
  pcre2_match_data_free(code->match);
  pcre2_code_free(code->compiled);
  delete code;
}

int firstByte(const Code* code) {
  uint32_t type = 0, character = 0;
  if (pcre2_pattern_info(code->compiled, PCRE2_INFO_FIRSTCODETYPE, &type) != 0 || type != 1 ||
      pcre2_pattern_info(code->compiled, PCRE2_INFO_FIRSTCODEUNIT, &character) != 0)
    return -1;
  return isPlainByte(character) ? static_cast<int>(character) : -1;
}

Search find(const Code* code, std::string_view subject, size_t start, size_t* matchStart,
            size_t* matchEnd) {
  if (start > subject.size()) return Search::NoMatch;
  int result = pcre2_match(code->compiled, reinterpret_cast<PCRE2_SPTR>(subject.data()),
                           subject.size(), start, PCRE2_NO_UTF_CHECK, code->match, nullptr);
  if (result == PCRE2_ERROR_NOMATCH) return Search::NoMatch;
  if (result < 0) return Search::Failed;
  const PCRE2_SIZE* offsets = pcre2_get_ovector_pointer(code->match);
  *matchStart = offsets[0];
  *matchEnd = offsets[1];
  return Search::Match;
}

}  // namespace pattern_engine

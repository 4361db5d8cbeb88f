// The pattern engine on the PCRE 8 library, with its just-in-time compiler
// where the library has one.
#include "runtime/pattern_engine.h"

#include <pcre.h>

namespace pattern_engine {

struct Code {
  pcre* compiled;
  pcre_extra* study;  // the JIT-compiled form, or null
};

const char* libraryName() { return "PCRE"; }

Code* compile(const std::string& text, int32_t options) {
  const char* error = nullptr;
  int errorOffset = 0;
  // The caller's bits go to the library as they are (1 is PCRE_CASELESS).
  pcre* compiled = pcre_compile(text.c_str(), options | PCRE_UTF8 | PCRE_NO_UTF8_CHECK, &error,
                                &errorOffset, nullptr);
  if (!compiled) return nullptr;
  // Where the JIT is missing or refuses, the interpreter matches the same.
  pcre_extra* study = pcre_study(compiled, PCRE_STUDY_JIT_COMPILE, &error);
  return new Code{compiled, study};
}

void release(Code* code) {
  if (!code) return;
  if (code->study) pcre_free_study(code->study);
  pcre_free(code->compiled);
  delete code;
}

int firstByte(const Code* code) {
  int flags = 0, character = 0;
  if (pcre_fullinfo(code->compiled, nullptr, PCRE_INFO_FIRSTCHARACTERFLAGS, &flags) != 0 ||
      flags != 1 ||
      pcre_fullinfo(code->compiled, nullptr, PCRE_INFO_FIRSTCHARACTER, &character) != 0)
    return -1;
  return isPlainByte(static_cast<uint32_t>(character)) ? character : -1;
}

Search find(const Code* code, std::string_view subject, size_t start, size_t* matchStart,
            size_t* matchEnd) {
  // The library takes int lengths: a longer subject cannot be searched whole.
  if (subject.size() > 0x7FFFFFFF) return Search::Failed;
  int length = static_cast<int>(subject.size());
  if (start > subject.size()) return Search::NoMatch;
  int offsets[3];
  int result = pcre_exec(code->compiled, code->study, subject.data(), length,
                         static_cast<int>(start), PCRE_NO_UTF8_CHECK, offsets, 3);
  if (result == PCRE_ERROR_NOMATCH) return Search::NoMatch;
  if (result < 0) return Search::Failed;
  *matchStart = static_cast<size_t>(offsets[0]);
  *matchEnd = static_cast<size_t>(offsets[1]);
  return Search::Match;
}

}  // namespace pattern_engine

// The pattern service on the PCRE 8 library.
#include "runtime/pattern.h"

#include <pcre.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "runtime/run_lock.h"
#include "runtime/text_codec.h"

namespace {

struct CompiledPattern {
  pcre* code = nullptr;
  // A byte that every match starts with, or -1. Where it does not occur in
  // the rest of a subject, a search from there cannot succeed and is skipped.
  int firstByte = -1;
};

// Entry i holds the compiled form of handle i + 1, with no code once released
// or when compilation failed. Never destroyed: the end routine may run during
// exit.
std::vector<CompiledPattern>& patternRegistry() {
  static auto* registry = new std::vector<CompiledPattern>;
  return *registry;
}

const CompiledPattern* compiledForm(Pattern pattern) {
  auto& registry = patternRegistry();
  if (pattern == kNoPattern || pattern > registry.size()) return nullptr;
  const CompiledPattern& entry = registry[pattern - 1];
  return entry.code ? &entry : nullptr;
}

// Only an ASCII character that has no other case qualifies: in caseless
// matching a letter such as k also matches the Kelvin sign.
int fixedFirstByte(pcre* code) {
  int flags = 0, character = 0;
  unsigned long options = 0;
  if (pcre_fullinfo(code, nullptr, PCRE_INFO_FIRSTCHARACTERFLAGS, &flags) != 0 || flags != 1 ||
      pcre_fullinfo(code, nullptr, PCRE_INFO_FIRSTCHARACTER, &character) != 0 ||
      pcre_fullinfo(code, nullptr, PCRE_INFO_OPTIONS, &options) != 0)
    return -1;
  bool letter = (character >= 'a' && character <= 'z') || (character >= 'A' && character <= 'Z');
  if (character <= 0 || character >= 0x80 || (letter && (options & PCRE_CASELESS))) return -1;
  return character;
}

bool cannotMatchFrom(const CompiledPattern& pattern, const std::string& subject, int start) {
  return pattern.firstByte >= 0 &&
         memchr(subject.data() + start, pattern.firstByte, subject.size() - start) == nullptr;
}

// The UTF-8 form of the current subject, reused from call to call.
std::string& utf8Subject() {
  static auto* buffer = new std::string;
  return *buffer;
}

std::u16string& matchScratch() {
  static auto* scratch = new std::u16string;
  return *scratch;
}

int subjectLength(const std::string& subject) {
  // PCRE takes an int length; longer subjects are searched in their first 2 GiB.
  return subject.size() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(subject.size());
}

// Length of the UTF-8 sequence that starts with lead (1 for a stray byte).
int sequenceLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

void initPatterns() {
  RunLock lock;
  patternRegistry();
  utf8Subject();
}

Pattern createPattern(const char16_t* text, int32_t options) {
  RunLock lock;
  auto& registry = patternRegistry();
  registry.emplace_back();
  Pattern handle = static_cast<Pattern>(registry.size());
  if (!text) return kNoPattern;
  std::string utf8;
  encodeUtf8(text, &utf8);
  const char* error = nullptr;
  int errorOffset = 0;
  pcre* compiled = pcre_compile(utf8.c_str(), options | PCRE_UTF8 | PCRE_NO_UTF8_CHECK,
                                &error, &errorOffset, nullptr);
  if (!compiled) return kNoPattern;
  registry[handle - 1] = {compiled, fixedFirstByte(compiled)};
  return handle;
}

int32_t patternMatches(Pattern pattern, std::u16string_view subject) {
  RunLock lock;
  const CompiledPattern* compiled = compiledForm(pattern);
  if (!compiled) return 0;
  std::string& utf8 = utf8Subject();
  utf8.clear();
  try {
    encodeUtf8(subject, &utf8);
  } catch (const std::bad_alloc&) {
    return 0;
  }
  if (cannotMatchFrom(*compiled, utf8, 0)) return 0;
  int result = pcre_exec(compiled->code, nullptr, utf8.data(), subjectLength(utf8), 0,
                         PCRE_NO_UTF8_CHECK, nullptr, 0);
  return result >= 0 ? 1 : 0;
}

int32_t extractMatches(Pattern pattern, std::u16string_view subject,
                       std::vector<std::u16string>* matches) {
  RunLock lock;
  const CompiledPattern* compiled = compiledForm(pattern);
  if (!compiled) return 0;
  std::string& utf8 = utf8Subject();
  utf8.clear();
  int32_t count = 0;
  try {
    encodeUtf8(subject, &utf8);
    int length = subjectLength(utf8);
    int start = 0;
    int offsets[3];
    while (start <= length && !cannotMatchFrom(*compiled, utf8, start)) {
      int result = pcre_exec(compiled->code, nullptr, utf8.data(), length, start,
                             PCRE_NO_UTF8_CHECK, offsets, 3);
      if (result < 0) break;  // no further match, or a limit was exceeded
      // Decoded into scratch first: the caller's array changes only once a
      // whole match is at hand, and its strings keep their storage.
      std::u16string& text = matchScratch();
      text.clear();
      decodeUtf8(std::string_view(utf8.data() + offsets[0], offsets[1] - offsets[0]), &text);
      if (matches->size() != static_cast<size_t>(count + 1)) matches->resize(count + 1);
      (*matches)[count].assign(text);
      ++count;
      // An empty match at the start position would be found again forever;
      // step one whole character past it.
      if (offsets[1] == start)
        start += start < length ? sequenceLength(static_cast<unsigned char>(utf8[start])) : 1;
      else
        start = offsets[1];
    }
  } catch (const std::bad_alloc&) {
    // Out of memory: keep what is stored so far; the array holds whole matches.
  }
  if (count > 0 && matches->size() != static_cast<size_t>(count)) matches->resize(count);
  if (utf8.capacity() > (1 << 20)) std::string().swap(utf8);
  return count;
}

void freePattern(Pattern pattern) {
  RunLock lock;
  const CompiledPattern* compiled = compiledForm(pattern);
  if (!compiled) return;
  pcre_free(compiled->code);
  patternRegistry()[pattern - 1] = CompiledPattern{};
}

void freeAllPatterns() {
  RunLock lock;
  auto& registry = patternRegistry();
  // Entries stay (empty) so that no handle is ever given out twice.
  for (Pattern handle = 1; handle <= registry.size(); ++handle) freePattern(handle);
}

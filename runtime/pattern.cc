// The pattern service: handles, UTF-16 in and out, every match in turn, over
// the engine that the program was built with.
#include "runtime/pattern.h"

#include <cstring>
#include <new>

#include "runtime/pattern_engine.h"
#include "runtime/text_codec.h"

namespace {

struct CompiledPattern {
  pattern_engine::Code* code = nullptr;
  // A byte that every match starts with, or -1. Where it does not occur in
  // the rest of a subject, a search from there cannot succeed and is skipped.
  int firstByte = -1;
};

// Entry i holds the compiled form of handle i + 1, with no code once released
// or when compilation failed. Never destroyed, so that freeAllPatterns works
// however late.
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

bool cannotMatchFrom(const CompiledPattern& pattern, const std::string& subject, size_t start) {
  return pattern.firstByte >= 0 &&
         memchr(subject.data() + start, pattern.firstByte, subject.size() - start) == nullptr;
}

// The UTF-8 form of the current subject, reused from call to call: one per
// thread, as a scan may run on two.
std::string& utf8Subject() {
  thread_local std::string buffer;
  return buffer;
}

std::u16string& matchScratch() {
  static auto* scratch = new std::u16string;
  return *scratch;
}

// Length of the UTF-8 sequence that starts with lead (1 for a stray byte).
int sequenceLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

void freePattern(Pattern pattern) {
  const CompiledPattern* compiled = compiledForm(pattern);
  if (!compiled) return;
  pattern_engine::release(compiled->code);
  patternRegistry()[pattern - 1] = CompiledPattern{};
}

}  // namespace

void initPatterns() {
  patternRegistry();
  utf8Subject();
}

Pattern createPattern(const char16_t* text, int32_t options) {
  auto& registry = patternRegistry();
  registry.emplace_back();
  Pattern handle = static_cast<Pattern>(registry.size());
  if (!text) return kNoPattern;
  std::string utf8;
  encodeUtf8(text, &utf8);
  pattern_engine::Code* compiled = pattern_engine::compile(utf8, options);
  if (!compiled) return kNoPattern;
  registry[handle - 1] = {compiled, pattern_engine::firstByte(compiled)};
  return handle;
}

int32_t patternMatches(Pattern pattern, std::u16string_view subject) {
  const CompiledPattern* compiled = compiledForm(pattern);
  if (!compiled) return 0;
  std::string& utf8 = utf8Subject();
  utf8.clear();
  try {
    encodeUtf8(subject, &utf8);
  } catch (const std::bad_alloc&) {
    return kPatternFailed;
  }
  if (cannotMatchFrom(*compiled, utf8, 0)) return 0;
  size_t matchStart, matchEnd;
  switch (pattern_engine::find(compiled->code, utf8, 0, &matchStart, &matchEnd)) {
    case pattern_engine::Search::Match: return 1;
    case pattern_engine::Search::NoMatch: return 0;
    case pattern_engine::Search::Failed: break;
  }
  return kPatternFailed;
}

int32_t extractMatches(Pattern pattern, std::u16string_view subject,
                       std::vector<std::u16string>* matches) {
  const CompiledPattern* compiled = compiledForm(pattern);
  if (!compiled) return 0;
  std::string& utf8 = utf8Subject();
  utf8.clear();
  int32_t count = 0;
  bool failed = false;
  try {
    encodeUtf8(subject, &utf8);
    size_t start = 0, matchStart = 0, matchEnd = 0;
    while (start <= utf8.size() && !cannotMatchFrom(*compiled, utf8, start)) {
      pattern_engine::Search found =
          pattern_engine::find(compiled->code, utf8, start, &matchStart, &matchEnd);
      failed = found == pattern_engine::Search::Failed;
      if (found != pattern_engine::Search::Match) break;
      // Decoded into scratch first: the caller's array changes only once a
      // whole match is at hand, and its strings keep their storage.
      std::u16string& text = matchScratch();
      text.clear();
      decodeUtf8(std::string_view(utf8).substr(matchStart, matchEnd - matchStart), &text);
      if (matches->size() != static_cast<size_t>(count + 1)) matches->resize(count + 1);
      (*matches)[count].assign(text);
      ++count;
      // An empty match at the start position would be found again forever;
      // step one whole character past it.
      if (matchEnd == start)
        start += start < utf8.size() ? sequenceLength(static_cast<unsigned char>(utf8[start])) : 1;
      else start = matchEnd;
    }
  } catch (const std::bad_alloc&) {
    // Out of memory: the array holds whole matches, but maybe not all.
    failed = true;
  }
  if (count > 0 && matches->size() != static_cast<size_t>(count)) matches->resize(count);
  if (utf8.capacity() > (1 << 20)) std::string().swap(utf8);
  return failed ? kPatternFailed : count;
}

void freeAllPatterns() {
  auto& registry = patternRegistry();
  // Entries stay (empty) so that no handle is ever given out twice.
  for (Pattern handle = 1; handle <= registry.size(); ++handle) freePattern(handle);
}

// Micro-benchmarks of the hot paths: line reading per format, the pattern
// service on typical lines, both passes per kind of line, one label in many
// blocks, and the marking.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/line_text.h"
#include "app/marking.h"
#include "app/rewrite_pass.h"
#include "app/scan_pass.h"
#include "runtime/pattern.h"
#include "runtime/text_codec.h"
#include "runtime/text_file.h"

namespace {

constexpr int kLines = 100000;

std::string scratchFile() {
  static std::string path = [] {
    char pattern[] = "/tmp/orrinvale-bench-XXXXXX";
    std::string dir = mkdtemp(pattern);
    return dir + "/Velmarin.asm";
  }();
  return path;
}

std::u16string widen(const std::string& text) { return std::u16string(text.begin(), text.end()); }

void writeFile(const std::string& bytes) {
  FILE* file = std::fopen(scratchFile().c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

// kLines copies of line in format, with its mark.
std::string repeatedLine(TextFormat format, const std::u16string& line) {
  std::string bytes(byteOrderMark(format));
  for (int i = 0; i < kLines; ++i) encodeText(format, line + u"\r\n", &bytes);
  return bytes;
}

// Prints nothing: the passes' console lines would drown the figures.
struct QuietOutput {
  QuietOutput() : saved(dup(1)) {
    int sink = open("/dev/null", O_WRONLY);
    dup2(sink, 1);
    close(sink);
  }
  ~QuietOutput() { dup2(saved, 1); close(saved); }
  int saved;
};

void BM_ReadLine(benchmark::State& state) {
  auto format = static_cast<TextFormat>(state.range(0));
  writeFile(repeatedLine(format, u" mov rax, qword [rbp-8] ; load the counter"));
  std::u16string line;
  for (auto _ : state) {
    TextFile* file = openForReading(widen(scratchFile()));
    TextFormat found = readFormat(file);
    while (!atEnd(file, found)) readLine(file, found, &line);
    closeFile(file);
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_ReadLine)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

void BM_Pattern(benchmark::State& state, const char16_t* pattern, const char16_t* line,
                bool extract) {
  initPatterns();
  Pattern compiled = createPattern(pattern, kCaseInsensitive);
  std::vector<std::u16string> matches(1);
  for (auto _ : state) {
    if (extract) benchmark::DoNotOptimize(extractMatches(compiled, line, &matches));
    else benchmark::DoNotOptimize(patternMatches(compiled, line));
  }
}
BENCHMARK_CAPTURE(BM_Pattern, matches_reference, kReferencePattern,
                  u" call _Procedure1234 ; into the helper", false);
BENCHMARK_CAPTURE(BM_Pattern, matches_plain_code, kReferencePattern,
                  u" mov rax, qword [rbp-8] ; load the counter", false);
BENCHMARK_CAPTURE(BM_Pattern, extract_two_references, kReferencePattern,
                  u" dq _Procedure12, _Procedure3456", true);
BENCHMARK_CAPTURE(BM_Pattern, extract_invocation, kInvocationPattern, u"MP1234", true);

void scanScratchFile(ProcedureTable& table) {
  TextFile* file = openForReading(widen(scratchFile()));
  ScanPass(widen(scratchFile()), file, table);
  closeFile(file);
}

// One pass over kLines lines of one kind.
void BM_ScanLine(benchmark::State& state, const char16_t* line) {
  initPatterns();
  writeFile(repeatedLine(TextFormat::Ansi, line));
  ProcedureTable table(512);
  QuietOutput quiet;
  for (auto _ : state) scanScratchFile(table);
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK_CAPTURE(BM_ScanLine, code, u" mov rax, qword [rbp-8]")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanLine, comment, u"; loop body")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanLine, reference, u" call _Procedure1234")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanLine, label, u"_Procedure1234:")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanLine, macro_start, u"macro MP1234{")->Unit(benchmark::kMillisecond);

// One label that names block after block, each block with a reference of its
// own: the set of that label grows with every block, and a block end must not
// cost time in the whole set.
void BM_ScanOneLabelInManyBlocks(benchmark::State& state) {
  initPatterns();
  const int blocks = static_cast<int>(state.range(0));
  std::string bytes;
  for (int i = 0; i < blocks; ++i)
    bytes += "macro MP1{\r\n_Procedure1:\r\n ; block " + std::to_string(i) +
             " of the same label\r\n call _Procedure" + std::to_string(i + 2) + "\r\n}\r\n";
  writeFile(bytes);
  ProcedureTable table(512);
  QuietOutput quiet;
  for (auto _ : state) scanScratchFile(table);
  state.SetItemsProcessed(state.iterations() * blocks);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ScanOneLabelInManyBlocks)->Arg(80000)->Unit(benchmark::kMillisecond);

void BM_RewriteLine(benchmark::State& state, const char16_t* line) {
  initPatterns();
  std::string bytes = repeatedLine(TextFormat::Ansi, line);
  ProcedureTable table(512);
  entryFor(table, u"_Procedure1").used = 1;
  QuietOutput quiet;
  for (auto _ : state) {
    state.PauseTiming();
    writeFile(bytes);
    state.ResumeTiming();
    // Opened as a run opens it: the replacement checks what was opened.
    TextFile* file = openForReadingExclusively(widen(scratchFile()));
    RewritePass(widen(scratchFile()), file, table);
    closeFile(file);
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK_CAPTURE(BM_RewriteLine, code, u" mov rax, qword [rbp-8]")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RewriteLine, kept_invocation, u"MP1")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RewriteLine, removed_invocation, u"MP2")->Unit(benchmark::kMillisecond);

void BM_MarkChain(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    ProcedureTable table(512);
    EntryIndex previous = indexFor(table, MainContextKey);
    for (int i = 1; i <= length; ++i) {
      EntryIndex next = indexFor(table, u"_Procedure" + widen(std::to_string(i)));
      addReference(table.entries[previous].refs, next);
      previous = next;
    }
    state.ResumeTiming();
    markFromMainCode(table);
  }
  state.SetItemsProcessed(state.iterations() * length);
}
BENCHMARK(BM_MarkChain)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

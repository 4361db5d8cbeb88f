// Micro-benchmarks of the hot paths: line reading per format, the pattern
// service on typical lines, the scan both ways and whole runs both ways per
// kind of line, one label in many blocks, and the marking.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/driver.h"
#include "app/line_text.h"
#include "app/marking.h"
#include "app/split_scan.h"
#include "runtime/pattern.h"
#include "runtime/text_codec.h"
#include "runtime/text_file.h"
#include "tests/reference/reference_run.h"
#include "tests/reference/text_lines.h"

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

// Prints nothing: the runs' console lines would drown the figures.
struct QuietOutput {
  QuietOutput() : saved(dup(1)) {
    int sink = open("/dev/null", O_WRONLY);
    dup2(sink, 1);
    close(sink);
  }
  ~QuietOutput() {
    dup2(saved, 1);
    close(saved);
  }
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

// The scan of the scratch file, the block scan (argument 1) or the reference.
void scanScratchFile(ProcedureTable& table, bool blocks) {
  TextFile* file = openForReading(widen(scratchFile()));
  TextFormat format = readFormat(file);
  clearTable(table);
  if (blocks) {
    ScanState scan(table);
    EditList edits;
    scanFile(file, format, scan, &edits);
    finishScan(scan);
  } else {
    benchmark::DoNotOptimize(scanByLines(file, format).macroCount);
  }
  closeFile(file);
}

// One scan over kLines lines of one kind.
void BM_ScanLine(benchmark::State& state, const char16_t* line) {
  initPatterns();
  writeFile(repeatedLine(TextFormat::Ansi, line));
  ProcedureTable table;
  for (auto _ : state) scanScratchFile(table, state.range(0) != 0);
  state.SetItemsProcessed(state.iterations() * kLines);
}
// clang-format off
BENCHMARK_CAPTURE(BM_ScanLine, code, u" mov rax, qword [rbp-8]")->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanLine, comment, u"; loop body")->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanLine, reference, u" call _Procedure1234")->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanLine, label, u"_Procedure1234:")->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ScanLine, macro_start, u"macro MP1234{")->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
// clang-format on

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
  ProcedureTable table;
  for (auto _ : state) scanScratchFile(table, state.range(1) != 0);
  state.SetItemsProcessed(state.iterations() * blocks);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ScanOneLabelInManyBlocks)
    ->ArgsProduct({{80000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// A whole run over kLines lines of one kind after a main code that uses
// _Procedure1, by the tool's way (argument 0) or the reference way.
void BM_WholeRunLine(benchmark::State& state, const char16_t* line) {
  initPatterns();
  std::string bytes = "call _Procedure1\r\n" + repeatedLine(TextFormat::Ansi, line);
  ProcedureTable table;
  QuietOutput quiet;
  for (auto _ : state) {
    state.PauseTiming();
    writeFile(bytes);
    state.ResumeTiming();
    runOnFile(widen(scratchFile()), table, state.range(0) ? RunWay::Reference : RunWay::Tool);
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK_CAPTURE(BM_WholeRunLine, code, u" mov rax, qword [rbp-8]")
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WholeRunLine, kept_invocation, u"MP1")
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WholeRunLine, removed_invocation, u"MP2")
    ->DenseRange(0, 1)
    ->Unit(benchmark::kMillisecond);

void BM_MarkChain(benchmark::State& state) {
  const int length = static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    ProcedureTable table;
    EntryIndex previous = kMainCode;
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

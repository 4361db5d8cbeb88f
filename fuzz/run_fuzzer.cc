// libFuzzer target for everything that parses outside input: the format
// detection, the line reader and decoders, the block scan and the rewrite
// from its edits, which must give the same bytes and console lines as the
// reference way on any input, with the usual blocks and with blocks of a few
// bytes and the file split in two.
//   cmake -S . -B build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DORRINVALE_FUZZ=ON
//   build/fuzz/fuzz/orrinvale_run_fuzzer -max_total_time=600
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/driver.h"
#include "app/split_scan.h"
#include "runtime/pattern.h"
#include "tests/reference/reference_run.h"
#include "tests/test_seams.h"

namespace {

std::string workFile() {
  static std::string path = [] {
    char pattern[] = "/dev/shm/orrinvale-fuzz-XXXXXX";  // memory: syncs cost nothing
    return std::string(mkdtemp(pattern)) + "/Velmarin.asm";
  }();
  return path;
}

std::string readAll(const std::string& path) {
  std::string bytes;
  FILE* file = std::fopen(path.c_str(), "rb");
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
  std::fclose(file);
  return bytes;
}

// A whole run over data; returns the rewritten bytes and the console output.
std::string runOnFile(const uint8_t* data, size_t size, RunWay way) {
  FILE* file = std::fopen(workFile().c_str(), "wb");
  std::fwrite(data, 1, size, file);
  std::fclose(file);
  std::string console = workFile() + ".console";
  int saved = dup(1);
  int sink = open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(sink, 1);
  close(sink);
  ProcedureTable table;
  initPatterns();
  std::string path = workFile();
  std::u16string name(path.begin(), path.end());
  runOnFile(name, table, way);
  dup2(saved, 1);
  close(saved);
  freeAllPatterns();  // a run leaves its patterns for the end of the program
  return readAll(console) + readAll(workFile());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string reference = runOnFile(data, size, RunWay::Reference);
  std::string tool = runOnFile(data, size, RunWay::Tool);
  if (reference != tool) abort();
  // Tiny blocks, and the second half scanned on a thread of its own from a
  // line that the first byte chooses.
  useBlockSize(static_cast<int64_t>(size % 13 + 1));
  splitScanAt(size > 0 ? static_cast<int64_t>(data[0] * size / 256) : 0);
  std::string small = runOnFile(data, size, RunWay::Tool);
  splitScanAt(-1);
  useBlockSize(0);
  if (reference != small) abort();
  return 0;
}

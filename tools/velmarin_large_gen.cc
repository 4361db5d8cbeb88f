// Writes a large, realistic Velmarin.asm for benchmarks: procedure macros of
// a few dozen to a few hundred lines with calls, address references and
// comments, main code that reaches some of them, and one invocation line per
// procedure. Deterministic for a given seed.
//
//   velmarin_large_gen SEED SIZE_MIB OUTPUT [--format=F] [--line-ends=E]
//                      [--procedures=N] [--invocations=N]
//
// F is ansi (the default), utf8, utf16le, utf16be, utf32le or utf32be (all
// but ansi with their byte-order mark); E is crlf (the default), lf, cr or
// mixed (the three in turn). About one procedure per 5,400 bytes, so 1 GiB
// holds some 200,000, unless --procedures says how many; --invocations=N
// gives the main code N invocation lines instead of one per procedure.
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <string_view>

namespace {

constexpr long kBytesPerProcedure = 5400;

const char* const kFiller[] = {
    " mov rax, qword [rbp-8]",   " add rax, rbx",        " push rcx",
    " pop rcx",                  " cmp eax, 0",          " jne .next",
    " mov dword [rsp+16], eax",  " xor edx, edx",        " lea rdi, [StringTable+24]",
    " movsd xmm0, [rbp-16]",     " sub rsp, 32",         " add rsp, 32",
    "; Velmarin: loop body",     " imul rax, rcx",       ".next:",
};

class Writer {
 public:
  Writer(FILE* out, int unitSize, bool bigEndian, std::string_view lineEnds)
      : out_(out), unitSize_(unitSize), bigEndian_(bigEndian), lineEnds_(lineEnds) {}
  ~Writer() { flush(); }
  void byteOrderMark() { unit(0xFEFF); }
  void line(const std::string& text) {
    for (char c : text) unit(static_cast<unsigned char>(c));
    std::string_view end = lineEnds_ == "lf"   ? "\n"
                           : lineEnds_ == "cr" ? "\r"
                           : lineEnds_ == "mixed" ? std::string_view("\r\n\n\r").substr(
                                                        lines_ % 3 == 0 ? 0 : lines_ % 3 + 1,
                                                        lines_ % 3 == 0 ? 2 : 1)
                                                  : "\r\n";
    for (char c : end) unit(static_cast<unsigned char>(c));
    ++lines_;
    if (buffer_.size() > (1 << 20)) flush();
  }
  long written() const { return written_ + static_cast<long>(buffer_.size()); }

 private:
  void unit(unsigned value) {
    if (unitSize_ == 1) {
      // The mark in UTF-8; every other character here is ASCII.
      if (value == 0xFEFF) buffer_ += "\xEF\xBB\xBF";
      else buffer_.push_back(static_cast<char>(value));
      return;
    }
    for (int i = 0; i < unitSize_; ++i) {
      int shift = 8 * (bigEndian_ ? unitSize_ - 1 - i : i);
      buffer_.push_back(static_cast<char>(value >> shift & 0xFF));
    }
  }
  void flush() {
    fwrite(buffer_.data(), 1, buffer_.size(), out_);
    written_ += static_cast<long>(buffer_.size());
    buffer_.clear();
  }
  FILE* out_;
  int unitSize_;
  bool bigEndian_;
  std::string_view lineEnds_;
  std::string buffer_;
  long written_ = 0;
  long lines_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: velmarin_large_gen SEED SIZE_MIB OUTPUT [--format=F] [--line-ends=E] "
                 "[--procedures=N] [--invocations=N]\n");
    return 2;
  }
  std::mt19937 random(static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)));
  long target = std::strtol(argv[2], nullptr, 10) * (1L << 20);
  std::string_view format = "ansi", lineEnds = "crlf";
  long procedures = 0, invocations = -1;
  for (int i = 4; i < argc; ++i) {
    std::string_view option = argv[i];
    if (option.starts_with("--format=")) format = option.substr(9);
    else if (option.starts_with("--line-ends=")) lineEnds = option.substr(12);
    else if (option.starts_with("--procedures=")) procedures = std::strtol(argv[i] + 13, nullptr, 10);
    else if (option.starts_with("--invocations=")) invocations = std::strtol(argv[i] + 14, nullptr, 10);
  }
  int unitSize = format.starts_with("utf16") ? 2 : format.starts_with("utf32") ? 4 : 1;
  bool bigEndian = format.ends_with("be");
  FILE* out = std::fopen(argv[3], "wb");
  if (!out) return 1;
  Writer writer(out, unitSize, bigEndian, lineEnds);
  if (format != "ansi") writer.byteOrderMark();

  // Leave room for the main code and one invocation line per procedure.
  if (procedures <= 0) procedures = std::max(10L, target / kBytesPerProcedure);
  if (invocations < 0) invocations = procedures;
  long bodyBudget = target - invocations * 8 * unitSize;
  // About 60% of the procedures belong to the live part of the program and
  // mention only each other; the rest mention anything and are dead unless a
  // live one mentions them, which never happens.
  auto isLivePart = [](long p) { return (p * 2654435761L) % 10 < 6; };
  auto pickFrom = [&](bool livePart) {
    for (;;) {
      long p = 1 + static_cast<long>(random() % procedures);
      if (!livePart || isLivePart(p)) return std::to_string(p);
    }
  };
  writer.line("; Generated by velmarin_large_gen");
  writer.line("format ELF64 executable 3");
  for (long p = 1; p <= procedures; ++p) {
    std::string n = std::to_string(p);
    writer.line("macro MP" + n + "{");
    writer.line("_Procedure" + n + ":");
    long end = bodyBudget * p / procedures;
    bool livePart = isLivePart(p);
    while (writer.written() < end) {
      switch (random() % 16) {
        case 0: writer.line(" call _Procedure" + pickFrom(livePart)); break;
        case 1: writer.line(" lea rax, [_Procedure" + pickFrom(livePart) + "]"); break;
        default: writer.line(kFiller[random() % (sizeof kFiller / sizeof *kFiller)]);
      }
    }
    writer.line(" ret");
    writer.line("}");
  }
  writer.line("segment readable executable");
  writer.line("Start:");
  for (int i = 0; i < 20; ++i) writer.line(" call _Procedure" + pickFrom(true));
  writer.line("Handlers dq _Procedure" + pickFrom(true) + ", _Procedure" + pickFrom(true));
  for (long i = 0; i < invocations; ++i) writer.line("MP" + std::to_string(1 + i % procedures));
  return 0;
}

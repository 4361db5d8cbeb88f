// Start-up and sequencing: scan, mark, rewrite, and what became of the file
// on the console. The driver decides nothing about the file's lines; the
// scan and the rewrite do.
#include "app/driver.h"

#include <cstdlib>
#include <new>
#include <optional>
#include <string>

#include "app/background_copy.h"
#include "app/kernel_choice.h"
#include "app/line_end_mending.h"
#include "app/line_text.h"
#include "app/marking.h"
#include "app/split_scan.h"
#include "runtime/console.h"
#include "runtime/file_replace.h"
#include "runtime/pattern.h"
#include "runtime/pattern_engine.h"
#include "runtime/text_file.h"

namespace {

std::u16string asciiText(std::string_view text) { return std::u16string(text.begin(), text.end()); }

void printCredits() {
  // The library the program was built with: PCRE or PCRE2.
  std::string name = pattern_engine::libraryName();
  std::u16string library(name.begin(), name.end());
  printLine(u"Orrinvale uses:");
  printLine(library +
            u", the Perl Compatible Regular Expressions library by Philip Hazel, "
            u"copyright University of Cambridge, England");
  printLine(u"For " + library + u" license see pcre_license.txt");
  printLine(u"");
}

// Scan, mark, rewrite from the scan's edits. The new file is begun first,
// so that the part of the file before the first invocation line can be
// copied into it, line ends mended, while the scan reads on.
void scanAndRewrite(std::u16string_view fileName, TextFile* source, TextFormat format,
                    ProcedureTable& table) {
  Replacement replacement(fileName, source);
  ReplaceStart start = replacement.begin();
  EditList edits;
  LiveFlags live;
  int64_t macroCount = 0, copied = 0;
  ScanOutcome outcome = ScanOutcome::Unreadable;
  try {
    std::optional<BackgroundCopy> copy;
    if (start == ReplaceStart::Ready && worthCopyingInBackground(source->stampAtOpen.size))
      copy.emplace(source, replacement.output(), unitSize(format), lineEndMenderFor(format));
    ScanState scan(table);
    scanFile(source, format, scan, &edits, copy ? &*copy : nullptr);
    finishScan(scan);
    macroCount = scan.macroCount;
    // The marking needs no file: the copy goes on meanwhile.
    const bool complete = !source->readFailed && !scan.searchFailed;
    if (complete) live = markFromMainCode(table);
    if (copy) copied = copy->finish();
    if (complete) outcome = ScanOutcome::Complete;
  } catch (const std::bad_alloc&) {
    outcome = ScanOutcome::OutOfMemory;
  }
  if (!reportScan(fileName, outcome, macroCount)) return;  // the replacement is abandoned
  finishRewrite(
      fileName, source, start, replacement, [&](OutputFile* output, RemovalCounts* counts) {
        return copied >= 0 && rewriteWithEdits(source, format, edits, live, copied, output, counts);
      });
}

}  // namespace

void runEndRoutine() {
  freeAllPatterns();
  closeAllFiles();
}

TextFile* openForRun(std::u16string_view fileName, ProcedureTable& table) {
  clearTable(table);
  // One open file for the whole run, held exclusively: the rewrite must act on
  // exactly the content that the scan judged, and a second run of the tool
  // waits until this one is done.
  TextFile* source = openForReadingExclusively(fileName);
  if (!source) {
    printLine(notFoundMessage(fileName));
    printLine(notFoundMessage(fileName));
  }
  return source;
}

bool reportScan(std::u16string_view fileName, ScanOutcome outcome, int64_t macroCount) {
  switch (outcome) {
    case ScanOutcome::Complete:
      printLine(u"Found " + decimal(macroCount) + u" procedure macros.");
      return true;
    case ScanOutcome::Unreadable:
      printLine(u"File '" + std::u16string(fileName) + u"' could not be read.");
      return false;
    case ScanOutcome::OutOfMemory: printLine(outOfMemoryMessage(fileName)); return false;
  }
  return false;
}

std::u16string outOfMemoryMessage(std::u16string_view fileName) {
  return u"Not enough memory to process file '" + std::u16string(fileName) + u"'.";
}

void finishRewrite(std::u16string_view fileName, TextFile* source, ReplaceStart start,
                   Replacement& replacement, const ContentWriter& write) {
  if (start == ReplaceStart::ReadOnly) return;  // the file stays as it is, without a word
  RemovalCounts counts;
  bool written = false;
  if (start == ReplaceStart::Ready) {
    bool complete = false;
    try {
      complete = write(replacement.output(), &counts);
    } catch (const std::bad_alloc&) {
      // The new content is incomplete: the file stays as it was.
      replacement.abandon();
      printLine(outOfMemoryMessage(fileName));
      return;
    }
    // A read that failed part way ended the file early; committing would cut it.
    if (complete && !source->readFailed) written = replacement.commit();
    else replacement.abandon();
  }
  if (!written) {
    printLine(u"File '" + std::u16string(fileName) + u"' could not be written.");
    return;
  }
  printLine(u"Removed " + decimal(counts.removed) + u" out of " + decimal(counts.invocations) +
            u" used procedure macros.");
}

void runOnFile(std::u16string_view fileName, ProcedureTable& table) {
  TextFile* source = openForRun(fileName, table);
  if (!source) return;
  scanAndRewrite(fileName, source, readFormat(source), table);
  // Once replaced, the old content is freed here, within the run.
  closeFile(source);
}

bool useChosenKernel() {
  const char* named = std::getenv(kKernelVariable);
  std::optional<Kernel> kernel = chooseKernel(named);
  if (!kernel) {
    printLine(u"Kernel '" + asciiText(named) + u"' named by " + asciiText(kKernelVariable) +
              u" cannot run here; kernels that can: " + asciiText(runnableKernels()) + u".");
    return false;
  }
  useKernel(*kernel);
  if (named && named == kAutomaticKernel)
    printLine(u"Kernel: " + asciiText(kernelName(*kernel)) + u".");
  return true;
}

int runOrrinvale() {
  initPatterns();
  if (openConsole()) {
    printCredits();
    if (useChosenKernel()) {
      // Left to the end of the process: freeing a few hundred thousand small
      // reference sets one by one takes longer than marking them did.
      static ProcedureTable* table = new ProcedureTable;
      runOnFile(u"Velmarin.asm", *table);
    }
  }
  runEndRoutine();
  return 0;
}

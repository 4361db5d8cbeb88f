// Start-up and sequencing. The driver decides nothing about the file; the
// passes do.
#include "app/driver.h"

#include <memory>
#include <string>

#include "app/procedure_table.h"
#include "app/rewrite_pass.h"
#include "app/scan_pass.h"
#include "runtime/console.h"
#include "runtime/pattern.h"
#include "runtime/pattern_engine.h"
#include "runtime/run_lock.h"
#include "runtime/text_file.h"

namespace {

constexpr size_t kTableSlots = 512;

void printCredits() {
  // The library the program was built with: PCRE or PCRE2.
  std::string name = pattern_engine::libraryName();
  std::u16string library(name.begin(), name.end());
  printLine(u"Orrinvale uses:");
  printLine(library + u", the Perl Compatible Regular Expressions library by Philip Hazel, "
                      u"copyright University of Cambridge, England");
  printLine(u"For " + library + u" license see pcre_license.txt");
  printLine(u"");
}

}  // namespace

void runEndRoutine() {
  RunLock lock;
  freeAllPatterns();
  closeAllFiles();
}

void runPasses(std::u16string_view fileName, ProcedureTable& table) {
  // One open file for both passes, held for the whole run: the rewrite must
  // act on exactly the content that the scan judged, and a second run of the
  // tool waits until this one is done.
  TextFile* source = openForReadingExclusively(fileName);
  // An incomplete table would call live procedures dead; then the file is
  // left as it is.
  if (ScanPass(fileName, source, table)) RewritePass(fileName, source, table);
  if (source) closeFile(source);
}

int runOrrinvale() {
  initPatterns();
  if (openConsole(runEndRoutine)) {
    printCredits();
    auto table = std::make_unique<ProcedureTable>(kTableSlots);
    runPasses(u"Velmarin.asm", *table);
  }
  runEndRoutine();
  return 0;
}

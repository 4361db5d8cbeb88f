// The program from start to end: runtime and console up, credits, the scan,
// the marking and the rewrite of "Velmarin.asm", the end routine. The driver
// alone prints what became of the file.
#ifndef ORRINVALE_APP_DRIVER_H_
#define ORRINVALE_APP_DRIVER_H_

#include <cstdint>
#include <functional>
#include <string_view>

#include "app/procedure_table.h"
#include "app/rewrite.h"
#include "runtime/file_replace.h"
#include "runtime/text_file.h"

// Releases every pattern and closes every open file. Run at the end of every
// run.
void runEndRoutine();

// The start of every run over the named file: an empty table and the file
// open, held exclusively; null, with the not-found line printed twice, when
// it cannot be opened.
TextFile* openForRun(std::u16string_view fileName, ProcedureTable& table);

// How a scan ended: with the whole table; with a table that may lack
// references (a read failed, a line could not be judged); or short of
// memory.
enum class ScanOutcome { Complete, Unreadable, OutOfMemory };

// The scan's console line. An incomplete table would call live procedures
// dead: then it says why the file is left alone, and returns false.
bool reportScan(std::u16string_view fileName, ScanOutcome outcome, int64_t macroCount);

// The line for a run that ran out of memory: the file is left as it was.
std::u16string outOfMemoryMessage(std::u16string_view fileName);

// Sets the classification kernel of the run, before the file is opened:
// false, with one console line that names the kernels that can run, where
// ORRINVALE_KERNEL names one that cannot.
bool useChosenKernel();

// Writes the new content into the output of replacement (begun, start being
// what begin returned) and counts the invocations; false when it could not
// be completed.
using ContentWriter = std::function<bool(OutputFile* output, RemovalCounts* counts)>;

// Completes the rewrite of source, open under fileName: write writes the new
// content, which then takes the file's place. Prints the summary line, the
// could-not-be-written line or, where memory ran out, the out-of-memory
// line; a read-only file is left alone in silence.
void finishRewrite(std::u16string_view fileName, TextFile* source, ReplaceStart start,
                   Replacement& replacement, const ContentWriter& write);

// Scans the named file, marks what the main code reaches and rewrites the
// file, with their console lines.
void runOnFile(std::u16string_view fileName, ProcedureTable& table);

// Runs the tool in the current directory; returns the exit status, always 0.
int runOrrinvale();

#endif  // ORRINVALE_APP_DRIVER_H_

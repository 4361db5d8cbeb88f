// The program from start to end: runtime and console up, credits, the scan,
// the marking and the rewrite of "Velmarin.asm", the end routine.
#ifndef ORRINVALE_APP_DRIVER_H_
#define ORRINVALE_APP_DRIVER_H_

#include <string_view>

#include "app/procedure_table.h"
#include "runtime/text_file.h"

// Releases every pattern and closes every open file (writing out its buffer).
// Run at the end of every run.
void runEndRoutine();

// The start of every run over the named file: an empty table and the file
// open, held exclusively; null, with the not-found line printed for each
// pass, when it cannot be opened.
TextFile* openForRun(std::u16string_view fileName, ProcedureTable& table);

// Scans the named file, marks what the main code reaches and rewrites the
// file, with their console lines.
void runPasses(std::u16string_view fileName, ProcedureTable& table);

// Runs the tool in the current directory; returns the exit status, always 0.
int runOrrinvale();

#endif  // ORRINVALE_APP_DRIVER_H_

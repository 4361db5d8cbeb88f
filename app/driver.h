// The program from start to end: runtime and console up, credits, the scan,
// the marking and the rewrite of "Velmarin.asm", the end routine.
#ifndef ORRINVALE_APP_DRIVER_H_
#define ORRINVALE_APP_DRIVER_H_

#include <string_view>

#include "app/procedure_table.h"

// Releases every pattern and closes every open file (writing out its buffer).
// Run at the end of every run, and by the console-close handler.
void runEndRoutine();

// Scans the named file, marks what the main code reaches and rewrites the
// file, with their console lines.
void runPasses(std::u16string_view fileName, ProcedureTable& table);

// Runs the tool in the current directory; returns the exit status, always 0.
int runOrrinvale();

#endif  // ORRINVALE_APP_DRIVER_H_

// Console output: whole lines of UTF-16 text on the standard output, and the
// handler that runs the program's end routine when the console goes away.
#ifndef ORRINVALE_RUNTIME_CONSOLE_H_
#define ORRINVALE_RUNTIME_CONSOLE_H_

#include <string>
#include <string_view>

#include "runtime/os.h"

using EndRoutine = void (*)();

// Registers consoleCloseHandler for the end signals; endRoutine is what it
// runs when the console closes. Returns 1 (it has no failure).
int openConsole(EndRoutine endRoutine);

// Writes text and CR LF: UTF-8 on a terminal, raw UTF-16LE otherwise.
void printLine(std::u16string_view text);

// The bytes printLine sends to a redirected output.
std::string redirectedLineBytes(std::u16string_view text);

// Runs on the signal thread. For a closing console (hangup) it runs the end
// routine; for every end signal (hangup, interrupt, termination, quit, alarm,
// user signals) it removes the temporary files of a rewrite in progress. Returns false: the event
// is never handled, the process ends.
bool consoleCloseHandler(os::EndSignal event);

#endif  // ORRINVALE_RUNTIME_CONSOLE_H_

// Console output: whole lines of UTF-16 text on the standard output, and the
// handler that tidies up when the console goes away or the run is stopped.
#ifndef ORRINVALE_RUNTIME_CONSOLE_H_
#define ORRINVALE_RUNTIME_CONSOLE_H_

#include <string>
#include <string_view>

#include "runtime/os.h"

// Registers consoleCloseHandler for the end signals. Returns 1 (it has no
// failure).
int openConsole();

// Writes text and CR LF: UTF-8 on a terminal, raw UTF-16LE otherwise.
void printLine(std::u16string_view text);

// The bytes printLine sends to a redirected output.
std::string redirectedLineBytes(std::u16string_view text);

// Runs when the console goes away (hangup, window closed) or the run is asked
// to stop (interrupt, termination, quit, alarm, user signals): removes the
// temporary file of a rewrite in progress, and nothing else, so that it is
// safe in a signal handler. Returns false: the event is never handled, the
// process ends by it.
bool consoleCloseHandler(os::EndSignal event);

#endif  // ORRINVALE_RUNTIME_CONSOLE_H_

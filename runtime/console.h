// Console output: whole lines of UTF-16 text on the standard output.
#ifndef ORRINVALE_RUNTIME_CONSOLE_H_
#define ORRINVALE_RUNTIME_CONSOLE_H_

#include <string>
#include <string_view>

// Sets the process up for console output: a reader that goes away makes
// writes fail rather than end the process. Returns 1 (it has no failure).
int openConsole();

// Writes text and CR LF: UTF-8 on a terminal, raw UTF-16LE otherwise.
void printLine(std::u16string_view text);

// The bytes printLine sends to a redirected output.
std::string redirectedLineBytes(std::u16string_view text);

#endif  // ORRINVALE_RUNTIME_CONSOLE_H_

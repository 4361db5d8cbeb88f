// Text files line by line: the way the reference reads and writes a file,
// and what the tests read and write text files with.
#ifndef ORRINVALE_TESTS_REFERENCE_TEXT_LINES_H_
#define ORRINVALE_TESTS_REFERENCE_TEXT_LINES_H_

#include <string>
#include <string_view>

#include "runtime/text_codec.h"
#include "runtime/text_file.h"

// True when no further whole unit of format can be read (or reading has
// failed). Bytes of a partial unit at the very end are no line: they are
// left for readBytes.
bool atEnd(TextFile* file, TextFormat format);

// Reads the next line, without its line end (CR LF, LF, CR or a zero unit),
// into *line.
void readLine(TextFile* file, TextFormat format, std::u16string* line);

// The same line as its raw bytes in the file's encoding: whole units, without
// the line end. The view is valid until the next line is read or written.
std::string_view readLineBytes(TextFile* file, TextFormat format);

void writeFormat(TextFile* file, TextFormat format);
// Writes text and CR LF, both encoded in format.
void writeLine(TextFile* file, std::u16string_view text, TextFormat format);

// Writes bytes already encoded in format, then CR LF in format.
void writeRawLine(TextFile* file, std::string_view raw, TextFormat format);

#endif  // ORRINVALE_TESTS_REFERENCE_TEXT_LINES_H_

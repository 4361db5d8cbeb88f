// The reference scan.
#include "app/scan_pass.h"

#include <string>

#include "app/line_text.h"

void scanByLines(TextFile* file, TextFormat format, ScanState& state) {
  std::u16string line;
  while (!atEnd(file, format)) {
    line.clear();
    decodeText(format, readLineBytes(file, format), &line);
    scanLine(state, trimChar(line));
  }
}

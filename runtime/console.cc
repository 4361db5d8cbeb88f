// Console output over the platform layer.
#include "runtime/console.h"

#include "runtime/os.h"
#include "runtime/text_codec.h"

int openConsole() {
  os::keepWritesFromEndingTheProcess();
  return 1;
}

std::string redirectedLineBytes(std::u16string_view text) {
  std::string bytes;
  bytes.reserve((text.size() + 2) * 2);
  encodeText(TextFormat::Utf16Le, text, &bytes);
  encodeText(TextFormat::Utf16Le, u"\r\n", &bytes);
  return bytes;
}

void printLine(std::u16string_view text) {
  std::string bytes;
  try {
    if (os::standardOutputIsTerminal()) {
      encodeUtf8(text, &bytes);
      bytes += "\r\n";
      if (os::writeTerminal(bytes)) return;
    }
    bytes = redirectedLineBytes(text);
  } catch (const std::bad_alloc&) {
    return;  // no memory for the line: it is not printed
  }
  os::writeStandardOutput(bytes.data(), static_cast<int64_t>(bytes.size()));
}

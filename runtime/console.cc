// Console output over the platform layer.
#include "runtime/console.h"

#include "runtime/run_lock.h"
#include "runtime/text_codec.h"

namespace {

EndRoutine g_endRoutine = nullptr;

void onEndSignal(os::EndSignal signal) {
  // From here on the main thread never touches a file or a pattern again.
  stopOperations();
  consoleCloseHandler(signal);
}

}  // namespace

int openConsole(EndRoutine endRoutine) {
  g_endRoutine = endRoutine;
  os::keepWritesFromEndingTheProcess();
  // Where no signal thread can start, a handler can do no more than remove
  // the temporary file; the file it would replace is never written in place,
  // so nothing else is at stake.
  os::watchEndSignals(onEndSignal, removeTemporaryFilesInHandler);
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

bool consoleCloseHandler(os::EndSignal event) {
  RunLock lock;
  if (event == os::EndSignal::Hangup && g_endRoutine) g_endRoutine();
  removeTemporaryFiles();
  return false;
}

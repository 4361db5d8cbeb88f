// Helpers shared by the tests: scratch directories, whole-file bytes and runs
// of the real binary.
#ifndef ORRINVALE_TESTS_TEST_SUPPORT_H_
#define ORRINVALE_TESTS_TEST_SUPPORT_H_

#include <string>
#include <vector>

// A fresh directory, removed with its content when the object goes.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  std::string path;
  std::string file(const std::string& name) const { return path + "/" + name; }
};

std::string readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
std::vector<std::string> listDirectory(const std::string& path);

// Runs the orrinvale binary in directory with arguments; stdout is captured
// (redirected, so in UTF-16LE).
struct RunResult {
  int exitStatus = -1;   // exit code, or -1 when ended by a signal
  int signal = 0;
  std::string output;
};
// A nonzero addressSpaceLimit (bytes) caps the child's memory.
RunResult runTool(const std::string& directory, const std::vector<std::string>& args = {},
                  long addressSpaceLimit = 0);

// UTF-16LE bytes of the given ASCII console lines, each ending in CR LF.
std::string consoleBytes(const std::vector<std::string>& lines);
std::vector<std::string> creditLines();

// u"..." from an ASCII/UTF-8 std::string, for readable expectations.
std::u16string utf16(const std::string& text);

#endif  // ORRINVALE_TESTS_TEST_SUPPORT_H_

// Runs body with the standard output sent to a file; returns what it printed.
#include <functional>
std::string captureOutput(const std::function<void()>& body);

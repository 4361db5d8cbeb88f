// Helpers shared by the tests: scratch directories, whole-file bytes and runs
// of the real binary.
#ifndef ORRINVALE_TESTS_TEST_SUPPORT_H_
#define ORRINVALE_TESTS_TEST_SUPPORT_H_

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/driver.h"
#include "runtime/text_file.h"
#include "tests/reference/reference_run.h"

// A fresh directory, removed with its content when the object goes.
struct ScratchDir {
  ScratchDir();
  ~ScratchDir();
  std::string path;
  std::string file(const std::string& name) const { return path + "/" + name; }
};

std::string readBytes(const std::string& path);
// A new or emptied file at path, open for writing as a TextFile; null on failure.
TextFile* createForWriting(const std::string& path);
void writeBytes(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
std::vector<std::string> listDirectory(const std::string& path);

// Runs the orrinvale binary in directory (any depth) with arguments; stdout is captured
// (redirected, so in UTF-16LE).
struct RunResult {
  int exitStatus = -1;  // exit code, or -1 when ended by a signal
  int signal = 0;
  std::string output;
};
// Limits for the child; 0 leaves one as it is. A user other than -1 is
// switched to before the tool starts (needs root).
struct ChildLimits {
  long addressSpace = 0;  // bytes
  long fileSize = 0;      // bytes
  long openFiles = 0;
  long stack = 0;  // bytes
  long processes = 0;
  int user = -1;
};
RunResult runTool(const std::string& directory, const std::vector<std::string>& args = {},
                  const ChildLimits& limits = {});

// Starts the tool in directory with its output discarded; returns its pid.
int spawnTool(const std::string& directory, const ChildLimits& limits = {});
// Waits for the child; returns its wait status.
int waitFor(int pid);

// A program of procedures blocks of about 2 KB each, every block referring to
// the one at half its number; the main code calls callFromMain.
std::string largeProgram(int procedures, int callFromMain = 1);

// UTF-16LE bytes of the given ASCII console lines, each ending in CR LF.
std::string consoleBytes(const std::vector<std::string>& lines);
std::vector<std::string> creditLines();
// The credit lines followed by lines.
std::vector<std::string> withCredits(std::vector<std::string> lines);

// u"..." from an ASCII/UTF-8 std::string, for readable expectations.
std::u16string utf16(const std::string& text);
std::wstring utf16ToWide(const std::string& text);

// Names the instances of a test that runs both ways.
inline std::string runWayName(const testing::TestParamInfo<RunWay>& info) {
  return info.param == RunWay::Tool ? "Tool" : "Reference";
}

// Runs body with the standard output sent to a file; returns what it printed.
std::string captureOutput(const std::function<void()>& body);

#endif  // ORRINVALE_TESTS_TEST_SUPPORT_H_

// Shared test helpers.
#include "tests/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "runtime/text_codec.h"

ScratchDir::ScratchDir() {
  char pattern[] = "/tmp/orrinvale-test-XXXXXX";
  path = mkdtemp(pattern);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // Give back write permission that a test took away so that removal works.
  for (auto& entry : std::filesystem::recursive_directory_iterator(path, ignored))
    chmod(entry.path().c_str(), 0700);
  chmod(path.c_str(), 0700);
  std::filesystem::remove_all(path, ignored);
}

std::string readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

std::vector<std::string> listDirectory(const std::string& path) {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator(path))
    names.push_back(entry.path().filename().string());
  return names;
}

namespace {

void setLimit(int resource, long value) {
  if (value <= 0) return;
  struct rlimit limit = {static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
  setrlimit(resource, &limit);
}

// In the child: standard output to output, the limits, then the tool.
[[noreturn]] void execTool(const std::string& directory, const std::vector<std::string>& args,
                           const ChildLimits& limits, int output) {
  dup2(output, STDOUT_FILENO);
  // Nothing of the test's own may count against the child's handles.
  for (int fd = 3; fd < 1024; ++fd) close(fd);
  // One step at a time, so that a directory deeper than PATH_MAX is reached.
  if (directory.starts_with("/") && chdir("/") != 0) _exit(127);
  for (size_t at = 0; at < directory.size();) {
    size_t end = std::min(directory.find('/', at), directory.size());
    if (end > at && chdir(directory.substr(at, end - at).c_str()) != 0) _exit(127);
    at = end + 1;
  }
  struct rlimit noCore = {0, 0};
  setrlimit(RLIMIT_CORE, &noCore);  // a quit signal must not leave a core dump behind
  if (limits.user >= 0 && (setgid(limits.user) != 0 || setuid(limits.user) != 0)) _exit(126);
  setLimit(RLIMIT_AS, limits.addressSpace);
  setLimit(RLIMIT_FSIZE, limits.fileSize);
  setLimit(RLIMIT_NOFILE, limits.openFiles);
  setLimit(RLIMIT_STACK, limits.stack);
  setLimit(RLIMIT_NPROC, limits.processes);
  std::vector<char*> argv{const_cast<char*>(ORRINVALE_BINARY)};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  execv(ORRINVALE_BINARY, argv.data());
  _exit(127);
}

}  // namespace

int spawnTool(const std::string& directory, const ChildLimits& limits) {
  pid_t child = fork();
  if (child == 0) execTool(directory, {}, limits, open("/dev/null", O_WRONLY));
  return child;
}

int waitFor(int pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

RunResult runTool(const std::string& directory, const std::vector<std::string>& args,
                  const ChildLimits& limits) {
  RunResult result;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return result;
  pid_t child = fork();
  if (child == 0) execTool(directory, args, limits, pipeEnds[1]);
  close(pipeEnds[1]);
  char chunk[4096];
  ssize_t got;
  while ((got = read(pipeEnds[0], chunk, sizeof chunk)) > 0) result.output.append(chunk, got);
  close(pipeEnds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

std::string largeProgram(int procedures, int callFromMain) {
  std::string text;
  for (int procedure = 1; procedure <= procedures; ++procedure) {
    std::string n = std::to_string(procedure);
    text += "macro MP" + n + "{\r\n_Procedure" + n + ":\r\n";
    for (int line = 0; line < 60; ++line)
      text += " mov rax, [_Procedure" + std::to_string(procedure / 2 + 1) + " + 8] ; filler\r\n";
    text += "}\r\n";
  }
  text += "call _Procedure" + std::to_string(callFromMain) + "\r\n";
  for (int procedure = 1; procedure <= procedures; ++procedure)
    text += "MP" + std::to_string(procedure) + "\r\n";
  return text;
}

std::u16string utf16(const std::string& text) {
  std::u16string result;
  decodeUtf8(text, &result);
  return result;
}

std::string consoleBytes(const std::vector<std::string>& lines) {
  std::string bytes;
  for (const std::string& line : lines) {
    encodeText(TextFormat::Utf16Le, utf16(line), &bytes);
    bytes.append("\r\0\n\0", 4);
  }
  return bytes;
}

std::vector<std::string> creditLines() {
  return {"Orrinvale uses:",
          "PCRE, the Perl Compatible Regular Expressions library by Philip Hazel, "
          "copyright University of Cambridge, England",
          "For PCRE license see pcre_license.txt", ""};
}

std::string captureOutput(const std::function<void()>& body) {
  ScratchDir dir;
  int saved = dup(STDOUT_FILENO);
  int sink = open(dir.file("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(sink, STDOUT_FILENO);
  close(sink);
  body();
  dup2(saved, STDOUT_FILENO);
  close(saved);
  return readBytes(dir.file("out"));
}

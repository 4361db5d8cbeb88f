// Test helpers that start the real binary as a child process (POSIX).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "tests/test_support.h"

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

TextFile* createForWriting(const std::string& path) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return fd < 0 ? nullptr : adoptForWriting(os::FileHandle{fd});
}

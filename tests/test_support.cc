// Shared test helpers.
#include "tests/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

RunResult runTool(const std::string& directory, const std::vector<std::string>& args,
                  long addressSpaceLimit) {
  RunResult result;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return result;
  pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    if (chdir(directory.c_str()) != 0) _exit(127);
    if (addressSpaceLimit > 0) {
      struct rlimit limit = {static_cast<rlim_t>(addressSpaceLimit),
                             static_cast<rlim_t>(addressSpaceLimit)};
      setrlimit(RLIMIT_AS, &limit);
    }
    std::vector<char*> argv{const_cast<char*>(ORRINVALE_BINARY)};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(ORRINVALE_BINARY, argv.data());
    _exit(127);
  }
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

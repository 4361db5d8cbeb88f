// Shared test helpers that work on every platform.
#include "tests/test_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "runtime/pattern_engine.h"
#include "runtime/text_codec.h"

ScratchDir::ScratchDir() {
  // Unique among the tests that run at once, in this process and in others.
  static std::atomic<unsigned> serial{0};
  std::random_device seed;
  for (;;) {
    auto candidate = std::filesystem::temp_directory_path() /
                     ("orrinvale-test-" + std::to_string(seed()) + "-" + std::to_string(++serial));
    if (std::filesystem::create_directory(candidate)) {
      path = candidate.string();
      return;
    }
  }
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  // Give back write permission that a test took away so that removal works.
  const auto all = std::filesystem::perms::owner_all;
  for (auto& entry : std::filesystem::recursive_directory_iterator(path, ignored))
    std::filesystem::permissions(entry.path(), all, ignored);
  std::filesystem::permissions(path, all, ignored);
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
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
}

std::vector<std::string> listDirectory(const std::string& path) {
  std::vector<std::string> names;
  for (auto& entry : std::filesystem::directory_iterator(path))
    names.push_back(entry.path().filename().string());
  return names;
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
  const std::string library = pattern_engine::libraryName();
  return {"Orrinvale uses:",
          library +
              ", the Perl Compatible Regular Expressions library by Philip Hazel, "
              "copyright University of Cambridge, England",
          "For " + library + " license see pcre_license.txt", ""};
}

std::vector<std::string> withCredits(std::vector<std::string> lines) {
  std::vector<std::string> all = creditLines();
  all.insert(all.end(), lines.begin(), lines.end());
  return all;
}

std::wstring utf16ToWide(const std::string& text) {
  std::u16string wide = utf16(text);
  return std::wstring(wide.begin(), wide.end());
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

// Test helpers that start the real binary as a child process (Windows).
// Limits are a POSIX matter; the tests that need them do not run here.
#include <windows.h>

#include <filesystem>

#include "tests/test_support.h"

namespace {

// The tool lies where the build put it relative to this test program.
std::wstring toolPath() {
  std::wstring self(32768, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
  return (std::filesystem::path(self).parent_path() / ORRINVALE_BINARY_FROM_TESTS).wstring();
}

// One argument as the C runtime of the child splits its command line.
std::wstring asArgument(const std::wstring& argument) {
  std::wstring result = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    result.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    result.push_back(c);
  }
  result.append(2 * backslashes, L'\\');
  return result + L"\"";
}

}  // namespace

RunResult runTool(const std::string& directory, const std::vector<std::string>& args,
                  const ChildLimits&) {
  RunResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE readEnd, writeEnd;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return result;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE nothing = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
  std::wstring tool = toolPath();
  std::wstring commandLine = asArgument(tool);
  for (const std::string& arg : args) commandLine += L" " + asArgument(utf16ToWide(arg));
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nothing;
  startup.hStdOutput = writeEnd;
  startup.hStdError = nothing;
  PROCESS_INFORMATION process = {};
  std::wstring workingDirectory = std::filesystem::path(directory).wstring();
  bool started = CreateProcessW(tool.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                nullptr, workingDirectory.c_str(), &startup, &process);
  CloseHandle(writeEnd);
  CloseHandle(nothing);
  if (started) {
    char chunk[4096];
    DWORD got;
    while (ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0)
      result.output.append(chunk, got);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.exitStatus = static_cast<int>(code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  CloseHandle(readEnd);
  return result;
}

TextFile* createForWriting(const std::string& path) {
  HANDLE handle =
      CreateFileW(std::filesystem::path(path).wstring().c_str(), GENERIC_READ | GENERIC_WRITE,
                  FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return adoptForWriting(os::FileHandle{reinterpret_cast<intptr_t>(handle)});
}

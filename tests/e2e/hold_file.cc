// Holds a file open without sharing it with anyone, as an editor or a virus
// scanner might, until its standard input closes. Prints "held" once it has.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  HANDLE file = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::puts("held");
  std::fflush(stdout);
  char sink[64];
  DWORD got;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), sink, sizeof sink, &got, nullptr) && got > 0) {
  }
  CloseHandle(file);
  return 0;
}

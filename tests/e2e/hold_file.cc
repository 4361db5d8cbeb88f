// Holds a file open, as an editor or a virus scanner might, until its standard
// input closes; prints "held" once it has. "alone" shares the file with
// nobody; "reading" reads it and lets others only read it too.
//   hold_file alone|reading FILE
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  bool alone = wcscmp(argv[1], L"alone") == 0;
  HANDLE file = CreateFileW(argv[2], alone ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                            alone ? 0 : FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::puts("held");
  std::fflush(stdout);
  char sink[64];
  DWORD got;
  while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), sink, sizeof sink, &got, nullptr) && got > 0) {}
  CloseHandle(file);
  return 0;
}

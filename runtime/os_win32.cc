// Windows implementation of the platform layer. Paths arrive as UTF-8 and go
// to the system as wide, absolute paths with the \\?\ prefix, so that their
// length is no limit.
#include "runtime/os.h"

#include <windows.h>

#include <aclapi.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>
#include <vector>

#include "runtime/os_shared.h"
#include "runtime/seams.h"

namespace os {
namespace {

HANDLE win(FileHandle file) { return reinterpret_cast<HANDLE>(file.value); }
FileHandle fileOf(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : FileHandle{reinterpret_cast<intptr_t>(handle)};
}

bool injectedFailure() {
  if (!seams::fileChangeFails()) return false;
  SetLastError(ERROR_DISK_FULL);
  return true;
}

std::wstring widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

// The absolute form of path that the system takes at any length.
std::wstring longPath(const std::wstring& path) {
  DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return path;
  std::wstring full(needed, L'\0');
  DWORD got = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  full.resize(got);
  // Already in the system's own form, or a device such as \\.\NUL.
  if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\")) return full;
  if (full.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::wstring longPath(const std::string& path) { return longPath(widen(path)); }

// Only disk files count as files: not a console, a printer port or a pipe.
HANDLE keepDiskFile(HANDLE handle) {
  if (handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

// A time in the system's 100 ns units as seconds and nanoseconds.
void splitTime(uint64_t ticks, int64_t* seconds, int64_t* nanoseconds) {
  *seconds = static_cast<int64_t>(ticks / 10000000);
  *nanoseconds = static_cast<int64_t>(ticks % 10000000) * 100;
}

bool stampOfHandle(HANDLE handle, FileStamp* stamp) {
  BY_HANDLE_FILE_INFORMATION info;
  FILE_BASIC_INFO times;
  if (!GetFileInformationByHandle(handle, &info) ||
      !GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times))
    return false;
  stamp->device = info.dwVolumeSerialNumber;
  stamp->inode = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp->size =
      static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  splitTime(static_cast<uint64_t>(times.LastWriteTime.QuadPart), &stamp->modifiedSeconds,
            &stamp->modifiedNanoseconds);
  splitTime(static_cast<uint64_t>(times.ChangeTime.QuadPart), &stamp->changedSeconds,
            &stamp->changedNanoseconds);
  return true;
}

// Opens path only to look at it; links are followed unless told otherwise.
HANDLE openToLookAt(const std::wstring& path, bool followLinks) {
  DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
  return CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     flags, nullptr);
}

// A directory handle names one of these paths, each ending in a backslash.
std::mutex g_directoriesLock;
std::vector<std::wstring>& directories() {
  static auto* paths = new std::vector<std::wstring>;
  return *paths;
}

std::wstring directoryPath(DirectoryHandle directory) {
  std::lock_guard<std::mutex> lock(g_directoriesLock);
  auto& paths = directories();
  if (directory.value < 0 || static_cast<size_t>(directory.value) >= paths.size()) return {};
  return paths[static_cast<size_t>(directory.value)];
}

std::wstring pathIn(DirectoryHandle directory, const std::string& name) {
  return directoryPath(directory) + widen(name);
}

// The lock of a run is one byte far beyond any real end of file: Windows
// locks keep other handles from reading what they cover, and the file
// itself must stay readable.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

std::string temporarySuffix() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return uniqueSuffix((static_cast<uint64_t>(GetCurrentProcessId()) << 32) ^
                      static_cast<uint64_t>(now.QuadPart));
}

// The access control list of handle, and whether it is protected from
// inheritance; descriptor holds the memory until freed with LocalFree.
struct AccessList {
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool isProtected = false;
  ~AccessList() { LocalFree(descriptor); }
};

bool readAccessList(HANDLE handle, AccessList* access) {
  if (GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                      &access->list, nullptr, &access->descriptor) != ERROR_SUCCESS)
    return false;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  GetSecurityDescriptorControl(access->descriptor, &control, &revision);
  access->isProtected = (control & SE_DACL_PROTECTED) != 0;
  return true;
}

bool sameAccess(const AccessList& a, const AccessList& b) {
  if (a.isProtected != b.isProtected || !a.list != !b.list) return false;
  if (!a.list) return true;
  return a.list->AclSize == b.list->AclSize && memcmp(a.list, b.list, a.list->AclSize) == 0;
}

// Under Wine a file's access control list is a view of its Unix mode bits,
// which cannot show the group's bits, and setting one rewrites those bits for
// the wider: the group gets the owner's, and reading brings execute.
bool accessListsAreModeBits() {
  static const bool wine =
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
}

// Gives destination source's access control list, inherited from the
// directory or not as it was there. A list the new file already has (as a
// file that inherits all of it from the same directory does) is left as it
// is. A list that cannot be given as it is, since it stands for mode bits or
// the system does not keep it as given, is a failure: the new file could
// then be more open than the old. A volume that keeps no lists (FAT) has
// none to give.
bool copyAccessList(HANDLE source, HANDLE destination) {
  DWORD volumeFlags = 0;
  if (GetVolumeInformationByHandleW(destination, nullptr, 0, nullptr, nullptr, &volumeFlags,
                                    nullptr, 0) &&
      !(volumeFlags & FILE_PERSISTENT_ACLS))
    return true;
  AccessList wanted, had;
  if (!readAccessList(source, &wanted) || !readAccessList(destination, &had)) return false;
  if (sameAccess(wanted, had)) return true;
  if (accessListsAreModeBits()) return false;
  SECURITY_INFORMATION inheritance = wanted.isProtected ? PROTECTED_DACL_SECURITY_INFORMATION
                                                        : UNPROTECTED_DACL_SECURITY_INFORMATION;
  if (SetSecurityInfo(destination, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | inheritance, nullptr,
                      nullptr, wanted.list, nullptr) != ERROR_SUCCESS)
    return false;
  AccessList now;
  return readAccessList(destination, &now) && sameAccess(wanted, now);
}

// Whether the file's access control list lets this process's user write its
// data, as the system would judge an open for writing; false if it cannot
// tell.
bool accessListAllowsWriting(const std::wstring& path, bool* allowed) {
  constexpr SECURITY_INFORMATION kWhat =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  GetFileSecurityW(path.c_str(), kWhat, nullptr, 0, &needed);
  if (needed == 0) return false;
  std::vector<char> descriptor(needed);
  if (!GetFileSecurityW(path.c_str(), kWhat, descriptor.data(), needed, &needed)) return false;
  HANDLE process = nullptr, token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &process)) return false;
  bool duplicated = DuplicateToken(process, SecurityImpersonation, &token) != 0;
  CloseHandle(process);
  if (!duplicated) return false;
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  DWORD wanted = FILE_WRITE_DATA;
  MapGenericMask(&wanted, &mapping);
  PRIVILEGE_SET privileges;
  DWORD privilegesSize = sizeof privileges;
  DWORD granted = 0;
  BOOL status = FALSE;
  bool checked = AccessCheck(descriptor.data(), token, wanted, &mapping, &privileges,
                             &privilegesSize, &granted, &status) != 0;
  CloseHandle(token);
  *allowed = checked && status;
  return checked;
}

// The rename that takes flags (Windows 10 1709 on); the headers declare it
// only for programs that require that version.
constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);

// Renames from over to in one step, even while to is open elsewhere (with
// delete sharing); *error holds the system's reason on failure.
bool renameReplacingOpenFile(const std::wstring& from, const std::wstring& to, DWORD* error) {
  HANDLE file = CreateFileW(from.c_str(), DELETE | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = GetLastError();
    return false;
  }
  size_t nameBytes = to.size() * sizeof(wchar_t);
  std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  rename->Flags = FILE_RENAME_FLAG_REPLACE_IF_EXISTS | FILE_RENAME_FLAG_POSIX_SEMANTICS;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  memcpy(rename->FileName, to.c_str(), nameBytes + sizeof(wchar_t));
  bool renamed = SetFileInformationByHandle(file, kFileRenameInfoEx, rename,
                                            static_cast<DWORD>(buffer.size())) != 0;
  *error = renamed ? ERROR_SUCCESS : GetLastError();
  CloseHandle(file);
  return renamed;
}

void (*g_onSignal)(EndSignal) = nullptr;

// Held by a deferral of end signals and taken for good by the console
// handler, which runs on a thread of the system's own.
SRWLOCK g_signalsDeferred = SRWLOCK_INIT;
thread_local int t_deferrals = 0;

// Ends the process as the system's own handling of Ctrl+C would.
constexpr UINT kInterruptedExit = 0xC000013A;

BOOL WINAPI consoleEvent(DWORD event) {
  EndSignal which;
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: which = EndSignal::Interrupt; break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: which = EndSignal::Hangup; break;
    default: return FALSE;
  }
  // The system runs this on a thread of its own; it returns only when done.
  AcquireSRWLockExclusive(&g_signalsDeferred);
  if (g_onSignal) g_onSignal(which);
  // Abrupt on purpose: the main thread is stopped wherever it is.
  TerminateProcess(GetCurrentProcess(), kInterruptedExit);
  for (;;) Sleep(INFINITE);
}

}  // namespace

FileHandle openExistingForReading(const std::string& path) {
  if (seams::openFails()) {
    SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    return kNoFile;
  }
  // No other program may write the file while it is read; deleting or
  // renaming stays allowed, so that the run's own replacement can take
  // place while the run still holds it.
  return fileOf(keepDiskFile(CreateFileW(longPath(path).c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
}

int64_t readOnce(FileHandle file, int64_t offset, void* destination, int64_t n) {
  DWORD chunk = static_cast<DWORD>(std::min<int64_t>(n, 1 << 30));
  DWORD got = 0;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  if (ReadFile(win(file), destination, chunk, &got, offset < 0 ? nullptr : &at)) return got;
  return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

bool writeFully(FileHandle file, const void* source, int64_t n) {
  if (injectedFailure()) return false;
  const char* in = static_cast<const char*>(source);
  while (n > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<int64_t>(n, 1 << 30));
    DWORD put = 0;
    if (!WriteFile(win(file), in, chunk, &put, nullptr) || put == 0) return false;
    in += put;
    n -= put;
  }
  return true;
}

bool copyRange(FileHandle from, int64_t offset, FileHandle to, int64_t n) {
  if (injectedFailure()) return false;
  return copyThroughBuffer(from, offset, to, n);
}

// A positioned ReadFile moves the position of a handle opened for plain
// reading, so copying meanwhile would disturb the main thread's reads.
bool copyRangeKeepsPosition() { return false; }

void startWriteBack(FileHandle) {}

void dropCached(FileHandle, int64_t, int64_t) {}

int64_t seek(FileHandle file, int64_t offset, SeekFrom whence) {
  if (seams::seekFails()) {
    SetLastError(ERROR_READ_FAULT);
    return -1;
  }
  DWORD how = whence == SeekFrom::Start     ? FILE_BEGIN
              : whence == SeekFrom::Current ? FILE_CURRENT
                                            : FILE_END;
  LARGE_INTEGER distance, position;
  distance.QuadPart = offset;
  if (!SetFilePointerEx(win(file), distance, &position, how)) return -1;
  return position.QuadPart;
}

bool syncFile(FileHandle file) {
  if (injectedFailure()) return false;
  return FlushFileBuffers(win(file)) != 0;
}

bool closeHandle(FileHandle file) { return CloseHandle(win(file)) != 0; }

bool stampOf(FileHandle file, FileStamp* stamp) { return stampOfHandle(win(file), stamp); }

bool namesFile(const std::string& path, FileHandle file) {
  HANDLE named = openToLookAt(longPath(path), true);
  if (named == INVALID_HANDLE_VALUE) return false;
  FileStamp byName, open;
  bool same = stampOfHandle(named, &byName) && stampOf(file, &open) &&
              byName.device == open.device && byName.inode == open.inode;
  CloseHandle(named);
  return same;
}

bool lockExclusive(FileHandle file) {
  OVERLAPPED at = {};
  at.OffsetHigh = kLockOffsetHigh;
  return LockFileEx(win(file), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != 0;
}

// The path of the file that a link names, in the system's long form.
bool finalPathOf(const std::wstring& link, std::wstring* final) {
  HANDLE handle = openToLookAt(link, true);
  if (handle == INVALID_HANDLE_VALUE) return false;
  final->assign(32768, L'\0');
  DWORD got = GetFinalPathNameByHandleW(handle, final->data(), static_cast<DWORD>(final->size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  CloseHandle(handle);
  if (got == 0 || got >= final->size()) return false;
  final->resize(got);
  *final = longPath(*final);
  return true;
}

bool locate(const std::string& path, FileLocation* location) {
  release(location);
  // A link is replaced where it leads; the system follows every link on the
  // way and names the final file. Where it cannot say (some systems stop at
  // MAX_PATH), a name that is no link is its own final path.
  std::wstring full = longPath(path), final;
  if (!finalPathOf(full, &final)) {
    DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return false;
    final = full;
  }
  size_t slash = final.rfind(L'\\');
  if (slash == std::wstring::npos || slash + 1 == final.size()) return false;
  std::wstring name = final.substr(slash + 1);
  int bytes = WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr,
                                  0, nullptr, nullptr);
  location->name.assign(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), location->name.data(),
                      bytes, nullptr, nullptr);
  std::lock_guard<std::mutex> lock(g_directoriesLock);
  auto& paths = directories();
  paths.push_back(final.substr(0, slash + 1));
  location->directory = DirectoryHandle{static_cast<intptr_t>(paths.size() - 1)};
  return true;
}

void release(FileLocation* location) {
  if (location->directory != kNoDirectory) {
    std::lock_guard<std::mutex> lock(g_directoriesLock);
    auto& paths = directories();
    if (static_cast<size_t>(location->directory.value) < paths.size())
      paths[static_cast<size_t>(location->directory.value)].clear();
  }
  location->directory = kNoDirectory;
  location->name.clear();
}

bool stampAt(const FileLocation& location, FileStamp* stamp) {
  HANDLE handle = openToLookAt(pathIn(location.directory, location.name), false);
  if (handle == INVALID_HANDLE_VALUE) return false;
  bool ok = stampOfHandle(handle, stamp);
  CloseHandle(handle);
  return ok;
}

Access writeAccess(const FileLocation& location) {
  std::wstring path = pathIn(location.directory, location.name);
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Access::Failed;
  // The read-only attribute is the user's word that the file stays as it is.
  if (attributes & FILE_ATTRIBUTE_READONLY) return Access::Denied;
  // So is an access control list that keeps this user from writing it, even
  // where the directory would let the rename through.
  bool allowed = false;
  if (!accessListAllowsWriting(path, &allowed)) return Access::Failed;
  return allowed ? Access::Allowed : Access::Denied;
}

bool createTemporary(const FileLocation& location, const std::string& prefix,
                     TemporaryFile* temporary) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix + temporarySuffix();
    // Shared for deletion, so that the end routine can remove it while it is
    // open; the open handle alone tells other runs that it is alive.
    // Its own access control list is set from the original's before commit.
    HANDLE handle = CreateFileW(pathIn(location.directory, name).c_str(),
                                GENERIC_READ | GENERIC_WRITE | READ_CONTROL | WRITE_DAC,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) continue;
    if (handle == INVALID_HANDLE_VALUE) return false;
    temporary->handle = fileOf(handle);
    temporary->name = name;
    return true;
  }
  return false;
}

bool nameTemporary(const FileLocation&, const std::string&, TemporaryFile* temporary) {
  return !temporary->name.empty();  // every temporary file here has a name
}

void copyFileFlags(FileHandle, FileHandle) {}  // the attributes go with copyMetadata

bool copyMetadata(FileHandle source, FileHandle destination) {
  if (injectedFailure()) return false;
  // The attributes (so that the new file is not left hidden), the creation
  // time and the access control list. Alternate data streams and the owner
  // stay with the old file.
  FILE_BASIC_INFO from, to;
  if (!GetFileInformationByHandleEx(win(source), FileBasicInfo, &from, sizeof from) ||
      !GetFileInformationByHandleEx(win(destination), FileBasicInfo, &to, sizeof to))
    return false;
  to.FileAttributes = from.FileAttributes == 0 ? FILE_ATTRIBUTE_NORMAL : from.FileAttributes;
  to.CreationTime = from.CreationTime;
  return SetFileInformationByHandle(win(destination), FileBasicInfo, &to, sizeof to) != 0 &&
         copyAccessList(win(source), win(destination));
}

bool replaceWith(const FileLocation& location, const std::string& name, FileHandle* original) {
  if (injectedFailure()) return false;
  std::wstring target = pathIn(location.directory, location.name);
  std::wstring replacement = pathIn(location.directory, name);
  // One rename that replaces: at every moment the name holds the old file or
  // the new one. The rename that may replace a file still open comes first;
  // where the system or file system lacks it, a plain one, which no open
  // handle of the old file may hinder. Never the two-step replace, whose
  // middle leaves no file under the name.
  DWORD error = ERROR_SUCCESS;
  if (renameReplacingOpenFile(replacement, target, &error)) return true;
  if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
      error != ERROR_INVALID_FUNCTION)
    return false;
  if (*original != kNoFile) {
    CloseHandle(win(*original));
    *original = kNoFile;
  }
  return MoveFileExW(replacement.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool removeAt(DirectoryHandle directory, const char* name) {
  return DeleteFileW(pathIn(directory, name).c_str()) != 0;
}

void removeAbandoned(const FileLocation& location, const std::string& prefix) {
  std::wstring directory = directoryPath(location.directory);
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((directory + widen(prefix) + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  std::vector<std::wstring> names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  // A live run holds its file open: one that nobody holds can be opened with
  // no sharing at all, and only such a one is a leftover.
  for (const std::wstring& name : names) {
    std::wstring path = directory + name;
    HANDLE alone = CreateFileW(path.c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (alone != INVALID_HANDLE_VALUE) CloseHandle(alone);
  }
}

// Flags 0 and the default character for what the code page lacks, as the
// system's own conversions do.
bool decodeAnsiCodePage(std::string_view bytes, std::u16string* out) {
  if (bytes.empty()) return true;
  if (bytes.size() > INT_MAX) return false;
  int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return false;
  size_t start = out->size();
  out->resize(start + static_cast<size_t>(n));
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                      reinterpret_cast<wchar_t*>(out->data() + start), n);
  return true;
}

bool encodeAnsiCodePage(std::u16string_view text, std::string* out) {
  if (text.empty()) return true;
  if (text.size() > INT_MAX) return false;
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  int n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0, nullptr,
                              nullptr);
  if (n <= 0) return false;
  size_t start = out->size();
  out->resize(start + static_cast<size_t>(n));
  WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), out->data() + start, n,
                      nullptr, nullptr);
  return true;
}

bool ansiCodePageIsSingleByte() {
  CPINFO info;
  return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;
}

const std::array<bool, 256>& ansiLeadBytes() {
  static const std::array<bool, 256> leadBytes = [] {
    std::array<bool, 256> lead{};
    CPINFO info;
    if (!GetCPInfo(CP_ACP, &info)) return lead;
    // Ranges in pairs, up to a pair of zeros.
    for (size_t i = 0; i + 1 < MAX_LEADBYTES && info.LeadByte[i]; i += 2)
      for (unsigned byte = info.LeadByte[i]; byte <= info.LeadByte[i + 1]; ++byte)
        lead[byte] = true;
    return lead;
  }();
  return leadBytes;
}

bool standardOutputIsTerminal() {
  DWORD mode;
  return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool writeTerminal(const std::string& utf8) {
  std::wstring text = widen(utf8);
  DWORD written = 0;
  return WriteConsoleW(GetStdHandle(STD_OUTPUT_HANDLE), text.data(),
                       static_cast<DWORD>(text.size()), &written, nullptr) != 0;
}

bool writeStandardOutput(const void* bytes, int64_t n) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  const char* in = static_cast<const char*>(bytes);
  while (n > 0) {
    DWORD put = 0;
    if (!WriteFile(output, in, static_cast<DWORD>(std::min<int64_t>(n, 1 << 30)), &put, nullptr) ||
        put == 0)
      return false;
    in += put;
    n -= put;
  }
  FlushFileBuffers(output);  // fails on a pipe, which needs none
  return true;
}

void keepWritesFromEndingTheProcess() {}  // no signal ends a write here

void watchEndSignals(void (*onSignal)(EndSignal)) {
  g_onSignal = onSignal;
  SetConsoleCtrlHandler(consoleEvent, TRUE);  // added to the handlers already there
}

void deferEndSignals() {
  if (t_deferrals++ == 0) AcquireSRWLockExclusive(&g_signalsDeferred);
}

void allowEndSignals() {
  if (--t_deferrals == 0) ReleaseSRWLockExclusive(&g_signalsDeferred);
}

}  // namespace os

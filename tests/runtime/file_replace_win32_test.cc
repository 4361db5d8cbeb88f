// Replacement on Windows: what the access control list says of this user.
#include "runtime/file_replace.h"

#include <windows.h>

#include <aclapi.h>

#include <filesystem>
#include <vector>

#include <gtest/gtest.h>

#include "tests/file_replace_support.h"
#include "tests/test_support.h"

namespace {

// Gives path a list of its own that denies this user writing its data and
// lets everyone read and write: no read-only attribute, no write for us.
bool denyWritingToThisUser(const std::string& path) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  std::vector<char> user(256);
  DWORD size = 0;
  bool known = GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()),
                                   &size) != 0;
  CloseHandle(token);
  if (!known) return false;
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
    return false;
  EXPLICIT_ACCESSW entries[2] = {};
  entries[0].grfAccessPermissions = FILE_WRITE_DATA | FILE_APPEND_DATA;
  entries[0].grfAccessMode = DENY_ACCESS;
  entries[0].Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entries[0].Trustee.ptstrName =
      static_cast<LPWSTR>(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid);
  entries[1].grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_WRITE;
  entries[1].grfAccessMode = GRANT_ACCESS;
  entries[1].Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entries[1].Trustee.ptstrName = static_cast<LPWSTR>(everyone);
  PACL list = nullptr;
  bool made = SetEntriesInAclW(2, entries, nullptr, &list) == ERROR_SUCCESS;
  std::wstring wide = std::filesystem::path(path).wstring();
  bool set =
      made && SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, list, nullptr) == ERROR_SUCCESS;
  LocalFree(list);
  FreeSid(everyone);
  return set && !(GetFileAttributesW(wide.c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST(Replacement, AnAccessListThatDeniesThisUserWritingLeavesTheFileAlone) {
  ScratchDir dir;
  writeBytes(dir.file("f"), "old");
  ASSERT_TRUE(denyWritingToThisUser(dir.file("f")));
  ReplaceStart start;
  EXPECT_FALSE(replaceWith(dir.file("f"), "new", &start));
  EXPECT_EQ(start, ReplaceStart::ReadOnly);
  EXPECT_EQ(readBytes(dir.file("f")), "old");
  EXPECT_EQ(listDirectory(dir.path), std::vector<std::string>{"f"});
}

}  // namespace

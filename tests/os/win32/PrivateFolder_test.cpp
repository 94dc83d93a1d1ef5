// Folders private to the user, as the Windows layer makes them: the rights read back from the
// file system, and the descriptor they are made with. Windows only (runs under Wine).
#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"
#include "os/os.h"
#include "os/win32/Security.h"
#include "support/zrFileUtils.h"

#include <sddl.h>

namespace {

std::vector<BYTE> TokenUserRecord() {
  HANDLE token = nullptr;
  std::vector<BYTE> record(512);
  DWORD size = 0;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    if (!GetTokenInformation(token, TokenUser, record.data(), record.size(), &size)) record.clear();
    CloseHandle(token);
  }
  return record;
}

PSID UserOf(const std::vector<BYTE>& record) {
  return reinterpret_cast<const TOKEN_USER*>(record.data())->User.Sid;
}

bool IsSystem(PSID sid) {
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  SID system = {SID_REVISION, 1, ntAuthority, {SECURITY_LOCAL_SYSTEM_RID}};
  return EqualSid(sid, &system);
}

// What another program sees of a folder: its owner and the rights its DACL grants.
struct Rights {
  std::vector<BYTE> descriptor;
  PSID owner = nullptr;
  PACL dacl = nullptr;
};

Rights ReadBack(const std::string& path) {
  Rights rights;
  DWORD needed = 0;
  SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  GetFileSecurityA(path.c_str(), what, nullptr, 0, &needed);
  rights.descriptor.resize(needed);
  BOOL present = FALSE, defaulted = FALSE;
  if (needed == 0 ||
      !GetFileSecurityA(path.c_str(), what, rights.descriptor.data(), needed, &needed) ||
      !GetSecurityDescriptorOwner(rights.descriptor.data(), &rights.owner, &defaulted) ||
      !GetSecurityDescriptorDacl(rights.descriptor.data(), &present, &rights.dacl, &defaulted)) {
    rights.owner = nullptr;
    rights.dacl = nullptr;
  }
  return rights;
}

// Every allowing entry names the user or the system, and the user has full control.
void ExpectOnlyUserAndSystem(PACL dacl, PSID user) {
  ASSERT_NE(dacl, nullptr) << "no DACL: everyone may use the folder";
  bool userHasAll = false;
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, index, reinterpret_cast<void**>(&ace)));
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    PSID sid = &ace->SidStart;
    EXPECT_TRUE(EqualSid(sid, user) || IsSystem(sid)) << "entry " << index << " lets others in";
    if (EqualSid(sid, user)) userHasAll = (ace->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS;
  }
  EXPECT_TRUE(userHasAll);
}

TEST(PrivateFolderTest, NobodyButTheUserAndTheSystemMayUseIt) {
  ScratchFolder scratch(CurrentTestName());
  // A parent like C:\Temp, where everyone may create files and folders.
  PSECURITY_DESCRIPTOR open = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &open, nullptr));
  SECURITY_ATTRIBUTES openToAll = {sizeof(openToAll), open, FALSE};
  std::string parent = scratch.Path() + "shared";
  ASSERT_TRUE(CreateDirectoryA(parent.c_str(), &openToAll));
  LocalFree(open);

  std::vector<BYTE> user = TokenUserRecord();
  ASSERT_FALSE(user.empty());
  ASSERT_EQ(os::CreateDir(parent + "\\direct", true), os::CreateResult::kCreated);
  std::string paths[] = {parent + "\\direct", CreateUniqueFolder(parent, true)};
  for (const std::string& path : paths) {
    SCOPED_TRACE(path);
    Rights rights = ReadBack(path);
    ASSERT_NE(rights.owner, nullptr);
    EXPECT_TRUE(EqualSid(rights.owner, UserOf(user)));
    ExpectOnlyUserAndSystem(rights.dacl, UserOf(user));
  }
}

// Wine keeps no descriptors of its own (it maps them onto Unix modes), so what it cannot show on
// read-back is checked on the descriptor the folders are made with.
TEST(PrivateFolderTest, DescriptorPassesItsRightsOnAndTakesNoneFromTheParent) {
  os::win32::PrivateSecurity security;
  ASSERT_TRUE(security.IsValid()) << security.Error();
  PSECURITY_DESCRIPTOR descriptor = security.Attributes()->lpSecurityDescriptor;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_TRUE(control & SE_DACL_PROTECTED);
  EXPECT_TRUE(control & SE_DACL_PRESENT);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
  ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
  std::vector<BYTE> user = TokenUserRecord();
  ASSERT_FALSE(user.empty());
  EXPECT_TRUE(EqualSid(owner, UserOf(user)));
  ExpectOnlyUserAndSystem(dacl, UserOf(user));
  ASSERT_EQ(dacl->AceCount, 2);
  for (DWORD index = 0; index < dacl->AceCount; ++index) {
    ACE_HEADER* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, index, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
  }
}

}  // namespace

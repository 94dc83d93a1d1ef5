// The Windows OS layer's security helpers (see Security.h).
#include "os/win32/Security.h"

#include <wincrypt.h>

#include <cstddef>

#include "os/os.h"
#include "os/win32/SystemLibraries.h"

namespace os::win32 {
namespace {

// advapi32 is imported by the program, so it is loaded; only the functions may be missing.
template <typename Function>
Function AdvapiFunction(const char* name) {
  return ModuleFunction<Function>(GetModuleHandleA("advapi32.dll"), name);
}

struct SecurityApi {
  BOOL(WINAPI* getTokenInformation)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
  DWORD(WINAPI* getLengthSid)(PSID);
  BOOL(WINAPI* initializeAcl)(PACL, DWORD, DWORD);
  BOOL(WINAPI* addAccessAllowedAce)(PACL, DWORD, DWORD, PSID);
  BOOL(WINAPI* getAce)(PACL, DWORD, LPVOID*);
  BOOL(WINAPI* initializeDescriptor)(PSECURITY_DESCRIPTOR, DWORD);
  BOOL(WINAPI* setOwner)(PSECURITY_DESCRIPTOR, PSID, BOOL);
  BOOL(WINAPI* setDacl)(PSECURITY_DESCRIPTOR, BOOL, PACL, BOOL);
  // Windows 2000 and later; NT 4 neither has it nor merges a parent's rights into given ones.
  BOOL(WINAPI* setControl)
  (PSECURITY_DESCRIPTOR, SECURITY_DESCRIPTOR_CONTROL, SECURITY_DESCRIPTOR_CONTROL);

  bool IsComplete() const {
    return getTokenInformation && getLengthSid && initializeAcl && addAccessAllowedAce && getAce &&
           initializeDescriptor && setOwner && setDacl;
  }
};

const SecurityApi& Api() {
  static const SecurityApi api = {
      AdvapiFunction<decltype(api.getTokenInformation)>("GetTokenInformation"),
      AdvapiFunction<decltype(api.getLengthSid)>("GetLengthSid"),
      AdvapiFunction<decltype(api.initializeAcl)>("InitializeAcl"),
      AdvapiFunction<decltype(api.addAccessAllowedAce)>("AddAccessAllowedAce"),
      AdvapiFunction<decltype(api.getAce)>("GetAce"),
      AdvapiFunction<decltype(api.initializeDescriptor)>("InitializeSecurityDescriptor"),
      AdvapiFunction<decltype(api.setOwner)>("SetSecurityDescriptorOwner"),
      AdvapiFunction<decltype(api.setDacl)>("SetSecurityDescriptorDacl"),
      AdvapiFunction<decltype(api.setControl)>("SetSecurityDescriptorControl"),
  };
  return api;
}

// The error of the last call, never "success" for a call that failed.
DWORD LastError() {
  DWORD error = GetLastError();
  return error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
}

DWORD ReadTokenUser(const SecurityApi& api, std::vector<BYTE>& user) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return LastError();
  DWORD size = 0;
  api.getTokenInformation(token, TokenUser, nullptr, 0, &size);
  user.assign(size, 0);
  bool read = size >= sizeof(TOKEN_USER) &&
              api.getTokenInformation(token, TokenUser, user.data(), size, &size);
  DWORD error = read ? ERROR_SUCCESS : LastError();
  CloseHandle(token);
  return error;
}

// Full control for each SID, passed on to every folder and file created below.
DWORD BuildAcl(const SecurityApi& api, PSID first, PSID second, std::vector<BYTE>& acl) {
  DWORD aceSize = sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
  DWORD size = sizeof(ACL) + 2 * aceSize + api.getLengthSid(first) + api.getLengthSid(second);
  size = (size + 3) & ~3u;
  acl.assign(size, 0);
  PACL list = reinterpret_cast<PACL>(acl.data());
  if (!api.initializeAcl(list, size, ACL_REVISION)) return LastError();
  PSID sids[] = {first, second};
  for (DWORD index = 0; index < 2; ++index) {
    void* ace = nullptr;
    if (!api.addAccessAllowedAce(list, ACL_REVISION, FILE_ALL_ACCESS, sids[index]) ||
        !api.getAce(list, index, &ace)) {
      return LastError();
    }
    // AddAccessAllowedAceEx, which takes these flags, is missing before Windows 2000.
    static_cast<ACE_HEADER*>(ace)->AceFlags |= OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
  }
  return ERROR_SUCCESS;
}

bool CryptoApiRandom(BYTE* bytes, size_t count, DWORD& error) {
  using AcquireFn = BOOL(WINAPI*)(HCRYPTPROV*, LPCSTR, LPCSTR, DWORD, DWORD);
  using GenerateFn = BOOL(WINAPI*)(HCRYPTPROV, DWORD, BYTE*);
  using ReleaseFn = BOOL(WINAPI*)(HCRYPTPROV, DWORD);
  auto acquire = AdvapiFunction<AcquireFn>("CryptAcquireContextA");
  auto generate = AdvapiFunction<GenerateFn>("CryptGenRandom");
  auto release = AdvapiFunction<ReleaseFn>("CryptReleaseContext");
  HCRYPTPROV provider = 0;
  if (!acquire || !generate || !release) {
    error = ERROR_PROC_NOT_FOUND;
    return false;
  }
  if (!acquire(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
    error = LastError();
    return false;
  }
  bool generated = true;
  while (generated && count > 0) {
    DWORD chunk = count > 0x100000 ? 0x100000 : static_cast<DWORD>(count);
    generated = generate(provider, chunk, bytes);
    bytes += chunk;
    count -= chunk;
  }
  if (!generated) error = LastError();
  release(provider, 0);
  return generated;
}

}  // namespace

PrivateSecurity::PrivateSecurity() : error_(Build()) {}

DWORD PrivateSecurity::Build() {
  const SecurityApi& api = Api();
  if (!api.IsComplete()) return ERROR_CALL_NOT_IMPLEMENTED;
  if (DWORD error = ReadTokenUser(api, user_)) return error;
  PSID user = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  system_.Revision = SID_REVISION;
  system_.SubAuthorityCount = 1;
  system_.IdentifierAuthority = ntAuthority;
  system_.SubAuthority[0] = SECURITY_LOCAL_SYSTEM_RID;
  if (DWORD error = BuildAcl(api, user, &system_, acl_)) return error;
  if (!api.initializeDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !api.setOwner(&descriptor_, user, FALSE) ||
      !api.setDacl(&descriptor_, TRUE, reinterpret_cast<PACL>(acl_.data()), FALSE)) {
    return LastError();
  }
  if (api.setControl && !api.setControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
    return LastError();
  }
  attributes_.nLength = sizeof(attributes_);
  attributes_.lpSecurityDescriptor = &descriptor_;
  attributes_.bInheritHandle = FALSE;
  return ERROR_SUCCESS;
}

bool GenerateRandom(void* buffer, size_t count, DWORD& error) {
  // RtlGenRandom, exported under this name since XP; CryptGenRandom serves the systems before it.
  using RtlGenRandomFn = BOOLEAN(WINAPI*)(PVOID, ULONG);
  auto genRandom = AdvapiFunction<RtlGenRandomFn>("SystemFunction036");
  BYTE* bytes = static_cast<BYTE*>(buffer);
  if (!genRandom) return CryptoApiRandom(bytes, count, error);
  while (count > 0) {
    ULONG chunk = count > 0x100000 ? 0x100000 : static_cast<ULONG>(count);
    if (!genRandom(bytes, chunk)) {
      error = LastError();
      return false;
    }
    bytes += chunk;
    count -= chunk;
  }
  return true;
}

}  // namespace os::win32

namespace os {
namespace {

struct AdminApi {
  BOOL(WINAPI* getTokenInformation)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
  BOOL(WINAPI* allocateSid)
  (PSID_IDENTIFIER_AUTHORITY, BYTE, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, PSID*);
  PVOID(WINAPI* freeSid)(PSID);
  BOOL(WINAPI* equalSid)(PSID, PSID);
};

const AdminApi& Admin() {
  static const AdminApi api = {
      win32::AdvapiFunction<decltype(api.getTokenInformation)>("GetTokenInformation"),
      win32::AdvapiFunction<decltype(api.allocateSid)>("AllocateAndInitializeSid"),
      win32::AdvapiFunction<decltype(api.freeSid)>("FreeSid"),
      win32::AdvapiFunction<decltype(api.equalSid)>("EqualSid"),
  };
  return api;
}

// The token's group list; empty when the token cannot be opened or read.
std::vector<BYTE> ReadTokenGroups(const AdminApi& api) {
  std::vector<BYTE> groups;
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return groups;
  DWORD size = 0;
  api.getTokenInformation(token, TokenGroups, nullptr, 0, &size);
  groups.assign(size, 0);
  if (size < sizeof(TOKEN_GROUPS) ||
      !api.getTokenInformation(token, TokenGroups, groups.data(), size, &size)) {
    groups.clear();
  }
  CloseHandle(token);
  return groups;
}

// The entries that fit in the buffer: the count comes from the system, the size from us.
bool HoldsEnabledGroup(const AdminApi& api, const std::vector<BYTE>& buffer, PSID group) {
  const auto* list = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
  const size_t room = (buffer.size() - offsetof(TOKEN_GROUPS, Groups)) / sizeof(SID_AND_ATTRIBUTES);
  const size_t count = list->GroupCount < room ? list->GroupCount : room;
  for (size_t index = 0; index < count; ++index) {
    const SID_AND_ATTRIBUTES& entry = list->Groups[index];
    const bool grants = (entry.Attributes & SE_GROUP_ENABLED) != 0 &&
                        (entry.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) == 0;
    if (grants && api.equalSid(entry.Sid, group)) return true;
  }
  return false;
}

}  // namespace

AdminState UserAdminState() {
  const AdminApi& api = Admin();
  if (!api.getTokenInformation || !api.equalSid) return AdminState::kNotAdministrator;
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = nullptr;
  if (!api.allocateSid || !api.freeSid ||
      !api.allocateSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                       0, 0, 0, 0, &administrators)) {
    return AdminState::kNoGroupSid;
  }
  const std::vector<BYTE> groups = ReadTokenGroups(api);
  const bool holds = !groups.empty() && HoldsEnabledGroup(api, groups, administrators);
  api.freeSid(administrators);
  return holds ? AdminState::kAdministrator : AdminState::kNotAdministrator;
}

}  // namespace os

// Registry keys of the Windows OS layer: the ANSI registry calls over an HKEY (see os.h).
#include "os/win32/WindowsApi.h"
#include "os/win32/Win32Errors.h"

// The API's A/W macro would rename the OS layer's own function.
#undef RegDeleteKey

#include <limits>
#include <utility>

#include "os/os.h"

namespace os {
namespace {

// Key names are at most 255 characters and value names 16383; the larger buffer costs nothing.
constexpr DWORD kMaxKeyName = 1024;
constexpr DWORD kMaxValueName = 16384;

HKEY RootKey(RegRoot root) {
  switch (root) {
    case RegRoot::kClassesRoot:
      return HKEY_CLASSES_ROOT;
    case RegRoot::kCurrentUser:
      return HKEY_CURRENT_USER;
    case RegRoot::kLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegRoot::kUsers:
      return HKEY_USERS;
  }
  return HKEY_CURRENT_USER;
}

HKEY AsKey(void* handle) { return static_cast<HKEY>(handle); }

std::string KeyName(RegRoot root, const std::string& subkey) {
  static const char* const kRoots[] = {"HKCR", "HKCU", "HKLM", "HKU"};
  return std::string(kRoots[static_cast<int>(root)]) + "\\" + subkey;
}

// The registry calls return their error instead of setting the thread's last error.
bool Succeeded(LONG result, const std::string& context) {
  return result == ERROR_SUCCESS || win32::Fail(context, static_cast<DWORD>(result));
}

bool NotOpen() { return win32::Fail("", ERROR_INVALID_HANDLE); }

}  // namespace

RegKey RegKey::Open(RegRoot root, const std::string& subkey, bool write) {
  REGSAM access = write ? KEY_READ | KEY_WRITE : KEY_READ;
  HKEY key = nullptr;
  if (!Succeeded(RegOpenKeyExA(RootKey(root), subkey.c_str(), 0, access, &key),
                 "Cannot open registry key " + KeyName(root, subkey))) {
    return RegKey();
  }
  return RegKey(key);
}

RegKey RegKey::Create(RegRoot root, const std::string& subkey) {
  HKEY key = nullptr;
  LONG result = RegCreateKeyExA(RootKey(root), subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_READ | KEY_WRITE, nullptr, &key, nullptr);
  if (!Succeeded(result, "Cannot create registry key " + KeyName(root, subkey))) return RegKey();
  return RegKey(key);
}

bool RegKey::QueryValue(const std::string& name, uint32_t& type, std::vector<uint8_t>& data) const {
  if (!handle_) return NotOpen();
  const std::string context = "Cannot read value \"" + name + "\"";
  // The value may grow between asking for its size and reading it: ask again then.
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD valueType = 0;
    DWORD size = 0;
    if (!Succeeded(
            RegQueryValueExA(AsKey(handle_), name.c_str(), nullptr, &valueType, nullptr, &size),
            context)) {
      return false;
    }
    // The ANSI call may report the size of the UTF-16 form; the read gives the real one.
    data.resize(size);
    DWORD read = size;
    LONG result = RegQueryValueExA(AsKey(handle_), name.c_str(), nullptr, &valueType,
                                   data.empty() ? nullptr : data.data(), &read);
    if (result == ERROR_MORE_DATA) continue;
    if (!Succeeded(result, context)) return false;
    if (read > size) return win32::Fail(context, ERROR_INVALID_DATA);
    data.resize(read);
    type = valueType;
    return true;
  }
  return win32::Fail(context, ERROR_MORE_DATA);
}

bool RegKey::SetValue(const std::string& name, uint32_t type, const void* data, size_t size) {
  if (!handle_) return NotOpen();
  const std::string context = "Cannot write value \"" + name + "\"";
  if (size > std::numeric_limits<DWORD>::max() || (!data && size > 0)) {
    return win32::Fail(context, ERROR_INVALID_PARAMETER);
  }
  return Succeeded(RegSetValueExA(AsKey(handle_), name.c_str(), 0, type,
                                  static_cast<const BYTE*>(data), static_cast<DWORD>(size)),
                   context);
}

bool RegKey::DeleteValue(const std::string& name) {
  if (!handle_) return NotOpen();
  return Succeeded(RegDeleteValueA(AsKey(handle_), name.c_str()),
                   "Cannot delete value \"" + name + "\"");
}

bool RegKey::EnumKey(uint32_t index, std::string& name) const {
  if (!handle_) return NotOpen();
  char buffer[kMaxKeyName + 1];
  DWORD length = kMaxKeyName + 1;
  if (!Succeeded(
          RegEnumKeyExA(AsKey(handle_), index, buffer, &length, nullptr, nullptr, nullptr, nullptr),
          "Cannot list the subkeys")) {
    return false;
  }
  name.assign(buffer, length);
  return true;
}

bool RegKey::EnumValue(uint32_t index, std::string& name) const {
  if (!handle_) return NotOpen();
  std::string buffer(kMaxValueName + 1, '\0');
  DWORD length = kMaxValueName + 1;
  if (!Succeeded(RegEnumValueA(AsKey(handle_), index, buffer.data(), &length, nullptr, nullptr,
                               nullptr, nullptr),
                 "Cannot list the values")) {
    return false;
  }
  name.assign(buffer.data(), length);
  return true;
}

void RegKey::Close() {
  if (HKEY key = AsKey(std::exchange(handle_, nullptr))) RegCloseKey(key);
}

bool RegDeleteKey(RegRoot root, const std::string& subkey) {
  // An empty name would delete the root's own handle target, never what a caller means.
  const std::string context = "Cannot delete registry key " + KeyName(root, subkey);
  if (subkey.empty()) return win32::Fail(context, ERROR_INVALID_PARAMETER);
  return Succeeded(RegDeleteKeyA(RootKey(root), subkey.c_str()), context);
}

}  // namespace os

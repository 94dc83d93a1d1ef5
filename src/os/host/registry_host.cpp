// Registry keys of the host OS layer: every operation goes to the machine's registry store (see
// RegistryStore.h), so that other processes see a change as soon as the call returns.
#include <utility>

#include "os/host/FaultSwitch.h"
#include "os/host/HostErrors.h"
#include "os/host/RegistryStore.h"
#include "os/os.h"

namespace os {
namespace {

// What a host key handle points to. The store is the one the key was opened in, even when the
// machine root changes while the key is open.
struct HostKey {
  std::shared_ptr<host::RegistryStore> store;
  RegRoot root;
  std::string path;  // as stored
  bool writable;
};

const HostKey* AsKey(void* handle) { return static_cast<HostKey*>(handle); }

constexpr char kAccessDenied[] = "Access is denied";

std::string KeyName(RegRoot root, const std::string& subkey) {
  static const char* const kRoots[] = {"HKCR", "HKCU", "HKLM", "HKU"};
  return std::string(kRoots[static_cast<int>(root)]) + "\\" + subkey;
}

std::string KeyName(const HostKey& key) { return KeyName(key.root, key.path); }

bool NotOpen() { return host::FailWith("", "The handle is invalid"); }

// Asks the fault switch (FaultSwitch.h) whether this change may go ahead; a refused registry
// change is denied, as Windows words it.
bool MayChange(const std::string& context) {
  return host::RefusedChange(host::Change::kOther) == 0 || host::FailWith(context, kAccessDenied);
}

}  // namespace

RegKey RegKey::Open(RegRoot root, const std::string& subkey, bool write) {
  auto store = host::RegistryStore::Machine();
  std::string path;
  if (!store->OpenKey(root, subkey, path)) {
    host::FailInContext("Cannot open registry key " + KeyName(root, subkey));
    return RegKey();
  }
  return RegKey(new HostKey{std::move(store), root, std::move(path), write});
}

RegKey RegKey::Create(RegRoot root, const std::string& subkey) {
  if (!MayChange("Cannot create registry key " + KeyName(root, subkey))) return RegKey();
  auto store = host::RegistryStore::Machine();
  std::string path;
  if (!store->CreateKey(root, subkey, path)) {
    host::FailInContext("Cannot create registry key " + KeyName(root, subkey));
    return RegKey();
  }
  return RegKey(new HostKey{std::move(store), root, std::move(path), true});
}

bool RegKey::QueryValue(const std::string& name, uint32_t& type, std::vector<uint8_t>& data) const {
  const HostKey* key = AsKey(handle_);
  if (!key) return NotOpen();
  return key->store->QueryValue(key->root, key->path, name, type, data) ||
         host::FailInContext("Cannot read value \"" + name + "\" of " + KeyName(*key));
}

// A key opened for reading refuses changes, as Windows does (access denied).
bool RegKey::SetValue(const std::string& name, uint32_t type, const void* data, size_t size) {
  const HostKey* key = AsKey(handle_);
  if (!key) return NotOpen();
  const std::string context = "Cannot write value \"" + name + "\" of " + KeyName(*key);
  if (!key->writable) return host::FailWith(context, kAccessDenied);
  if (!MayChange(context)) return false;
  return key->store->SetValue(key->root, key->path, name, type, data, size) ||
         host::FailInContext(context);
}

bool RegKey::DeleteValue(const std::string& name) {
  const HostKey* key = AsKey(handle_);
  if (!key) return NotOpen();
  const std::string context = "Cannot delete value \"" + name + "\" of " + KeyName(*key);
  if (!key->writable) return host::FailWith(context, kAccessDenied);
  if (!MayChange(context)) return false;
  return key->store->DeleteValue(key->root, key->path, name) || host::FailInContext(context);
}

bool RegKey::EnumKey(uint32_t index, std::string& name) const {
  const HostKey* key = AsKey(handle_);
  if (!key) return NotOpen();
  return key->store->EnumKey(key->root, key->path, index, name) ||
         host::FailInContext("Cannot list the subkeys of " + KeyName(*key));
}

bool RegKey::EnumValue(uint32_t index, std::string& name) const {
  const HostKey* key = AsKey(handle_);
  if (!key) return NotOpen();
  return key->store->EnumValue(key->root, key->path, index, name) ||
         host::FailInContext("Cannot list the values of " + KeyName(*key));
}

void RegKey::Close() { delete static_cast<HostKey*>(std::exchange(handle_, nullptr)); }

bool RegDeleteKey(RegRoot root, const std::string& subkey) {
  if (!MayChange("Cannot delete registry key " + KeyName(root, subkey))) return false;
  return host::RegistryStore::Machine()->DeleteKey(root, subkey) ||
         host::FailInContext("Cannot delete registry key " + KeyName(root, subkey));
}

}  // namespace os

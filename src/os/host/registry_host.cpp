// Registry keys of the host OS layer: every operation goes to the machine's registry store (see
// RegistryStore.h), so that other processes see a change as soon as the call returns.
#include <utility>

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

}  // namespace

RegKey RegKey::Open(RegRoot root, const std::string& subkey, bool write) {
  auto store = host::RegistryStore::Machine();
  std::string path;
  if (!store->OpenKey(root, subkey, path)) return RegKey();
  return RegKey(new HostKey{std::move(store), root, std::move(path), write});
}

RegKey RegKey::Create(RegRoot root, const std::string& subkey) {
  auto store = host::RegistryStore::Machine();
  std::string path;
  if (!store->CreateKey(root, subkey, path)) return RegKey();
  return RegKey(new HostKey{std::move(store), root, std::move(path), true});
}

bool RegKey::QueryValue(const std::string& name, uint32_t& type, std::vector<uint8_t>& data) const {
  const HostKey* key = AsKey(handle_);
  return key && key->store->QueryValue(key->root, key->path, name, type, data);
}

// A key opened for reading refuses changes, as Windows does (access denied).
bool RegKey::SetValue(const std::string& name, uint32_t type, const void* data, size_t size) {
  const HostKey* key = AsKey(handle_);
  return key && key->writable && key->store->SetValue(key->root, key->path, name, type, data, size);
}

bool RegKey::DeleteValue(const std::string& name) {
  const HostKey* key = AsKey(handle_);
  return key && key->writable && key->store->DeleteValue(key->root, key->path, name);
}

bool RegKey::EnumKey(uint32_t index, std::string& name) const {
  const HostKey* key = AsKey(handle_);
  return key && key->store->EnumKey(key->root, key->path, index, name);
}

bool RegKey::EnumValue(uint32_t index, std::string& name) const {
  const HostKey* key = AsKey(handle_);
  return key && key->store->EnumValue(key->root, key->path, index, name);
}

void RegKey::Close() { delete static_cast<HostKey*>(std::exchange(handle_, nullptr)); }

bool RegDeleteKey(RegRoot root, const std::string& subkey) {
  return host::RegistryStore::Machine()->DeleteKey(root, subkey);
}

}  // namespace os

// The parts of the OS layer's handle owners that are the same on every platform: ownership moves,
// and the release on destruction goes through the platform's Close and Unload.
#include "os/os.h"

#include <string>
#include <utility>

namespace os {

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kNoHandle; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    other.handle_ = kNoHandle;
  }
  return *this;
}

File::~File() { Close(); }

int64_t File::ReadAt(int64_t offset, void* buffer, size_t count) {
  if (!Seek(offset)) return -1;
  auto* bytes = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < count) {
    int64_t read = Read(bytes + done, count - done);
    if (read < 0) return -1;
    if (read == 0) break;
    done += static_cast<size_t>(read);
  }
  return static_cast<int64_t>(done);
}

bool File::ReadToEnd(std::string& content) {
  int64_t size = Size();
  int64_t position = Tell();
  if (size > position && position >= 0) content.reserve(content.size() + (size - position));
  char block[65536];
  for (;;) {
    int64_t count = Read(block, sizeof(block));
    if (count < 0) return false;
    if (count == 0) return true;
    content.append(block, static_cast<size_t>(count));
  }
}

Library::Library(Library&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

Library& Library::operator=(Library&& other) noexcept {
  if (this != &other) {
    Unload();
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

Library::~Library() { Unload(); }

RegKey::RegKey(RegKey&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

RegKey::~RegKey() { Close(); }

}  // namespace os

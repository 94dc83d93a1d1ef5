// The Windows OS layer's security helpers: the descriptor of folders private to the user, and
// the system's random source. Used by os_win32.cpp (CreateDir, RandomBytes) and by the Windows
// tests that read descriptors back; any thread.
//
// Every advapi32 call below is missing from Windows 9x or came later than NT 4 (the protection
// flag with Windows 2000, RtlGenRandom with XP), so each is looked up at run time: the program
// must still start where they are missing.
#pragma once

#include <cstddef>
#include <vector>

#include "os/win32/WindowsApi.h"

namespace os::win32 {

// A security descriptor that lets the current user and the system do everything and nobody else
// anything, inherited by every folder and file created below, and protected from the inheritable
// rights of the parent folder (Windows 2000 and later merge those in otherwise; NT 4 never does).
// Its owner is the current user. Neither copied nor moved: it points into itself.
class PrivateSecurity {
 public:
  PrivateSecurity();
  PrivateSecurity(const PrivateSecurity&) = delete;
  PrivateSecurity& operator=(const PrivateSecurity&) = delete;

  // False when the descriptor could not be made; Error() tells why.
  bool IsValid() const { return error_ == ERROR_SUCCESS; }
  DWORD Error() const { return error_; }
  // For CreateDirectory; nullptr unless IsValid().
  SECURITY_ATTRIBUTES* Attributes() { return IsValid() ? &attributes_ : nullptr; }

 private:
  DWORD Build();

  std::vector<BYTE> user_;  // the token's TOKEN_USER record
  std::vector<BYTE> acl_;
  SID system_ = {};
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
  DWORD error_ = ERROR_SUCCESS;
};

// Fills buffer with count bytes from the system's cryptographic random source; false with the
// system's error code when it has none.
bool GenerateRandom(void* buffer, size_t count, DWORD& error);

}  // namespace os::win32

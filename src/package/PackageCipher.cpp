#include "package/PackageCipher.h"

#include "support/zrFileUtils.h"

#include <cstdint>
#include <string>

#include "os/os.h"
#include "package/Gost.h"
#include "package/Haval.h"

namespace {

void Wipe(void* data, size_t size) {
  volatile uint8_t* bytes = static_cast<volatile uint8_t*>(data);
  while (size--) *bytes++ = 0;
}

inline uint32_t LoadWord(const char* p) {
  const auto* b = reinterpret_cast<const uint8_t*>(p);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

inline void StoreWord(uint32_t w, char* p) {
  auto* b = reinterpret_cast<uint8_t*>(p);
  b[0] = static_cast<uint8_t>(w);
  b[1] = static_cast<uint8_t>(w >> 8);
  b[2] = static_cast<uint8_t>(w >> 16);
  b[3] = static_cast<uint8_t>(w >> 24);
}

// The cipher keyed for data of the given length, and the chain value that precedes the first
// block. Both are wiped when the session ends, whichever way it ends.
class CipherSession {
 public:
  explicit CipherSession(size_t length) : key_(DeriveKey(length)), gost_(key_.data()) {
    gost_.Encrypt(0xFFFFFFFF, 0xFFFFFFFF, chain_[0], chain_[1]);
  }
  ~CipherSession() {
    gost_.Clear();
    Wipe(key_.data(), key_.size());
    volatile uint32_t* chain = chain_;
    chain[0] = 0xFFFFFFFF;
    chain[1] = 0xFFFFFFFF;
  }
  CipherSession(const CipherSession&) = delete;
  CipherSession& operator=(const CipherSession&) = delete;

  void DecipherBlock(const char* in, char* out) {
    uint32_t c0 = LoadWord(in), c1 = LoadWord(in + 4), p0, p1;
    gost_.Decrypt(c0, c1, p0, p1);
    StoreWord(p0 ^ chain_[0], out);
    StoreWord(p1 ^ chain_[1], out + 4);
    chain_[0] = c0;
    chain_[1] = c1;
  }

  // kLanes consecutive blocks: their decryptions do not depend on each other.
  void DecipherLanes(const char* in, char* out) {
    constexpr size_t kLanes = TGost::kLanes;
    uint32_t c0[kLanes], c1[kLanes], p0[kLanes], p1[kLanes];
    for (size_t j = 0; j < kLanes; ++j) {
      c0[j] = LoadWord(in + 8 * j);
      c1[j] = LoadWord(in + 8 * j + 4);
    }
    gost_.DecryptLanes(c0, c1, p0, p1);
    for (size_t j = 0; j < kLanes; ++j) {
      StoreWord(p0[j] ^ chain_[0], out + 8 * j);
      StoreWord(p1[j] ^ chain_[1], out + 8 * j + 4);
      chain_[0] = c0[j];
      chain_[1] = c1[j];
    }
  }

  void EncipherBlock(const char* in, char* out) {
    gost_.Encrypt(LoadWord(in) ^ chain_[0], LoadWord(in + 4) ^ chain_[1], chain_[0], chain_[1]);
    StoreWord(chain_[0], out);
    StoreWord(chain_[1], out + 4);
  }

  // The last partial block is combined with the encryption of the chain; being an exclusive or,
  // it is its own inverse.
  void CombineTail(const char* in, char* out, size_t count) {
    uint32_t k0, k1;
    gost_.Encrypt(chain_[0], chain_[1], k0, k1);
    char stream[8];
    StoreWord(k0, stream);
    StoreWord(k1, stream + 4);
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<char>(in[i] ^ stream[i]);
    Wipe(stream, sizeof(stream));
  }

 private:
  // The digest of the fixed text followed by the decimal length.
  static HavalDigest DeriveKey(size_t length) {
    std::string keyText = kDatabaseKeyText + std::to_string(length);
    HavalDigest key = Haval256(keyText);
    Wipe(keyText.data(), keyText.size());
    return key;
  }

  HavalDigest key_;
  TGost gost_;
  uint32_t chain_[2] = {0, 0};
};

enum class Direction { kDecipher, kEncipher };

std::string Transform(const std::string& bytes, Direction direction) {
  std::string result(bytes.size(), '\0');
  if (bytes.empty()) return result;
  CipherSession session(bytes.size());
  const size_t whole = bytes.size() / 8 * 8;
  const char* in = bytes.data();
  char* out = result.data();
  if (direction == Direction::kDecipher) {
    constexpr size_t kGroup = 8 * TGost::kLanes;
    size_t i = 0;
    for (; i + kGroup <= whole; i += kGroup) session.DecipherLanes(in + i, out + i);
    for (; i < whole; i += 8) session.DecipherBlock(in + i, out + i);
  } else {
    for (size_t i = 0; i < whole; i += 8) session.EncipherBlock(in + i, out + i);
  }
  if (whole < bytes.size()) session.CombineTail(in + whole, out + whole, bytes.size() - whole);
  return result;
}

}  // namespace

std::string DecipherDatabase(const std::string& bytes) {
  return Transform(bytes, Direction::kDecipher);
}

std::string EncipherDatabase(const std::string& bytes) {
  return Transform(bytes, Direction::kEncipher);
}

std::string ReadDecipheredFile(const std::string& path) {
  // The key depends on the length: part of a file would decipher to noise, so a read that fails
  // midway counts as a file that cannot be read.
  std::string bytes;
  if (!TryReadWholeFile(path, bytes)) return {};
  return DecipherDatabase(bytes);
}

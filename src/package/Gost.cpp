#include "package/Gost.h"

#include <array>

namespace {

constexpr uint32_t RotateLeft(uint32_t x, int n) { return n == 0 ? x : (x << n) | (x >> (32 - n)); }

// Table i maps byte i of s to the contribution of S-boxes 2i+1 and 2i+2, already in its place
// after the rotation: the rotation distributes over the exclusive or of the four parts.
using Tables = std::array<std::array<uint32_t, 256>, 4>;
constexpr Tables BuildTables() {
  Tables tables{};
  for (int i = 0; i < 4; ++i) {
    for (int b = 0; b < 256; ++b) {
      uint32_t pair = uint32_t(kGostTestSBoxes[2 * i][b & 15]) |
                      uint32_t(kGostTestSBoxes[2 * i + 1][b >> 4]) << 4;
      tables[i][b] = RotateLeft(pair, (11 + 8 * i) % 32);
    }
  }
  return tables;
}
constexpr Tables kTables = BuildTables();

inline uint32_t F(uint32_t s) {
  return kTables[0][s & 0xFF] ^ kTables[1][(s >> 8) & 0xFF] ^ kTables[2][(s >> 16) & 0xFF] ^
         kTables[3][s >> 24];
}

// Eight rounds with the round keys K1 to K8, and eight with K8 down to K1; written out, as the
// cipher spends its time here.
inline void RoundsUp(uint32_t& n1, uint32_t& n2, const uint32_t* k) {
  n2 ^= F(n1 + k[0]);
  n1 ^= F(n2 + k[1]);
  n2 ^= F(n1 + k[2]);
  n1 ^= F(n2 + k[3]);
  n2 ^= F(n1 + k[4]);
  n1 ^= F(n2 + k[5]);
  n2 ^= F(n1 + k[6]);
  n1 ^= F(n2 + k[7]);
}

inline void RoundsDown(uint32_t& n1, uint32_t& n2, const uint32_t* k) {
  n2 ^= F(n1 + k[7]);
  n1 ^= F(n2 + k[6]);
  n2 ^= F(n1 + k[5]);
  n1 ^= F(n2 + k[4]);
  n2 ^= F(n1 + k[3]);
  n1 ^= F(n2 + k[2]);
  n2 ^= F(n1 + k[1]);
  n1 ^= F(n2 + k[0]);
}

inline uint32_t LoadWord(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void StoreWord(uint32_t w, uint8_t* p) {
  p[0] = static_cast<uint8_t>(w);
  p[1] = static_cast<uint8_t>(w >> 8);
  p[2] = static_cast<uint8_t>(w >> 16);
  p[3] = static_cast<uint8_t>(w >> 24);
}

}  // namespace

uint32_t GostRoundFunction(uint32_t s) { return F(s); }

TGost::TGost(const uint8_t key[kKeySize]) {
  for (int i = 0; i < 8; ++i) key_[i] = LoadWord(key + 4 * i);
}

void TGost::Clear() {
  volatile uint32_t* words = key_;
  for (int i = 0; i < 8; ++i) words[i] = 0;
}

void TGost::Encrypt(uint32_t n1, uint32_t n2, uint32_t& out0, uint32_t& out1) const {
  for (int i = 0; i < 3; ++i) RoundsUp(n1, n2, key_);
  RoundsDown(n1, n2, key_);
  out0 = n2;
  out1 = n1;
}

void TGost::Decrypt(uint32_t n1, uint32_t n2, uint32_t& out0, uint32_t& out1) const {
  RoundsUp(n1, n2, key_);
  for (int i = 0; i < 3; ++i) RoundsDown(n1, n2, key_);
  out0 = n2;
  out1 = n1;
}

void TGost::DecryptLanes(const uint32_t n1[kLanes], const uint32_t n2[kLanes],
                         uint32_t out0[kLanes], uint32_t out1[kLanes]) const {
  // K1..K8 once, then K8..K1 three times.
  static constexpr uint8_t kOrder[32] = {0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0,
                                         7, 6, 5, 4, 3, 2, 1, 0, 7, 6, 5, 4, 3, 2, 1, 0};
  uint32_t a[kLanes], b[kLanes];
  for (size_t j = 0; j < kLanes; ++j) {
    a[j] = n1[j];
    b[j] = n2[j];
  }
  for (int r = 0; r < 32; r += 2) {
    const uint32_t k0 = key_[kOrder[r]], k1 = key_[kOrder[r + 1]];
    for (size_t j = 0; j < kLanes; ++j) b[j] ^= F(a[j] + k0);
    for (size_t j = 0; j < kLanes; ++j) a[j] ^= F(b[j] + k1);
  }
  for (size_t j = 0; j < kLanes; ++j) {
    out0[j] = b[j];
    out1[j] = a[j];
  }
}

void TGost::EncryptBlock(const uint8_t in[kBlockSize], uint8_t out[kBlockSize]) const {
  uint32_t a, b;
  Encrypt(LoadWord(in), LoadWord(in + 4), a, b);
  StoreWord(a, out);
  StoreWord(b, out + 4);
}

void TGost::DecryptBlock(const uint8_t in[kBlockSize], uint8_t out[kBlockSize]) const {
  uint32_t a, b;
  Decrypt(LoadWord(in), LoadWord(in + 4), a, b);
  StoreWord(a, out);
  StoreWord(b, out + 4);
}

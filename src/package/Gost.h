// GOST 28147-89 block cipher (64-bit block, 256-bit key, 32 rounds) with the S-boxes published as
// the test parameters of GOST R 34.11-94: the cipher of the enciphered project files.
//
// A block is two little-endian words N1 (bytes 0-3) and N2 (bytes 4-7); the result is written N2
// first, as in the standard's basic mode. The S-boxes are applied through four 256-entry tables
// that each combine two S-boxes with the rotation by 11, built once at compile time.
//
// A TGost object is immutable after construction and may be shared between threads; it wipes its
// key when destroyed or cleared.
#pragma once

#include <cstddef>
#include <cstdint>

class TGost {
 public:
  static constexpr size_t kBlockSize = 8;
  static constexpr size_t kKeySize = 32;

  // The key bytes become K1..K8, little-endian words in byte order.
  explicit TGost(const uint8_t key[kKeySize]);
  ~TGost() { Clear(); }
  TGost(const TGost&) = delete;
  TGost& operator=(const TGost&) = delete;

  // in and out may be the same buffer.
  void EncryptBlock(const uint8_t in[kBlockSize], uint8_t out[kBlockSize]) const;
  void DecryptBlock(const uint8_t in[kBlockSize], uint8_t out[kBlockSize]) const;

  // Word forms of the same, for callers that keep blocks in registers: n1, n2 in; out N2, N1 as
  // the byte forms write them (first word = bytes 0-3 of the result).
  void Encrypt(uint32_t n1, uint32_t n2, uint32_t& out0, uint32_t& out1) const;
  void Decrypt(uint32_t n1, uint32_t n2, uint32_t& out0, uint32_t& out1) const;

  // Decrypts kLanes independent blocks at once (lane j: n1[j], n2[j] in; out0[j], out1[j] as
  // Decrypt gives them). Chained deciphering needs no block's result for the next decryption, so
  // interleaving lanes keeps the table lookups of several blocks in flight.
  static constexpr size_t kLanes = 8;
  void DecryptLanes(const uint32_t n1[kLanes], const uint32_t n2[kLanes], uint32_t out0[kLanes],
                    uint32_t out1[kLanes]) const;

  // Overwrites the key; the object then enciphers with an all-zero key.
  void Clear();

 private:
  uint32_t key_[8];
};

// The round function f(x, k) without the key addition: S-boxes on the eight nibbles of s, then a
// rotation left by 11. Exposed so tests can compare it with a plain nibble-by-nibble version.
uint32_t GostRoundFunction(uint32_t s);

// The S-box set, row 0 being S-box 1 (bits 0 to 3).
inline constexpr uint8_t kGostTestSBoxes[8][16] = {
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
};

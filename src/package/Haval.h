// HAVAL with 5 passes and a 256-bit digest: the hash that turns the database key text into the
// cipher key (PackageCipher), and what `kxtool haval` prints.
//
// The compression is the published one. The padding is not: the engine appends 0x80 where the
// published padding appends 0x01, and starts a fresh block only when that byte falls after
// position 118 of its block (at 118 the version byte overwrites it). Every enciphered project
// file depends on this, so kEngine must never change; kStandard exists so that the compression
// can be checked against the published test vectors.
//
// A THaval object belongs to one thread at a time; the free function may be called from any.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

enum class HavalPadding {
  kEngine,    // 0x80, fresh block when the pad byte lands above position 118
  kStandard,  // 0x01, fresh block when it lands at 118 or above (the published algorithm)
};

using HavalDigest = std::array<uint8_t, 32>;

class THaval {
 public:
  static constexpr size_t kBlockSize = 128;
  static constexpr uint32_t kInitialState[8] = {0x243F6A88, 0x85A308D3, 0x13198A2E, 0x03707344,
                                                0xA4093822, 0x299F31D0, 0x082EFA98, 0xEC4E6C89};

  explicit THaval(HavalPadding padding = HavalPadding::kEngine);
  ~THaval();  // wipes the state: the input may be key material
  THaval(const THaval&) = delete;
  THaval& operator=(const THaval&) = delete;

  void Update(const void* data, size_t size);
  // Pads, processes the last block(s) and returns the digest. The object is then reset to a fresh
  // start and may hash another message.
  HavalDigest Finish();

  // Number of 128-byte blocks the last finished message took, padding included; lets tests see
  // where the padding put the message.
  uint64_t LastMessageBlocks() const { return lastMessageBlocks_; }

  // The compression function alone: state := state + the five passes over one block. For tests
  // that pad by hand.
  static void Compress(uint32_t state[8], const uint8_t block[kBlockSize]);

 private:
  void Reset();
  void ProcessBlock(const uint8_t* block);

  HavalPadding padding_;
  uint32_t state_[8];
  uint8_t buffer_[kBlockSize];
  size_t buffered_ = 0;
  uint64_t length_ = 0;  // message bytes so far
  uint64_t blocks_ = 0;  // of the message being hashed
  uint64_t lastMessageBlocks_ = 0;
};

// The digest of one message.
HavalDigest Haval256(const void* data, size_t size, HavalPadding padding = HavalPadding::kEngine);
inline HavalDigest Haval256(const std::string& text, HavalPadding padding = HavalPadding::kEngine) {
  return Haval256(text.data(), text.size(), padding);
}

// 64 lower-case hexadecimal digits.
std::string DigestToHex(const HavalDigest& digest);

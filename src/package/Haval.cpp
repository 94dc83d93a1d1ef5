#include "package/Haval.h"

#include <cstring>

namespace {

// Version 1, 5 passes, 256 bits: output length mod 4 in the top two bits, passes in the next
// three, version in the low three; then the output length in bits / 4, low byte.
constexpr uint8_t kTailVersionByte = ((256 & 3) << 6) | (5 << 3) | 1;
constexpr uint8_t kTailLengthByte = (256 >> 2) & 0xFF;
constexpr size_t kTailPosition = 118;

// Message word taken by each step of passes 2 to 5 (pass 1 takes them in order).
constexpr uint8_t kWordOrder[4][32] = {
    {5,  14, 26, 18, 11, 28, 7,  16, 0,  23, 20, 22, 1, 10, 4,  8,
     30, 3,  21, 9,  17, 24, 29, 6,  19, 12, 15, 13, 2, 25, 31, 27},
    {19, 9,  4, 20, 28, 17, 8,  22, 29, 14, 25, 12, 24, 30, 16, 26,
     31, 15, 7, 3,  1,  0,  18, 27, 13, 6,  21, 10, 23, 11, 5,  2},
    {24, 4,  0,  14, 2, 7,  28, 23, 26, 6,  30, 20, 18, 25, 19, 3,
     22, 11, 31, 21, 8, 27, 12, 9,  1,  29, 5,  15, 17, 10, 16, 13},
    {27, 3, 21, 26, 17, 11, 20, 29, 19, 0,  12, 7,  13, 8, 31, 10,
     5,  9, 14, 30, 18, 6,  28, 24, 2,  23, 16, 22, 4,  1, 25, 15},
};

// Constants of passes 2 to 5: the fraction of pi continued past the initial state.
constexpr uint32_t kConstants[4][32] = {
    {0x452821E6, 0x38D01377, 0xBE5466CF, 0x34E90C6C, 0xC0AC29B7, 0xC97C50DD, 0x3F84D5B5,
     0xB5470917, 0x9216D5D9, 0x8979FB1B, 0xD1310BA6, 0x98DFB5AC, 0x2FFD72DB, 0xD01ADFB7,
     0xB8E1AFED, 0x6A267E96, 0xBA7C9045, 0xF12C7F99, 0x24A19947, 0xB3916CF7, 0x0801F2E2,
     0x858EFC16, 0x636920D8, 0x71574E69, 0xA458FEA3, 0xF4933D7E, 0x0D95748F, 0x728EB658,
     0x718BCD58, 0x82154AEE, 0x7B54A41D, 0xC25A59B5},
    {0x9C30D539, 0x2AF26013, 0xC5D1B023, 0x286085F0, 0xCA417918, 0xB8DB38EF, 0x8E79DCB0,
     0x603A180E, 0x6C9E0E8B, 0xB01E8A3E, 0xD71577C1, 0xBD314B27, 0x78AF2FDA, 0x55605C60,
     0xE65525F3, 0xAA55AB94, 0x57489862, 0x63E81440, 0x55CA396A, 0x2AAB10B6, 0xB4CC5C34,
     0x1141E8CE, 0xA15486AF, 0x7C72E993, 0xB3EE1411, 0x636FBC2A, 0x2BA9C55D, 0x741831F6,
     0xCE5C3E16, 0x9B87931E, 0xAFD6BA33, 0x6C24CF5C},
    {0x7A325381, 0x28958677, 0x3B8F4898, 0x6B4BB9AF, 0xC4BFE81B, 0x66282193, 0x61D809CC,
     0xFB21A991, 0x487CAC60, 0x5DEC8032, 0xEF845D5D, 0xE98575B1, 0xDC262302, 0xEB651B88,
     0x23893E81, 0xD396ACC5, 0x0F6D6FF3, 0x83F44239, 0x2E0B4482, 0xA4842004, 0x69C8F04A,
     0x9E1F9B5E, 0x21C66842, 0xF6E96C9A, 0x670C9C61, 0xABD388F0, 0x6A51A0D2, 0xD8542F68,
     0x960FA728, 0xAB5133A3, 0x6EEF0B6C, 0x137A3BE4},
    {0xBA3BF050, 0x7EFB2A98, 0xA1F1651D, 0x39AF0176, 0x66CA593E, 0x82430E88, 0x8CEE8619,
     0x456F9FB4, 0x7D84A5C3, 0x3B8B5EBE, 0xE06F75D8, 0x85C12073, 0x401A449F, 0x56C16AA6,
     0x4ED3AA62, 0x363F7706, 0x1BFEDF72, 0x429B023D, 0x37D0D724, 0xD00A1248, 0xDB0FEAD3,
     0x49F1C09B, 0x075372C9, 0x80991B7B, 0x25D479D8, 0xF6E8DEF7, 0xE3FE501A, 0xB6794C3B,
     0x976CE0BD, 0x04C006BA, 0xC1A94FB6, 0x409F60C4},
};

constexpr uint32_t RotateRight(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

// The five boolean functions, each already composed with the word permutation that the 5-pass
// variant applies to it. Arguments are the state words x6 .. x0 of the step.
inline uint32_t Phi1(uint32_t x6, uint32_t x5, uint32_t x4, uint32_t x3, uint32_t x2, uint32_t x1,
                     uint32_t x0) {
  // f1(x3, x4, x1, x0, x5, x2, x6)
  return (x2 & (x6 ^ x1)) ^ (x5 & x4) ^ (x0 & x3) ^ x6;
}
inline uint32_t Phi2(uint32_t x6, uint32_t x5, uint32_t x4, uint32_t x3, uint32_t x2, uint32_t x1,
                     uint32_t x0) {
  // f2(x6, x2, x1, x0, x3, x4, x5)
  return (x3 & ((x4 & ~x0) ^ (x1 & x2) ^ x6 ^ x5)) ^ (x1 & (x4 ^ x2)) ^ (x0 & x2) ^ x5;
}
inline uint32_t Phi3(uint32_t x6, uint32_t x5, uint32_t x4, uint32_t x3, uint32_t x2, uint32_t x1,
                     uint32_t x0) {
  // f3(x2, x6, x0, x4, x3, x1, x5)
  return (x4 & ((x1 & x3) ^ x2 ^ x5)) ^ (x1 & x0) ^ (x3 & x6) ^ x5;
}
inline uint32_t Phi4(uint32_t x6, uint32_t x5, uint32_t x4, uint32_t x3, uint32_t x2, uint32_t x1,
                     uint32_t x0) {
  // f4(x1, x5, x3, x2, x0, x4, x6)
  return (x3 & ((x5 & ~x0) ^ (x2 & ~x1) ^ x4 ^ x1 ^ x6)) ^ (x2 & ((x4 & x0) ^ x5 ^ x1)) ^
         (x0 & x1) ^ x6;
}
inline uint32_t Phi5(uint32_t x6, uint32_t x5, uint32_t x4, uint32_t x3, uint32_t x2, uint32_t x1,
                     uint32_t x0) {
  // f5(x2, x5, x0, x6, x4, x3, x1)
  return (x1 & ((x3 & x4 & x6) ^ ~x5)) ^ (x3 & x0) ^ (x4 & x5) ^ (x6 & x2);
}

// One pass of 32 steps. Step i updates the word that is x7 for it; the roles of the eight words
// move down by one each step, so t[(k - i) & 7] is x_k of step i.
template <uint32_t (*Phi)(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t)>
inline void Pass(uint32_t t[8], const uint32_t w[32], const uint8_t* order,
                 const uint32_t* constants) {
  for (int i = 0; i < 32; ++i) {
    auto x = [&](int k) -> uint32_t& { return t[(k - i) & 7]; };
    uint32_t f = Phi(x(6), x(5), x(4), x(3), x(2), x(1), x(0));
    uint32_t word = w[order ? order[i] : i];
    uint32_t constant = constants ? constants[i] : 0;
    x(7) = RotateRight(f, 7) + RotateRight(x(7), 11) + word + constant;
  }
}

void Wipe(void* data, size_t size) {
  volatile uint8_t* bytes = static_cast<volatile uint8_t*>(data);
  while (size--) *bytes++ = 0;
}

}  // namespace

THaval::THaval(HavalPadding padding) : padding_(padding) { Reset(); }

THaval::~THaval() {
  Wipe(state_, sizeof(state_));
  Wipe(buffer_, sizeof(buffer_));
}

void THaval::Reset() {
  std::memcpy(state_, kInitialState, sizeof(state_));
  std::memset(buffer_, 0, sizeof(buffer_));
  buffered_ = 0;
  length_ = 0;
  blocks_ = 0;
}

void THaval::ProcessBlock(const uint8_t* block) {
  Compress(state_, block);
  ++blocks_;
}

void THaval::Compress(uint32_t state[8], const uint8_t block[kBlockSize]) {
  uint32_t w[32];
  for (int i = 0; i < 32; ++i) {
    const uint8_t* p = block + 4 * i;
    w[i] = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  }
  uint32_t t[8];
  std::memcpy(t, state, sizeof(t));
  Pass<Phi1>(t, w, nullptr, nullptr);
  Pass<Phi2>(t, w, kWordOrder[0], kConstants[0]);
  Pass<Phi3>(t, w, kWordOrder[1], kConstants[1]);
  Pass<Phi4>(t, w, kWordOrder[2], kConstants[2]);
  Pass<Phi5>(t, w, kWordOrder[3], kConstants[3]);
  for (int i = 0; i < 8; ++i) state[i] += t[i];
  Wipe(w, sizeof(w));
  Wipe(t, sizeof(t));
}

void THaval::Update(const void* data, size_t size) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  length_ += size;
  if (buffered_ > 0) {
    size_t take = kBlockSize - buffered_ < size ? kBlockSize - buffered_ : size;
    std::memcpy(buffer_ + buffered_, bytes, take);
    buffered_ += take;
    bytes += take;
    size -= take;
    if (buffered_ < kBlockSize) return;
    ProcessBlock(buffer_);
    buffered_ = 0;
  }
  for (; size >= kBlockSize; bytes += kBlockSize, size -= kBlockSize) ProcessBlock(bytes);
  if (size > 0) std::memcpy(buffer_, bytes, size);
  buffered_ = size;
}

HavalDigest THaval::Finish() {
  const bool engine = padding_ == HavalPadding::kEngine;
  const uint64_t bits = length_ * 8;
  size_t position = buffered_;
  buffer_[position] = engine ? 0x80 : 0x01;
  std::memset(buffer_ + position + 1, 0, kBlockSize - position - 1);
  // The engine keeps a pad byte at 118 in this block, where the version byte then replaces it;
  // the published padding moves on to a fresh block from 118.
  bool needsFreshBlock = engine ? position > kTailPosition : position >= kTailPosition;
  if (needsFreshBlock) {
    ProcessBlock(buffer_);
    std::memset(buffer_, 0, kBlockSize);
  }
  buffer_[kTailPosition] = kTailVersionByte;
  buffer_[kTailPosition + 1] = kTailLengthByte;
  for (int i = 0; i < 8; ++i) buffer_[120 + i] = static_cast<uint8_t>(bits >> (8 * i));
  ProcessBlock(buffer_);

  HavalDigest digest;
  for (int i = 0; i < 8; ++i) {
    for (int b = 0; b < 4; ++b) digest[4 * i + b] = static_cast<uint8_t>(state_[i] >> (8 * b));
  }
  lastMessageBlocks_ = blocks_;
  Reset();
  return digest;
}

HavalDigest Haval256(const void* data, size_t size, HavalPadding padding) {
  THaval haval(padding);
  haval.Update(data, size);
  return haval.Finish();
}

std::string DigestToHex(const HavalDigest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * digest.size());
  for (uint8_t byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

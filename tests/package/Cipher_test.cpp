// The project-file cipher: the hash and the block cipher against published vectors, the engine's
// HAVAL padding at its block boundary, and the chained decipher against a block-by-block reference.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "package/Gost.h"
#include "package/Haval.h"
#include "package/PackageCipher.h"

namespace {

std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const uint8_t* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[data[i] >> 4];
    hex += kDigits[data[i] & 15];
  }
  return hex;
}

// Deterministic filler so failures reproduce.
std::string Pattern(size_t size, uint32_t seed = 1) {
  std::string text(size, '\0');
  for (char& c : text) {
    seed = seed * 1103515245 + 12345;
    c = static_cast<char>(seed >> 16);
  }
  return text;
}

// ---------------------------------------------------------------------------------------------
// HAVAL

// Pads by hand, exactly as the two paddings are described, and runs only the compression
// function: an independent route to the digest for any message length.
std::string ReferenceHaval(const std::string& message, HavalPadding padding) {
  const bool engine = padding == HavalPadding::kEngine;
  std::vector<uint8_t> data(message.begin(), message.end());
  data.push_back(engine ? 0x80 : 0x01);
  size_t position = (data.size() - 1) % 128;
  bool fresh = engine ? position > 118 : position >= 118;
  if (fresh)
    data.resize((data.size() + 127) / 128 * 128 + 128, 0);
  else
    data.resize((data.size() + 127) / 128 * 128, 0);
  uint8_t* tail = data.data() + data.size() - 128;
  tail[118] = 0x29;
  tail[119] = 0x40;
  uint64_t bits = uint64_t(message.size()) * 8;
  for (int i = 0; i < 8; ++i) tail[120 + i] = static_cast<uint8_t>(bits >> (8 * i));
  uint32_t state[8];
  std::memcpy(state, THaval::kInitialState, sizeof(state));
  for (size_t offset = 0; offset < data.size(); offset += 128) {
    THaval::Compress(state, data.data() + offset);
  }
  std::string hex;
  for (uint32_t word : state) {
    uint8_t bytes[4] = {uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16),
                        uint8_t(word >> 24)};
    hex += ToHex(bytes, 4);
  }
  return hex;
}

struct HavalVector {
  const char* message;
  const char* digest;
};

// HAVAL-256 with 5 passes, published padding.
const HavalVector kPublishedVectors[] = {
    {"", "be417bb4dd5cfb76c7126f4f8eeb1553a449039307b1a3cd451dbfdc0fbbe330"},
    {"a", "de8fd5ee72a5e4265af0a756f4e1a1f65c9b2b2f47cf17ecf0d1b88679a3e22f"},
    {"abc", "976cd6254c337969e5913b158392a2921af16fca51f5601d486e0a9de01156e7"},
    {"message digest", "7ccf22af7f99acd6ac84f176041329e2958fde1419a259d5a4b89d8f4115ad74"},
    {"abcdefghijklmnopqrstuvwxyz",
     "c9c7d8afa159fd9e965cb83ff5ee6f58aeda352c0eff005548153a61551c38ee"},
    {"The quick brown fox jumps over the lazy dog",
     "b89c551cdfe2e06dbd4cea2be1bc7d557416c58ebb4d07cbc94e49f710c55be4"},
    {"The quick brown fox jumps over the lazy cog",
     "60983bb8c8f49ad3bea29899b78cd741f4c96e911bbc272e5550a4f195a4077e"},
};

TEST(HavalTest, StandardPaddingGivesThePublishedDigests) {
  for (const HavalVector& vector : kPublishedVectors) {
    SCOPED_TRACE(vector.message);
    EXPECT_EQ(DigestToHex(Haval256(std::string(vector.message), HavalPadding::kStandard)),
              vector.digest);
    // The hand padding is right too, so it can stand as the reference for the engine padding.
    EXPECT_EQ(ReferenceHaval(vector.message, HavalPadding::kStandard), vector.digest);
  }
}

TEST(HavalTest, EnginePaddingIsNotThePublishedOne) {
  EXPECT_NE(DigestToHex(Haval256(std::string())), kPublishedVectors[0].digest);
  EXPECT_NE(DigestToHex(Haval256(std::string("abc"))), kPublishedVectors[2].digest);
}

// The pad byte at positions 117, 118 (overwritten by the version byte, same block) and 119 (a
// block of its own follows), in the first block and in a later one.
TEST(HavalTest, PaddingBoundaryMatchesTheHandPaddedReference) {
  const size_t lengths[] = {0,   1,   116, 117, 118, 119, 120, 126, 127,
                            128, 129, 245, 246, 247, 255, 256, 500, 1000};
  for (size_t length : lengths) {
    SCOPED_TRACE(length);
    std::string message = Pattern(length, static_cast<uint32_t>(length));
    for (HavalPadding padding : {HavalPadding::kEngine, HavalPadding::kStandard}) {
      EXPECT_EQ(DigestToHex(Haval256(message, padding)), ReferenceHaval(message, padding));
    }
  }
}

TEST(HavalTest, BlockCountsAtTheBoundary) {
  struct Case {
    size_t length;
    uint64_t engineBlocks, standardBlocks;
  };
  const Case cases[] = {
      {0, 1, 1},   {117, 1, 1}, {118, 1, 2}, {119, 2, 2}, {127, 2, 2},
      {128, 2, 2}, {246, 2, 3}, {247, 3, 3}, {256, 3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::string message = Pattern(c.length);
    THaval engine(HavalPadding::kEngine), standard(HavalPadding::kStandard);
    engine.Update(message.data(), message.size());
    standard.Update(message.data(), message.size());
    engine.Finish();
    standard.Finish();
    EXPECT_EQ(engine.LastMessageBlocks(), c.engineBlocks);
    EXPECT_EQ(standard.LastMessageBlocks(), c.standardBlocks);
  }
}

TEST(HavalTest, LengthsAroundTheBoundaryAllDiffer) {
  std::vector<std::string> digests;
  for (size_t length : {117, 118, 119, 127, 128}) {
    digests.push_back(DigestToHex(Haval256(std::string(length, 'x'))));
  }
  for (size_t i = 0; i < digests.size(); ++i) {
    for (size_t j = i + 1; j < digests.size(); ++j) EXPECT_NE(digests[i], digests[j]);
  }
}

TEST(HavalTest, PiecewiseUpdatesMatchOneUpdate) {
  std::string message = Pattern(1000);
  std::string whole = DigestToHex(Haval256(message));
  for (size_t piece : {1, 7, 64, 127, 128, 129, 300}) {
    SCOPED_TRACE(piece);
    THaval haval;
    for (size_t offset = 0; offset < message.size(); offset += piece) {
      haval.Update(message.data() + offset, std::min(piece, message.size() - offset));
    }
    EXPECT_EQ(DigestToHex(haval.Finish()), whole);
    // Finish starts over: the same object hashes the next message from scratch.
    haval.Update("abc", 3);
    EXPECT_EQ(DigestToHex(haval.Finish()), DigestToHex(Haval256(std::string("abc"))));
  }
}

// ---------------------------------------------------------------------------------------------
// GOST 28147-89

// S-boxes nibble by nibble, then the rotation: the round function as the standard states it.
uint32_t PlainRoundFunction(uint32_t s) {
  uint32_t out = 0;
  for (int i = 0; i < 8; ++i) out |= uint32_t(kGostTestSBoxes[i][(s >> (4 * i)) & 15]) << (4 * i);
  return (out << 11) | (out >> 21);
}

TEST(GostTest, TheTestParameterSBoxes) {
  const uint8_t first[5] = {4, 10, 9, 2, 13}, last[5] = {1, 15, 13, 0, 5};
  EXPECT_EQ(std::memcmp(kGostTestSBoxes[0], first, 5), 0);
  EXPECT_EQ(std::memcmp(kGostTestSBoxes[7], last, 5), 0);
  for (const auto& box : kGostTestSBoxes) {
    uint32_t seen = 0;
    for (uint8_t value : box) seen |= 1u << value;
    EXPECT_EQ(seen, 0xFFFFu) << "an S-box must be a permutation of 0..15";
  }
}

TEST(GostTest, TablesGiveTheSameRoundFunctionAsTheSBoxes) {
  uint32_t s = 0x12345678;
  for (int i = 0; i < 100000; ++i) {
    ASSERT_EQ(GostRoundFunction(s), PlainRoundFunction(s)) << std::hex << s;
    s = s * 1664525 + 1013904223;
  }
  for (uint32_t edge : {0u, 0xFFFFFFFFu, 0x0000000Fu, 0xF0000000u}) {
    EXPECT_EQ(GostRoundFunction(edge), PlainRoundFunction(edge));
  }
}

// Key, plain text, cipher text; published for this S-box set (little-endian words, result N2 N1).
struct GostVector {
  const char *key, *plain, *cipher;
};
const GostVector kGostVectors[] = {
    {"BE5EC2006CFF9DCF52354959F1FF0CBFE95061B5A648C10387069C25997C0672", "0DF82802B741A292",
     "07F9027DF7F7DF89"},
    {"B385272AC8D72A5A8B344BC80363AC4D09BF58F41F540624CBCB8FDCF55307D7", "1354EE9C0A11CD4C",
     "4FB50536F960A7B1"},
    {"AEE02F609A35660E4097E546FD3026B032CD107C7D459977ADF489BEF2652262", "6693D492C4B0CC39",
     "670034AC0FA811B5"},
    {"D416F630BE65B7FE150656183370E07018234EE5DA3D89C4CE9152A03E5BFB77", "F86506DA04E41CB8",
     "96F0A5C77A04F5CE"},
};

TEST(GostTest, PublishedVectors) {
  for (const GostVector& vector : kGostVectors) {
    SCOPED_TRACE(vector.key);
    std::vector<uint8_t> key = FromHex(vector.key), plain = FromHex(vector.plain),
                         cipher = FromHex(vector.cipher);
    TGost gost(key.data());
    uint8_t out[8], back[8];
    gost.EncryptBlock(plain.data(), out);
    EXPECT_EQ(ToHex(out, 8), ToHex(cipher.data(), 8));
    gost.DecryptBlock(cipher.data(), back);
    EXPECT_EQ(ToHex(back, 8), ToHex(plain.data(), 8));
  }
}

TEST(GostTest, DecryptionInvertsEncryptionInPlaceAndInWordForm) {
  std::string keys = Pattern(32 * 8, 7), blocks = Pattern(8 * 64, 9);
  for (int k = 0; k < 8; ++k) {
    TGost gost(reinterpret_cast<const uint8_t*>(keys.data()) + 32 * k);
    for (int b = 0; b < 64; ++b) {
      uint8_t block[8], original[8];
      std::memcpy(original, blocks.data() + 8 * b, 8);
      std::memcpy(block, original, 8);
      gost.EncryptBlock(block, block);
      EXPECT_NE(std::memcmp(block, original, 8), 0);
      uint32_t w0, w1, n1, n2;
      std::memcpy(&n1, original, 4);  // the test machines are little-endian
      std::memcpy(&n2, original + 4, 4);
      gost.Encrypt(n1, n2, w0, w1);
      EXPECT_EQ(std::memcmp(&w0, block, 4), 0);
      EXPECT_EQ(std::memcmp(&w1, block + 4, 4), 0);
      gost.DecryptBlock(block, block);
      EXPECT_EQ(std::memcmp(block, original, 8), 0);
    }
  }
}

TEST(GostTest, ClearForgetsTheKey) {
  std::vector<uint8_t> key = FromHex(kGostVectors[0].key), plain = FromHex(kGostVectors[0].plain);
  uint8_t zeroKey[32] = {}, cleared[8], zero[8];
  TGost gost(key.data()), reference(zeroKey);
  gost.Clear();
  gost.EncryptBlock(plain.data(), cleared);
  reference.EncryptBlock(plain.data(), zero);
  EXPECT_EQ(std::memcmp(cleared, zero, 8), 0);
}

// ---------------------------------------------------------------------------------------------
// The chained decipher

HavalDigest KeyFor(size_t length) {
  return Haval256(std::string(kDatabaseKeyText) + std::to_string(length));
}

// Deciphers step by step from the description of the format, with the byte-level primitives.
std::string ReferenceDecipher(const std::string& input) {
  if (input.empty()) return {};
  HavalDigest key = KeyFor(input.size());
  TGost gost(key.data());
  uint8_t chain[8], ones[8];
  std::memset(ones, 0xFF, 8);
  gost.EncryptBlock(ones, chain);
  std::string output;
  size_t whole = input.size() / 8 * 8;
  for (size_t i = 0; i < whole; i += 8) {
    uint8_t block[8], plain[8];
    std::memcpy(block, input.data() + i, 8);
    gost.DecryptBlock(block, plain);
    for (int j = 0; j < 8; ++j) output += static_cast<char>(plain[j] ^ chain[j]);
    std::memcpy(chain, block, 8);
  }
  uint8_t stream[8];
  gost.EncryptBlock(chain, stream);
  for (size_t i = whole; i < input.size(); ++i) {
    output += static_cast<char>(input[i] ^ stream[i - whole]);
  }
  return output;
}

TEST(PackageCipherTest, KeyTextIsTenPrintableCharacters) {
  ASSERT_EQ(std::strlen(kDatabaseKeyText), 10u);
  for (const char* c = kDatabaseKeyText; *c; ++c) EXPECT_TRUE(*c >= 0x20 && *c < 0x7F);
  EXPECT_STREQ(kDatabaseKeyText, "KXSETUP-DB");
}

TEST(PackageCipherTest, EmptyInputGivesEmptyOutput) {
  EXPECT_EQ(DecipherDatabase(""), "");
  EXPECT_EQ(EncipherDatabase(""), "");
}

TEST(PackageCipherTest, RoundTripsEveryShortLengthAndLargeOnes) {
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 40; ++n) lengths.push_back(n);
  for (size_t n : {127, 128, 129, 4096, 4099, 65536 + 5, 1048576 + 3}) lengths.push_back(n);
  for (size_t n : lengths) {
    SCOPED_TRACE(n);
    std::string plain = Pattern(n, static_cast<uint32_t>(n));
    std::string cipher = EncipherDatabase(plain);
    ASSERT_EQ(cipher.size(), n);
    if (n >= 4) {
      EXPECT_NE(cipher, plain);
    }
    EXPECT_EQ(DecipherDatabase(cipher), plain);
  }
}

TEST(PackageCipherTest, DecipherFollowsTheBlockByBlockReference) {
  for (size_t n : {1, 7, 8, 9, 16, 21, 63, 64, 65, 100, 1003}) {
    SCOPED_TRACE(n);
    std::string input = Pattern(n, 33);
    EXPECT_EQ(DecipherDatabase(input), ReferenceDecipher(input));
  }
}

// No complete block: the chain is still the encrypted all-FF block, and the five bytes meet the
// first five bytes of its encryption.
TEST(PackageCipherTest, FiveBytesAreCombinedWithTheEncryptedChain) {
  const std::string input = "<?xml";
  HavalDigest key = KeyFor(5);
  TGost gost(key.data());
  uint8_t ones[8], chain[8], stream[8];
  std::memset(ones, 0xFF, 8);
  gost.EncryptBlock(ones, chain);
  gost.EncryptBlock(chain, stream);
  std::string expected;
  for (int i = 0; i < 5; ++i) expected += static_cast<char>(input[i] ^ stream[i]);
  EXPECT_EQ(DecipherDatabase(input), expected);
  EXPECT_EQ(EncipherDatabase(input), expected);
}

// The key follows the length, so one more byte deciphers everything before it differently: every
// block changes, and a byte stays the same only by chance (about one in 256).
TEST(PackageCipherTest, AppendingAByteChangesEveryOutputBlock) {
  std::string cipher = EncipherDatabase("<kx2project>" + Pattern(4000, 3) + "</kx2project>");
  std::string plain = DecipherDatabase(cipher);
  std::string longer = DecipherDatabase(cipher + "x");
  ASSERT_EQ(longer.size(), plain.size() + 1);
  size_t sameBytes = 0;
  for (size_t i = 0; i < plain.size(); ++i) sameBytes += longer[i] == plain[i];
  for (size_t i = 0; i < plain.size(); i += 8) {
    EXPECT_NE(longer.substr(i, 8), plain.substr(i, 8)) << "block at " << i;
  }
  EXPECT_LT(sameBytes, plain.size() / 64);
}

TEST(PackageCipherTest, SameContentAtAnotherLengthUsesAnotherKey) {
  std::string text = Pattern(16, 5);
  std::string alone = EncipherDatabase(text), extended = EncipherDatabase(text + Pattern(8, 6));
  EXPECT_NE(alone.substr(0, 8), extended.substr(0, 8));
  EXPECT_NE(alone.substr(8, 8), extended.substr(8, 8));
}

// Packages already built must keep deciphering: the format is frozen, this pins it.
TEST(PackageCipherTest, FormatIsStable) {
  std::string cipher = EncipherDatabase("<kx2project/>");
  EXPECT_EQ(ToHex(reinterpret_cast<const uint8_t*>(cipher.data()), cipher.size()),
            "27477dc43eca236d3b91ad7edc");
}

class CipherFileTest : public testing::Test {
 protected:
  ScratchFolder scratch_{CurrentTestName()};
};

TEST_F(CipherFileTest, MissingAndEmptyFilesReadAsEmptyText) {
  EXPECT_EQ(ReadDecipheredFile(scratch_.Path() + "missing.pdb"), "");
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "empty.pdb", ""));
  EXPECT_EQ(ReadDecipheredFile(scratch_.Path() + "empty.pdb"), "");
  EXPECT_EQ(ReadDecipheredFile(scratch_.Path()), "") << "a folder is no file";
}

TEST_F(CipherFileTest, ReadsAndDeciphersAWholeFile) {
  std::string text = "<kx2project>" + std::string(200000, 'v') + "</kx2project>";
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "main.pdb", EncipherDatabase(text)));
  EXPECT_EQ(ReadDecipheredFile(scratch_.Path() + "main.pdb"), text);
}

}  // namespace

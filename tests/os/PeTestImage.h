// Small PE files made byte by byte for the tests of the version readers: PE32 or PE32+, one
// resource section holding a version resource under any name and in any languages, and the
// offsets of the fields that tests damage. The images are well-formed enough for Windows' own
// version API to read them too. Any thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct PeTestLanguage {
  uint16_t language = 0x0409;
  uint32_t fileVersionMS = 0;
  uint32_t fileVersionLS = 0;
};

struct PeTestImageOptions {
  bool pe32Plus = false;
  bool withResources = true;
  uint16_t versionName = 1;  // the resource name (an ID) of the version block
  std::vector<PeTestLanguage> languages = {{0x0409, 0x00010002, 0x00030004}};
};

struct PeTestImage {
  std::vector<uint8_t> bytes;
  // File offsets of the structures, for tests that damage them.
  size_t peHeader = 0;
  size_t optionalHeader = 0;
  size_t resourceDataDirectory = 0;  // its RVA and size
  size_t numberOfRvaAndSizes = 0;
  size_t sectionTable = 0;
  size_t resourceSection = 0;  // the root directory
  size_t typeEntry = 0;        // the root's entry for type 16
  size_t languageEntries = 0;  // the first entry of the language directory
  size_t dataEntries = 0;      // the first resource data entry
  size_t firstBlock = 0;       // the first VS_VERSIONINFO block
  static constexpr size_t kBlockSize = 92;
  static constexpr size_t kFixedInfoOffset = 40;  // in the block

  void Put16(size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
  }
  void Put32(size_t at, uint32_t value) {
    Put16(at, static_cast<uint16_t>(value));
    Put16(at + 2, static_cast<uint16_t>(value >> 16));
  }
  uint32_t Get32(size_t at) const {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
  }
  std::string Text() const { return std::string(bytes.begin(), bytes.end()); }
};

inline PeTestImage BuildPeTestImage(const PeTestImageOptions& options) {
  constexpr uint32_t kSectionRva = 0x1000;
  constexpr size_t kFileAlignment = 0x200;
  PeTestImage image;
  image.bytes.assign(kFileAlignment, 0);
  image.Put16(0, 0x5A4D);  // "MZ"
  image.peHeader = 0x80;
  image.Put32(0x3C, static_cast<uint32_t>(image.peHeader));

  const size_t optionalSize = options.pe32Plus ? 240 : 224;
  image.Put32(image.peHeader, 0x00004550);  // "PE\0\0"
  size_t fileHeader = image.peHeader + 4;
  image.Put16(fileHeader, options.pe32Plus ? 0x8664 : 0x014C);
  image.Put16(fileHeader + 2, 1);
  image.Put16(fileHeader + 16, static_cast<uint16_t>(optionalSize));
  image.Put16(fileHeader + 18, options.pe32Plus ? 0x2022 : 0x2102);  // DLL, executable

  size_t optional = image.optionalHeader = fileHeader + 20;
  image.Put16(optional, options.pe32Plus ? 0x20B : 0x10B);
  if (options.pe32Plus) {
    image.Put32(optional + 24, 0x10000000);  // image base, low word
  } else {
    image.Put32(optional + 28, 0x10000000);
  }
  image.Put32(optional + 32, 0x1000);  // section alignment
  image.Put32(optional + 36, kFileAlignment);
  image.Put16(optional + 40, 4);  // operating system 4.0
  image.Put16(optional + 48, options.pe32Plus ? 5 : 4);
  image.Put32(optional + 60, kFileAlignment);  // size of headers
  image.Put16(optional + 68, 2);               // GUI subsystem
  size_t directories = optional + (options.pe32Plus ? 112 : 96);
  image.numberOfRvaAndSizes = directories - 4;
  image.Put32(image.numberOfRvaAndSizes, 16);
  image.resourceDataDirectory = directories + 2 * 8;

  // The resource tree: type 16 -> name -> one entry per language -> data entries -> blocks.
  const size_t languages = options.languages.size();
  std::vector<uint8_t> tree;
  auto grow = [&tree](size_t size) { tree.resize(std::max(tree.size(), size), 0); };
  auto put16 = [&](size_t at, uint16_t value) {
    grow(at + 2);
    tree[at] = static_cast<uint8_t>(value);
    tree[at + 1] = static_cast<uint8_t>(value >> 8);
  };
  auto put32 = [&](size_t at, uint32_t value) {
    put16(at, static_cast<uint16_t>(value));
    put16(at + 2, static_cast<uint16_t>(value >> 16));
  };
  const size_t nameDirectory = 24, languageDirectory = 48;
  const size_t dataEntries = languageDirectory + 16 + 8 * languages;
  const size_t blocks = dataEntries + 16 * languages;
  put16(14, 1);
  put32(16, 16);
  put32(20, 0x80000000u | nameDirectory);
  put16(nameDirectory + 14, 1);
  put32(nameDirectory + 16, options.versionName);
  put32(nameDirectory + 20, 0x80000000u | languageDirectory);
  put16(languageDirectory + 14, static_cast<uint16_t>(languages));
  for (size_t i = 0; i < languages; ++i) {
    const PeTestLanguage& language = options.languages[i];
    size_t entry = languageDirectory + 16 + 8 * i;
    size_t data = dataEntries + 16 * i;
    size_t block = blocks + PeTestImage::kBlockSize * i;
    put32(entry, language.language);
    put32(entry + 4, static_cast<uint32_t>(data));
    put32(data, static_cast<uint32_t>(kSectionRva + block));
    put32(data + 4, PeTestImage::kBlockSize);
    put32(data + 8, 1252);
    put16(block, PeTestImage::kBlockSize);
    put16(block + 2, 52);  // the value: VS_FIXEDFILEINFO
    const char key[] = "VS_VERSION_INFO";
    for (size_t c = 0; c < sizeof(key); ++c) put16(block + 6 + 2 * c, key[c]);
    size_t fixed = block + PeTestImage::kFixedInfoOffset;
    const uint32_t fields[13] = {0xFEEF04BD,
                                 0x00010000,
                                 language.fileVersionMS,
                                 language.fileVersionLS,
                                 0x00050006,
                                 0x00070008,
                                 0x3F,
                                 0,
                                 0x00040004,
                                 2,
                                 0,
                                 0,
                                 0};
    for (size_t f = 0; f < 13; ++f) put32(fixed + 4 * f, fields[f]);
  }
  if (!options.withResources) tree.assign(16, 0);

  size_t section = image.sectionTable = optional + optionalSize;
  std::memcpy(&image.bytes[section], options.withResources ? ".rsrc" : ".rdata", 6);
  size_t rawSize = (tree.size() + kFileAlignment - 1) / kFileAlignment * kFileAlignment;
  image.Put32(section + 8, static_cast<uint32_t>(tree.size()));
  image.Put32(section + 12, kSectionRva);
  image.Put32(section + 16, static_cast<uint32_t>(rawSize));
  image.Put32(section + 20, kFileAlignment);
  image.Put32(section + 36, 0x40000040);  // initialised data, readable
  image.Put32(optional + 56,
              static_cast<uint32_t>(kSectionRva + (rawSize + 0xFFF) / 0x1000 * 0x1000));
  if (options.withResources) {
    image.Put32(image.resourceDataDirectory, kSectionRva);
    image.Put32(image.resourceDataDirectory + 4, static_cast<uint32_t>(tree.size()));
  }

  image.resourceSection = kFileAlignment;
  image.typeEntry = kFileAlignment + 16;
  image.languageEntries = kFileAlignment + languageDirectory + 16;
  image.dataEntries = kFileAlignment + dataEntries;
  image.firstBlock = kFileAlignment + blocks;
  tree.resize(rawSize, 0);
  image.bytes.insert(image.bytes.end(), tree.begin(), tree.end());
  return image;
}

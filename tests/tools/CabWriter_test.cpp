// The cabinet writer checked by every reader we have: the engine's unpack library (natively and
// under Wine), and on the host cabextract and gcab, which know nothing of our code.
#include "../../tools/kxbuild/CabWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "TestSupport.h"
#include "package/Unpacker.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"

namespace {

constexpr int64_t kTicksPerSecond = 10000000;

// A Windows file time of a UTC calendar moment.
int64_t UtcFileTime(int year, int month, int day, int hour, int minute, int second) {
  // Days from 1970-01-01 to the date (the civil-calendar formula of proleptic Gregorian dates).
  const int y = year - (month <= 2);
  const int era = (y >= 0 ? y : y - 399) / 400;
  const int yearOfEra = y - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const int64_t days = int64_t{era} * 146097 + dayOfEra - 719468;
  const int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return (seconds + 11644473600LL) * kTicksPerSecond;
}

// What a cabinet must store for a file time: the local wall clock, in two-second steps.
void ExpectedDos(int64_t fileTime, uint16_t& date, uint16_t& time) {
  os::LocalDateTime local;
  ASSERT_TRUE(os::FileTimeToLocalTime(fileTime, local));
  date = static_cast<uint16_t>(((local.year - 1980) << 9) | (local.month << 5) | local.day);
  time = static_cast<uint16_t>((local.hour << 11) | (local.minute << 5) | (local.second / 2));
}

std::string PseudoRandom(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t state = seed;
  for (char& c : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    c = static_cast<char>(state >> 24);
  }
  return bytes;
}

std::string Repetitive(size_t size) {
  std::string text;
  for (int line = 0; text.size() < size; ++line) {
    text += "line " + std::to_string(line % 50) + " of a text that repeats itself\r\n";
  }
  text.resize(size);
  return text;
}

// One entry of the sample cabinet: written to disk and added with AddFile, or added as bytes.
struct Sample {
  std::string name;
  std::string bytes;
  int64_t fileTime;
  uint32_t attributes;  // as given to AddData or set on the source file
  bool fromDisk;
};

std::vector<Sample> Samples() {
  return {
      {"empty.txt", "", UtcFileTime(2021, 3, 4, 12, 6, 8), os::kAttrArchive, true},
      {"one.bin", "x", UtcFileTime(2019, 11, 12, 13, 14, 16), os::kAttrReadOnly, true},
      {"data\\a\\b.txt", PseudoRandom(32768, 1), UtcFileTime(2022, 6, 30, 11, 58, 58),
       os::kAttrHidden, true},
      {"data\\exact-plus-one.bin", PseudoRandom(32769, 2), UtcFileTime(2020, 7, 15, 10, 20, 31),
       os::kAttrSystem | os::kAttrArchive, false},
      {"data\\random.bin", PseudoRandom(100 * 1024, 3), UtcFileTime(2023, 12, 31, 12, 0, 0),
       os::kAttrNormal, true},
      {"data\\repeat.txt", Repetitive(100 * 1024), UtcFileTime(2018, 1, 2, 9, 30, 0),
       os::kAttrReadOnly | os::kAttrHidden | os::kAttrArchive, false},
      {"lng\\ENU.lng", "[Strings]\r\n1=English\r\n", UtcFileTime(2024, 2, 29, 12, 0, 0),
       os::kAttrArchive, true},
  };
}

uint64_t LittleEndian(const std::string& bytes, size_t offset, size_t count) {
  uint64_t value = 0;
  for (size_t i = count; i-- > 0;) value = value << 8 | static_cast<uint8_t>(bytes[offset + i]);
  return value;
}

std::string Le32(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// The host tools run only where they exist: on Linux. A Windows build under Wine has no way to
// them, and its command interpreter fails this probe.
bool HostTool(const std::string& tool) {
  return std::system((tool + " --version >/dev/null 2>&1").c_str()) == 0;
}

// The test folders lie on drive Z:, which is "/" on the host.
std::string UnixPath(const std::string& path) {
  EXPECT_EQ(path.substr(0, 3), "Z:\\") << path;
  std::string unix = path.substr(2);
  for (char& c : unix) {
    if (c == '\\') c = '/';
  }
  return unix;
}

std::string Quoted(const std::string& path) { return "'" + UnixPath(path) + "'"; }

// What one written cabinet reported.
struct Written {
  std::vector<TCabEntry> entries;
  uint64_t total = 0;
  uint64_t offset = 0;
  uint64_t size = 0;
};

// How a cabinet of the samples is cut into folders and made.
struct Layout {
  TCabCompression compression;
  uint64_t folderSize;  // TCabWriter::kNoFolderLimit: one folder
  unsigned jobs;
};

// Small folders, so that the samples fill several: the cut comes before the first data entry as
// asked, and wherever an entry would take a folder past 40000 bytes.
constexpr uint64_t kSmallFolders = 40000;

class CabWriterTest : public testing::TestWithParam<Layout> {
 protected:
  ScratchFolder scratch_{CurrentTestName()};
  std::vector<Sample> samples_ = Samples();
  // The attributes each entry must carry: for a file on disk, what the system reports for it.
  std::vector<uint16_t> expectedAttributes_;

  void SetUp() override {
    ASSERT_TRUE(ForceFolders(scratch_.Path() + "src"));
    for (const Sample& sample : samples_) {
      uint32_t attributes = sample.attributes;
      if (sample.fromDisk) {
        const std::string path = SourcePath(sample);
        ASSERT_TRUE(WriteFileText(path, sample.bytes));
        ASSERT_TRUE(os::SetFileWriteTime(path, sample.fileTime));
        ASSERT_TRUE(os::SetFileAttributes(path, sample.attributes));
        attributes = os::GetFileAttributes(path);
      }
      expectedAttributes_.push_back(static_cast<uint16_t>(attributes & 0x27));
    }
  }

  std::string SourcePath(const Sample& sample) {
    std::string flat = sample.name;
    for (char& c : flat) {
      if (c == '\\') c = '_';
    }
    return scratch_.Path() + "src\\" + flat;
  }

  // Writes the samples as a cabinet behind stub; with a trailer the file becomes a package.
  Written WriteCabinet(const std::string& path, const std::string& stub = "", bool trailer = false,
                       unsigned jobs = GetParam().jobs) {
    os::File file = os::File::Open(path, os::File::Mode::kCreate);
    EXPECT_TRUE(file.IsOpen()) << path;
    EXPECT_TRUE(file.Write(stub.data(), stub.size()));
    TCabWriter writer(file, GetParam().compression);
    writer.SetFolderSize(GetParam().folderSize);
    writer.SetJobs(jobs);
    for (const Sample& sample : samples_) {
      if (GetParam().folderSize != TCabWriter::kNoFolderLimit && sample.name == "data\\a\\b.txt") {
        writer.StartFolder();
      }
      if (sample.fromDisk) {
        writer.AddFile(sample.name, SourcePath(sample));
      } else {
        writer.AddData(sample.name, sample.bytes, sample.fileTime, sample.attributes);
      }
    }
    writer.Finish();
    EXPECT_EQ(writer.FolderCount(), GetParam().folderSize == kSmallFolders ? 6u : 1u);
    if (trailer) {
      uint64_t data = 0;
      for (const TCabEntry& entry : writer.Entries()) {
        if (entry.Name.rfind("data\\", 0) == 0) data += entry.Size;
      }
      const uint64_t built = file.Tell() + 18;
      // In file order: BuiltSize, PresetupSize, DataSize, the marker.
      const std::string fields = Le32(static_cast<uint32_t>(built)) +
                                 Le32(static_cast<uint32_t>(writer.TotalSize() - data)) +
                                 Le32(static_cast<uint32_t>(data)) + "KXPEND";
      EXPECT_TRUE(file.Write(fields.data(), fields.size()));
    }
    return {writer.Entries(), writer.TotalSize(), writer.CabinetOffset(), writer.CabinetSize()};
  }

  // Extracts the archive with the unpack library and checks every entry against the samples.
  void ExpectUnpackerExtractsSamples(const std::string& archive) {
    const std::string out = scratch_.Path() + "unpacked\\";
    ASSERT_TRUE(ForceFolders(out));
    std::vector<TUnpackEntry> seen;
    TUnpacker unpacker(KX_UNPACK_LIBRARY, archive);
    ASSERT_TRUE(unpacker.Extract([&](const TUnpackEntry& entry, std::string& target) {
      seen.push_back(entry);
      target = out + std::to_string(seen.size());
      return 1;
    }));
    ASSERT_EQ(seen.size(), samples_.size());
    for (size_t i = 0; i < seen.size(); ++i) {
      const Sample& sample = samples_[i];
      SCOPED_TRACE(sample.name);
      const std::string path = out + std::to_string(i + 1);
      EXPECT_EQ(seen[i].Name, sample.name);
      EXPECT_EQ(seen[i].Size, sample.bytes.size());
      uint16_t date = 0, time = 0;
      ExpectedDos(sample.fileTime, date, time);
      EXPECT_EQ(seen[i].Date, date);
      EXPECT_EQ(seen[i].Time, time);
      EXPECT_EQ(seen[i].Attributes, expectedAttributes_[i]);
      EXPECT_TRUE(ReadFileText(path) == sample.bytes) << "contents differ";
      // Back through local time to the moment the source had, in two-second steps.
      EXPECT_EQ(os::GetFileWriteTime(path).value_or(0),
                sample.fileTime - sample.fileTime % (2 * kTicksPerSecond));
    }
  }
};

TEST_P(CabWriterTest, UnpackLibraryExtractsTheSameBytesTimesAndAttributes) {
  const std::string cabinet = scratch_.Path() + "samples.cab";
  const Written written = WriteCabinet(cabinet);
  EXPECT_EQ(written.offset, 0u);
  EXPECT_EQ(written.size, static_cast<uint64_t>(FileSize(cabinet)));
  ExpectUnpackerExtractsSamples(cabinet);
}

TEST_P(CabWriterTest, ReportsEveryEntryWithItsUncompressedSize) {
  const Written written = WriteCabinet(scratch_.Path() + "samples.cab");
  ASSERT_EQ(written.entries.size(), samples_.size());
  uint64_t total = 0;
  for (size_t i = 0; i < samples_.size(); ++i) {
    EXPECT_EQ(written.entries[i].Name, samples_[i].name);
    EXPECT_EQ(written.entries[i].Size, samples_[i].bytes.size());
    total += samples_[i].bytes.size();
  }
  EXPECT_EQ(written.total, total);
}

// A cabinet's offsets count from its own start, so behind a program image it is the same bytes,
// and the unpack library finds it through the package trailer.
TEST_P(CabWriterTest, CabinetBehindAStubIsTheSameBytesAndIsFoundThere) {
  const std::string alone = scratch_.Path() + "alone.cab";
  const std::string package = scratch_.Path() + "package.exe";
  WriteCabinet(alone);
  const Written written = WriteCabinet(package, "MZ" + PseudoRandom(998, 7), true);
  EXPECT_EQ(written.offset, 1000u);
  const std::string cabinetBytes = ReadFileText(alone);
  const std::string packageBytes = ReadFileText(package);
  ASSERT_EQ(packageBytes.size(), 1000 + cabinetBytes.size() + 18);
  EXPECT_TRUE(packageBytes.substr(1000, cabinetBytes.size()) == cabinetBytes);
  ExpectUnpackerExtractsSamples(package);
}

// Whatever the number of threads that compress the folders.
TEST_P(CabWriterTest, SameInputsGiveTheSameBytes) {
  WriteCabinet(scratch_.Path() + "first.cab");
  WriteCabinet(scratch_.Path() + "second.cab", "", false, GetParam().jobs == 1 ? 4 : 1);
  const std::string first = ReadFileText(scratch_.Path() + "first.cab");
  EXPECT_FALSE(first.empty());
  EXPECT_TRUE(first == ReadFileText(scratch_.Path() + "second.cab"));
}

// A block checksum that readers verify: one byte changed in the stored data is caught.
TEST_P(CabWriterTest, ChangedDataByteFailsTheBlockChecksum) {
  const std::string cabinet = scratch_.Path() + "samples.cab";
  WriteCabinet(cabinet);
  std::string bytes = ReadFileText(cabinet);
  const size_t firstBlock = LittleEndian(bytes, 36, 4);
  const size_t middle = firstBlock + 8 + LittleEndian(bytes, firstBlock + 4, 2) / 2;
  ASSERT_LT(middle, bytes.size());
  bytes[middle] = static_cast<char>(bytes[middle] ^ 0x10);
  ASSERT_TRUE(WriteFileText(cabinet, bytes));
  TUnpacker unpacker(KX_UNPACK_LIBRARY, cabinet);
  EXPECT_FALSE(unpacker.Extract([&](const TUnpackEntry&, std::string& target) {
    target = scratch_.Path() + "out";
    return 1;
  }));
  if (!HostTool("cabextract")) GTEST_SKIP() << "cabextract is a host tool";
  EXPECT_NE(std::system(("cabextract -q -t " + Quoted(cabinet) + " >/dev/null 2>&1").c_str()), 0);
}

// cabextract and gcab are independent readers of the format; they list and extract the cabinet
// as written, the package behind a stub included.
TEST_P(CabWriterTest, CabextractAndGcabListAndExtractIt) {
  if (!HostTool("cabextract") || !HostTool("gcab"))
    GTEST_SKIP() << "cabextract and gcab are host tools";
  const std::string cabinet = scratch_.Path() + "samples.cab";
  const std::string package = scratch_.Path() + "package.exe";
  WriteCabinet(cabinet);
  WriteCabinet(package, std::string(1000, 'S'), true);

  // cabextract shows each entry's stored DOS date and time as they are.
  std::ostringstream expected;
  for (const Sample& sample : samples_) {
    uint16_t date = 0, time = 0;
    ExpectedDos(sample.fileTime, date, time);
    std::string name = sample.name;
    for (char& c : name) {
      if (c == '\\') c = '/';
    }
    char line[400];
    std::snprintf(line, sizeof(line), "%10zu | %02d.%02d.%04d %02d:%02d:%02d | %s\n",
                  sample.bytes.size(), date & 31, (date >> 5) & 15, (date >> 9) + 1980, time >> 11,
                  (time >> 5) & 63, (time & 31) * 2, name.c_str());
    expected << line;
  }
  const std::string listing = scratch_.Path() + "listing.txt";
  for (const std::string& archive : {cabinet, package}) {
    ASSERT_EQ(std::system(("cabextract -l " + Quoted(archive) + " | grep ' | ' | tail -n +2 >" +
                           Quoted(listing))
                              .c_str()),
              0);
    EXPECT_EQ(ReadFileText(listing), expected.str()) << archive;
  }

  std::ostringstream expectedGcab;
  for (size_t i = 0; i < samples_.size(); ++i) {
    char line[400];
    std::snprintf(line, sizeof(line), "%s %zu 0x%x\n", samples_[i].name.c_str(),
                  samples_[i].bytes.size(), expectedAttributes_[i]);
    expectedGcab << line;
  }
  ASSERT_EQ(std::system(
                ("gcab -l " + Quoted(cabinet) + " | awk '{ print $1, $2, $5 }' >" + Quoted(listing))
                    .c_str()),
            0);
  EXPECT_EQ(ReadFileText(listing), expectedGcab.str());

  const std::string byCabextract = scratch_.Path() + "cabextract\\";
  const std::string byGcab = scratch_.Path() + "gcab\\";
  ASSERT_TRUE(ForceFolders(byGcab));
  ASSERT_EQ(
      std::system(("cabextract -q -d " + Quoted(byCabextract) + " " + Quoted(cabinet)).c_str()), 0);
  ASSERT_EQ(std::system(("cd " + Quoted(byGcab) + " && gcab -x " + Quoted(cabinet)).c_str()), 0);
  for (const Sample& sample : samples_) {
    EXPECT_TRUE(ReadFileText(byCabextract + sample.name) == sample.bytes) << sample.name;
    EXPECT_TRUE(ReadFileText(byGcab + sample.name) == sample.bytes) << sample.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, CabWriterTest,
    testing::Values(Layout{TCabCompression::kNone, TCabWriter::kNoFolderLimit, 1},
                    Layout{TCabCompression::kMszip, TCabWriter::kNoFolderLimit, 1},
                    Layout{TCabCompression::kNone, kSmallFolders, 3},
                    Layout{TCabCompression::kMszip, kSmallFolders, 3}),
    [](const testing::TestParamInfo<Layout>& info) {
      return std::string(info.param.compression == TCabCompression::kNone ? "None" : "Mszip") +
             (info.param.folderSize == TCabWriter::kNoFolderLimit ? "OneFolder" : "Folders");
    });

class CabWriterLayoutTest : public testing::Test {
 protected:
  ScratchFolder scratch_{CurrentTestName()};

  // Writes entries of the given contents and returns the cabinet's bytes.
  std::string Write(TCabCompression compression, const std::vector<std::string>& contents) {
    const std::string path = scratch_.Path() + "layout.cab";
    {
      os::File file = os::File::Open(path, os::File::Mode::kCreate);
      TCabWriter writer(file, compression);
      for (size_t i = 0; i < contents.size(); ++i) {
        writer.AddData("f" + std::to_string(i), contents[i], UtcFileTime(2020, 1, 1, 12, 0, 0), 0);
      }
      writer.Finish();
    }
    return ReadFileText(path);
  }
};

// Data blocks hold 32768 uncompressed bytes each, across entry boundaries, the last one the rest.
TEST_F(CabWriterLayoutTest, BlocksAreFullExceptTheLast) {
  const std::string bytes =
      Write(TCabCompression::kNone, {PseudoRandom(40000, 9), "", PseudoRandom(60000, 10)});
  ASSERT_GE(bytes.size(), 44u);
  EXPECT_EQ(LittleEndian(bytes, 8, 4), bytes.size());  // the cabinet's own size
  EXPECT_EQ(LittleEndian(bytes, 40, 2), 4u);           // blocks in the folder
  EXPECT_EQ(LittleEndian(bytes, 42, 2), 0u);           // no compression
  size_t at = LittleEndian(bytes, 36, 4);
  std::vector<uint64_t> sizes;
  while (at + 8 <= bytes.size()) {
    const uint64_t stored = LittleEndian(bytes, at + 4, 2);
    sizes.push_back(LittleEndian(bytes, at + 6, 2));
    EXPECT_EQ(stored, sizes.back());
    EXPECT_EQ(LittleEndian(bytes, at, 4),
              CabBlockChecksum(reinterpret_cast<const uint8_t*>(bytes.data()) + at + 8,
                               static_cast<uint16_t>(stored), static_cast<uint16_t>(stored)));
    at += 8 + stored;
  }
  EXPECT_EQ(at, bytes.size());
  EXPECT_EQ(sizes, (std::vector<uint64_t>{32768, 32768, 32768, 100000 - 3 * 32768}));
}

TEST_F(CabWriterLayoutTest, MszipShrinksRepetitiveDataAndKeepsRandomDataNearItsSize) {
  const std::string repetitive = Write(TCabCompression::kMszip, {Repetitive(200000)});
  EXPECT_EQ(LittleEndian(repetitive, 42, 2), 1u);
  EXPECT_LT(repetitive.size(), 200000u / 20);
  const std::string random = Write(TCabCompression::kMszip, {PseudoRandom(200000, 4)});
  EXPECT_GT(random.size(), 200000u);
  EXPECT_LT(random.size(), 200000u + 7 * 8 + 7 * 64 + 100);  // block records and deflate framing
}

TEST_F(CabWriterLayoutTest, CabinetOfEmptyFilesHasNoBlocksAndStillExtracts) {
  for (TCabCompression compression : {TCabCompression::kNone, TCabCompression::kMszip}) {
    const std::string bytes = Write(compression, {"", ""});
    EXPECT_EQ(LittleEndian(bytes, 40, 2), 0u);
    EXPECT_EQ(bytes.size(), 36u + 8 + 2 * (16 + 3));
    std::vector<std::string> names;
    TUnpacker unpacker(KX_UNPACK_LIBRARY, scratch_.Path() + "layout.cab");
    EXPECT_TRUE(unpacker.Extract([&](const TUnpackEntry& entry, std::string& target) {
      names.push_back(entry.Name);
      target = scratch_.Path() + "out" + std::to_string(names.size());
      return 1;
    }));
    EXPECT_EQ(names, (std::vector<std::string>{"f0", "f1"}));
    EXPECT_TRUE(FileExists(scratch_.Path() + "out2"));
    EXPECT_EQ(FileSize(scratch_.Path() + "out2"), 0);
  }
}

// The folders of a cabinet as its header and blocks describe them.
struct ParsedFolder {
  uint64_t bytes = 0;  // uncompressed, from its blocks
  std::vector<uint64_t> blocks;
};
struct ParsedEntry {
  uint16_t folder;
  uint64_t offset, size;
};

void ParseCabinet(const std::string& bytes, std::vector<ParsedFolder>& folders,
                  std::vector<ParsedEntry>& entries) {
  ASSERT_GE(bytes.size(), 36u);
  const size_t folderCount = LittleEndian(bytes, 26, 2);
  const size_t fileCount = LittleEndian(bytes, 28, 2);
  for (size_t f = 0; f < folderCount; ++f) {
    ParsedFolder folder;
    size_t at = LittleEndian(bytes, 36 + 8 * f, 4);
    const size_t blocks = LittleEndian(bytes, 36 + 8 * f + 4, 2);
    for (size_t b = 0; b < blocks; ++b) {
      ASSERT_LE(at + 8, bytes.size());
      folder.blocks.push_back(LittleEndian(bytes, at + 6, 2));
      folder.bytes += folder.blocks.back();
      at += 8 + LittleEndian(bytes, at + 4, 2);
    }
    folders.push_back(folder);
  }
  size_t at = LittleEndian(bytes, 16, 4);
  for (size_t i = 0; i < fileCount; ++i) {
    entries.push_back({static_cast<uint16_t>(LittleEndian(bytes, at + 8, 2)),
                       LittleEndian(bytes, at + 4, 4), LittleEndian(bytes, at, 4)});
    at = bytes.find('\0', at + 16) + 1;
  }
}

// Entries lie whole in one folder, in folder order and one after the other; a folder ends at an
// entry when the next would pass the folder size or StartFolder asked for it, never to leave a
// folder of no bytes.
TEST_F(CabWriterLayoutTest, FoldersAreCutBetweenEntries) {
  struct Case {
    const char* what;
    std::vector<size_t> sizes;
    uint64_t folderSize;
    std::vector<size_t> startsBefore;
    std::vector<uint16_t> folders;  // of each entry
  } cases[] = {
      {"no limit", {40000, 60000}, TCabWriter::kNoFolderLimit, {}, {0, 0}},
      {"an empty entry stays before the cut", {40000, 0, 60000}, 50000, {}, {0, 0, 1}},
      {"an entry over the size has a folder alone", {10, 100000, 10}, 32768, {}, {0, 1, 2}},
      {"entries up to the size share", {20000, 12768, 1}, 32768, {}, {0, 0, 1}},
      {"a cut asked takes effect at the next entry with bytes",
       {100, 0, 100},
       1 << 20,
       {1},
       {0, 0, 1}},
      {"a cut asked before anything makes no empty folder", {100, 100}, 1 << 20, {0}, {0, 0}},
      {"only empty entries: one folder", {0, 0}, 1, {1}, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = scratch_.Path() + "cut.cab";
    for (unsigned jobs : {1u, 2u}) {
      {
        os::File file = os::File::Open(path, os::File::Mode::kCreate);
        TCabWriter writer(file, TCabCompression::kMszip);
        writer.SetFolderSize(c.folderSize);
        writer.SetJobs(jobs);
        for (size_t i = 0; i < c.sizes.size(); ++i) {
          for (size_t start : c.startsBefore) {
            if (start == i) writer.StartFolder();
          }
          writer.AddData("f" + std::to_string(i), PseudoRandom(c.sizes[i], 20 + i), 0, 0);
        }
        writer.Finish();
      }
      std::vector<ParsedFolder> folders;
      std::vector<ParsedEntry> entries;
      ParseCabinet(ReadFileText(path), folders, entries);
      ASSERT_EQ(entries.size(), c.sizes.size());
      std::vector<uint16_t> seen;
      std::vector<uint64_t> used(folders.size(), 0);
      for (size_t i = 0; i < entries.size(); ++i) {
        seen.push_back(entries[i].folder);
        ASSERT_LT(entries[i].folder, folders.size());
        EXPECT_EQ(entries[i].offset, used[entries[i].folder]) << i;
        used[entries[i].folder] += entries[i].size;
      }
      EXPECT_EQ(seen, c.folders);
      for (size_t f = 0; f < folders.size(); ++f) {
        EXPECT_EQ(folders[f].bytes, used[f]) << "folder " << f;
        for (size_t b = 0; b + 1 < folders[f].blocks.size(); ++b) {
          EXPECT_EQ(folders[f].blocks[b], TCabWriter::kBlockSize) << "folder " << f;
        }
      }
    }
  }
}

TEST(CabChecksumTest, WordsThenTheRestInReverseOrderThenTheSizes) {
  struct Case {
    std::vector<uint8_t> data;
    uint32_t expected;
  } cases[] = {
      // No data: only the two size fields, as one word.
      {{}, 0x00000000},
      // 01 02 03 04 | 05 06 07: 0x04030201 ^ 0x00050607, then the sizes 7 and 7.
      {{1, 2, 3, 4, 5, 6, 7}, 0x04030201u ^ 0x00050607u ^ 0x00070007u},
      // Two bytes of rest: 0xAA << 8 | 0xBB; sizes 2 and 2.
      {{0xAA, 0xBB}, 0x0000AABBu ^ 0x00020002u},
      // One byte of rest, after a full word; sizes 5 and 5.
      {{0x10, 0x20, 0x30, 0x40, 0x99}, 0x40302010u ^ 0x00000099u ^ 0x00050005u},
  };
  for (const Case& c : cases) {
    const uint16_t size = static_cast<uint16_t>(c.data.size());
    EXPECT_EQ(CabBlockChecksum(c.data.data(), size, size), c.expected) << c.data.size();
  }
}

TEST(CabDosTimeTest, TimesOutsideTheDosRangeAreClamped) {
  uint16_t date = 0, time = 0;
  FileTimeToDosDateTime(UtcFileTime(1970, 1, 1, 0, 0, 0), date, time);
  EXPECT_EQ(date, (0 << 9) | (1 << 5) | 1);
  EXPECT_EQ(time, 0);
  FileTimeToDosDateTime(UtcFileTime(2200, 6, 1, 12, 0, 0), date, time);
  EXPECT_EQ(date, (127 << 9) | (12 << 5) | 31);
  EXPECT_EQ(time, (23 << 11) | (59 << 5) | 29);
  FileTimeToDosDateTime(-1, date, time);
  EXPECT_EQ(date, (0 << 9) | (1 << 5) | 1);
}

class CabWriterRefusalTest : public testing::Test {
 protected:
  ScratchFolder scratch_{CurrentTestName()};
  std::string path_ = scratch_.Path() + "refused.cab";
  os::File file_ = os::File::Open(path_, os::File::Mode::kCreate);
  TCabWriter writer_{file_, TCabCompression::kMszip};

  // Runs action and returns the message of the KxError it raised.
  template <typename Action>
  std::string ErrorOf(Action action) {
    try {
      action();
    } catch (const KxError& error) {
      return error.what();
    }
    ADD_FAILURE() << "no KxError raised";
    return "";
  }
};

TEST_F(CabWriterRefusalTest, BadAndDuplicateNamesAreRefusedAndLeaveNothingBehind) {
  writer_.AddData("lng\\ENU.lng", "text", 0, 0);
  EXPECT_NE(ErrorOf([&] { writer_.AddData("", "x", 0, 0); }).find("Invalid cabinet entry name"),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { writer_.AddData(std::string(256, 'n'), "x", 0, 0); }).find("255"),
            std::string::npos);
  ErrorOf([&] { writer_.AddData(std::string("a\0b", 3), "x", 0, 0); });
  EXPECT_EQ(ErrorOf([&] { writer_.AddData("LNG\\enu.LNG", "x", 0, 0); }),
            "The cabinet holds \"LNG\\enu.LNG\" already");
  writer_.AddData(std::string(255, 'n'), "y", 0, 0);
  ASSERT_EQ(writer_.Entries().size(), 2u);
  EXPECT_EQ(writer_.TotalSize(), 5u);
  writer_.Finish();
  EXPECT_EQ(static_cast<uint64_t>(file_.Tell()), writer_.CabinetSize());
}

TEST_F(CabWriterRefusalTest, MissingSourcesFoldersAndMisuseAreRefused) {
  const std::string missing = scratch_.Path() + "missing.txt";
  EXPECT_NE(ErrorOf([&] { writer_.AddFile("a", missing); }).find(missing), std::string::npos);
  EXPECT_NE(ErrorOf([&] {
              writer_.AddFile("a", WithoutTrailingBackslash(scratch_.Path()));
            }).find("is a folder"),
            std::string::npos);
  EXPECT_EQ(ErrorOf([&] { writer_.Finish(); }), "A cabinet needs at least one file");
  writer_.AddData("a", "x", 0, 0);
  writer_.Finish();
  ErrorOf([&] { writer_.AddData("b", "x", 0, 0); });
  ErrorOf([&] { writer_.Finish(); });
}

TEST_F(CabWriterRefusalTest, SourceThatChangedSizeBeforeFinishIsReported) {
  const std::string source = scratch_.Path() + "changing.txt";
  ASSERT_TRUE(WriteFileText(source, std::string(50000, 'a')));
  writer_.AddFile("changing.txt", source);
  ASSERT_TRUE(WriteFileText(source, std::string(40000, 'a')));
  EXPECT_NE(ErrorOf([&] { writer_.Finish(); }).find("changed while the cabinet was written"),
            std::string::npos);
}

// A fault in one folder stops the threads compressing the others, and is the one reported.
TEST_F(CabWriterRefusalTest, SourceThatVanishedInAFolderAmongOthersIsReported) {
  writer_.SetFolderSize(TCabWriter::kBlockSize);
  writer_.SetJobs(3);
  const std::string vanishing = scratch_.Path() + "vanishing.bin";
  for (int i = 0; i < 12; ++i) {
    const std::string source = i == 7 ? vanishing : scratch_.Path() + std::to_string(i) + ".bin";
    ASSERT_TRUE(WriteFileText(source, PseudoRandom(3 * TCabWriter::kBlockSize, i)));
    writer_.AddFile(std::to_string(i) + ".bin", source);
  }
  ASSERT_TRUE(DeleteFileForced(vanishing));
  EXPECT_NE(ErrorOf([&] { writer_.Finish(); }).find("Cannot open file " + vanishing),
            std::string::npos);
}

TEST_F(CabWriterRefusalTest, MoreEntriesThanTheFormatCountsAreRefused) {
  for (uint32_t i = 0; i < TCabWriter::kMaxEntries; ++i) {
    writer_.AddData("f" + std::to_string(i), "", 0, 0);
  }
  EXPECT_NE(ErrorOf([&] { writer_.AddData("one-too-many", "", 0, 0); }).find("at most 65535"),
            std::string::npos);
  EXPECT_EQ(writer_.Entries().size(), TCabWriter::kMaxEntries);
}

// The folder limit is checked from the sizes alone, before anything is read: sparse files test
// it without writing gigabytes.
TEST_F(CabWriterRefusalTest, ContentsBeyondTheFolderLimitAreRefused) {
  const auto sparse = [&](const std::string& name, uint64_t size) {
    const std::string path = scratch_.Path() + name;
    os::File file = os::File::Open(path, os::File::Mode::kCreate);
    EXPECT_TRUE(file.Seek(static_cast<int64_t>(size) - 1));
    EXPECT_TRUE(file.Write("z", 1));
    return path;
  };
  const std::string tooBig = sparse("too-big.bin", TCabWriter::kMaxFolderSize + 1);
  EXPECT_NE(ErrorOf([&] { writer_.AddFile("too-big.bin", tooBig); }).find("limit of one cabinet"),
            std::string::npos);
  writer_.AddFile("almost.bin", sparse("almost.bin", TCabWriter::kMaxFolderSize - 10));
  ErrorOf([&] { writer_.AddData("eleven", std::string(11, 'e'), 0, 0); });
  writer_.AddData("ten", std::string(10, 'e'), 0, 0);
  EXPECT_EQ(writer_.TotalSize(), TCabWriter::kMaxFolderSize);
}

}  // namespace

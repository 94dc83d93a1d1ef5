// Tests of the unpack library itself (unpack.so natively, unpack.dll under Wine), loaded through
// the OS layer as the engine loads it and driven through its C interface alone.
//
// The cabinets come from make_cabinets.sh (run before these tests); variants are derived here by
// patching copies, and spanned volumes are built here byte by byte, since gcab cannot span.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "kxunpack.h"
#include "os/os.h"

namespace {

const std::string kCabinets = std::string(KX_TEST_DATA_DIR) + "\\cabinets\\";
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;
constexpr int64_t kFileTimeTicksPerSecond = 10000000LL;

// ---------------------------------------------------------------------------------------------
// Bytes and little-endian fields

uint16_t Get16(const std::string& bytes, size_t offset) {
  return static_cast<uint16_t>(static_cast<uint8_t>(bytes.at(offset)) |
                               static_cast<uint8_t>(bytes.at(offset + 1)) << 8);
}

uint32_t Get32(const std::string& bytes, size_t offset) {
  return Get16(bytes, offset) | static_cast<uint32_t>(Get16(bytes, offset + 2)) << 16;
}

void Put16(std::string& bytes, size_t offset, uint16_t value) {
  bytes.at(offset) = static_cast<char>(value & 0xFF);
  bytes.at(offset + 1) = static_cast<char>(value >> 8);
}

void Put32(std::string& bytes, size_t offset, uint32_t value) {
  Put16(bytes, offset, static_cast<uint16_t>(value & 0xFFFF));
  Put16(bytes, offset + 2, static_cast<uint16_t>(value >> 16));
}

std::string Le16(uint16_t value) {
  std::string bytes(2, '\0');
  Put16(bytes, 0, value);
  return bytes;
}

std::string Le32(uint32_t value) {
  std::string bytes(4, '\0');
  Put32(bytes, 0, value);
  return bytes;
}

// Filler that is not all one byte, so that no structure hides in it by accident.
std::string Filler(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 24);
  }
  return bytes;
}

// ---------------------------------------------------------------------------------------------
// What make_cabinets.sh made

struct ManifestEntry {
  std::string name;  // as stored, backslash-separated
  uint32_t size = 0;
  int64_t mtime = 0;  // seconds since 1970
  int32_t dosDate = 0;
  int32_t dosTime = 0;
};

std::vector<ManifestEntry> ReadManifest() {
  std::vector<ManifestEntry> entries;
  std::istringstream lines(ReadFileText(kCabinets + "manifest.txt"));
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    ManifestEntry entry;
    std::string size, mtime, date, time;
    if (std::getline(fields, entry.name, '\t') && std::getline(fields, size, '\t') &&
        std::getline(fields, mtime, '\t') && std::getline(fields, date, '\t') &&
        std::getline(fields, time, '\t')) {
      entry.size = static_cast<uint32_t>(std::stoul(size));
      entry.mtime = std::stoll(mtime);
      entry.dosDate = std::stoi(date);
      entry.dosTime = std::stoi(time);
      entries.push_back(entry);
    }
  }
  return entries;
}

std::string SourceContent(const std::string& name) {
  return ReadFileText(kCabinets + "src\\" + name);
}

std::vector<std::string> NamesOf(const std::vector<ManifestEntry>& entries) {
  std::vector<std::string> names;
  for (const ManifestEntry& entry : entries) names.push_back(entry.name);
  return names;
}

// ---------------------------------------------------------------------------------------------
// Reading cabinets in the tests, independently of the library

constexpr size_t kHeaderSize = 36;

struct DataBlock {
  size_t payloadOffset = 0;
  uint16_t size = 0;
};

// The data blocks of a cabinet without reserved areas, in folder order.
std::vector<DataBlock> DataBlocksOf(const std::string& cab) {
  std::vector<DataBlock> blocks;
  const uint16_t folders = Get16(cab, 26);
  for (uint16_t f = 0; f < folders; ++f) {
    const size_t entry = kHeaderSize + 8u * f;
    size_t offset = Get32(cab, entry);
    for (uint16_t b = 0; b < Get16(cab, entry + 4); ++b) {
      const uint16_t size = Get16(cab, offset + 4);
      blocks.push_back({offset + 8, size});
      offset += 8 + size;
    }
  }
  return blocks;
}

// Offset of the file entry of that name.
size_t FileEntryOffset(const std::string& cab, const std::string& name) {
  size_t offset = Get32(cab, 16);
  for (uint16_t i = 0; i < Get16(cab, 28); ++i) {
    const std::string entryName(cab.c_str() + offset + 16);
    if (entryName == name) return offset;
    offset += 16 + entryName.size() + 1;
  }
  ADD_FAILURE() << "no entry " << name;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Building cabinets: spanned volumes and packages

struct BuiltFile {
  std::string name;
  uint32_t size;
  uint32_t folderOffset;
  uint16_t folder;  // index, or 0xFFFD/0xFFFE for an entry continued from/to another volume
};

struct BuiltBlock {
  std::string data;           // stored uncompressed
  uint16_t uncompressedSize;  // 0 for the first part of a block split between volumes
};

struct BuiltVolume {
  uint16_t index = 0;
  std::string previousName, nextName;
  std::vector<std::vector<BuiltBlock>> folders;
  std::vector<BuiltFile> files;
};

constexpr uint16_t kSetId = 0x4B58;
constexpr uint16_t kBuiltDate = (2020 - 1980) << 9 | 5 << 5 | 17;  // 2020-05-17
constexpr uint16_t kBuiltTime = 10 << 11 | 20 << 5 | 15;           // 10:20:30

std::string BuildVolume(const BuiltVolume& volume) {
  std::string names;
  uint16_t flags = 0;
  if (!volume.previousName.empty()) {
    flags |= 0x0001;
    names += volume.previousName + '\0' + "disk" + '\0';
  }
  if (!volume.nextName.empty()) {
    flags |= 0x0002;
    names += volume.nextName + '\0' + "disk" + '\0';
  }
  std::string files;
  for (const BuiltFile& file : volume.files) {
    files += Le32(file.size) + Le32(file.folderOffset) + Le16(file.folder) + Le16(kBuiltDate) +
             Le16(kBuiltTime) + Le16(0x20) + file.name + '\0';
  }
  const size_t foldersOffset = kHeaderSize + names.size();
  const size_t filesOffset = foldersOffset + 8 * volume.folders.size();
  std::string folders;
  std::string data;
  size_t dataOffset = filesOffset + files.size();
  for (const auto& blocks : volume.folders) {
    folders += Le32(static_cast<uint32_t>(dataOffset + data.size())) +
               Le16(static_cast<uint16_t>(blocks.size())) + Le16(0);  // stored
    for (const BuiltBlock& block : blocks) {
      data += Le32(0) + Le16(static_cast<uint16_t>(block.data.size())) +
              Le16(block.uncompressedSize) + block.data;
    }
  }
  const size_t total = dataOffset + data.size();
  std::string header = "MSCF" + Le32(0) + Le32(static_cast<uint32_t>(total)) + Le32(0) +
                       Le32(static_cast<uint32_t>(filesOffset)) + Le32(0) + Le16(0x0103) +
                       Le16(static_cast<uint16_t>(volume.folders.size())) +
                       Le16(static_cast<uint16_t>(volume.files.size())) + Le16(flags) +
                       Le16(kSetId) + Le16(volume.index);
  return header + names + folders + files + data;
}

// Two volumes: "one.txt" in the first, "two.bin" continued from the first into the second
// through a block split between them, "three.txt" in a folder of its own in the second.
struct SpannedSet {
  std::string first, second;
  std::map<std::string, std::string> contents;
};

SpannedSet MakeSpannedSet() {
  SpannedSet set;
  const std::string one = Filler(100, 1), two = Filler(300, 2), three = Filler(50, 3);
  set.contents = {{"one.txt", one}, {"two.bin", two}, {"three.txt", three}};
  const std::string stream = one + two;  // folder 0, spanning the volumes
  BuiltVolume first;
  first.index = 0;
  first.nextName = "vol2.cab";
  first.folders = {{{stream.substr(0, 200), 200}, {stream.substr(200, 50), 0}}};
  first.files = {{"one.txt", 100, 0, 0}, {"two.bin", 300, 100, 0xFFFE}};
  BuiltVolume second;
  second.index = 1;
  second.previousName = "vol1.cab";
  second.folders = {{{stream.substr(250), 200}}, {{three, 50}}};
  second.files = {{"two.bin", 300, 100, 0xFFFD}, {"three.txt", 50, 0, 1}};
  set.first = BuildVolume(first);
  set.second = BuildVolume(second);
  return set;
}

constexpr char kMarker[] = "KXPEND";

std::string Trailer(uint32_t cabinetSize, uint32_t imageSize, uint32_t builtSize) {
  return Le32(builtSize) + Le32(imageSize) + Le32(cabinetSize) + kMarker;
}

std::string MakePackage(const std::string& image, const std::string& cab, const std::string& tail) {
  const auto built = static_cast<uint32_t>(image.size() + cab.size() + 18);
  return image + cab +
         Trailer(static_cast<uint32_t>(cab.size()), static_cast<uint32_t>(image.size()), built) +
         tail;
}

std::string ProgramImage(size_t size) { return "MZ" + Filler(size - 2, 7); }

// ---------------------------------------------------------------------------------------------
// The engine's side of the interface, scripted per test

struct FileEvent {
  std::string name;
  int32_t size, date, time, attributes;
  std::string path;
};

struct WriteEvent {
  std::string name, path;
  int32_t fileSize, blockSize, done;
  std::string bytes;
};

struct VolumeEvent {
  std::string volume, folder;
};

class Engine {
 public:
  explicit Engine(std::string targetFolder) : target_(std::move(targetFolder)) {}

  std::string TargetOf(const std::string& name) const { return target_ + name; }

  // Answers; unlisted entries are extracted and every write and completion goes on.
  std::map<std::string, int32_t> beforeAnswers;
  std::map<std::string, int32_t> doneAnswers;
  std::string stopWritesOf;  // answer -1 to write number stopAtWrite (from 1) of this entry
  int stopAtWrite = 0;
  std::vector<std::string> volumeFolders;  // answers to missing volumes in turn, then -1
  std::function<void()> duringBeforeFile;

  // What the library reported.
  std::vector<FileEvent> before, done;
  std::vector<WriteEvent> writes;
  std::vector<VolumeEvent> volumes;
  std::vector<std::string> blocks;

  int32_t BeforeFile(KxUnpackFileRecord& record) {
    before.push_back(EventOf(record, ""));
    if (duringBeforeFile) duringBeforeFile();
    const std::string name = reinterpret_cast<const char*>(record.name);
    const auto answer = beforeAnswers.find(name);
    if (answer != beforeAnswers.end() && answer->second != 1) return answer->second;
    CreateFoldersFor(name);
    const std::string path = TargetOf(name);
    if (path.size() >= KXUNPACK_PATH_SIZE) return -1;
    std::memcpy(reinterpret_cast<char*>(record.path), path.c_str(), path.size() + 1);
    return 1;
  }

  int32_t FileDone(const KxUnpackFileRecord& record) {
    done.push_back(EventOf(record, reinterpret_cast<const char*>(record.path)));
    const auto answer = doneAnswers.find(done.back().name);
    return answer == doneAnswers.end() ? 1 : answer->second;
  }

  int32_t Write(const KxUnpackWriteRecord& record) {
    WriteEvent event{reinterpret_cast<const char*>(record.name),
                     reinterpret_cast<const char*>(record.path),
                     record.fileSize,
                     record.blockSize,
                     record.done,
                     {}};
    if (record.block && record.blockSize > 0) {
      event.bytes.assign(reinterpret_cast<const char*>(record.block), record.blockSize);
    }
    writes.push_back(event);
    if (event.name == stopWritesOf && WritesOf(event.name).size() == size_t(stopAtWrite)) {
      return -1;
    }
    return 1;
  }

  int32_t NextVolume(KxUnpackVolumeRecord& record) {
    volumes.push_back({reinterpret_cast<const char*>(record.volume),
                       reinterpret_cast<const char*>(record.folder)});
    if (volumes.size() > volumeFolders.size()) return -1;
    const std::string& folder = volumeFolders[volumes.size() - 1];
    if (folder.size() >= KXUNPACK_FOLDER_SIZE) return -1;
    std::memcpy(reinterpret_cast<char*>(record.folder), folder.c_str(), folder.size() + 1);
    return 1;
  }

  std::vector<std::string> BeforeNames() const { return Names(before); }
  std::vector<std::string> DoneNames() const { return Names(done); }

  std::vector<WriteEvent> WritesOf(const std::string& name) const {
    std::vector<WriteEvent> result;
    for (const WriteEvent& event : writes) {
      if (event.name == name) result.push_back(event);
    }
    return result;
  }

 private:
  static FileEvent EventOf(const KxUnpackFileRecord& record, const std::string& path) {
    return {reinterpret_cast<const char*>(record.name),
            record.size,
            record.date,
            record.time,
            record.attributes,
            path};
  }

  static std::vector<std::string> Names(const std::vector<FileEvent>& events) {
    std::vector<std::string> names;
    for (const FileEvent& event : events) names.push_back(event.name);
    return names;
  }

  // The library creates nothing but the file; folders are the engine's.
  void CreateFoldersFor(const std::string& name) const {
    for (size_t separator = name.find('\\'); separator != std::string::npos;
         separator = name.find('\\', separator + 1)) {
      os::CreateDir(target_ + name.substr(0, separator));
    }
  }

  std::string target_;
};

Engine* activeEngine = nullptr;

int32_t KXUNPACK_CALL Notify(int32_t kind, void* record) {
  if (!activeEngine || !record) {
    ADD_FAILURE() << "notification " << kind << " outside an enumeration";
    return -1;
  }
  switch (kind) {
    case KXUNPACK_BEFORE_FILE:
      return activeEngine->BeforeFile(*static_cast<KxUnpackFileRecord*>(record));
    case KXUNPACK_FILE_DONE:
      return activeEngine->FileDone(*static_cast<KxUnpackFileRecord*>(record));
    case KXUNPACK_WRITE:
      return activeEngine->Write(*static_cast<KxUnpackWriteRecord*>(record));
    case KXUNPACK_NEXT_VOLUME:
      return activeEngine->NextVolume(*static_cast<KxUnpackVolumeRecord*>(record));
    default:
      ADD_FAILURE() << "unknown notification " << kind;
      return -1;
  }
}

void KXUNPACK_CALL SeeBlock(void* block, int32_t count) {
  if (activeEngine && block && count > 0) {
    activeEngine->blocks.emplace_back(static_cast<const char*>(block), count);
  }
}

// ---------------------------------------------------------------------------------------------
// The fixture: the library loaded afresh and a scratch folder per test

class UnpackLibrary : public testing::Test {
 protected:
  void SetUp() override {
    manifest_ = ReadManifest();
    ASSERT_EQ(manifest_.size(), 5u) << "make_cabinets.sh did not run: " << kCabinets;
    plainCab_ = ReadFileText(kCabinets + "plain.cab");
    ASSERT_FALSE(plainCab_.empty());
    library_ = os::Library::Load(KX_UNPACK_LIBRARY);
    ASSERT_TRUE(library_.IsLoaded()) << KX_UNPACK_LIBRARY << ": " << os::LastErrorMessage();
    open_ = reinterpret_cast<KxUnpackOpenFn>(library_.Symbol("Open"));
    enumerate_ = reinterpret_cast<KxUnpackEnumerateFn>(library_.Symbol("Enumerate"));
    close_ = reinterpret_cast<KxUnpackCloseFn>(library_.Symbol("Close"));
    ASSERT_TRUE(open_ && enumerate_ && close_);
    scratch_ = std::make_unique<ScratchFolder>(CurrentTestName());
    target_ = scratch_->Path() + "out\\";
    ASSERT_NE(os::CreateDir(target_), os::CreateResult::kFailed);
  }

  void TearDown() override {
    if (close_) close_();
    scratch_.reset();
  }

  std::string Scratch(const std::string& name) const { return scratch_->Path() + name; }

  std::string WriteArchive(const std::string& name, const std::string& bytes) const {
    const std::string path = Scratch(name);
    EXPECT_TRUE(WriteFileText(path, bytes)) << path;
    return path;
  }

  // One enumeration of the archive, answered by engine; the result of "Enumerate".
  int32_t Extract(const std::string& archive, Engine& engine) {
    EXPECT_NE(open_(archive.c_str()), 0);
    activeEngine = &engine;
    const int32_t result = enumerate_(Notify, SeeBlock);
    activeEngine = nullptr;
    return result;
  }

  bool Exists(const std::string& path) const {
    return os::GetFileAttributes(path) != os::kInvalidAttributes;
  }

  void ExpectExtracted(const Engine& engine, const std::string& name) const {
    EXPECT_TRUE(Exists(engine.TargetOf(name))) << name;
    EXPECT_EQ(ReadFileText(engine.TargetOf(name)), SourceContent(name)) << name;
  }

  void ExpectAbsent(const Engine& engine, const std::string& name) const {
    EXPECT_FALSE(Exists(engine.TargetOf(name))) << name;
  }

  std::vector<ManifestEntry> manifest_;
  std::string plainCab_;
  os::Library library_;
  KxUnpackOpenFn open_ = nullptr;
  KxUnpackEnumerateFn enumerate_ = nullptr;
  KxUnpackCloseFn close_ = nullptr;
  std::unique_ptr<ScratchFolder> scratch_;
  std::string target_;
};

// ---------------------------------------------------------------------------------------------
// Extraction

TEST_F(UnpackLibrary, ExtractsEveryEntryInArchiveOrderWithItsContent) {
  Engine engine(target_);
  EXPECT_EQ(Extract(kCabinets + "plain.cab", engine), 1);
  EXPECT_EQ(engine.BeforeNames(), NamesOf(manifest_));
  EXPECT_EQ(engine.DoneNames(), NamesOf(manifest_));
  for (const ManifestEntry& entry : manifest_) ExpectExtracted(engine, entry.name);
}

TEST_F(UnpackLibrary, DescribesEachEntryAsTheArchiveStoresIt) {
  Engine engine(target_);
  ASSERT_EQ(Extract(kCabinets + "plain.cab", engine), 1);
  ASSERT_EQ(engine.before.size(), manifest_.size());
  for (size_t i = 0; i < manifest_.size(); ++i) {
    const FileEvent& event = engine.before[i];
    EXPECT_EQ(event.size, static_cast<int32_t>(manifest_[i].size)) << event.name;
    EXPECT_EQ(event.date, manifest_[i].dosDate) << event.name;
    EXPECT_EQ(event.time, manifest_[i].dosTime) << event.name;
    EXPECT_EQ(event.attributes, static_cast<int32_t>(os::kAttrArchive)) << event.name;
  }
}

TEST_F(UnpackLibrary, ReportsEachCompletedFileWithThePathItWasWrittenTo) {
  Engine engine(target_);
  ASSERT_EQ(Extract(kCabinets + "plain.cab", engine), 1);
  ASSERT_EQ(engine.done.size(), manifest_.size());
  for (size_t i = 0; i < manifest_.size(); ++i) {
    EXPECT_EQ(engine.done[i].path, engine.TargetOf(manifest_[i].name));
    EXPECT_EQ(engine.done[i].size, static_cast<int32_t>(manifest_[i].size));
  }
}

TEST_F(UnpackLibrary, AnnouncesEveryWriteWithBlocksAddingUpToTheFile) {
  Engine engine(target_);
  ASSERT_EQ(Extract(kCabinets + "plain.cab", engine), 1);
  for (const ManifestEntry& entry : manifest_) {
    const std::vector<WriteEvent> writes = engine.WritesOf(entry.name);
    std::string written;
    int32_t done = 0;
    for (const WriteEvent& write : writes) {
      EXPECT_EQ(write.path, engine.TargetOf(entry.name));
      EXPECT_EQ(write.fileSize, static_cast<int32_t>(entry.size));
      EXPECT_GT(write.blockSize, 0);
      done += write.blockSize;
      EXPECT_EQ(write.done, done) << entry.name;
      written += write.bytes;
    }
    EXPECT_EQ(done, static_cast<int32_t>(entry.size)) << entry.name;
    EXPECT_EQ(written, SourceContent(entry.name)) << entry.name;
  }
  EXPECT_GT(engine.WritesOf("big.bin").size(), 1u);
  EXPECT_TRUE(engine.WritesOf("empty.dat").empty());
}

TEST_F(UnpackLibrary, GivesWrittenFilesTheTimeStoredInTheArchive) {
  Engine engine(target_);
  ASSERT_EQ(Extract(kCabinets + "plain.cab", engine), 1);
  for (const ManifestEntry& entry : manifest_) {
    const auto written = os::GetFileWriteTime(engine.TargetOf(entry.name));
    ASSERT_TRUE(written.has_value()) << entry.name;
    EXPECT_EQ(*written, kUnixEpochAsFileTime + entry.mtime * kFileTimeTicksPerSecond) << entry.name;
  }
}

TEST_F(UnpackLibrary, GivesWrittenFilesTheAttributesStoredInTheArchive) {
  std::string cab = plainCab_;
  Put16(cab, FileEntryOffset(cab, "readme.txt") + 14, os::kAttrReadOnly | os::kAttrHidden);
  Put16(cab, FileEntryOffset(cab, "lng\\enu.lng") + 14, 0);
  Put16(cab, FileEntryOffset(cab, "last.txt") + 14, os::kAttrSystem | os::kAttrArchive);
  Engine engine(target_);
  ASSERT_EQ(Extract(WriteArchive("attributes.cab", cab), engine), 1);

  ASSERT_EQ(engine.before.size(), manifest_.size());
  EXPECT_EQ(engine.before[0].attributes, int32_t{os::kAttrReadOnly | os::kAttrHidden});
  const uint32_t readme = os::GetFileAttributes(engine.TargetOf("readme.txt"));
  EXPECT_TRUE(readme & os::kAttrReadOnly);
  EXPECT_TRUE(readme & os::kAttrHidden);
  EXPECT_FALSE(readme & os::kAttrSystem);
  const uint32_t language = os::GetFileAttributes(engine.TargetOf("lng\\enu.lng"));
  EXPECT_FALSE(language & (os::kAttrReadOnly | os::kAttrHidden | os::kAttrSystem));
  const uint32_t last = os::GetFileAttributes(engine.TargetOf("last.txt"));
  EXPECT_TRUE(last & os::kAttrSystem);
  EXPECT_TRUE(last & os::kAttrArchive);
  EXPECT_FALSE(last & (os::kAttrReadOnly | os::kAttrHidden));
  // Read-only came last: the time set before it stayed.
  const auto readmeTime = os::GetFileWriteTime(engine.TargetOf("readme.txt"));
  ASSERT_TRUE(readmeTime.has_value());
  EXPECT_EQ(*readmeTime, kUnixEpochAsFileTime + manifest_[0].mtime * kFileTimeTicksPerSecond);
}

// Windows paths ignore case; the engine may spell an existing folder or archive either way.
TEST_F(UnpackLibrary, FindsExistingFoldersAndArchivesWhateverTheCaseOfTheirNames) {
  Engine engine(Scratch("OUT\\"));
  EXPECT_EQ(Extract(kCabinets + "PLAIN.CAB", engine), 1);
  std::vector<os::FindData> entries;
  ASSERT_TRUE(os::ListFolder(scratch_->Path(), entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "out");
  for (const ManifestEntry& entry : manifest_) {
    EXPECT_EQ(ReadFileText(target_ + entry.name), SourceContent(entry.name)) << entry.name;
  }
}

TEST_F(UnpackLibrary, ExtractsAPackageLikeThePlainCabinet) {
  Engine engine(target_);
  EXPECT_EQ(Extract(kCabinets + "package.bin", engine), 1);
  EXPECT_EQ(engine.DoneNames(), NamesOf(manifest_));
  for (const ManifestEntry& entry : manifest_) ExpectExtracted(engine, entry.name);
}

// Packages the library must still find the cabinet in.
struct PackageCase {
  const char* label;
  std::function<std::string(const std::string& cab)> make;
};

void PrintTo(const PackageCase& layout, std::ostream* out) { *out << layout.label; }

class UnpackLibraryPackage : public UnpackLibrary,
                             public testing::WithParamInterface<PackageCase> {};

TEST_P(UnpackLibraryPackage, FindsTheCabinet) {
  Engine engine(target_);
  EXPECT_EQ(Extract(WriteArchive("package.exe", GetParam().make(plainCab_)), engine), 1);
  EXPECT_EQ(engine.DoneNames(), NamesOf(manifest_));
  for (const ManifestEntry& entry : manifest_) ExpectExtracted(engine, entry.name);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, UnpackLibraryPackage,
    testing::Values(PackageCase{"WithoutImageOrTail",
                                [](const std::string& cab) { return MakePackage("", cab, ""); }},
                    PackageCase{"WithTheLongestTail",
                                [](const std::string& cab) {
                                  return MakePackage(ProgramImage(3000), cab, Filler(65530, 11));
                                }},
                    // A tail may hold the marker's bytes by chance; only a marker whose BuiltSize
                    // names its own place counts.
                    PackageCase{"WithAStrayMarkerInTheTail",
                                [](const std::string& cab) {
                                  const std::string stray = Trailer(1, 2, 3);
                                  return MakePackage(ProgramImage(3000), cab,
                                                     Filler(40, 5) + stray + "xy");
                                }},
                    // An image may embed a cabinet of its own; it ends elsewhere.
                    PackageCase{"WithAnotherCabinetInTheImage",
                                [](const std::string& cab) {
                                  return MakePackage(ProgramImage(500) + cab + Filler(300, 9), cab,
                                                     Filler(10, 4));
                                }}),
    [](const testing::TestParamInfo<PackageCase>& info) { return info.param.label; });

TEST_F(UnpackLibrary, FailsOnAPackageWhoseCabinetCannotBeFound) {
  const std::string image = ProgramImage(4096);
  const std::string cab = plainCab_;
  const std::vector<std::pair<std::string, std::string>> packages = {
      // BuiltSize that names no marker: the trailer is not genuine.
      {"wrong-built-size.exe", image + cab + Trailer(1, 2, 12345) + "tail"},
      // The cabinet does not end where the trailer begins.
      {"gap.exe", MakePackage(image, cab + "gap", "")},
      // Past the longest tail the marker is not looked for.
      {"tail-too-long.exe", MakePackage(image, cab, Filler(65531, 12))},
  };
  for (const auto& [name, bytes] : packages) {
    Engine engine(target_);
    EXPECT_EQ(Extract(WriteArchive(name, bytes), engine), 0) << name;
    EXPECT_TRUE(engine.before.empty()) << name;
  }
}

// ---------------------------------------------------------------------------------------------
// The engine's answers

TEST_F(UnpackLibrary, SkipsAnEntryAnsweredZero) {
  Engine engine(target_);
  engine.beforeAnswers = {{"readme.txt", 0}, {"big.bin", 0}};
  EXPECT_EQ(Extract(kCabinets + "plain.cab", engine), 1);
  EXPECT_EQ(engine.BeforeNames(), NamesOf(manifest_));
  EXPECT_EQ(engine.DoneNames(),
            (std::vector<std::string>{"lng\\enu.lng", "empty.dat", "last.txt"}));
  ExpectAbsent(engine, "readme.txt");
  ExpectAbsent(engine, "big.bin");
  EXPECT_TRUE(engine.WritesOf("big.bin").empty());
  ExpectExtracted(engine, "lng\\enu.lng");
  ExpectExtracted(engine, "last.txt");
}

TEST_F(UnpackLibrary, StopsWithSuccessWhenAnEntryIsAnsweredMinusOne) {
  Engine engine(target_);
  engine.beforeAnswers = {{"big.bin", -1}};
  EXPECT_EQ(Extract(kCabinets + "plain.cab", engine), 1);
  EXPECT_EQ(engine.BeforeNames(),
            (std::vector<std::string>{"readme.txt", "lng\\enu.lng", "empty.dat", "big.bin"}));
  EXPECT_EQ(engine.DoneNames(),
            (std::vector<std::string>{"readme.txt", "lng\\enu.lng", "empty.dat"}));
  ExpectExtracted(engine, "empty.dat");
  ExpectAbsent(engine, "big.bin");
  ExpectAbsent(engine, "last.txt");
}

TEST_F(UnpackLibrary, StopsWithSuccessWhenACompletedFileIsAnsweredMinusOne) {
  Engine engine(target_);
  engine.doneAnswers = {{"lng\\enu.lng", -1}};
  EXPECT_EQ(Extract(kCabinets + "plain.cab", engine), 1);
  EXPECT_EQ(engine.BeforeNames(), (std::vector<std::string>{"readme.txt", "lng\\enu.lng"}));
  EXPECT_EQ(engine.DoneNames(), (std::vector<std::string>{"readme.txt", "lng\\enu.lng"}));
  ExpectExtracted(engine, "lng\\enu.lng");
  ExpectAbsent(engine, "empty.dat");
  ExpectAbsent(engine, "big.bin");
}

TEST_F(UnpackLibrary, StopsWithSuccessWhenAWriteIsAnsweredMinusOne) {
  Engine engine(target_);
  engine.stopWritesOf = "big.bin";
  engine.stopAtWrite = 2;
  EXPECT_EQ(Extract(kCabinets + "plain.cab", engine), 1);
  EXPECT_EQ(engine.WritesOf("big.bin").size(), 2u);
  EXPECT_TRUE(engine.WritesOf("last.txt").empty());
  EXPECT_EQ(engine.DoneNames(),
            (std::vector<std::string>{"readme.txt", "lng\\enu.lng", "empty.dat"}));
  EXPECT_EQ(engine.BeforeNames().back(), "big.bin");
  // The file cut short does not stay behind as if it were the entry.
  ExpectAbsent(engine, "big.bin");
  ExpectAbsent(engine, "last.txt");
}

TEST_F(UnpackLibrary, FailsWhenTheTargetPathIsNotTerminated) {
  // Answers 1 with the path buffer filled to its end.
  struct FullBuffer {
    static int32_t KXUNPACK_CALL Notify(int32_t kind, void* record) {
      if (kind != KXUNPACK_BEFORE_FILE) return 1;
      auto* file = static_cast<KxUnpackFileRecord*>(record);
      std::memset(reinterpret_cast<char*>(file->path), 'a', KXUNPACK_PATH_SIZE);
      return 1;
    }
  };
  ASSERT_NE(open_((kCabinets + "plain.cab").c_str()), 0);
  EXPECT_EQ(enumerate_(FullBuffer::Notify, SeeBlock), 0);
}

TEST_F(UnpackLibrary, RefusesAnEnumerationStartedFromInsideAnother) {
  Engine engine(target_);
  int32_t inner = -2;
  engine.duringBeforeFile = [&] {
    if (inner == -2) inner = enumerate_(Notify, SeeBlock);
  };
  EXPECT_EQ(Extract(kCabinets + "plain.cab", engine), 1);
  EXPECT_EQ(inner, 0);
  EXPECT_EQ(engine.DoneNames(), NamesOf(manifest_));
}

TEST_F(UnpackLibrary, FailsToEnumerateWithoutAnOpenedArchive) {
  Engine engine(target_);
  activeEngine = &engine;
  EXPECT_EQ(enumerate_(Notify, SeeBlock), 0);
  ASSERT_NE(open_((kCabinets + "plain.cab").c_str()), 0);
  close_();
  EXPECT_EQ(enumerate_(Notify, SeeBlock), 0);
  activeEngine = nullptr;
  EXPECT_TRUE(engine.before.empty());
}

TEST_F(UnpackLibrary, FailsWhenTheArchiveDoesNotExist) {
  Engine engine(target_);
  EXPECT_EQ(Extract(Scratch("missing.cab"), engine), 0);
  EXPECT_TRUE(engine.before.empty());
}

// ---------------------------------------------------------------------------------------------
// Data blocks

TEST_F(UnpackLibrary, HandsEveryDataBlockToTheBlockCallbackAsStored) {
  Engine engine(target_);
  ASSERT_EQ(Extract(kCabinets + "plain.cab", engine), 1);
  const std::vector<DataBlock> stored = DataBlocksOf(plainCab_);
  ASSERT_GT(stored.size(), 2u);
#if defined(_WIN32)
  if (engine.blocks.empty()) {
    GTEST_SKIP() << "this cabinet.dll does not call FDI's decrypt callback";
  }
#endif
  ASSERT_EQ(engine.blocks.size(), stored.size());
  for (size_t i = 0; i < stored.size(); ++i) {
    EXPECT_EQ(engine.blocks[i], plainCab_.substr(stored[i].payloadOffset, stored[i].size))
        << "block " << i;
  }
}

// ---------------------------------------------------------------------------------------------
// Damaged archives

TEST_F(UnpackLibrary, FailsOnATruncatedCabinet) {
  for (size_t size : {size_t{0}, size_t{3}, size_t{35}, size_t{36}, size_t{80},
                      plainCab_.size() / 2, plainCab_.size() - 1}) {
    Engine engine(target_);
    const std::string name = "cut" + std::to_string(size) + ".cab";
    EXPECT_EQ(Extract(WriteArchive(name, plainCab_.substr(0, size)), engine), 0) << size;
  }
}

// The header claims the shorter size, so the cut shows only when the data runs out.
TEST_F(UnpackLibrary, FailsWhenTheDataEndsInsideAnEntry) {
  const std::vector<DataBlock> blocks = DataBlocksOf(plainCab_);
  ASSERT_GT(blocks.size(), 3u);
  const size_t cut = blocks[2].payloadOffset + blocks[2].size / 2;
  std::string cab = plainCab_.substr(0, cut);
  Put32(cab, 8, static_cast<uint32_t>(cut));
  Engine engine(target_);
  EXPECT_EQ(Extract(WriteArchive("cut.cab", cab), engine), 0);
  ExpectAbsent(engine, "big.bin");
  ExpectAbsent(engine, "last.txt");
  EXPECT_EQ(engine.DoneNames(),
            (std::vector<std::string>{"readme.txt", "lng\\enu.lng", "empty.dat"}));
}

// Flipped bits of a block inside big.bin: its checksum no longer matches.
TEST_F(UnpackLibrary, FailsOnCorruptCompressedData) {
  const std::vector<DataBlock> blocks = DataBlocksOf(plainCab_);
  ASSERT_GT(blocks.size(), 3u);
  std::string cab = plainCab_;
  const size_t middle = blocks[2].payloadOffset + blocks[2].size / 2;
  cab[middle] = static_cast<char>(cab[middle] ^ 0x5A);
  cab[middle + 5] = static_cast<char>(cab[middle + 5] ^ 0x01);
  Engine engine(target_);
  EXPECT_EQ(Extract(WriteArchive("corrupt.cab", cab), engine), 0);
  ExpectAbsent(engine, "big.bin");
  ExpectAbsent(engine, "last.txt");
  ExpectExtracted(engine, "readme.txt");
}

// Wine's FDI writes past its buffers when it inflates such data, taking the test program down
// with it; the library cannot guard a decompressor it only calls. Natively libmspack must notice.
#if !defined(_WIN32)
TEST_F(UnpackLibrary, FailsOnCorruptDataWhoseChecksumStillMatches) {
  const std::vector<DataBlock> blocks = DataBlocksOf(plainCab_);
  ASSERT_GT(blocks.size(), 3u);
  std::string cab = plainCab_;
  // The block checksum folds 32-bit words with XOR: one mask over four words cancels out.
  const size_t middle = blocks[2].payloadOffset + blocks[2].size / 2;
  for (size_t i = middle; i < middle + 16; ++i) cab[i] = static_cast<char>(cab[i] ^ 0x5A);
  Engine engine(target_);
  EXPECT_EQ(Extract(WriteArchive("corrupt.cab", cab), engine), 0);
  ExpectAbsent(engine, "big.bin");
  ExpectAbsent(engine, "last.txt");
}
#endif

TEST_F(UnpackLibrary, FailsOnAGarbageHeader) {
  std::vector<std::pair<std::string, std::string>> cabs;
  std::string garbage = plainCab_;
  garbage.replace(4, kHeaderSize - 4, Filler(kHeaderSize - 4, 21));
  cabs.emplace_back("garbage.cab", garbage);
  std::string counts = plainCab_;
  Put16(counts, 26, 0xFFFF);      // folders
  Put16(counts, 28, 0xFFFF);      // files
  Put32(counts, 16, 0x7FFFFFF0);  // first file entry
  cabs.emplace_back("counts.cab", counts);
  std::string reserve = plainCab_;
  Put16(reserve, 30, 0x0004);  // claims a reserved area
  cabs.emplace_back("reserve.cab", reserve);
  std::string folder = plainCab_;
  Put32(folder, kHeaderSize, 0xFFFFFF00);  // first data block far beyond the end
  cabs.emplace_back("folder.cab", folder);
  for (const auto& [name, bytes] : cabs) {
    Engine engine(target_);
    EXPECT_EQ(Extract(WriteArchive(name, bytes), engine), 0) << name;
    EXPECT_TRUE(engine.done.empty()) << name;
  }
}

// ---------------------------------------------------------------------------------------------
// Spanned archives

class UnpackLibrarySpanned : public UnpackLibrary {
 protected:
  void SetUp() override {
    UnpackLibrary::SetUp();
    if (HasFatalFailure()) return;
    set_ = MakeSpannedSet();
    ASSERT_NE(os::CreateDir(Scratch("elsewhere")), os::CreateResult::kFailed);
    first_ = WriteArchive("vol1.cab", set_.first);
  }

  void ExpectAllExtracted(const Engine& engine) const {
    EXPECT_EQ(engine.DoneNames(), (std::vector<std::string>{"one.txt", "two.bin", "three.txt"}));
    for (const auto& [name, content] : set_.contents) {
      EXPECT_EQ(ReadFileText(engine.TargetOf(name)), content) << name;
    }
  }

  SpannedSet set_;
  std::string first_;
};

TEST_F(UnpackLibrarySpanned, ContinuesIntoTheNextVolumeInTheSameFolder) {
  WriteArchive("vol2.cab", set_.second);
  Engine engine(target_);
  EXPECT_EQ(Extract(first_, engine), 1);
  ExpectAllExtracted(engine);
  EXPECT_TRUE(engine.volumes.empty());
}

TEST_F(UnpackLibrarySpanned, AsksForAMissingVolumeAndReadsItFromTheFolderGiven) {
  WriteArchive("elsewhere\\vol2.cab", set_.second);
  Engine engine(target_);
  engine.volumeFolders = {Scratch("elsewhere\\")};
  EXPECT_EQ(Extract(first_, engine), 1);
  ExpectAllExtracted(engine);
  ASSERT_EQ(engine.volumes.size(), 1u);
  EXPECT_EQ(engine.volumes[0].volume, "vol2.cab");
  EXPECT_EQ(engine.volumes[0].folder, scratch_->Path());
}

TEST_F(UnpackLibrarySpanned, AsksAgainWhileTheFolderGivenLacksTheVolume) {
  WriteArchive("elsewhere\\vol2.cab", set_.second);
  Engine engine(target_);
  engine.volumeFolders = {Scratch("out\\"), Scratch("elsewhere")};
  EXPECT_EQ(Extract(first_, engine), 1);
  ExpectAllExtracted(engine);
  ASSERT_EQ(engine.volumes.size(), 2u);
  EXPECT_EQ(engine.volumes[1].folder, Scratch("out\\"));
}

TEST_F(UnpackLibrarySpanned, FailsWhenAMissingVolumeIsAnsweredMinusOne) {
  Engine engine(target_);
  EXPECT_EQ(Extract(first_, engine), 0);
  ASSERT_EQ(engine.volumes.size(), 1u);
  EXPECT_EQ(engine.volumes[0].volume, "vol2.cab");
  ExpectAbsent(engine, "two.bin");
  ExpectAbsent(engine, "three.txt");
}

}  // namespace

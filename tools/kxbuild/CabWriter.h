// TCabWriter: writes one Microsoft Cabinet archive, the container of every package kxbuild makes.
//
// Used by kxbuild's main thread (an object is not shared between threads); Finish runs worker
// threads of its own. Entries are collected first (AddFile, AddData) and their contents streamed
// at Finish: a source file is read, and compressed, 32 KiB at a time, so a payload of any size
// never sits in memory. Only the bytes handed to AddData are held until Finish, and a bounded
// amount of compressed output per worker (see OrderedWork.h).
//
// The cabinet is written at the output file's position when Finish is called (behind an engine
// stub, say); every offset inside it counts from that position, so the cabinet stays valid
// wherever it lies in the file. Finish seeks back once to fill in the cabinet's size and where
// each folder's data begins, so the output must be opened for writing with seeking honoured
// (os::File::Mode::kCreate or kReadWrite, not kAppend on the host).
//
// What is written, and why it must stay so (readers are the engine's unpack library, the system's
// FDI, cabextract and gcab):
//   - one header, then the folders (no compression or MS-ZIP; each an independent stream), one
//     file record per entry in the order added, then each folder's data blocks in folder order:
//     each holds 32768 uncompressed bytes, the last one of a folder the rest;
//   - an entry lies whole in one folder. A new folder begins at an entry (never inside one) when
//     StartFolder asked for it or the entry would take the folder past the folder size; entries
//     of no bytes stay in the folder before them, so that no folder is empty unless every entry
//     is. A reader that stops before the first entry of a folder never reads that folder's data;
//   - the folders are compressed in parallel, but each depends only on its own entries, so the
//     bytes are the same for any number of jobs;
//   - every data block carries the cabinet checksum of its bytes;
//   - an MS-ZIP block is "CK" followed by deflate data that ends with a final block, the history
//     running on from the previous block of the folder as the format requires;
//   - entry names as given (backslash-separated), times as DOS date and time in the builder's
//     local time (extractors apply them as local time), attributes read-only, hidden, system and
//     archive;
//   - no set identifier and nothing taken from the clock, so the same inputs give the same bytes
//     (for the same local time zone, since the stored times are local, the same zlib and the same
//     folder size).
// A change to any of these must be made in the unpack library's tests too.
//
// Limits of the format, refused with KxError: at most 65535 entries, at most 2147450880 bytes of
// uncompressed contents in all (65535 blocks of 32 KiB, what one folder can hold), names of 1 to
// 255 bytes, and a cabinet of at most 2147483647 bytes. A KxError from Finish leaves a partial
// cabinet in the output; the caller discards the file.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "os/os.h"

enum class TCabCompression { kNone, kMszip };

// One entry as it is stored. Size is the uncompressed size.
struct TCabEntry {
  std::string Name;
  uint32_t Size = 0;
  uint16_t Date = 0;  // DOS date and time, local time
  uint16_t Time = 0;
  uint16_t Attributes = 0;
};

class TCabWriter {
 public:
  static constexpr uint32_t kBlockSize = 32768;
  static constexpr uint32_t kMaxEntries = 65535;
  static constexpr uint64_t kMaxFolderSize = uint64_t{65535} * kBlockSize;
  static constexpr uint64_t kMaxCabinetSize = 0x7FFFFFFF;
  static constexpr size_t kMaxNameLength = 255;
  static constexpr uint64_t kNoFolderLimit = 0;

  // The output must stay open until Finish has returned. level is zlib's (1 to 9).
  TCabWriter(os::File& output, TCabCompression compression, int level = 6);
  ~TCabWriter();
  TCabWriter(const TCabWriter&) = delete;
  TCabWriter& operator=(const TCabWriter&) = delete;

  // Adds the file at sourcePath (a Windows path) as cabinetName, with its size, last-write time
  // and attributes as they are now; the contents are read at Finish and must still have that
  // size then. Throws KxError for a missing source, a folder, a bad or duplicate name (names
  // compare regardless of ASCII case) or a limit passed; nothing is added then.
  void AddFile(const std::string& cabinetName, const std::string& sourcePath);
  // Adds bytes held by the writer as cabinetName, with a Windows file time and attributes.
  // Throws as AddFile.
  void AddData(const std::string& cabinetName, std::string bytes, int64_t fileTime,
               uint32_t attributes);

  // The uncompressed size at which a folder is closed (kNoFolderLimit, the default: one folder
  // for everything); a single larger entry gets a folder of its own size.
  void SetFolderSize(uint64_t bytes) { folderSize_ = bytes; }
  // The threads that compress folders at Finish (1 or more); the output does not depend on it.
  void SetJobs(unsigned jobs) { jobs_ = jobs == 0 ? 1 : jobs; }
  // The next entry with contents begins a new folder.
  void StartFolder() { folderStarts_.push_back(entries_.size()); }

  // Writes the whole cabinet at the output's current position and leaves the position at its
  // end. Throws KxError when there is no entry, a source cannot be read or changed size, the
  // output cannot be written, or the cabinet would pass its size limit.
  void Finish();

  // The entries in cabinet order, and their total uncompressed size.
  const std::vector<TCabEntry>& Entries() const { return entries_; }
  // How many folders Finish wrote.
  size_t FolderCount() const { return folders_.size(); }
  uint64_t TotalSize() const { return totalSize_; }
  // Where the cabinet begins in the output and how long it is; valid after Finish.
  uint64_t CabinetOffset() const { return cabinetOffset_; }
  uint64_t CabinetSize() const { return cabinetSize_; }

 private:
  struct Source {
    std::string path;  // empty for bytes held in data
    std::string data;
  };
  struct Folder {
    size_t first = 0, end = 0;  // its entries
    uint64_t bytes = 0;         // uncompressed
    uint32_t dataOffset = 0;    // of its first data block, from the cabinet's start
  };
  class Compressor;
  class FolderStream;

  void AddEntry(const std::string& name, uint64_t size, int64_t fileTime, uint32_t attributes,
                Source source);
  void PlanFolders();
  void WriteHeaders();
  void WriteFolders();
  void PutFolderRecords(std::vector<uint8_t>& out) const;
  void Write(const void* bytes, size_t count);
  void PatchHeader();
  void WriteAt(uint64_t offset, const std::vector<uint8_t>& bytes);

  os::File& output_;
  TCabCompression compression_;
  int level_;
  uint64_t folderSize_ = kNoFolderLimit;
  unsigned jobs_ = 1;
  std::vector<size_t> folderStarts_;  // entries before which StartFolder was called
  std::vector<TCabEntry> entries_;
  std::vector<Source> sources_;
  std::set<std::string> upperNames_;
  uint64_t totalSize_ = 0;
  bool finished_ = false;

  // State of Finish.
  std::vector<Folder> folders_;
  uint64_t cabinetOffset_ = 0;
  uint64_t cabinetSize_ = 0;
};

// The cabinet checksum of a data block: the XOR of the little-endian 32-bit words of the data,
// continued over the block's two size fields. Exposed for the tests.
uint32_t CabBlockChecksum(const uint8_t* data, uint16_t compressedSize, uint16_t uncompressedSize);

// A Windows file time as DOS date and time in local time, clamped to the DOS range (1980 to
// 2107); seconds are rounded down to even.
void FileTimeToDosDateTime(int64_t fileTime, uint16_t& date, uint16_t& time);

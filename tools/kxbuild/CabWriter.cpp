#include "CabWriter.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "OrderedWork.h"
#include "support/Errors.h"

namespace {

constexpr size_t kHeaderSize = 36;
constexpr size_t kFolderSize = 8;
constexpr size_t kFileRecordSize = 16;  // without the name and its terminating zero
constexpr size_t kDataRecordSize = 8;
constexpr uint16_t kCompressNone = 0;
constexpr uint16_t kCompressMszip = 1;
// Readers size their input buffer for a block's worst case: 32 KiB plus this much. Deflate never
// needs it (it falls back to stored blocks), but a frame past it would be unreadable.
constexpr size_t kMaxCompressedBlock = TCabWriter::kBlockSize + 6144;
// The attribute bits a cabinet carries; 0x80 would mark the name as UTF-8, and the folder bit
// means nothing for an entry.
constexpr uint32_t kStoredAttributes =
    os::kAttrReadOnly | os::kAttrHidden | os::kAttrSystem | os::kAttrArchive;

void PutLe16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void PutLe32(std::vector<uint8_t>& out, uint32_t value) {
  PutLe16(out, static_cast<uint16_t>(value));
  PutLe16(out, static_cast<uint16_t>(value >> 16));
}

void SetLe16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

void SetLe32(uint8_t* at, uint32_t value) {
  SetLe16(at, static_cast<uint16_t>(value));
  SetLe16(at + 2, static_cast<uint16_t>(value >> 16));
}

// The checksum of the format: little-endian words XORed, where a final part word takes its bytes
// in reverse order (the first of three bytes lands in bits 16-23).
uint32_t ChecksumOf(const uint8_t* data, size_t size, uint32_t seed) {
  uint32_t sum = seed;
  size_t words = size / 4;
  for (size_t i = 0; i < words; ++i, data += 4) {
    sum ^= uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 |
           uint32_t{data[3]} << 24;
  }
  uint32_t rest = 0;
  switch (size % 4) {
    case 3:
      rest |= uint32_t{*data++} << 16;
      [[fallthrough]];
    case 2:
      rest |= uint32_t{*data++} << 8;
      [[fallthrough]];
    case 1:
      rest |= *data;
  }
  return sum ^ rest;
}

std::string UpperAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

void CheckName(const std::string& name) {
  if (name.empty() || name.size() > TCabWriter::kMaxNameLength ||
      name.find('\0') != std::string::npos) {
    ThrowError("Invalid cabinet entry name \"%s\": 1 to %u characters are allowed", name.c_str(),
               static_cast<unsigned>(TCabWriter::kMaxNameLength));
  }
}

}  // namespace

// MS-ZIP frames from one running deflate stream. Each block is flushed to a byte boundary
// (which keeps the history for the next block, so nothing is hashed twice) and closed with an
// empty final block: a reader decodes a frame until it sees the final bit, then expects the next
// frame's "CK" with its history intact.
class TCabWriter::Compressor {
 public:
  explicit Compressor(int level) {
    if (deflateInit2(&stream_, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      ThrowError("Cannot start MS-ZIP compression at level %d", level);
    }
  }
  ~Compressor() { deflateEnd(&stream_); }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;

  // Appends the frame of block to out.
  void Compress(const std::vector<uint8_t>& block, std::vector<uint8_t>& out) {
    const size_t start = out.size();
    out.push_back('C');
    out.push_back('K');
    stream_.next_in = const_cast<Bytef*>(block.data());
    stream_.avail_in = static_cast<uInt>(block.size());
    do {
      const size_t used = out.size();
      out.resize(used + kOutputStep);
      stream_.next_out = out.data() + used;
      stream_.avail_out = kOutputStep;
      const int result = deflate(&stream_, Z_SYNC_FLUSH);
      out.resize(used + kOutputStep - stream_.avail_out);
      if (result != Z_OK && result != Z_BUF_ERROR) ThrowError("MS-ZIP compression failed");
    } while (stream_.avail_out == 0 || stream_.avail_in != 0);
    // The empty final block with fixed codes: final bit, type 01, end-of-block code 0000000.
    out.push_back(0x03);
    out.push_back(0x00);
    if (out.size() - start > kMaxCompressedBlock) {
      ThrowError("MS-ZIP compression made a block of %u bytes",
                 static_cast<unsigned>(out.size() - start));
    }
  }

 private:
  static constexpr uInt kOutputStep = 40 * 1024;
  z_stream stream_{};
};

TCabWriter::TCabWriter(os::File& output, TCabCompression compression, int level)
    : output_(output), compression_(compression), level_(level) {}

TCabWriter::~TCabWriter() = default;

void TCabWriter::AddFile(const std::string& cabinetName, const std::string& sourcePath) {
  os::FindData found;
  if (!os::FindFile(sourcePath, found)) {
    ThrowError("Cannot find file %s: %s", sourcePath.c_str(), os::LastErrorMessage().c_str());
  }
  if (found.attributes & os::kAttrDirectory) {
    ThrowError("%s is a folder, not a file", sourcePath.c_str());
  }
  AddEntry(cabinetName, found.size, found.writeTime, found.attributes, Source{sourcePath, {}});
}

void TCabWriter::AddData(const std::string& cabinetName, std::string bytes, int64_t fileTime,
                         uint32_t attributes) {
  const uint64_t size = bytes.size();
  AddEntry(cabinetName, size, fileTime, attributes, Source{{}, std::move(bytes)});
}

void TCabWriter::AddEntry(const std::string& name, uint64_t size, int64_t fileTime,
                          uint32_t attributes, Source source) {
  if (finished_) ThrowError("The cabinet is finished; \"%s\" cannot be added", name.c_str());
  CheckName(name);
  if (entries_.size() >= kMaxEntries) {
    ThrowError("Too many files for one cabinet: \"%s\" would be the %u-th, at most %u are allowed",
               name.c_str(), kMaxEntries + 1, kMaxEntries);
  }
  if (size > kMaxFolderSize - totalSize_) {
    ThrowError(
        "The cabinet's files would pass %llu bytes with \"%s\" (%llu bytes), the limit of one "
        "cabinet",
        static_cast<unsigned long long>(kMaxFolderSize), name.c_str(),
        static_cast<unsigned long long>(size));
  }
  std::string upper = UpperAscii(name);
  if (upperNames_.count(upper) != 0) {
    ThrowError("The cabinet holds \"%s\" already", name.c_str());
  }
  TCabEntry entry;
  entry.Name = name;
  entry.Size = static_cast<uint32_t>(size);
  FileTimeToDosDateTime(fileTime, entry.Date, entry.Time);
  entry.Attributes = static_cast<uint16_t>(attributes & kStoredAttributes);
  upperNames_.insert(std::move(upper));
  entries_.push_back(std::move(entry));
  sources_.push_back(std::move(source));
  totalSize_ += size;
}

// One folder's data blocks, made on a worker thread: its entries are read, cut into blocks and
// compressed in a stream of its own, and the block records handed on in chunks.
class TCabWriter::FolderStream {
 public:
  FolderStream(TCabWriter& writer, const TWorkEmit& emit) : writer_(writer), emit_(emit) {
    if (writer.compression_ == TCabCompression::kMszip) {
      compressor_ = std::make_unique<Compressor>(writer.level_);
    }
    block_.reserve(kBlockSize);
  }

  void Run(const Folder& folder) {
    for (size_t i = folder.first; i < folder.end; ++i) StreamEntry(i);
    FlushBlock();
    if (!out_.empty()) emit_(std::move(out_));
  }

 private:
  // Large enough that handing a chunk over costs nothing next to making it.
  static constexpr size_t kChunkSize = 256 * 1024;

  void StreamEntry(size_t index) {
    Source& source = writer_.sources_[index];
    const TCabEntry& entry = writer_.entries_[index];
    if (source.path.empty()) {
      Append(source.data.data(), source.data.size());
      std::string().swap(source.data);
      return;
    }
    os::File file = os::File::Open(source.path, os::File::Mode::kRead);
    if (!file.IsOpen()) {
      ThrowError("Cannot open file %s: %s", source.path.c_str(), os::LastErrorMessage().c_str());
    }
    std::vector<char> buffer(kBlockSize);
    uint64_t done = 0;
    for (;;) {
      const int64_t count = file.Read(buffer.data(), buffer.size());
      if (count < 0) {
        ThrowError("Cannot read file %s: %s", source.path.c_str(), os::LastErrorMessage().c_str());
      }
      if (count == 0) break;
      done += static_cast<uint64_t>(count);
      if (done > entry.Size) break;
      Append(buffer.data(), static_cast<size_t>(count));
    }
    if (done != entry.Size) {
      ThrowError("File %s changed while the cabinet was written: %llu bytes were expected",
                 source.path.c_str(), static_cast<unsigned long long>(entry.Size));
    }
  }

  void Append(const char* bytes, size_t count) {
    while (count > 0) {
      const size_t part = std::min<size_t>(count, kBlockSize - block_.size());
      block_.insert(block_.end(), bytes, bytes + part);
      bytes += part;
      count -= part;
      if (block_.size() == kBlockSize) FlushBlock();
    }
  }

  void FlushBlock() {
    if (block_.empty()) return;
    const size_t record = out_.size();
    out_.resize(record + kDataRecordSize);
    if (compressor_) {
      compressor_->Compress(block_, out_);
    } else {
      out_.insert(out_.end(), block_.begin(), block_.end());
    }
    uint8_t* header = out_.data() + record;
    const uint16_t compressedSize = static_cast<uint16_t>(out_.size() - record - kDataRecordSize);
    const uint16_t uncompressedSize = static_cast<uint16_t>(block_.size());
    SetLe32(header, CabBlockChecksum(header + kDataRecordSize, compressedSize, uncompressedSize));
    SetLe16(header + 4, compressedSize);
    SetLe16(header + 6, uncompressedSize);
    block_.clear();
    if (out_.size() >= kChunkSize) {
      emit_(std::move(out_));
      out_ = {};
    }
  }

  TCabWriter& writer_;
  const TWorkEmit& emit_;
  std::unique_ptr<Compressor> compressor_;
  std::vector<uint8_t> block_;
  std::vector<uint8_t> out_;
};

void TCabWriter::Finish() {
  if (finished_) ThrowError("The cabinet is finished already");
  if (entries_.empty()) ThrowError("A cabinet needs at least one file");
  const int64_t start = output_.Tell();
  if (start < 0) {
    ThrowError("Cannot find the position of the cabinet: %s", os::LastErrorMessage().c_str());
  }
  finished_ = true;  // whatever happens below, the entries have been spent
  cabinetOffset_ = static_cast<uint64_t>(start);
  cabinetSize_ = 0;
  PlanFolders();
  WriteHeaders();
  WriteFolders();
  PatchHeader();
}

void TCabWriter::PlanFolders() {
  folders_.assign(1, Folder{});
  size_t nextStart = 0;  // in folderStarts_
  bool cutAsked = false;
  for (size_t i = 0; i < entries_.size(); ++i) {
    while (nextStart < folderStarts_.size() && folderStarts_[nextStart] <= i) {
      cutAsked = true;
      ++nextStart;
    }
    const uint64_t size = entries_[i].Size;
    Folder& current = folders_.back();
    if (size > 0) {
      const bool full = folderSize_ != kNoFolderLimit && current.bytes + size > folderSize_;
      if (current.bytes > 0 && (cutAsked || full)) {
        current.end = i;
        folders_.push_back(Folder{i, i, 0, 0});
      }
      cutAsked = false;
    }
    folders_.back().bytes += size;
  }
  folders_.back().end = entries_.size();
}

void TCabWriter::WriteHeaders() {
  size_t filesSize = 0;
  for (const TCabEntry& entry : entries_) filesSize += kFileRecordSize + entry.Name.size() + 1;
  const size_t foldersSize = kFolderSize * folders_.size();
  const uint32_t firstBlock = static_cast<uint32_t>(kHeaderSize + foldersSize + filesSize);

  std::vector<uint8_t> out;
  out.reserve(firstBlock);
  out.insert(out.end(), {'M', 'S', 'C', 'F'});
  PutLe32(out, 0);  // reserved
  PutLe32(out, 0);  // cabinet size, filled in at the end
  PutLe32(out, 0);  // reserved
  PutLe32(out, static_cast<uint32_t>(kHeaderSize + foldersSize));  // first file record
  PutLe32(out, 0);                                                 // reserved
  out.push_back(3);                                                // version 1.3
  out.push_back(1);
  PutLe16(out, static_cast<uint16_t>(folders_.size()));
  PutLe16(out, static_cast<uint16_t>(entries_.size()));
  PutLe16(out, 0);  // flags: no reserve, no previous or next cabinet
  PutLe16(out, 0);  // set identifier: fixed, for reproducible output
  PutLe16(out, 0);  // number in the set

  PutFolderRecords(out);  // where the data begins is filled in at the end

  for (size_t f = 0; f < folders_.size(); ++f) {
    uint32_t offset = 0;
    for (size_t i = folders_[f].first; i < folders_[f].end; ++i) {
      const TCabEntry& entry = entries_[i];
      PutLe32(out, entry.Size);
      PutLe32(out, offset);
      PutLe16(out, static_cast<uint16_t>(f));
      PutLe16(out, entry.Date);
      PutLe16(out, entry.Time);
      PutLe16(out, entry.Attributes);
      out.insert(out.end(), entry.Name.begin(), entry.Name.end());
      out.push_back(0);
      offset += entry.Size;
    }
  }
  Write(out.data(), out.size());
}

// Workers compress the folders; this thread writes their blocks in folder order. Twice as many
// folders as workers may be under way, so a worker rarely waits for the writing of another's.
void TCabWriter::WriteFolders() {
  TOrderedWorkLimits limits;
  limits.Jobs = jobs_;
  limits.Window = 2 * size_t{jobs_};
  // A whole folder's output, stored blocks of random data included, fits below the limit; only
  // a folder made larger by a single large entry waits for its turn to be written.
  const uint64_t folderSize = folderSize_ == kNoFolderLimit ? 0 : folderSize_;
  limits.HeldLimit = static_cast<size_t>(
      std::min<uint64_t>(folderSize + folderSize / 16 + (1 << 20), uint64_t{256} << 20));
  folders_[0].dataOffset = static_cast<uint32_t>(cabinetSize_);
  RunOrderedWork(
      folders_.size(), limits,
      [this](size_t index, const TWorkEmit& emit) {
        FolderStream(*this, emit).Run(folders_[index]);
      },
      [this](size_t, TWorkChunk& chunk) { Write(chunk.data(), chunk.size()); },
      [this](size_t index) {
        if (index + 1 < folders_.size()) {
          folders_[index + 1].dataOffset = static_cast<uint32_t>(cabinetSize_);
        }
      });
}

void TCabWriter::PutFolderRecords(std::vector<uint8_t>& out) const {
  for (const Folder& folder : folders_) {
    PutLe32(out, folder.dataOffset);
    PutLe16(out, static_cast<uint16_t>((folder.bytes + kBlockSize - 1) / kBlockSize));
    PutLe16(out, compression_ == TCabCompression::kMszip ? kCompressMszip : kCompressNone);
  }
}

void TCabWriter::Write(const void* bytes, size_t count) {
  if (count > kMaxCabinetSize - cabinetSize_) {
    ThrowError("The cabinet would pass %llu bytes, the limit of one cabinet",
               static_cast<unsigned long long>(kMaxCabinetSize));
  }
  if (!output_.Write(bytes, count)) {
    ThrowError("Cannot write the cabinet: %s", os::LastErrorMessage().c_str());
  }
  cabinetSize_ += count;
}

// The header's fields known only once the data is written: the cabinet's size and where each
// folder's data begins.
void TCabWriter::PatchHeader() {
  std::vector<uint8_t> size;
  PutLe32(size, static_cast<uint32_t>(cabinetSize_));
  WriteAt(8, size);
  std::vector<uint8_t> folders;
  PutFolderRecords(folders);
  WriteAt(kHeaderSize, folders);
  if (!output_.Seek(static_cast<int64_t>(cabinetOffset_ + cabinetSize_))) {
    ThrowError("Cannot write the cabinet: %s", os::LastErrorMessage().c_str());
  }
}

void TCabWriter::WriteAt(uint64_t offset, const std::vector<uint8_t>& bytes) {
  const int64_t at = static_cast<int64_t>(cabinetOffset_ + offset);
  if (!output_.Seek(at) || !output_.Write(bytes.data(), bytes.size())) {
    ThrowError("Cannot write the cabinet: %s", os::LastErrorMessage().c_str());
  }
  // A file opened for appending takes the write at its end instead.
  if (output_.Tell() != at + static_cast<int64_t>(bytes.size())) {
    ThrowError(
        "The cabinet's size could not be written into its header: the output must allow "
        "writing at a position (it may be open for appending)");
  }
}

uint32_t CabBlockChecksum(const uint8_t* data, uint16_t compressedSize, uint16_t uncompressedSize) {
  const uint8_t sizes[4] = {
      static_cast<uint8_t>(compressedSize), static_cast<uint8_t>(compressedSize >> 8),
      static_cast<uint8_t>(uncompressedSize), static_cast<uint8_t>(uncompressedSize >> 8)};
  return ChecksumOf(sizes, sizeof(sizes), ChecksumOf(data, compressedSize, 0));
}

void FileTimeToDosDateTime(int64_t fileTime, uint16_t& date, uint16_t& time) {
  os::LocalDateTime local;
  if (!os::FileTimeToLocalTime(fileTime, local) || local.year < 1980) {
    date = (0 << 9) | (1 << 5) | 1;  // 1980-01-01 00:00:00
    time = 0;
    return;
  }
  if (local.year > 2107) {
    date = (127 << 9) | (12 << 5) | 31;  // 2107-12-31 23:59:58
    time = (23 << 11) | (59 << 5) | 29;
    return;
  }
  date = static_cast<uint16_t>((local.year - 1980) << 9 | local.month << 5 | local.day);
  time = static_cast<uint16_t>(local.hour << 11 | local.minute << 5 | local.second / 2);
}
